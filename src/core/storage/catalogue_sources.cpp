// The catalogue's list of storage sources: removable drives below the system
// root, each tested for a TAVO partition, then the computer entry.

#include "core/platform/log.h"
#include "core/storage/recording_catalogue.h"
#include "core/storage/storage_discovery.h"
#include "tavo/tavo.h"

#include <fcntl.h>
#include <unistd.h>

namespace korvante {

namespace {
bool sameSource(const StorageSource &a, const StorageSource &b)
{
    return a.kind == b.kind && a.label == b.label && text64(a.devicePath) == text64(b.devicePath);
}
} // namespace

std::optional<StorageSource> RecordingCatalogue::selectedListEntry() const
{
    if (const StorageSource *source = sourceAt(m_selectedSource))
        return *source;
    return std::nullopt;
}

void RecordingCatalogue::keepSelection(const std::optional<StorageSource> &selected)
{
    // The selection follows its source (by device and label) to its new
    // place; a source that is no longer offered is no longer selected, so
    // nothing acts on whatever drive took its position.
    if (!selected)
        return;
    m_selectedSource = -1;
    for (size_t i = 0; i < m_sources.size(); ++i) {
        if (sameSource(m_sources[i], *selected)) {
            m_selectedSource = static_cast<int>(i);
            return;
        }
    }
    m_sourceKind = SourceNone;
    m_picked.reset();
}

int RecordingCatalogue::enumerateSources()
{
    const std::optional<StorageSource> selected = selectedListEntry();
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
    keepSelection(selected);
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
    // Looking for a card's partition needs read access to the whole disk
    // (the desktop mounts the card for the user, but the disk is root's);
    // without it the mounted file system is still offered, as a plain drive.
    std::string why;
    if (openDiskForReading(systemRoot(), volume, &why) == DiskAccess::None) {
        logWarning(volume.mountPoint + " is offered as a plain drive: a TAVO partition on it needs read access to "
                   + volume.devicePath + " (membership of its group, or a desktop that lets UDisks2 open it); " + why);
        source.kind = SourceRemovable;
        return true;
    }
    if (VX_Tavo_Check_Tavo_partition(source.devicePath.data()) != 0) {
        source.kind = SourceTavo;
        source.label += " (TAVO)";
    } else {
        source.kind = SourceRemovable;
    }
    return true;
}

} // namespace korvante
