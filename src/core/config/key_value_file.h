#pragma once
// A key=value settings file with keys registered by its owner (the camera's
// SETUP/setup.ini). Reading fills in registered keys and counts the others;
// writing replaces the file with one line per registered key, in registration
// order. Nothing is printed: the owner decides what to tell (unknownKeys()).
//
// The file is machine-read text: every number in it is written and read the
// same way whatever the desktop's locale.
//
// Not thread-safe: one owner on the UI thread.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace korvante {

struct KeyValueItem {
    uint32_t kind = 0;         // 0: integer item (the only kind the viewer registers)
    std::string name;          // compared exactly
    std::string storedValue;   // default, then the value read from the file
    std::string workingValue;  // what write() writes
    int32_t lowerBound = 0;
    int32_t upperBound = 0;    // carried along, never enforced
};

class KeyValueFile final {
public:
    // A settings file holds a few hundred bytes; anything larger than this is
    // not one, and is refused without being read (errno EFBIG).
    static constexpr size_t kMaxFileBytes = 64 * 1024;

    void registerInteger(const std::string &name, int32_t defaultValue, int32_t upperBound);
    bool find(const std::string &name, size_t *position = nullptr) const;
    bool getInteger(const std::string &name, int32_t &value) const;
    bool getText(const std::string &name, std::string &text) const;
    bool setIntegerAt(size_t position, int32_t value);
    bool setTextAt(size_t position, const std::string &text);
    bool remove(const std::string &name);

    // Paths are UTF-8. Lines are taken whole, whatever their length. read()
    // leaves every item as it was (and sets errno) when the file cannot be
    // opened, is not a regular file (a link is not followed) or is larger
    // than kMaxFileBytes.
    bool read(const std::string &path);
    // Lines of the last successful read whose key is not registered.
    size_t unknownKeys() const { return m_unknownKeys; }
    // Replaces the file atomically: the new content goes to a temporary file in
    // the same folder, is synced, then renamed over the old one. The new file
    // keeps the old one's permissions when they let its owner read and write
    // it, and otherwise gets those of any new file (0666 less the umask). On
    // any failure (unwritable folder, full disk, a name or value that would
    // not read back as written, more than kMaxFileBytes) the old file is left
    // untouched and false is returned.
    bool write(const std::string &path) const;

    const std::vector<KeyValueItem> &items() const { return m_items; }

private:
    std::vector<KeyValueItem> m_items;
    size_t m_unknownKeys = 0;
};

} // namespace korvante
