#include "core/device/card_format.h"

#include "core/device/udisks_format.h"
#include "core/storage/storage_discovery.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

extern char **environ;

namespace korvante {

namespace {

namespace fs = std::filesystem;

bool fail(std::string *why, int *detail, int where, const std::string &reason)
{
    if (why)
        *why = reason;
    if (detail)
        *detail = where;
    return false;
}

std::string findProgram(const std::string &name)
{
    // An ordinary user's PATH often lacks the administrator folders.
    std::vector<std::string> folders = {"/usr/sbin", "/sbin"};
    if (const char *path = std::getenv("PATH")) {
        std::string all = path;
        for (size_t start = 0; start <= all.size();) {
            const size_t end = std::min(all.find(':', start), all.size());
            if (end > start)
                folders.push_back(all.substr(start, end - start));
            start = end + 1;
        }
    }
    for (const auto &folder : folders) {
        const std::string candidate = folder + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

// Runs a program to its end; its standard output and error are collected.
bool runProgram(const std::vector<std::string> &args, std::string *output)
{
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    std::vector<char *> argv;
    for (const auto &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (spawned != 0) {
        ::close(pipeFds[0]);
        *output = std::strerror(spawned);
        return false;
    }
    char buffer[4096];
    ssize_t got = 0;
    while ((got = ::read(pipeFds[0], buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR))
        if (got > 0 && output->size() < 65536)
            output->append(buffer, static_cast<size_t>(got));
    ::close(pipeFds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The last non-empty line a tool printed: usually its complaint.
std::string lastLine(const std::string &text)
{
    size_t end = text.find_last_not_of("\r\n ");
    if (end == std::string::npos)
        return {};
    const size_t start = text.rfind('\n', end);
    return text.substr(start == std::string::npos ? 0 : start + 1, end + 1 - (start == std::string::npos ? 0 : start + 1));
}

int partitionNumber(const FormatTarget &target)
{
    if (target.partition == target.disk)
        return 0;
    std::ifstream in(fs::path(target.sysRoot) / "sys/block" / target.disk / target.partition / "partition");
    int number = -1;
    in >> number;
    return number;
}

bool mkfsFat32(const std::vector<std::string> &where, std::string *why)
{
    const std::string mkfs = findProgram("mkfs.vfat");
    if (mkfs.empty()) {
        *why = "mkfs.vfat is not installed (package dosfstools)";
        return false;
    }
    std::vector<std::string> args = {mkfs, "-F", "32"};
    args.insert(args.end(), where.begin(), where.end());
    std::string output;
    if (runProgram(args, &output))
        return true;
    *why = "mkfs.vfat failed: " + lastLine(output);
    return false;
}

// Empties the folder that stands for a fake drive's file system.
bool emptyFolder(const std::string &sysRoot, const std::string &folder, std::string *why)
{
    std::error_code ec;
    const fs::path base = fs::canonical(sysRoot, ec);
    const fs::path real = fs::canonical(folder, ec);
    const auto rel = real.lexically_relative(base);
    if (ec || rel.empty() || rel.begin()->string() == "..") {
        *why = folder + " lies outside the system root";
        return false;
    }
    for (const auto &entry : fs::directory_iterator(real, ec)) {
        std::error_code removeError;
        fs::remove_all(entry.path(), removeError); // a link goes, not what it points at
        if (removeError) {
            *why = "cannot empty " + folder + ": " + removeError.message();
            return false;
        }
    }
    if (ec) {
        *why = "cannot list " + folder + ": " + ec.message();
        return false;
    }
    return true;
}

bool formatInFakeRoot(const FormatTarget &target, const FormatProgress &progress, std::string *why, int *detail)
{
    using namespace format_stage;
    std::error_code ec;
    const fs::path image = fs::canonical(target.devicePath, ec);
    if (ec || !fs::is_regular_file(image, ec))
        return fail(why, detail, FailedFindingDisk,
                    target.devicePath + " is not an image file; a fake machine's disks are never real devices");
    const int number = partitionNumber(target);
    if (number < 0)
        return fail(why, detail, FailedFindingDisk, "the partition " + target.partition + " is not known");
    PartitionExtent extent;
    std::string reason;
    if (number == 0) {
        extent.sectors = fs::file_size(image, ec) / 512;
    } else if (!partitionInImage(image.string(), number, &extent, &reason)) {
        return fail(why, detail, FailedFindingDisk, reason);
    }
    const int fd = ::open(image.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return fail(why, detail, FailedFindingDisk,
                    "cannot open " + image.string() + " for writing: " + std::strerror(errno));
    ::close(fd);
    const std::string first = std::to_string(extent.firstSector);
    if (!mkfsFat32({"--mbr=n", "-h", first, "--offset=" + first, image.string(), std::to_string(extent.sectors / 2)},
                   &reason))
        return fail(why, detail, FailedMakingFat, reason);
    progress(FileSystemFormatted, 0);
    if (!emptyFolder(target.sysRoot, target.root, &reason))
        return fail(why, detail, FailedMakingFat, reason);
    return true;
}

bool formatOnMachine(const FormatTarget &target, const FormatProgress &progress, std::string *why, int *detail)
{
    using namespace format_stage;
    std::string reason;
    const UDisksFormatResult result = formatThroughUDisks(target.partition, &reason);
    if (result == UDisksFormatResult::Formatted) {
        progress(FileSystemFormatted, 0);
        return true;
    }
    if (result == UDisksFormatResult::Failed)
        return fail(why, detail, FailedMakingFat, reason);
    if (::geteuid() != 0)
        return fail(why, detail, FailedFindingDisk,
                    "formatting needs the desktop's disk service (UDisks2) or administrator rights; " + reason);
    std::string point = target.root;
    if (point.size() > 1 && point.back() == '/')
        point.pop_back();
    if (::umount2(point.c_str(), 0) != 0)
        return fail(why, detail, FailedMakingFat, "cannot unmount " + point + ": " + std::strerror(errno));
    if (!mkfsFat32({"/dev/" + target.partition}, &reason))
        return fail(why, detail, FailedMakingFat, reason);
    progress(FileSystemFormatted, 0);
    return true;
}

} // namespace

bool partitionInImage(const std::string &image, int number, PartitionExtent *extent, std::string *why)
{
    unsigned char mbr[512] = {};
    std::ifstream in(image, std::ios::binary);
    if (!in.read(reinterpret_cast<char *>(mbr), sizeof mbr))
        return (*why = "cannot read the partition table of " + image, false);
    if (mbr[510] != 0x55 || mbr[511] != 0xAA)
        return (*why = image + " has no partition table", false);
    if (number < 1 || number > 4)
        return (*why = "partition " + std::to_string(number) + " is not a primary partition", false);
    const unsigned char *entry = mbr + 446 + (number - 1) * 16;
    auto le32 = [](const unsigned char *p) {
        return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    };
    extent->type = entry[4];
    extent->firstSector = le32(entry + 8);
    extent->sectors = le32(entry + 12);
    if (extent->type == 0 || extent->sectors == 0)
        return (*why = "partition " + std::to_string(number) + " is empty", false);
    if (extent->type == 0x7A)
        return (*why = "partition " + std::to_string(number) + " holds the recordings (TAVO); it is never formatted",
                false);
    std::error_code ec;
    const uint64_t size = std::filesystem::file_size(image, ec);
    if (ec || (extent->firstSector + extent->sectors) * 512 > size)
        return (*why = "partition " + std::to_string(number) + " runs past the end of " + image, false);
    return true;
}

bool formatCardFileSystem(const FormatTarget &target, const FormatProgress &progress, std::string *why, int *detail)
{
    using namespace format_stage;
    progress(Started, 0);
    // The drive is looked up again: it may have gone, or another taken its place.
    bool found = false;
    for (const MountedVolume &volume : listMountedVolumes(target.sysRoot)) {
        if (volume.mountPoint != target.root || volume.partition != target.partition)
            continue;
        if (volume.diskNumber <= 0 || !volume.removable)
            return fail(why, detail, FailedFindingDisk, target.root + " is not on a removable disk");
        found = true;
    }
    if (!found)
        return fail(why, detail, FailedFindingDisk, target.root + " is no longer mounted");
    return target.sysRoot == "/" ? formatOnMachine(target, progress, why, detail)
                                 : formatInFakeRoot(target, progress, why, detail);
}

} // namespace korvante
