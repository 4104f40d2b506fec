#pragma once
// Helpers shared by the fuzz targets and their corpus replays: the input as a
// file that the code under test opens by name, and a check that ends the run
// with a message the fuzzer and ctest both show.

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace korvante::fuzzing {

// The input held in an anonymous in-memory file, reachable by a path for as
// long as the object lives. The file is a regular file, so code that refuses
// FIFOs and devices treats it like a file on a card.
class MemoryFile final {
public:
    MemoryFile(const std::uint8_t *data, std::size_t size)
    {
        m_fd = memfd_create("korvante-fuzz", MFD_CLOEXEC);
        if (m_fd < 0)
            std::abort();
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = ::write(m_fd, data + done, size - done);
            if (n <= 0)
                std::abort();
            done += static_cast<std::size_t>(n);
        }
        m_path = "/proc/self/fd/" + std::to_string(m_fd);
    }
    ~MemoryFile() { ::close(m_fd); }
    MemoryFile(const MemoryFile &) = delete;
    MemoryFile &operator=(const MemoryFile &) = delete;

    const std::string &path() const { return m_path; }

private:
    int m_fd = -1;
    std::string m_path;
};

inline void check(bool condition, const char *target, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "%s: %s\n", target, what);
        std::abort();
    }
}

} // namespace korvante::fuzzing
