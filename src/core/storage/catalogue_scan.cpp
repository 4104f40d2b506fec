// Scanning a source into recording entries: plain folders (a removable drive's
// configured folders, or a picked folder) and the TAVO partition of a card.

#include "core/platform/log.h"
#include "core/storage/recording_catalogue.h"
#include "core/recording/byte_reader.h"
#include "tavo/tavo.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

namespace korvante {
namespace {

// Folder nesting deeper than this is not searched (a guard, not a camera limit).
constexpr int kMaxFolderDepth = 64;
// The most file-list pages read from one card directory: a guard against a
// library that never reports the end.
constexpr int kMaxListPages = 1 << 20;

struct DirCloser {
    void operator()(DIR *d) const { closedir(d); }
};

std::string withSlash(std::string path)
{
    if (path.empty() || path.back() != '/')
        path += '/';
    return path;
}

} // namespace

bool RecordingCatalogue::extensionAccepted(const char *name) const
{
    if (*name == '\0')
        return false;
    const char *dot = std::strrchr(name, '.');
    std::string ext = dot ? std::string(dot + 1) : std::string(name);
    for (char &c : ext)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return std::find(m_extensions.begin(), m_extensions.end(), ext) != m_extensions.end();
}

bool RecordingCatalogue::searchFolder(const std::string &path, int32_t folderIndex, bool recurse,
                                      int32_t &count, int depth)
{
    std::unique_ptr<DIR, DirCloser> dir(opendir(path.c_str()));
    if (!dir)
        return false;
    const int dfd = dirfd(dir.get());
    struct stat self {};
    if (fstat(dfd, &self) == 0) {
        const std::string id = std::to_string(self.st_dev) + ":" + std::to_string(self.st_ino);
        if (!m_visitedFolders.insert(id).second)
            return false; // reached again through a bind mount
    }
    std::vector<std::string> subfolders;
    for (;;) {
        errno = 0;
        const dirent *item = readdir(dir.get());
        if (!item) {
            if (errno != 0)
                m_scanComplete = false; // the folder vanished or broke while being read
            break;
        }
        const char *name = item->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        unsigned char type = item->d_type;
        const bool wanted = extensionAccepted(name);
        struct statx info {};
        bool haveInfo = false;
        if (type == DT_UNKNOWN || type == DT_LNK || (type == DT_REG && wanted)) {
            if (statx(dfd, name, 0, STATX_TYPE | STATX_SIZE | STATX_BTIME | STATX_MTIME, &info) != 0)
                continue; // vanished while the scan ran, or a dangling link
            haveInfo = true;
            if (S_ISDIR(info.stx_mode))
                type = item->d_type == DT_LNK ? DT_LNK : DT_DIR; // links to folders are not followed
            else if (S_ISREG(info.stx_mode))
                type = DT_REG;
        }
        if (type == DT_DIR) {
            if (recurse)
                subfolders.emplace_back(name);
            continue;
        }
        if (item->d_type == DT_LNK && type == DT_LNK)
            continue;
        if (!wanted || type != DT_REG || !haveInfo)
            continue;
        RecordingEntry entry;
        entry.folderIndex = folderIndex;
        entry.cardFileId = -1;
        entry.name = name;
        entry.path = path + name;
        const bool born = (info.stx_mask & STATX_BTIME) != 0;
        const auto &when = born ? info.stx_btime : info.stx_mtime;
        entry.created = windowsFileTimeOf(when.tv_sec, when.tv_nsec);
        entry.sizeKiB = info.stx_size / 1024;
        entry.device = makedev(info.stx_dev_major, info.stx_dev_minor);
        entry.inode = info.stx_ino;
        entry.sizeBytes = info.stx_size;
        if (info.stx_mask & STATX_MTIME)
            entry.modifiedNs = static_cast<int64_t>(info.stx_mtime.tv_sec) * 1'000'000'000 + info.stx_mtime.tv_nsec;
        m_entries.push_back(std::move(entry));
        ++count;
    }
    for (const auto &sub : subfolders) {
        if (depth >= kMaxFolderDepth) {
            logWarning("folder nesting too deep, not searched: " + path + sub);
            continue;
        }
        int32_t subCount = 0;
        if (searchFolder(path + sub + "/", folderIndex, true, subCount, depth + 1))
            ++count;
    }
    return true;
}

bool RecordingCatalogue::scanRemovable(const StorageSource &source)
{
    clearScan();
    const std::string root = withSlash(source.label);
    for (size_t i = 0; i < m_folders.size(); ++i) {
        ScannedFolder folder;
        folder.path = root + m_folders[i].name + "/";
        folder.cardName = m_folders[i].name8;
        searchFolder(folder.path, static_cast<int32_t>(i), recurseRemovable, folder.count, 0);
        m_scannedFolders.push_back(std::move(folder));
    }
    return true;
}

bool RecordingCatalogue::scanPicked()
{
    clearScan();
    if (!ownerWindow)
        return false;
    if (!folderPicker) {
        logWarning("no folder picker to choose a folder with");
        return false;
    }
    const std::optional<std::string> picked = folderPicker->pickFolder(ownerWindow, pickerCaption);
    if (!picked || picked->empty())
        return false;
    return scanPickedFolder(*picked);
}

bool RecordingCatalogue::holdsRecordingFolders(const std::string &root) const
{
    for (const CatalogueFolder &configured : m_folders) {
        struct stat info {};
        if (::stat((root + configured.name).c_str(), &info) == 0 && S_ISDIR(info.st_mode))
            return true;
    }
    return false;
}

bool RecordingCatalogue::scanPickedFolder(const std::string &picked)
{
    clearScan();
    const std::string root = withSlash(picked);
    if (pickedCardRoots && holdsRecordingFolders(root)) {
        // The root of a card: its recording folders, as on a drive.
        StorageSource card;
        card.driveIndex = 3;
        card.kind = SourceRemovable;
        card.label = root;
        scanRemovable(card);
        if (m_entries.empty()) {
            clearScan();
            return false;
        }
        m_sourceKind = SourceRemovable;
        m_picked = PickedFolder{root, card};
        return true;
    }
    ScannedFolder folder;
    folder.path = root;
    searchFolder(folder.path, 0, recursePicked, folder.count, 0);
    if (folder.count <= 0)
        return false;
    m_scannedFolders.push_back(std::move(folder));
    m_picked = PickedFolder{root, std::nullopt};
    return true;
}

bool RecordingCatalogue::scanTavo(const StorageSource &source)
{
    clearScan();
    m_cardDevice = openCardDevice(source.devicePath.data());
    if (!m_cardDevice) {
        std::printf("TAVO drive cannot be opened\n");
        std::fflush(stdout);
        return false;
    }

    // One list buffer reused for every page of every directory.
    std::vector<unsigned char> list(VX_TAVO_LIST_BUFFER_SIZE);
    unsigned char dirInfo[VX_TAVO_DIR_INFO_SIZE];
    for (size_t i = 0; i < m_folders.size(); ++i) {
        const char *dirName = m_folders[i].name8.data();
        ScannedFolder folder;
        folder.path = m_folders[i].name;
        folder.cardName = m_folders[i].name8;
        uint32_t cursor = 1;
        for (int page = 0;; ++page) {
            if (page == kMaxListPages) {
                logWarning("card directory listing does not end, stopped: " + folder.path);
                break;
            }
            int64_t files = 0, bytes = 0;
            VX_Tavo_Get_Dir_Info(m_cardDevice.get(), dirName, dirInfo, &files, &bytes);
            recording::putLe32(list.data(), VX_TAVO_LIST_CAPACITY);
            const int n = VX_Tavo_Get_FileList(m_cardDevice.get(), dirName, &cursor, list.data(), 0);
            if (n <= 0)
                break;
            const int records = std::min<int>(n, VX_TAVO_LIST_CAPACITY);
            for (int r = 0; r < records; ++r) {
                const unsigned char *rec = list.data() + VX_TAVO_LIST_HEADER_SIZE
                                           + static_cast<size_t>(r) * VX_TAVO_LIST_RECORD_SIZE;
                const void *nul = std::memchr(rec, 0, VX_TAVO_RECORD_NAME_SIZE);
                if (!nul) {
                    logWarning("card file name of 64 bytes or more skipped in " + folder.path);
                    continue;
                }
                const uint32_t id = recording::le32(rec + VX_TAVO_RECORD_ID_OFFSET);
                if (id < 1 || id > INT32_MAX) {
                    logWarning("card file record without a valid identifier skipped in " + folder.path);
                    continue;
                }
                RecordingEntry entry;
                entry.folderIndex = static_cast<int32_t>(i);
                entry.cardFileId = static_cast<int32_t>(id);
                std::memcpy(entry.cardName.data(), rec, VX_TAVO_RECORD_NAME_SIZE);
                entry.name = entry.cardName.data();
                entry.path = entry.name;
                const auto stamp = static_cast<int32_t>(recording::le32(rec + VX_TAVO_RECORD_TIME_OFFSET));
                entry.created = windowsFileTimeOf(stamp);
                entry.sizeKiB = recording::le32(rec + VX_TAVO_RECORD_SIZE_OFFSET) >> 10;
                m_entries.push_back(std::move(entry));
                ++folder.count;
            }
        }
        m_scannedFolders.push_back(std::move(folder));
    }
    return true;
}

} // namespace korvante
