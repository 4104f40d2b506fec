#pragma once
// A fake machine below a temporary system root: disks in sys/block, their
// devices in dev/ (image files or plain files), and a mount table. Tests point
// KORVANTE_SYSROOT at it through SysrootScope.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace korvante::testing {

class FakeMachine final {
public:
    explicit FakeMachine(std::filesystem::path root);

    // A disk `name` (e.g. "sdb") with `sectors` 512-byte sectors. Its device file
    // dev/<name> is a link to `image` when given, else an empty regular file.
    void addDisk(const std::string &name, bool removable, uint64_t sectors,
                 const std::filesystem::path &image = {});
    // Partition <disk><number> mounted at `mountPoint` (absolute within the fake
    // machine); returns the real folder, created empty.
    std::filesystem::path mount(const std::string &disk, int number, const std::string &mountPoint);
    // The root file system on partition <disk><number>.
    void mountRoot(const std::string &disk, int number);
    // Rewrites proc/self/mountinfo from the mounts so far.
    void writeMountTable() const;
    // Forgets the mounts of `disk` (a card pulled out) and rewrites the table.
    void unmountDisk(const std::string &disk);

    const std::filesystem::path &root() const { return m_root; }

private:
    struct Mount {
        std::string disk, partition, point;
        int major = 8, minor = 0;
    };
    std::filesystem::path m_root;
    std::vector<Mount> m_mounts;
    std::vector<std::string> m_disks;
};

// Sets KORVANTE_SYSROOT for its lifetime.
class SysrootScope final {
public:
    explicit SysrootScope(const std::filesystem::path &root);
    ~SysrootScope();
    SysrootScope(const SysrootScope &) = delete;
    SysrootScope &operator=(const SysrootScope &) = delete;
};

} // namespace korvante::testing
