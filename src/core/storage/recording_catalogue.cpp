#include "core/storage/recording_catalogue.h"

#include "core/platform/log.h"
#include "core/playback/card_device.h"
#include "core/storage/recording_name.h"
#include "tavo/tavo.h"

#include <algorithm>
#include <cstring>
#include <numeric>

namespace korvante {

bool setText64(Text64 &field, const std::string &text)
{
    field.fill('\0');
    if (text.size() >= field.size() || text.find('\0') != std::string::npos)
        return false;
    std::memcpy(field.data(), text.data(), text.size());
    return true;
}

WindowsFileTime windowsFileTimeOf(int64_t unixSeconds, uint32_t nanoseconds)
{
    if (unixSeconds < -kUnixToWindowsSeconds)
        return 0;
    return static_cast<WindowsFileTime>(unixSeconds + kUnixToWindowsSeconds) * 10000000u
           + nanoseconds / 100;
}

std::shared_ptr<unsigned char> RecordingCatalogue::openCardDevice(const char *devicePath)
{
    auto *block = new unsigned char[VX_TAVO_DEVICE_BLOCK_SIZE]();
    if (VX_Tavo_Device_Open(devicePath, VX_TAVO_OPEN_MODE, block) != 0) {
        delete[] block;
        return nullptr;
    }
    // The last owner (the catalogue, or a playing graph's byte source on its
    // own thread) closes the device and frees the block.
    std::shared_ptr<unsigned char> device(block, [](unsigned char *b) {
        VX_Tavo_Device_Close(b);
        delete[] b;
    });
    shareCardDevice(device);
    return device;
}

std::string RecordingCatalogue::cardPathOf(const RecordingEntry &entry) const
{
    if (entry.folderIndex < 0 || static_cast<size_t>(entry.folderIndex) >= m_scannedFolders.size())
        return {};
    return "/" + std::string(m_scannedFolders[static_cast<size_t>(entry.folderIndex)].cardName.data())
        + "/" + (entry.cardName[0] != 0 ? std::string(entry.cardName.data()) : entry.name);
}

RecordingCatalogue::RecordingCatalogue() { VX_Tavo_Start(); }

RecordingCatalogue::~RecordingCatalogue()
{
    closeCardDevice();
    VX_Tavo_Stop();
}

void RecordingCatalogue::closeCardDevice()
{
    m_cardDevice.reset(); // closed by its last owner
}

bool RecordingCatalogue::addFolder(const std::string &name)
{
    for (const auto &f : m_folders)
        if (f.name == name)
            return false;
    CatalogueFolder folder;
    folder.name = name;
    if (!setText64(folder.name8, name)) {
        logWarning("recording folder name longer than 63 bytes skipped: " + name);
        return false;
    }
    m_folders.push_back(std::move(folder));
    return true;
}

bool RecordingCatalogue::addExtension(const std::string &extension)
{
    if (extension.empty())
        return false;
    std::string lower = extension;
    for (char &c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    if (std::find(m_extensions.begin(), m_extensions.end(), lower) != m_extensions.end())
        return false;
    m_extensions.push_back(std::move(lower));
    return true;
}

void RecordingCatalogue::setSources(std::vector<StorageSource> sources)
{
    const std::optional<StorageSource> selected = selectedListEntry();
    m_sources = std::move(sources);
    keepSelection(selected);
}

void RecordingCatalogue::clearScan()
{
    m_scannedFolders.clear();
    m_entries.clear();
    m_shownEntries.clear();
    m_entryPaths.clear();
    m_entryPathsBuilt = false;
    m_nameFacts.clear();
    m_scanComplete = true;
    m_visitedFolders.clear();
}

bool RecordingCatalogue::selectSource(int index)
{
    if (index < 0)
        return false;
    closeCardDevice();
    const StorageSource *source = sourceAt(index);
    if (!source)
        return false;
    m_sourceKind = source->kind;
    const StorageSource chosen = *source;
    bool ok = false;
    switch (chosen.kind) {
    case SourceRemovable: ok = scanRemovable(chosen); break;
    case SourceTavo: ok = scanTavo(chosen); break;
    case SourceComputer: ok = scanPicked(); break;
    default: ok = false; break;
    }
    if (ok) {
        sortEntries();
        m_selectedSource = index;
        if (chosen.kind != SourceComputer)
            m_picked.reset();
    }
    return ok;
}

bool RecordingCatalogue::rescanSelected()
{
    const StorageSource *source = sourceAt(m_selectedSource);
    if (!source) {
        // Nothing to scan: rows of a source that is gone must not stay playable.
        closeCardDevice();
        clearScan();
        return false;
    }
    if (source->kind != SourceComputer || !m_picked)
        return selectSource(m_selectedSource);
    closeCardDevice();
    m_sourceKind = SourceComputer;
    const std::string folder = m_picked->folder;
    if (!scanPickedFolder(folder))
        return false;
    sortEntries();
    return true;
}

std::string RecordingCatalogue::pickedFolder() const
{
    const StorageSource *source = sourceAt(m_selectedSource);
    if (!source || source->kind != SourceComputer || !m_picked)
        return {};
    return m_picked->folder;
}

const StorageSource *RecordingCatalogue::selectedSourceRecord() const
{
    const StorageSource *source = sourceAt(m_selectedSource);
    if (source && source->kind == SourceComputer && m_picked && m_picked->card
        && m_sourceKind == SourceRemovable)
        return &*m_picked->card;
    return source;
}

void RecordingCatalogue::sortEntries()
{
    // Keys are built once; comparing them as byte strings orders the date and
    // time digits chronologically.
    std::vector<std::string> keys;
    keys.reserve(m_entries.size());
    for (const auto &e : m_entries)
        keys.push_back(sortKeyOfName(e.name));
    std::vector<size_t> order(m_entries.size());
    std::iota(order.begin(), order.end(), size_t{0});
    const bool ascending = sortOrder == SortOrder::Ascending;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        const int c = keys[a].compare(keys[b]);
        if (c != 0)
            return ascending ? c < 0 : c > 0;
        const auto &ea = m_entries[a];
        const auto &eb = m_entries[b];
        if (ea.created != eb.created)
            return ascending ? ea.created < eb.created : ea.created > eb.created;
        return ea.sizeKiB > eb.sizeKiB;
    });
    std::vector<RecordingEntry> sorted;
    sorted.reserve(m_entries.size());
    for (size_t i : order)
        sorted.push_back(std::move(m_entries[i]));
    m_entries = std::move(sorted);
    m_entryPaths.clear();
    m_entryPathsBuilt = false;
    m_nameFacts.clear();
    m_nameFacts.reserve(m_entries.size());
    for (const auto &e : m_entries)
        m_nameFacts.push_back({kindOfName(e.name), isRearName(e.name)});
}

const RecordingEntry *RecordingCatalogue::entryAt(int i) const
{
    if (i < 0 || static_cast<size_t>(i) >= m_entries.size())
        return nullptr;
    return &m_entries[static_cast<size_t>(i)];
}

const RecordingEntry *RecordingCatalogue::shownEntryAt(int row) const
{
    if (row < 0 || static_cast<size_t>(row) >= m_shownEntries.size())
        return nullptr;
    return entryAt(static_cast<int>(m_shownEntries[static_cast<size_t>(row)]));
}

std::vector<const RecordingEntry *> RecordingCatalogue::shownEntries() const
{
    std::vector<const RecordingEntry *> shown;
    shown.reserve(m_shownEntries.size());
    for (size_t i : m_shownEntries)
        shown.push_back(&m_entries[i]);
    return shown;
}

const ScannedFolder *RecordingCatalogue::scannedFolderAt(int i) const
{
    if (i < 0 || static_cast<size_t>(i) >= m_scannedFolders.size())
        return nullptr;
    return &m_scannedFolders[static_cast<size_t>(i)];
}

const StorageSource *RecordingCatalogue::sourceAt(int i) const
{
    if (i < 0 || static_cast<size_t>(i) >= m_sources.size())
        return nullptr;
    return &m_sources[static_cast<size_t>(i)];
}

} // namespace korvante
