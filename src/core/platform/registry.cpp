#include "registry.h"

#include <QDir>
#include <QSettings>

namespace korvante {

namespace {

QSettings openSettings()
{
    return QSettings(Registry::filePath(), QSettings::IniFormat);
}

QString joined(const QString &group, const QString &key)
{
    return group.isEmpty() ? key : group + QLatin1Char('/') + key;
}

} // namespace

QString Registry::profileGroup(const QString &section)
{
    return QStringLiteral("HKEY_CURRENT_USER/Software/Local application/KORVANTE VIEWER/") + section;
}

QString Registry::filePath()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/korvante/registry.ini");
}

QVariant Registry::value(const QString &group, const QString &key, const QVariant &def)
{
    return openSettings().value(joined(group, key), def);
}

void Registry::setValue(const QString &group, const QString &key, const QVariant &value)
{
    QSettings settings = openSettings();
    settings.setValue(joined(group, key), value);
    settings.sync();
}

void Registry::remove(const QString &group, const QString &key)
{
    QSettings settings = openSettings();
    settings.remove(joined(group, key));
    settings.sync();
}

bool Registry::contains(const QString &group, const QString &key)
{
    return openSettings().contains(joined(group, key));
}

QStringList Registry::keys(const QString &group)
{
    QSettings settings = openSettings();
    settings.beginGroup(group);
    return settings.childKeys();
}

} // namespace korvante
