// The catalogue's list of storage sources: removable drives below the system
// root, each tested for a TAVO partition, then the computer entry.

#include "core/platform/log.h"
#include "core/storage/recording_catalogue.h"
#include "core/storage/storage_discovery.h"
#include "tavo/tavo.h"

#include <fcntl.h>
#include <unistd.h>

namespace korvante {

int RecordingCatalogue::enumerateSources()
{
    m_sources.clear();
    int32_t driveIndex = 3; // the first drive the user may see, as a letter would be "D"
    for (const MountedVolume &volume : listRemovableVolumes(systemRoot())) {
        StorageSource source;
        source.driveIndex = driveIndex;
        source.label = volume.mountPoint;
        source.kind = SourceRemovable;
        if (testForTavo(source, volume)) {
            m_sources.push_back(std::move(source));
            ++driveIndex;
        }
    }
    StorageSource computer;
    computer.driveIndex = 0;
    computer.label = computerCaption;
    computer.kind = SourceComputer;
    m_sources.push_back(std::move(computer));
    return static_cast<int>(m_sources.size());
}

bool RecordingCatalogue::testForTavo(StorageSource &source, const MountedVolume &volume)
{
    // The disk holding the running system is never offered.
    if (volume.diskNumber <= 0)
        return false;
    if (!setText64(source.devicePath, volume.devicePath)) {
        logWarning("device path longer than 63 bytes, drive not offered: " + volume.devicePath);
        return false;
    }
    // Reading a card's partition needs the whole disk; a disk that cannot be
    // opened for reading and writing is not offered.
    const int fd = ::open(source.devicePath.data(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return false;
    ::close(fd);
    if (VX_Tavo_Check_Tavo_partition(source.devicePath.data()) != 0) {
        source.kind = SourceTavo;
        source.label += " (TAVO)";
    } else {
        source.kind = SourceRemovable;
    }
    return true;
}

} // namespace korvante
