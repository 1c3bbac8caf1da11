#include "ProfileStore.h"

#include <QSettings>

namespace {

QSettings Open() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, CProfileStore::kOrganisation,
                     CProfileStore::kApplication);
}

}  // namespace

int CProfileStore::GetInt(const QString& section, const QString& name, int defaultValue) {
    QSettings settings = Open();
    bool ok = false;
    int value = settings.value(section + "/" + name).toInt(&ok);
    return ok ? value : defaultValue;
}

void CProfileStore::SetInt(const QString& section, const QString& name, int value) {
    QSettings settings = Open();
    settings.setValue(section + "/" + name, value);
    settings.sync();
}

void CProfileStore::UseFolder(const QString& folder) {
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder);
}

QString CProfileStore::FilePath() { return Open().fileName(); }
