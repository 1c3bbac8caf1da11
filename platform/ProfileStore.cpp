#include "ProfileStore.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSettings>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QtDebug>

namespace {

QString g_folder;  // empty: the user's configuration folder
QString g_setAsidePath;

QSettings Open() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, CProfileStore::kOrganisation,
                     CProfileStore::kApplication);
}

bool IsSoundLine(QByteArrayView line) {
    line = line.trimmed();
    if (line.isEmpty() || line.startsWith(';') || line.startsWith('#')) return true;
    if (line.startsWith('[')) return line.endsWith(']');
    qsizetype equals = line.indexOf('=');
    return equals > 0 && !line.first(equals).trimmed().isEmpty();
}

// A free name "<path>.corrupt-<UTC time>" (a counter is added when that exists too).
QString SetAsideName(const QString& path) {
    QString base =
        path + ".corrupt-" + QDateTime::currentDateTimeUtc().toString("yyyyMMdd'T'HHmmss'Z'");
    QString name = base;
    for (int n = 2; QFileInfo::exists(name); ++n) name = base + "-" + QString::number(n);
    return name;
}

// Looks at the profile before QSettings reads or rewrites it. True when the store may use the
// profile: it is missing, sound, or was damaged and has been moved aside. False when a damaged
// profile could not be moved: then values are neither read from it nor written over it.
bool PrepareProfile(const QString& path) {
    QFileInfo info(path);
    if (!info.exists()) return true;
    bool sound = false;
    if (info.isFile() && info.size() <= CProfileStore::kMaxFileBytes) {
        QFile file(path);
        // An unreadable profile is left alone: QSettings reads nothing from it either.
        if (!file.open(QIODevice::ReadOnly)) return false;
        sound = CProfileStore::IsSoundProfile(file.read(CProfileStore::kMaxFileBytes + 1));
    }
    if (sound) return true;
    QString aside = SetAsideName(path);
    if (!QFile::rename(path, aside)) {
        qWarning(
            "The settings file %s is damaged and could not be moved aside; defaults are "
            "used and it is not written.",
            qPrintable(path));
        return false;
    }
    g_setAsidePath = aside;
    qWarning("The settings file %s was damaged; it was kept as %s and defaults are used.",
             qPrintable(path), qPrintable(aside));
    return true;
}

// Waits (bounded) until no live writer holds the profile's lock file and removes a stale one,
// so that QSettings' own unbounded wait for the lock ends at once. False when the lock is
// still held or cannot be removed; the write is then given up.
bool ClearLock(const QString& path) {
    QString lockPath = path + ".lock";
    if (!QFileInfo::exists(lockPath)) return true;
    QLockFile lock(lockPath);
    lock.setStaleLockTime(CProfileStore::kStaleLockMs);
    if (!lock.tryLock(CProfileStore::kLockWaitMs)) {
        qWarning("The settings file %s is locked (%s); the setting is not saved.", qPrintable(path),
                 qPrintable(lockPath));
        return false;
    }
    lock.unlock();
    return true;
}

}  // namespace

bool CProfileStore::IsSoundProfile(const QByteArray& data) {
    if (data.isEmpty()) return true;
    if (data.size() > kMaxFileBytes || !data.endsWith('\n')) return false;
    for (char c : data) {
        auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\t' && c != '\r' && c != '\n') || byte == 0x7F) return false;
    }
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8.decode(data);
    if (utf8.hasError()) return false;
    for (const QByteArray& line : data.split('\n'))
        if (!IsSoundLine(line)) return false;
    return true;
}

int CProfileStore::GetInt(const QString& section, const QString& name, int defaultValue) {
    if (!PrepareProfile(FilePath())) return defaultValue;
    QSettings settings = Open();
    // Through the text: QVariant's own conversion wraps numbers beyond the int range instead of
    // refusing them.
    bool ok = false;
    int value = settings.value(section + "/" + name).toString().trimmed().toInt(&ok, 10);
    return ok ? value : defaultValue;
}

void CProfileStore::SetInt(const QString& section, const QString& name, int value) {
    SetValue(section, name, value);
}

QString CProfileStore::GetText(const QString& section, const QString& name) {
    if (!PrepareProfile(FilePath())) return {};
    return Open().value(section + "/" + name).toString();
}

void CProfileStore::SetText(const QString& section, const QString& name, const QString& value) {
    SetValue(section, name, value);
}

void CProfileStore::SetValue(const QString& section, const QString& name, const QVariant& value) {
    QString path = FilePath();
    if (!PrepareProfile(path) || !ClearLock(path)) return;
    QSettings settings = Open();
    settings.setValue(section + "/" + name, value);
    settings.sync();
    if (settings.status() != QSettings::NoError)
        qWarning("The setting %s/%s could not be saved in %s.", qPrintable(section),
                 qPrintable(name), qPrintable(path));
}

void CProfileStore::UseFolder(const QString& folder) {
    g_folder = folder;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder);
}

// Built like QSettings builds it, without opening QSettings: that would read the file before
// it has been checked.
QString CProfileStore::FilePath() {
    QString folder = g_folder.isEmpty()
                         ? QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                         : g_folder;
    return folder + "/" + kOrganisation + "/" + kApplication + ".ini";
}

QString CProfileStore::SetAsidePath() {
    return g_setAsidePath;
}
