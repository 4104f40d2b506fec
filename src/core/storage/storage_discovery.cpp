#include "core/storage/storage_discovery.h"

#include "core/storage/udisks_client.h"
#include "tavo/tavo.h"

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace korvante {
namespace {

namespace fs = std::filesystem;

std::string readFirstLine(const fs::path &file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

// Mount table fields escape space, tab, newline and backslash as \ooo.
std::string unescapeMountField(const std::string &field)
{
    std::string out;
    auto octal = [](char c) { return c >= '0' && c <= '7'; };
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && octal(field[i + 1]) && octal(field[i + 2])
            && octal(field[i + 3])) {
            out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8
                                     + (field[i + 3] - '0'));
            i += 3;
            continue;
        }
        out += field[i];
    }
    return out;
}

struct MountLine {
    std::string device; // "major:minor"
    std::string root;   // the mounted subtree of the file system
    std::string mountPoint;
    std::string source;
};

std::vector<MountLine> readMountTable(const std::string &root)
{
    std::vector<MountLine> lines;
    std::ifstream in(root + "proc/self/mountinfo");
    std::string text;
    while (std::getline(in, text)) {
        std::istringstream fields(text);
        std::string id, parent, device, mountRoot, mountPoint, word;
        if (!(fields >> id >> parent >> device >> mountRoot >> mountPoint))
            continue;
        while (fields >> word && word != "-") {
        }
        std::string fsType, source;
        fields >> fsType >> source;
        lines.push_back({device, unescapeMountField(mountRoot), unescapeMountField(mountPoint),
                         unescapeMountField(source)});
    }
    return lines;
}

struct BlockDevice {
    std::string disk;
    std::string name; // the partition, or the disk itself
};

// Every disk and partition below sys/block, keyed by "major:minor" and by name.
struct BlockTable {
    std::map<std::string, BlockDevice> byNumber;
    std::map<std::string, BlockDevice> byName;
    std::vector<std::string> disks; // sorted
};

BlockTable readBlockTable(const std::string &root)
{
    BlockTable table;
    std::error_code ec;
    const fs::path block = fs::path(root) / "sys/block";
    for (const auto &item : fs::directory_iterator(block, ec)) {
        const std::string disk = item.path().filename().string();
        table.disks.push_back(disk);
        const BlockDevice self{disk, disk};
        table.byName[disk] = self;
        const std::string number = readFirstLine(item.path() / "dev");
        if (!number.empty())
            table.byNumber[number] = self;
        std::error_code ec2;
        for (const auto &sub : fs::directory_iterator(item.path(), ec2)) {
            std::error_code ec3;
            if (!fs::exists(sub.path() / "partition", ec3))
                continue;
            const BlockDevice part{disk, sub.path().filename().string()};
            table.byName[part.name] = part;
            const std::string partNumber = readFirstLine(sub.path() / "dev");
            if (!partNumber.empty())
                table.byNumber[partNumber] = part;
        }
    }
    std::sort(table.disks.begin(), table.disks.end());
    return table;
}

const BlockDevice *deviceOfMount(const BlockTable &table, const MountLine &mount)
{
    if (auto it = table.byNumber.find(mount.device); it != table.byNumber.end())
        return &it->second;
    if (mount.source.rfind("/dev/", 0) == 0) {
        if (auto it = table.byName.find(mount.source.substr(5)); it != table.byName.end())
            return &it->second;
    }
    return nullptr;
}

// The disks under a block device: itself, or for a mapped device (LVM, RAID,
// encryption) the disks of its slaves.
void collectDisks(const std::string &root, const BlockTable &table, const std::string &disk,
                  std::set<std::string> &out, int depth = 0)
{
    std::error_code ec;
    const fs::path slaves = fs::path(root) / "sys/block" / disk / "slaves";
    bool any = false;
    if (depth < 8) {
        for (const auto &slave : fs::directory_iterator(slaves, ec)) {
            auto it = table.byName.find(slave.path().filename().string());
            if (it != table.byName.end()) {
                collectDisks(root, table, it->second.disk, out, depth + 1);
                any = true;
            }
        }
    }
    if (!any)
        out.insert(disk);
}

bool isRemovableDisk(const std::string &root, const std::string &disk)
{
    if (disk.rfind("mmcblk", 0) == 0)
        return true;
    return readFirstLine(fs::path(root) / "sys/block" / disk / "removable") == "1";
}

bool hasMedium(const std::string &root, const std::string &disk, const std::string &mountPoint)
{
    const std::string size = readFirstLine(fs::path(root) / "sys/block" / disk / "size");
    if (size.empty() || std::strtoull(size.c_str(), nullptr, 10) == 0)
        return false;
    struct statvfs info {};
    return statvfs(mountPoint.c_str(), &info) == 0 && info.f_bsize > 0;
}

std::string withSlash(std::string path)
{
    if (path.empty() || path.back() != '/')
        path += '/';
    return path;
}

} // namespace

std::string systemRoot()
{
    const char *env = std::getenv("KORVANTE_SYSROOT");
    return withSlash(env && *env ? std::string(env) : std::string("/"));
}

std::vector<MountedVolume> listMountedVolumes(const std::string &rootIn)
{
    const std::string root = withSlash(rootIn);
    const BlockTable table = readBlockTable(root);
    const std::vector<MountLine> mounts = readMountTable(root);

    std::set<std::string> rootDisks;
    for (const auto &m : mounts)
        if (m.mountPoint == "/")
            if (const BlockDevice *dev = deviceOfMount(table, m))
                collectDisks(root, table, dev->disk, rootDisks);

    std::map<std::string, int> numbers;
    int next = 1;
    for (const auto &disk : table.disks)
        numbers[disk] = rootDisks.count(disk) ? 0 : next++;

    std::vector<MountedVolume> volumes;
    std::set<std::string> seen;
    // A whole file system mount (root "/") names the device better than a bind
    // mount of a subfolder, so those come first.
    for (int pass = 0; pass < 2; ++pass) {
        for (const auto &m : mounts) {
            if ((m.root == "/") != (pass == 0))
                continue;
            const BlockDevice *dev = deviceOfMount(table, m);
            if (!dev || !seen.insert(dev->name).second)
                continue;
            MountedVolume v;
            v.disk = dev->disk;
            v.partition = dev->name;
            // The table's mount points are absolute paths of the (possibly fake) machine.
            std::string point = m.mountPoint;
            while (!point.empty() && point.front() == '/')
                point.erase(0, 1);
            v.mountPoint = withSlash(root + point);
            v.devicePath = root + "dev/" + dev->disk;
            v.diskNumber = numbers.count(dev->disk) ? numbers[dev->disk] : -1;
            v.removable = isRemovableDisk(root, dev->disk);
            v.mediumPresent = hasMedium(root, dev->disk, v.mountPoint);
            v.readable = ::access(v.mountPoint.c_str(), R_OK | X_OK) == 0;
            volumes.push_back(std::move(v));
        }
    }
    std::sort(volumes.begin(), volumes.end(), [](const MountedVolume &a, const MountedVolume &b) {
        return a.disk != b.disk ? a.disk < b.disk : a.partition < b.partition;
    });
    return volumes;
}

std::vector<MountedVolume> listRemovableVolumes(const std::string &root)
{
    std::vector<MountedVolume> out;
    for (auto &v : listMountedVolumes(root))
        if (v.removable && v.mediumPresent && v.diskNumber > 0 && v.readable)
            out.push_back(std::move(v));
    return out;
}

DiskAccess openDiskForReading(const std::string &rootIn, const MountedVolume &volume, std::string *why)
{
    const int fd = ::open(volume.devicePath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0) {
        ::close(fd);
        // A descriptor attached earlier (before the user was let in) is no
        // longer needed.
        VX_Tavo_Detach_Descriptor(volume.devicePath.c_str());
        return DiskAccess::Direct;
    }
    std::string reason = "cannot open " + volume.devicePath + " for reading: " + std::strerror(errno);
    // Only the real machine's disks are known to the disk service; a fake
    // root's disks are image files.
    if (withSlash(rootIn) == "/") {
        std::string refused;
        const int handed = openDiskThroughUDisks(volume.disk, &refused);
        if (handed >= 0) {
            const int rc = VX_Tavo_Attach_Descriptor(volume.devicePath.c_str(), handed);
            ::close(handed);
            if (rc == VX_TAVO_OK)
                return DiskAccess::Descriptor;
            refused = "the descriptor UDisks2 gave cannot be read";
        }
        reason += "; " + refused;
    }
    if (why)
        *why = std::move(reason);
    return DiskAccess::None;
}

int diskNumberOfVolume(const std::string &root, const std::string &mountPoint)
{
    const std::string wanted = withSlash(mountPoint);
    for (const auto &v : listMountedVolumes(root))
        if (v.mountPoint == wanted)
            return v.diskNumber;
    return -1;
}

} // namespace korvante
