#pragma once
// The catalogue of the recordings on the selected storage source: a removable
// drive with plain folders, the TAVO partition of a card (through the card
// library), or a folder picked on the computer. Selecting a source scans it into
// sorted RecordingEntry records; fills write one row per recording into a
// ListView, by kind, for all kinds (repairing unfinished files on the way) or
// for a search by date range and recorded maximum speed.
//
// Threads: no lock. The UI thread selects, fills and searches; the export worker
// reads shownEntries, scannedFolders and the card device while a modal dialog
// keeps the UI from selecting. listAll reads the files' headers on one extra
// worker that only reads the entries and ends before listAll returns.
//
// Ownership: the catalogue owns its lists, its entries and the open card device
// (at most one). Pointers returned by entryAt, shownEntryAt, scannedFolderAt and
// sourceAt stay valid until the next scan (or enumerateSources for sources).

#include "core/storage/folder_picker.h"
#include "core/storage/list_view.h"
#include "core/storage/recording_entry.h"
#include "core/storage/recording_repair.h"

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace korvante {

struct MountedVolume;
class FolderHandles;

enum class SortOrder { Ascending, Descending };

// A configured recording folder: the name as given and its 8-bit form.
struct CatalogueFolder {
    std::string name;
    Text64 name8{};
};

class RecordingCatalogue final {
public:
    // Starts the card library.
    RecordingCatalogue();
    // Closes the card device, if open, then stops the card library.
    ~RecordingCatalogue();
    RecordingCatalogue(const RecordingCatalogue &) = delete;
    RecordingCatalogue &operator=(const RecordingCatalogue &) = delete;

    // --- Settings written by their owners --------------------------------------
    // The main window (opaque here); the folder picker needs it. Null: a picked
    // folder cannot be scanned.
    void *ownerWindow = nullptr;
    // The picker shown for a folder on the computer; not owned.
    FolderPicker *folderPicker = nullptr;
    SortOrder sortOrder = SortOrder::Ascending;
    std::string pickerCaption = "Select Folder";
    std::string computerCaption = "Find in My Computer";
    bool recurseRemovable = false; // search subfolders of configured folders on a drive
    bool recursePicked = false;    // search subfolders of a picked folder
    // A picked folder that holds configured recording folders is the root of
    // a card copied or mounted somewhere: scanned like a removable drive (its
    // recording folders, `recurseRemovable`) and reported as one by
    // sourceKind and selectedSourceRecord. Off: every picked folder is
    // searched as itself.
    bool pickedCardRoots = false;

    // --- Configuration import ---------------------------------------------------
    // Appends a recording folder unless present (exact match). A name whose
    // 8-bit form exceeds 63 bytes is refused with a log line.
    bool addFolder(const std::string &name);
    // Lower-cases and appends an extension (without the dot) unless empty or present.
    bool addExtension(const std::string &extension);

    // --- Sources ------------------------------------------------------------------
    // Rebuilds `sources` from the removable drives below the system root, then
    // appends the computer entry. Returns the number of sources.
    int enumerateSources();
    // Fills `devicePath`, `kind` and the " (TAVO)" label suffix of a drive's
    // source; false when the drive is unusable (root disk, device not openable
    // for reading and writing, path too long).
    bool testForTavo(StorageSource &source, const MountedVolume &volume);
    // Replaces the source list (the command-line tool names its source itself).
    void setSources(std::vector<StorageSource> sources);

    // Selects, scans and sorts. False for a bad index or a failed scan.
    bool selectSource(int index);
    // Scans the selected source again (a sort or a search wants a fresh
    // listing): a folder picked on the computer is scanned again without
    // asking for it. With no source selected the scan is emptied and the
    // result is false.
    bool rescanSelected();
    // The folder the selected computer entry was last scanned from ("/"
    // ended), or empty.
    std::string pickedFolder() const;

    // --- Fills -----------------------------------------------------------------------
    int listKind(int kind, ListView &view);
    int listAll(ListView &view);
    // The rows of listAll without looking into any file: nothing is repaired.
    int listAllWithoutRepair(ListView &view);
    int searchKind(ListView &view, const SearchCriteria &criteria, int kind);
    int searchAll(ListView &view, const SearchCriteria &criteria);

    // "F/R" or "F": whether a row's recording has a rear channel.
    std::string channelsOf(const RecordingEntry &entry) const;
    // `frontPath` (the rear candidate) with the date and time texts moved by
    // `offsetSeconds`, when that file opens for reading; otherwise "NULL".
    std::string findRearPartner(const std::string &frontPath, const std::string &dateText,
                                const std::string &timeText, int offsetSeconds) const;
    // The rear file name for a front path: "_F" becomes "_R" in the file name.
    static std::string rearCandidateOf(const std::string &frontPath);
    // The rear file of a two-channel recording's front file (plain files):
    // the candidate named within three seconds of the front's time (the camera
    // may name the pair a second or two apart), nearest first, that opens
    // for reading; empty for a one-channel name or when none is found.
    std::string rearFileOf(const std::string &frontPath, const std::string &name) const;

    // --- Access ------------------------------------------------------------------
    const RecordingEntry *entryAt(int i) const;
    const RecordingEntry *shownEntryAt(int row) const;
    // The list row of the recording `name` at `path` (a plain file's path, or
    // a card file's "/DIR/NAME"), -1 when no row lists it. A path spelled
    // otherwise (read before the list was made again) still finds a name that
    // only one row has.
    int shownRowOf(const std::string &name, const std::string &path) const;
    // The same among every entry of the last fill, whatever the rows show.
    const RecordingEntry *entryOf(const std::string &name, const std::string &path) const;
    int shownCount() const { return static_cast<int>(m_shownEntries.size()); }
    // The entries of the rows last filled, in row order (valid until the next scan).
    std::vector<const RecordingEntry *> shownEntries() const;
    const ScannedFolder *scannedFolderAt(int i) const;
    const StorageSource *sourceAt(int i) const;
    // The selected source; for a picked card root, a removable-drive record
    // whose label is that folder.
    const StorageSource *selectedSourceRecord() const;

    int32_t sourceKind() const { return m_sourceKind; }
    int selectedSource() const { return m_selectedSource; }
    const std::vector<RecordingEntry> &entries() const { return m_entries; }
    const std::vector<StorageSource> &sources() const { return m_sources; }
    const std::vector<ScannedFolder> &scannedFolders() const { return m_scannedFolders; }
    const std::vector<CatalogueFolder> &folders() const { return m_folders; }
    const std::vector<std::string> &extensions() const { return m_extensions; }
    // The open card device block (VX_TAVO_DEVICE_BLOCK_SIZE bytes), or null.
    // Shared (core/playback/card_device.h): a byte source reading through it
    // keeps it open after the catalogue lets it go (a new scan, sort or search).
    unsigned char *cardDevice() const { return m_cardDevice.get(); }
    // The card path of a recording listed from the card, "/FOLDER/NAME": the
    // folder it was scanned in, whatever that folder is called. Empty for an
    // entry without a scanned folder.
    std::string cardPathOf(const RecordingEntry &entry) const;

    // --- Unfinished recordings -------------------------------------------------------
    static bool isIntact(const std::string &path) { return korvante::isIntact(path); }
    static RepairPlan repair(std::FILE *file) { return korvante::repair(file); }
    // The unfinished recordings of the last fill that were not repaired,
    // "NAME: reason" each (no permission to write, a link, a card pulled or
    // failing, a file being written); those recordings stay unfinished.
    const std::vector<std::string> &failedRepairs() const { return m_failedRepairs; }
    // The paths of the files the last fill repaired, in list order.
    const std::vector<std::string> &repairedFiles() const { return m_repairedFiles; }

private:
    enum class FillMode { Kind, All, AllWithoutRepair, SearchKind, SearchAll };

    int fill(ListView &view, FillMode mode, int kind, const SearchCriteria *criteria);
    // The header state of every entry (card files count as intact).
    std::vector<unsigned char> readHeaders() const;
    void repairUnfinished(const RecordingEntry &entry);
    void closeCardDevice();
    // Opens the card device of `devicePath` as a shared block; null on failure.
    static std::shared_ptr<unsigned char> openCardDevice(const char *devicePath);
    // The selected entry of the source list as it is now, and the selection
    // moved to that entry's place in a rebuilt list (or cleared).
    std::optional<StorageSource> selectedListEntry() const;
    void keepSelection(const std::optional<StorageSource> &selected);
    void clearScan();
    bool scanRemovable(const StorageSource &source);
    bool scanPicked();
    bool scanPickedFolder(const std::string &folder);
    bool holdsRecordingFolders(const std::string &root) const;
    bool scanTavo(const StorageSource &source);
    bool searchFolder(const std::string &path, int32_t folderIndex, bool recurse, int32_t &count,
                      int depth);
    bool extensionAccepted(const char *name) const;
    void sortEntries();
    // What the header pass of listAll found for each entry.
    enum HeaderState : unsigned char { HeaderIntact, HeaderUnfinished, HeaderUnreadable };
    bool partnerExists(const std::string &candidate, FolderHandles *folders,
                       const std::vector<unsigned char> *headers) const;
    std::string channelsWith(const RecordingEntry &entry, FolderHandles *folders,
                             const std::vector<unsigned char> *headers) const;
    void buildPartnerIndex();

    int32_t m_sourceKind = SourceNone;
    std::vector<ScannedFolder> m_scannedFolders;
    std::vector<RecordingEntry> m_entries;
    std::vector<StorageSource> m_sources;
    std::vector<CatalogueFolder> m_folders;
    std::vector<size_t> m_shownEntries; // positions in m_entries, in row order
    std::vector<std::string> m_failedRepairs;
    std::vector<std::string> m_repairedFiles;
    std::vector<std::string> m_extensions;
    std::shared_ptr<unsigned char> m_cardDevice; // its deleter closes the device
    int m_selectedSource = -1;
    // The folder the computer entry was scanned from, kept for rescans while
    // that entry stays selected. `card` is set when it was a card root.
    struct PickedFolder {
        std::string folder;
        std::optional<StorageSource> card;
    };
    std::optional<PickedFolder> m_picked;
    // The paths of m_entries (valid until the next scan or sort). A rear candidate
    // with an accepted extension that is missing here was not in its folder when
    // the scan read it, so it needs no open; names found here are still opened.
    std::unordered_map<std::string_view, size_t> m_entryPaths; // path -> position in m_entries
    // What each entry's name says, worked out once per scan (parallel to m_entries).
    struct NameFacts {
        int32_t kind = -1;
        bool rear = false;
    };
    std::vector<NameFacts> m_nameFacts;
    bool m_entryPathsBuilt = false;
    bool m_scanComplete = true; // false when a folder listing broke off
    // Folders (device, inode) visited by the current scan: bind mounts cannot loop it.
    std::unordered_set<std::string> m_visitedFolders;
};

} // namespace korvante
