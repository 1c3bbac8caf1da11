#include "Links.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QUrlQuery>

namespace {

UrlOpener& Opener() {
    static UrlOpener opener;
    return opener;
}

}  // namespace

QUrl HomePageUrl() {
    QUrl url(QStringLiteral("https://www.example.com/kestrine"));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("version"), QStringLiteral(KESTRINE_VERSION));
    url.setQuery(query);
    return url;
}

QUrl SupportUrl() {
    QUrl url(QStringLiteral("mailto:support@example.com"));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("subject"),
                       QStringLiteral("Brontwell Kestrine %1 support").arg(KESTRINE_VERSION));
    url.setQuery(query);
    return url;
}

QString HelpFilePathFor(const QString& executablePath) {
    QString path = executablePath;
    if (path.endsWith(QStringLiteral(".exe"), Qt::CaseInsensitive)) path.chop(4);
    const QString beside = path + QStringLiteral(".html");
    if (QFileInfo::exists(beside)) return beside;
    const QFileInfo executable(path);
    const QString installed = QDir::cleanPath(executable.absolutePath() +
                                              QStringLiteral("/" KESTRINE_INSTALLED_HELP_DIR "/") +
                                              executable.fileName() + QStringLiteral(".html"));
    return QFileInfo::exists(installed) ? installed : beside;
}

void SetUrlOpener(UrlOpener opener) {
    Opener() = std::move(opener);
}

bool OpenUrl(const QUrl& url) {
    if (Opener()) return Opener()(url);
    return QDesktopServices::openUrl(url);
}
