#include "shell/app_settings.h"

#include <QSettings>

namespace tesmo::settings {

namespace {
QSettings store() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, kOrganization, kApplication);
}
} // namespace

QString value(const Entry& entry) {
    return store()
        .value(QLatin1String(entry.key), QString::fromUtf8(entry.defaultValue))
        .toString();
}

void setValue(const Entry& entry, const QString& text) {
    QSettings s = store();
    s.setValue(QLatin1String(entry.key), text);
}

int intValue(const Entry& entry) {
    return value(entry).toInt();
}

} // namespace tesmo::settings
