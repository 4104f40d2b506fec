#include "core/storage/save_folder_memory.h"

#include "core/platform/registry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace korvante {

QString SaveFolderMemory::defaultPath()
{
    return QFileInfo(Registry::filePath()).absolutePath() + QStringLiteral("/config.clm");
}

QString SaveFolderMemory::read() const
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.read(kMaxBytes);
    QString folder;
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2) {
        const auto unit = static_cast<char16_t>(static_cast<unsigned char>(bytes[i])
                                                | (static_cast<unsigned char>(bytes[i + 1]) << 8));
        if (unit == 0)
            break;
        folder.append(QChar(unit));
    }
    return folder;
}

bool SaveFolderMemory::write(const QString &folder) const
{
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    QByteArray bytes;
    bytes.reserve((folder.size() + 1) * 2);
    for (const QChar c : folder) {
        bytes.append(static_cast<char>(c.unicode() & 0xFF));
        bytes.append(static_cast<char>(c.unicode() >> 8));
    }
    bytes.append(2, '\0');
    QSaveFile file(m_path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

} // namespace korvante
