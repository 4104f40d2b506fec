#include "fake_machine.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>

namespace korvante::testing {
namespace fs = std::filesystem;

namespace {

void writeText(const fs::path &file, const std::string &text)
{
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text << "\n";
}

int diskMinor(const std::vector<std::string> &disks, const std::string &disk)
{
    const auto it = std::find(disks.begin(), disks.end(), disk);
    return static_cast<int>(it - disks.begin()) * 16;
}

} // namespace

FakeMachine::FakeMachine(fs::path root) : m_root(std::move(root))
{
    fs::create_directories(m_root / "sys/block");
    fs::create_directories(m_root / "dev");
    fs::create_directories(m_root / "proc/self");
    writeMountTable();
}

void FakeMachine::addDisk(const std::string &name, bool removable, uint64_t sectors, const fs::path &image)
{
    m_disks.push_back(name);
    const fs::path dir = m_root / "sys/block" / name;
    writeText(dir / "removable", removable ? "1" : "0");
    writeText(dir / "size", std::to_string(sectors));
    writeText(dir / "dev", "8:" + std::to_string(diskMinor(m_disks, name)));
    const fs::path dev = m_root / "dev" / name;
    fs::remove(dev);
    if (!image.empty())
        fs::create_symlink(fs::absolute(image), dev);
    else
        std::ofstream(dev).put('\0');
}

fs::path FakeMachine::mount(const std::string &disk, int number, const std::string &mountPoint)
{
    const std::string part = disk + std::to_string(number);
    const fs::path dir = m_root / "sys/block" / disk / part;
    const int minor = diskMinor(m_disks, disk) + number;
    writeText(dir / "partition", std::to_string(number));
    writeText(dir / "dev", "8:" + std::to_string(minor));
    m_mounts.push_back({disk, part, mountPoint, 8, minor});
    const fs::path real = m_root / fs::path(mountPoint).relative_path();
    fs::create_directories(real);
    writeMountTable();
    return real;
}

void FakeMachine::mountRoot(const std::string &disk, int number) { mount(disk, number, "/"); }

void FakeMachine::unmountDisk(const std::string &disk)
{
    std::erase_if(m_mounts, [&](const Mount &m) { return m.disk == disk; });
    writeMountTable();
}

void FakeMachine::writeMountTable() const
{
    std::ofstream out(m_root / "proc/self/mountinfo", std::ios::trunc);
    out << "21 1 0:20 / /proc rw,nosuid - proc proc rw\n";
    int id = 30;
    for (const auto &m : m_mounts) {
        std::string point;
        for (char c : m.point) {
            if (c == ' ')
                point += "\\040";
            else
                point += c;
        }
        out << id++ << " 1 " << m.major << ":" << m.minor << " / " << point
            << " rw,relatime shared:1 - vfat /dev/" << m.partition << " rw\n";
    }
}

SysrootScope::SysrootScope(const fs::path &root) { setenv("KORVANTE_SYSROOT", root.c_str(), 1); }

SysrootScope::~SysrootScope() { unsetenv("KORVANTE_SYSROOT"); }

} // namespace korvante::testing
