#include "key_value_file.h"

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <string_view>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvante {

namespace {

// Plain decimal digits whatever the locale: the camera reads this file.
std::string formatInt(int32_t value)
{
    char buffer[16];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

bool isDelimiter(char c)
{
    return c == ' ' || c == '=' || c == '\r' || c == '\n' || c == '\t';
}

// Splits one line into at most two tokens (key and value).
int tokenize(std::string_view line, std::string &first, std::string &second)
{
    int count = 0;
    size_t p = 0;
    while (p < line.size() && count < 2) {
        while (p < line.size() && isDelimiter(line[p]))
            ++p;
        if (p == line.size())
            break;
        const size_t start = p;
        while (p < line.size() && !isDelimiter(line[p]))
            ++p;
        (count == 0 ? first : second).assign(line.substr(start, p - start));
        ++count;
    }
    return count;
}

// A key must be one token and a value at most one: no delimiter, no NUL.
bool readsBackAsWritten(const std::string &text, bool mayBeEmpty)
{
    if (text.empty())
        return mayBeEmpty;
    for (const char c : text)
        if (c == '\0' || isDelimiter(c))
            return false;
    return true;
}

// Reads up to `limit` bytes; false with *error 0 when the file holds more.
bool readAtMost(int fd, size_t limit, std::string &out, int *error)
{
    char buffer[8192];
    while (true) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            *error = errno;
            return false;
        }
        if (n == 0)
            return true;
        out.append(buffer, static_cast<size_t>(n));
        if (out.size() >= limit)
            return false;
    }
}

// Creates `<path>.<unique>.tmp` beside `path` with the mode a new file gets
// (0666 less the umask). O_EXCL never follows or reuses an existing name.
int createTemporary(const std::string &path, std::string &temp)
{
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp = path + "." + std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1)) + ".tmp";
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

bool writeAll(int fd, const std::string &data)
{
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

void KeyValueFile::registerInteger(const std::string &name, int32_t defaultValue, int32_t upperBound)
{
    if (name.empty() || find(name))
        return;
    KeyValueItem item;
    item.kind = 0;
    item.name = name;
    item.storedValue = formatInt(defaultValue);
    item.lowerBound = 0;
    item.upperBound = upperBound;
    m_items.push_back(std::move(item));
}

bool KeyValueFile::find(const std::string &name, size_t *position) const
{
    for (size_t i = 0; i < m_items.size(); ++i) {
        if (m_items[i].name == name) {
            if (position)
                *position = i;
            return true;
        }
    }
    return false;
}

bool KeyValueFile::getInteger(const std::string &name, int32_t &value) const
{
    size_t pos = 0;
    if (!find(name, &pos) || m_items[pos].kind != 0)
        return false;
    // atoi's reading without its undefined behaviour on overflow.
    value = static_cast<int32_t>(std::strtol(m_items[pos].workingValue.c_str(), nullptr, 10));
    return true;
}

bool KeyValueFile::getText(const std::string &name, std::string &text) const
{
    size_t pos = 0;
    if (!find(name, &pos))
        return false;
    text = m_items[pos].workingValue;
    return true;
}

bool KeyValueFile::setIntegerAt(size_t position, int32_t value)
{
    if (position >= m_items.size() || m_items[position].kind != 0)
        return false;
    m_items[position].workingValue = formatInt(value);
    return true;
}

bool KeyValueFile::setTextAt(size_t position, const std::string &text)
{
    if (position >= m_items.size())
        return false;
    m_items[position].workingValue = text;
    return true;
}

bool KeyValueFile::remove(const std::string &name)
{
    size_t pos = 0;
    if (!find(name, &pos))
        return false;
    m_items.erase(m_items.begin() + static_cast<std::ptrdiff_t>(pos));
    return true;
}

bool KeyValueFile::read(const std::string &path)
{
    // Non-blocking, so that a FIFO in the file's place cannot hang the
    // window; the size is checked before a byte is read.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat st {};
    int error = 0;
    if (::fstat(fd, &st) != 0)
        error = errno;
    else if (!S_ISREG(st.st_mode))
        error = EINVAL;
    else if (st.st_size < 0 || static_cast<unsigned long long>(st.st_size) > kMaxFileBytes)
        error = EFBIG;
    std::string content;
    if (!error && !readAtMost(fd, kMaxFileBytes + 1, content, &error) && !error)
        error = EFBIG; // grew while being read
    ::close(fd);
    if (error) {
        errno = error;
        return false;
    }

    size_t unknown = 0;
    std::string key, value;
    size_t begin = 0;
    while (begin < content.size()) {
        size_t end = content.find('\n', begin);
        if (end == std::string::npos)
            end = content.size();
        const int count = tokenize(std::string_view(content).substr(begin, end - begin), key, value);
        begin = end + 1;
        if (count == 0)
            continue;
        size_t pos = 0;
        if (!find(key, &pos)) {
            ++unknown;
            continue;
        }
        if (count > 1)
            m_items[pos].storedValue = value;
    }
    m_unknownKeys = unknown;
    for (auto &item : m_items)
        item.workingValue = item.storedValue;
    return true;
}

bool KeyValueFile::write(const std::string &path) const
{
    std::string content;
    for (const auto &item : m_items) {
        // Refuse rather than write a line that would read back differently.
        if (!readsBackAsWritten(item.name, false) || !readsBackAsWritten(item.workingValue, true)) {
            errno = EINVAL;
            return false;
        }
        content += item.name;
        content += '=';
        content += item.workingValue;
        content += "\r\n";
    }
    if (content.size() > kMaxFileBytes) {
        errno = EFBIG;
        return false;
    }

    const auto slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash);
    std::string temp;
    const int fd = createTemporary(path, temp);
    if (fd < 0)
        return false;
    // The file being replaced keeps its permissions unless they lock its own
    // owner out (mode 000, say): then it gets a new file's mode, which the
    // temporary file already has.
    struct stat old {};
    if (::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode) && (old.st_mode & 0600) == 0600)
        (void)::fchmod(fd, old.st_mode & 0777); // a FAT card has no modes to set: not an error
    bool ok = writeAll(fd, content) && ::fsync(fd) == 0;
    int error = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        errno = error;
        return false;
    }
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

} // namespace korvante
