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

Registry::Batch::Batch() : m_settings(std::make_unique<QSettings>(Registry::filePath(), QSettings::IniFormat)) {}

Registry::Batch::~Batch()
{
    commit();
}

QVariant Registry::Batch::value(const QString &group, const QString &key, const QVariant &def) const
{
    return m_settings->value(joined(group, key), def);
}

void Registry::Batch::setValue(const QString &group, const QString &key, const QVariant &value)
{
    m_settings->setValue(joined(group, key), value);
}

void Registry::Batch::remove(const QString &group, const QString &key)
{
    m_settings->remove(joined(group, key));
}

bool Registry::Batch::contains(const QString &group, const QString &key) const
{
    return m_settings->contains(joined(group, key));
}

bool Registry::Batch::commit()
{
    m_settings->sync();
    return m_settings->status() == QSettings::NoError;
}

} // namespace korvante
