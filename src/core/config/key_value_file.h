#pragma once
// A key=value settings file with keys registered by its owner (the camera's
// SETUP/setup.ini). Reading fills in registered keys and reports the others on
// standard output; writing replaces the file with one line per registered key,
// in registration order.
//
// Not thread-safe: one owner on the UI thread.

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
    // Longest line that fits the 128-byte line buffer, without its terminator.
    static constexpr size_t kMaxLineLength = 127;

    void registerInteger(const std::string &name, int32_t defaultValue, int32_t upperBound);
    bool find(const std::string &name, size_t *position = nullptr) const;
    bool getInteger(const std::string &name, int32_t &value) const;
    bool getText(const std::string &name, std::string &text) const;
    bool setIntegerAt(size_t position, int32_t value);
    bool setTextAt(size_t position, const std::string &text);
    bool remove(const std::string &name);

    // Paths are UTF-8. read() leaves every item as it was when the file cannot
    // be opened.
    bool read(const std::string &path);
    // Replaces the file atomically: the new content goes to a temporary file in
    // the same folder, is synced, then renamed over the old one. On any failure
    // (unwritable folder, full disk, a line longer than kMaxLineLength) the old
    // file is left untouched and false is returned.
    bool write(const std::string &path) const;

    const std::vector<KeyValueItem> &items() const { return m_items; }

private:
    std::vector<KeyValueItem> m_items;
};

} // namespace korvante
