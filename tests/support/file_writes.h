#pragma once
// Counts how often a file is written, from the kernel's notifications on its
// folder: a write is a finished copy renamed over the file, or the file closed
// after bytes were written to it (an open for writing alone is not a write).
// Linux only.

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>

namespace korvante::testing {

class FileWrites final {
public:
    // Watches `file`; its folder must exist.
    explicit FileWrites(const std::filesystem::path &file)
        : m_name(file.filename().string()), m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        if (m_fd >= 0)
            m_watch = ::inotify_add_watch(m_fd, file.parent_path().c_str(), IN_CLOSE_WRITE | IN_MOVED_TO | IN_MODIFY);
    }
    ~FileWrites()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileWrites(const FileWrites &) = delete;
    FileWrites &operator=(const FileWrites &) = delete;

    bool watching() const { return m_fd >= 0 && m_watch >= 0; }

    // The writes since the last call (or since the watch began).
    int take()
    {
        int writes = 0;
        alignas(struct inotify_event) char buffer[8192];
        for (;;) {
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            for (ssize_t at = 0; at < n;) {
                const auto *event = reinterpret_cast<const struct inotify_event *>(buffer + at);
                if (event->len > 0 && m_name == event->name) {
                    if (event->mask & IN_MODIFY)
                        m_modified = true;
                    if ((event->mask & IN_MOVED_TO) || ((event->mask & IN_CLOSE_WRITE) && m_modified))
                        ++writes;
                    if (event->mask & (IN_MOVED_TO | IN_CLOSE_WRITE))
                        m_modified = false;
                }
                at += static_cast<ssize_t>(sizeof(struct inotify_event) + event->len);
            }
        }
        return writes;
    }

private:
    std::string m_name;
    int m_fd = -1;
    int m_watch = -1;
    bool m_modified = false;
};

} // namespace korvante::testing
