#pragma once
// Makes a file or folder unwritable even for root (whom permission bits do
// not stop): mode bits off, and the immutable attribute where the file
// system and the process's capabilities allow it. The guard undoes both.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace korvante::testing {

class Unwritable final {
public:
    explicit Unwritable(std::filesystem::path path) : m_path(std::move(path))
    {
        std::filesystem::permissions(m_path, std::filesystem::perms::owner_write | std::filesystem::perms::group_write
                                                 | std::filesystem::perms::others_write,
                                     std::filesystem::perm_options::remove);
        m_immutable = std::system(("chattr +i '" + m_path.string() + "' 2>/dev/null").c_str()) == 0;
    }
    ~Unwritable()
    {
        if (m_immutable)
            (void)std::system(("chattr -i '" + m_path.string() + "' 2>/dev/null").c_str());
        std::filesystem::permissions(m_path, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
    }
    Unwritable(const Unwritable &) = delete;
    Unwritable &operator=(const Unwritable &) = delete;

    // Whether writing really fails now (false when neither means held).
    bool holds() const
    {
        if (std::filesystem::is_directory(m_path)) {
            const auto probe = m_path / ".probe";
            const bool created = static_cast<bool>(std::ofstream(probe));
            std::filesystem::remove(probe);
            return !created;
        }
        return !std::ofstream(m_path, std::ios::in | std::ios::out | std::ios::binary);
    }

private:
    std::filesystem::path m_path;
    bool m_immutable = false;
};

} // namespace korvante::testing
