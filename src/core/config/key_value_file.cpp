#include "key_value_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvante {

namespace {

std::string formatInt(int32_t value)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%d", value);
    return buffer;
}

bool isDelimiter(char c)
{
    return c == ' ' || c == '=' || c == '\r' || c == '\n' || c == '\t';
}

// Splits one buffer line into at most two tokens (key and value).
int tokenize(const char *line, std::string &first, std::string &second)
{
    int count = 0;
    const char *p = line;
    while (*p && count < 2) {
        while (*p && isDelimiter(*p))
            ++p;
        if (!*p)
            break;
        const char *start = p;
        while (*p && !isDelimiter(*p))
            ++p;
        (count == 0 ? first : second).assign(start, static_cast<size_t>(p - start));
        ++count;
    }
    return count;
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
    FILE *file = std::fopen(path.c_str(), "r");
    if (!file)
        return false;
    char line[128];
    std::string key, value;
    while (std::fgets(line, sizeof line, file)) {
        const int count = tokenize(line, key, value);
        if (count == 0)
            continue;
        size_t pos = 0;
        if (!find(key, &pos)) {
            std::printf("INI ITEM <%s> is not registered! Ignore it.\n", key.c_str());
            continue;
        }
        if (count > 1)
            m_items[pos].storedValue = value;
    }
    std::fclose(file);
    std::fflush(stdout);
    for (auto &item : m_items)
        item.workingValue = item.storedValue;
    return true;
}

bool KeyValueFile::write(const std::string &path) const
{
    std::string content;
    for (const auto &item : m_items) {
        if (item.name.size() + 1 + item.workingValue.size() > kMaxLineLength)
            return false; // refuse rather than write a line the camera cannot read back
        const std::string line = item.name + "=" + item.workingValue;
        std::printf("%s\n", line.c_str());
        content += line;
        content += "\r\n";
    }
    std::fflush(stdout);

    const auto slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash);
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return false;
    bool ok = writeAll(fd, content) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok) {
        // Keep the permissions of the file being replaced, if any.
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0)
            ::chmod(temp.c_str(), st.st_mode & 07777);
        else
            ::chmod(temp.c_str(), 0644);
        ok = ::rename(temp.c_str(), path.c_str()) == 0;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

} // namespace korvante
