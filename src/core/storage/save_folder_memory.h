#pragma once
// "config.clm": the conversion dialog's last save folder, kept in the
// viewer's configuration folder beside registry.ini ($XDG_CONFIG_HOME/korvante,
// default ~/.config/korvante) rather than in the process's working folder.
// The file holds the folder as UTF-16LE text ending in a NUL code unit,
// from offset 0; at most 2048 bytes are read back, and whatever follows the
// NUL is ignored.
//
// Any thread; each call opens the file afresh. The file is replaced whole
// (written beside it, then renamed), so an interruption never leaves half a
// folder name in it.

#include <QString>

namespace korvante {

class SaveFolderMemory final {
public:
    // The file in the viewer's configuration folder.
    static QString defaultPath();

    explicit SaveFolderMemory(QString path = defaultPath()) : m_path(std::move(path)) {}

    // The folder kept, or an empty string when there is none (no file, an
    // empty one, or one that cannot be read).
    QString read() const;
    // Keeps `folder`; false when the file cannot be written (the configuration
    // folder is made when missing).
    bool write(const QString &folder) const;

    const QString &path() const { return m_path; }

    static constexpr qint64 kMaxBytes = 2048;

private:
    QString m_path;
};

} // namespace korvante
