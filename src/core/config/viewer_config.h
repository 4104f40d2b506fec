#pragma once
// The viewer's configuration: display language, recording folders, accepted
// extensions, four option bits and the localised texts, read once from
// viewerconfig.cfg beside the executable.
//
// Text that the viewer shows ("wide" text) is kept as UTF-8; folder names are
// also kept as the exact bytes found in the file ("8-bit" name).
//
// Threads: instance() may be called from any thread; load() runs on the UI
// thread before other threads start, after which the object is only read.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace korvante {

enum FolderType : int32_t {
    FolderNormal = 0,  // "NOR"
    FolderEvent = 1,   // "EVT"
    FolderParking = 2, // "MOT"
    FolderManual = 3,  // "MAN"
    FolderImage = 4,   // "IMAGE"
};

struct FolderEntry {
    int32_t type = 0;
    std::string wideName; // UTF-8, invalid sequences replaced
    std::string name8;    // the bytes as they stand in the file
    int32_t tavop = 0;    // 0 to 99
};

// Key of the language and string tables. Two keys with equal hash and
// sub-index are the same key: the texts are deliberately never compared.
struct StringKey {
    std::string text;
    uint32_t subIndex = 0;
    uint32_t hash = 0;

    StringKey() = default;
    StringKey(std::string keyText, uint32_t sub);

    bool operator<(const StringKey &other) const
    {
        if (hash != other.hash)
            return hash < other.hash;
        return subIndex < other.subIndex;
    }
};

// djb2 over the bytes taken as signed 8-bit values, wrapping in 32 bits.
uint32_t djb2Hash(const std::string &text);

// Language indices; 6 means "no language" and is never returned by lookups.
inline constexpr uint32_t kLanguageEnglish = 0;
inline constexpr uint32_t kLanguageKorean = 1;
inline constexpr uint32_t kNoLanguage = 6;

// Option bits of `flags`.
inline constexpr uint32_t kFlagRemoval = 0x1;
inline constexpr uint32_t kFlagDesktop = 0x2;
inline constexpr uint32_t kFlagFileTime = 0x4;
inline constexpr uint32_t kFlagAddPos = 0x8;

class ViewerConfig final {
public:
    ViewerConfig() = default;

    // The one process-wide configuration, made with the defaults on first use.
    static ViewerConfig &instance();

    // Loads `fileName` from the executable's folder (or, when it is not there,
    // the installed data folder). Returns true when the root,
    // configs and lstrings elements were found and both passes ran.
    bool load(const std::string &fileName);
    // Same, from an explicit path (the command-line tool's --config, tests).
    bool loadFile(const std::string &path);

    size_t folderCount() const { return m_folders.size(); }
    bool folderAt(size_t position, FolderEntry &out) const;
    size_t extensionCount() const { return m_extensions.size(); }
    bool extensionAt(size_t position, std::string &out) const;

    // The text of `lsid` in the current language; false (out untouched) when
    // there is none. There is no fallback to another language.
    bool lookupString(const std::string &lsid, std::string &out) const;

    uint32_t language = kLanguageEnglish;
    uint32_t flags = 0;

    const std::map<StringKey, int32_t> &languageTable() const { return m_languageTable; }
    const std::map<StringKey, std::string> &stringTable() const { return m_stringTable; }

private:
    void fillLanguageTable();
    uint32_t languageIndex(const std::string &name, uint32_t mode) const;
    bool parseConfig(const void *configsElement);
    bool parseLString(const void *lstringsElement);

    std::vector<std::string> m_extensions;
    std::vector<FolderEntry> m_folders;
    std::map<StringKey, int32_t> m_languageTable;
    std::map<StringKey, std::string> m_stringTable;
};

// Replaces every backslash followed by "n" with a newline.
std::string expandNewlines(std::string text);
// Decodes UTF-8 the way a wide-text conversion would: invalid sequences become
// U+FFFD, so the result is always valid UTF-8.
std::string decodeUtf8(const std::string &bytes);
// The folder holding the running executable, with a trailing "/".
std::string executableFolder();

} // namespace korvante
