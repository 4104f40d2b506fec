#include "core/storage/export_entry.h"

#include "core/platform/log.h"
#include "core/playback/card_device.h"
#include "core/storage/recording_catalogue.h"
#include "core/storage/recording_name.h"
#include "tavo/tavo.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string_view>

namespace korvante {

namespace {

std::string folderOf(const std::string &path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseNameOf(const std::string &path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Creates a new temporary file in the folder `dirFd`, readable as the user's
// files are (the umask applies), named ".NAME.PID-N.part" after `base` and
// locked (flock) for as long as the descriptor stays open. Never through a
// link: the name must be new. Returns the descriptor, or -1 (errno set).
int createTemporary(int dirFd, const std::string &base, std::string &temporary)
{
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = "." + base + "." + std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1))
                    + ".part";
        const int fd = ::openat(dirFd, temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            // Blocks only while a clean-up of another export looks at the new file.
            while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// The process id in a temporary file name of ours (".NAME.PID-N.part"), or 0.
pid_t ownerOfTemporary(const std::string &name)
{
    static constexpr std::string_view kSuffix = ".part";
    if (name.size() < 2 + kSuffix.size() || name[0] != '.'
        || name.compare(name.size() - kSuffix.size(), kSuffix.size(), kSuffix) != 0)
        return 0;
    const std::string stem = name.substr(0, name.size() - kSuffix.size());
    const size_t dot = stem.rfind('.');
    const size_t dash = stem.rfind('-');
    if (dot == std::string::npos || dot < 2 || dash == std::string::npos || dash < dot + 2 || dash + 1 == stem.size())
        return 0;
    const auto digits = [&stem](size_t from, size_t to) {
        return from < to && std::all_of(stem.begin() + static_cast<long>(from), stem.begin() + static_cast<long>(to),
                                        [](char c) { return c >= '0' && c <= '9'; });
    };
    if (!digits(dot + 1, dash) || !digits(dash + 1, stem.size()) || dash - dot > 10)
        return 0;
    const long pid = std::stol(stem.substr(dot + 1, dash - dot - 1));
    return pid > 0 && pid <= INT32_MAX ? static_cast<pid_t>(pid) : 0;
}

bool processAlive(pid_t pid) { return ::kill(pid, 0) == 0 || errno == EPERM; }

} // namespace

int removeStaleTemporaries(const std::string &folder)
{
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return 0;
    DIR *dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return 0;
    }
    int removed = 0;
    while (const dirent *e = ::readdir(dir)) {
        const std::string name = e->d_name;
        const pid_t owner = ownerOfTemporary(name);
        // A live owner may hold it, or be about to lock or rename it.
        if (owner == 0 || processAlive(owner))
            continue;
        const int fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat opened, named;
        // Ours only: a regular file of this user that no export holds locked,
        // still the file of that name when it goes.
        if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && opened.st_uid == ::geteuid()
            && ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstatat(dirFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0
            && named.st_dev == opened.st_dev && named.st_ino == opened.st_ino
            && ::unlinkat(dirFd, name.c_str(), 0) == 0)
            ++removed;
        ::close(fd);
    }
    ::closedir(dir);
    return removed;
}

namespace {

// Moves the finished temporary file to its final name, both in the folder
// `dirFd`; without `overwrite` an existing file of that name wins and the move
// fails with EEXIST. With `overwrite` a file (or link) of that name is
// replaced, never followed.
bool moveIntoPlace(int dirFd, const std::string &temporary, const std::string &name, bool overwrite, int &error)
{
    if (overwrite) {
        if (::renameat(dirFd, temporary.c_str(), dirFd, name.c_str()) == 0)
            return true;
        error = errno;
        return false;
    }
    if (::renameat2(dirFd, temporary.c_str(), dirFd, name.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    error = errno;
    if (error != EINVAL && error != ENOSYS)
        return false;
    // A file system without the no-replace move: a hard link fails on an
    // existing name (and those without links are FAT cards, written by one user).
    if (::linkat(dirFd, temporary.c_str(), dirFd, name.c_str(), 0) == 0) {
        ::unlinkat(dirFd, temporary.c_str(), 0);
        return true;
    }
    error = errno;
    if (error == EEXIST)
        return false;
    struct stat st;
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        error = EEXIST;
        return false;
    }
    if (::renameat(dirFd, temporary.c_str(), dirFd, name.c_str()) == 0)
        return true;
    error = errno;
    return false;
}

// Whether only the folder's owner can write in the group-writable folder
// `st`: its group is the owner's own (user private groups) with no one else in it.
bool groupIsOwnersAlone(const struct stat &st)
{
    const passwd *owner = ::getpwuid(st.st_uid);
    if (!owner || owner->pw_gid != st.st_gid)
        return false;
    const group *g = ::getgrgid(st.st_gid);
    return g && (!g->gr_mem || !g->gr_mem[0]);
}

std::string octal(mode_t mode)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}


EntryExportResult failed(EntryExportStatus status, std::string message, std::string outputPath = {})
{
    EntryExportResult r;
    r.status = status;
    r.message = std::move(message);
    r.outputPath = std::move(outputPath);
    return r;
}

} // namespace

int createExportTemporary(int dirFd, const std::string &base, std::string &temporary)
{
    return createTemporary(dirFd, base, temporary);
}

bool moveExportIntoPlace(int dirFd, const std::string &temporary, const std::string &name, bool overwrite,
                         int &error)
{
    return moveIntoPlace(dirFd, temporary, name, overwrite, error);
}

std::string outputFolderProblem(int dirFd)
{
    struct stat st {};
    if (::fstat(dirFd, &st) != 0)
        return std::strerror(errno);
    if (!S_ISDIR(st.st_mode))
        return "not a folder";
    // Whoever may rename or remove names in the folder could swap the
    // temporary file for a link before it is renamed, or the final name after.
    // A sticky folder keeps each user's names to that user; its owner is
    // trusted only when it is this user or root.
    if (st.st_uid != ::geteuid() && st.st_uid != 0)
        return "the folder belongs to another user, who could replace what is written there";
    if (st.st_mode & S_ISVTX)
        return {};
    if (st.st_mode & S_IWOTH)
        return "other users may write in this folder (mode " + octal(st.st_mode)
               + ", not sticky) and could redirect what is written there";
    if ((st.st_mode & S_IWGRP) && !groupIsOwnersAlone(st))
        return "its group may write in this folder (mode " + octal(st.st_mode)
               + ", not sticky) and could redirect what is written there";
    return {};
}

std::string outputFolderProblem(const std::string &folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOTDIR ? std::string("not a folder") : std::string(std::strerror(errno));
    std::string problem = outputFolderProblem(fd);
    ::close(fd);
    return problem;
}

std::string outputFolderRefusal(const std::string &folder)
{
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return "no such folder";
    if (::access(folder.c_str(), W_OK | X_OK) != 0)
        return std::string("this folder cannot be written (") + std::strerror(errno) + ")";
    return outputFolderProblem(folder);
}

std::string exportFileName(const std::string &name)
{
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos
        || name.find('\0') != std::string::npos)
        return {};
    const size_t dot = name.rfind('.');
    // A name that is all extension (".tavo") keeps it rather than become ".avi".
    const std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
    return stem + ".avi";
}

EntryExportResult exportToFile(const ExportReader &read, const std::string &outputPath,
                               const ExportOptions &options)
{
    const std::string folder = folderOf(outputPath);
    const std::string name = baseNameOf(outputPath);
    if (name.empty() || name == "." || name == "..")
        return failed(EntryExportStatus::BadName, "\"" + outputPath + "\" cannot be used as a file name", outputPath);
    // Every step below works in this one folder descriptor: the folder the
    // user chose stays the folder written, whatever happens to its path.
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return failed(EntryExportStatus::OutputFailed, "cannot open the folder " + folder + ": " + std::strerror(errno),
                      outputPath);
    struct DirCloser {
        int fd;
        ~DirCloser() { ::close(fd); }
    } dirCloser{dirFd};
    if (const std::string problem = outputFolderProblem(dirFd); !problem.empty())
        return failed(EntryExportStatus::UnsafeFolder, folder + ": " + problem, outputPath);

    struct stat st;
    if (!options.overwrite && ::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        return failed(EntryExportStatus::Exists, outputPath + " exists", outputPath);

    // What an export killed before its end left here.
    if (const int stale = removeStaleTemporaries(folder); stale > 0)
        logInfo("removed " + std::to_string(stale) + " unfinished export file(s) of ended exports in " + folder);
    std::string temporary;
    const int fd = createTemporary(dirFd, name, temporary);
    if (fd < 0)
        return failed(EntryExportStatus::OutputFailed, "cannot create a file in " + folder + ": " + std::strerror(errno),
                      outputPath);
    struct stat created {};
    ::fstat(fd, &created);
    // The temporary name goes only if it is still the file made here.
    const auto removeTemporary = [&] {
        struct stat now;
        if (::fstatat(dirFd, temporary.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 && now.st_dev == created.st_dev
            && now.st_ino == created.st_ino)
            ::unlinkat(dirFd, temporary.c_str(), 0);
    };

    EntryExportResult r;
    r.outputPath = outputPath;
    // Direct writes need a descriptor of their own: the file made above,
    // opened again through this process's descriptor table, never by its
    // name (which someone could have swapped for a link meanwhile). Without
    // /proc, or on a file system without direct writes (tmpfs), writes are
    // buffered.
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    int directFd = ::open(self.c_str(), O_WRONLY | O_DIRECT | O_CLOEXEC);
    if (directFd >= 0) {
        struct stat reopened;
        if (::fstat(directFd, &reopened) != 0 || reopened.st_dev != created.st_dev
            || reopened.st_ino != created.st_ino) {
            ::close(directFd);
            directFd = -1;
        }
    }
    FileExportWriter writer(fd, directFd);
    r.result = exportRecording(read, writer, options.cancel, kExportBlockSize, options.progress);
    if (directFd >= 0)
        ::close(directFd);
    const bool synced = r.result.ok() && ::fsync(fd) == 0;
    const int syncError = errno;
    const bool closed = ::close(fd) == 0;
    if (!r.result.ok()) {
        removeTemporary();
        r.status = EntryExportStatus::Failed;
        r.message = r.result.message;
        return r;
    }
    if (!synced || !closed) {
        removeTemporary();
        return failed(EntryExportStatus::OutputFailed,
                      "cannot write " + outputPath + ": " + std::strerror(synced ? errno : syncError), outputPath);
    }
    // The name must still be the file written: a link or another file put in
    // its place is left where it is and never moved to the final name.
    struct stat now;
    if (::fstatat(dirFd, temporary.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 || now.st_dev != created.st_dev
        || now.st_ino != created.st_ino)
        return failed(EntryExportStatus::OutputFailed,
                      "the temporary file " + folder + "/" + temporary
                          + " was replaced while it was written; nothing was written to " + outputPath,
                      outputPath);
    // Stopped after its last block was read (Ctrl+C, a closed terminal): the
    // recording is abandoned like one stopped midway, never given its name.
    if (options.cancel && options.cancel->load()) {
        removeTemporary();
        r.status = EntryExportStatus::Failed;
        r.result.outcome = ExportOutcome::Cancelled;
        r.result.message = "cancelled";
        r.message = r.result.message;
        return r;
    }
    int error = 0;
    if (!moveIntoPlace(dirFd, temporary, name, options.overwrite, error)) {
        removeTemporary();
        if (error == EEXIST)
            return failed(EntryExportStatus::Exists, outputPath + " exists", outputPath);
        return failed(EntryExportStatus::OutputFailed, "cannot write " + outputPath + ": " + std::strerror(error),
                      outputPath);
    }
    ::fsync(dirFd);
    r.status = EntryExportStatus::Exported;
    return r;
}

EntryExportResult exportCardFile(unsigned char *device, const std::string &cardPath, int fileId,
                                 const std::string &outputPath, const ExportOptions &options)
{
    // Hold the device for the whole export (the catalogue may let it go).
    const std::shared_ptr<unsigned char> held = findSharedCardDevice(device);
    if (!device || cardPath.size() >= VX_TAVO_PATH_MAX)
        return failed(EntryExportStatus::OpenFailed, "cannot open " + cardPath + " on the card", outputPath);
    const int handle = VX_Tavo_File_Open(device, cardPath.c_str(), "r", 0, 0, fileId);
    if (handle < 1)
        return failed(EntryExportStatus::OpenFailed, "cannot open " + cardPath + " on the card", outputPath);
    const ExportReader read = [&](unsigned char *buffer, size_t size) -> int64_t {
        const int n = VX_Tavo_File_Read(device, buffer, static_cast<int>(size), handle);
        return n;
    };
    EntryExportResult r = exportToFile(read, outputPath, options);
    VX_Tavo_File_Close(device, handle);
    return r;
}

std::map<std::string, std::vector<int>> sharedOutputNames(const RecordingCatalogue &catalogue,
                                                          const std::vector<int> &rows)
{
    std::map<std::string, std::vector<int>> byName;
    for (int row : rows)
        if (const RecordingEntry *entry = catalogue.shownEntryAt(row))
            if (const std::string file = exportFileName(entry->isCardFile() ? entry->path : entry->name); !file.empty())
                byName[file].push_back(row);
    std::erase_if(byName, [](const auto &item) { return item.second.size() < 2; });
    return byName;
}

namespace {

// Exports one recording file of the computer's file system into `folder`
// under its own name with ".avi". The file is only read; an output that
// would be the file itself (the save folder is its folder) is refused.
EntryExportResult exportPlainFile(const std::string &path, const std::string &folder, const ExportOptions &options)
{
    const std::string fileName = exportFileName(baseNameOf(path));
    if (fileName.empty())
        return failed(EntryExportStatus::BadName, "\"" + path + "\" cannot be used as a file name");
    const std::string outputPath = folder + fileName;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return failed(EntryExportStatus::OpenFailed, "cannot open " + path + ": " + std::strerror(errno), outputPath);
    struct stat in {}, out {};
    if (::fstat(fd, &in) != 0 || !S_ISREG(in.st_mode)) {
        ::close(fd);
        return failed(EntryExportStatus::OpenFailed, path + ": not a regular file", outputPath);
    }
    if (::stat(outputPath.c_str(), &out) == 0 && out.st_dev == in.st_dev && out.st_ino == in.st_ino) {
        ::close(fd);
        return failed(EntryExportStatus::Exists,
                      outputPath + " is the recording itself; choose a save location outside the card's folders",
                      outputPath);
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    int readError = 0;
    const ExportReader read = [fd, &readError](unsigned char *buffer, size_t size) -> int64_t {
        for (;;) {
            const ssize_t n = ::read(fd, buffer, size);
            if (n >= 0 || errno != EINTR) {
                if (n < 0)
                    readError = errno;
                return n;
            }
        }
    };
    EntryExportResult r = exportToFile(read, outputPath, options);
    ::close(fd);
    if (!r.ok() && readError != 0)
        r.message += " (" + path + ": " + std::strerror(readError) + ")";
    return r;
}

} // namespace

EntryExportResult exportEntry(const RecordingCatalogue &catalogue, int row, const std::string &saveFolder,
                              const ExportOptions &options)
{
    const RecordingEntry *entry = row < 0 ? nullptr : catalogue.shownEntryAt(row);
    if (!entry)
        return failed(EntryExportStatus::NoEntry, "no recording in row " + std::to_string(row));
    std::string folder = saveFolder.empty() ? std::string(".") : saveFolder;
    if (folder.back() != '/')
        folder += '/';
    if (!entry->isCardFile()) {
        // A recording of a card's folders: its front file and, for a
        // two-channel one, its rear file, as the list pairs them.
        EntryExportResult r = exportPlainFile(entry->path, folder, options);
        if (!r.ok() || !isTwoChannelName(entry->name))
            return r;
        const std::string rear = catalogue.rearFileOf(entry->path, entry->name);
        if (!rear.empty()) {
            EntryExportResult rr = exportPlainFile(rear, folder, options);
            if (!rr.ok())
                return rr;
        }
        return r;
    }
    if (entry->cardFileId < 1)
        return failed(EntryExportStatus::NotCardFile, entry->name + " has no card file identifier");
    if (!catalogue.scannedFolderAt(entry->folderIndex))
        return failed(EntryExportStatus::NoFolder, entry->name + ": its card folder is unknown");
    // A card entry's path is its bare name; one holding "/" is refused.
    const std::string fileName = exportFileName(entry->path);
    if (fileName.empty())
        return failed(EntryExportStatus::BadName, "\"" + entry->name + "\" cannot be used as a file name");
    return exportCardFile(catalogue.cardDevice(), catalogue.cardPathOf(*entry), entry->cardFileId,
                          folder + fileName, options);
}

} // namespace korvante
