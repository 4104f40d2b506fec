#pragma once
// The program's small registry: an INI file under
// $XDG_CONFIG_HOME/korvante/registry.ini (default ~/.config/korvante/). A
// registry key path such as HKEY_LOCAL_MACHINE\SOFTWARE\Orvanta becomes the
// group "HKEY_LOCAL_MACHINE/SOFTWARE/Orvanta".
//
// Every call opens the file afresh, so values written by one part of the
// program (or another process) are seen by the next read. Any thread.

#include <QString>
#include <QVariant>

#include <memory>

class QSettings;

namespace korvante {

class Registry final {
public:
    // Group of the machine-wide values read by the media components.
    static QString machineGroup() { return QStringLiteral("HKEY_LOCAL_MACHINE/SOFTWARE/Orvanta"); }
    // Group of the application's own profile section `section` (the profile
    // key is "Local application", as the program's start-up sets it).
    static QString profileGroup(const QString &section);

    static QString filePath();
    static QVariant value(const QString &group, const QString &key, const QVariant &def = {});
    static void setValue(const QString &group, const QString &key, const QVariant &value);
    static void remove(const QString &group, const QString &key);
    static bool contains(const QString &group, const QString &key);
    // Keys directly under `group`.
    static QStringList keys(const QString &group);

    // Several changes that reach the file together: it is read once when the
    // batch begins and written once when it ends (or at commit()), instead of
    // once per value. Reads inside the batch see its own changes. One thread.
    class Batch final {
    public:
        Batch();
        ~Batch();
        Batch(const Batch &) = delete;
        Batch &operator=(const Batch &) = delete;

        QVariant value(const QString &group, const QString &key, const QVariant &def = {}) const;
        void setValue(const QString &group, const QString &key, const QVariant &value);
        void remove(const QString &group, const QString &key);
        bool contains(const QString &group, const QString &key) const;
        // Writes the changes so far; false when the file could not be written.
        bool commit();

    private:
        std::unique_ptr<QSettings> m_settings;
    };
};

} // namespace korvante
