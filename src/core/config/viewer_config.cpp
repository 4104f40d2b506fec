#include "viewer_config.h"

#include "core/platform/resource_path.h"

#include <tinyxml.h>

#include <climits>
#include <cstdio>
#include <mutex>
#include <unistd.h>

namespace korvante {

uint32_t djb2Hash(const std::string &text)
{
    uint32_t hash = 5381;
    for (char c : text)
        hash = hash * 33u + static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(c)));
    return hash;
}

StringKey::StringKey(std::string keyText, uint32_t sub)
    : text(std::move(keyText)), subIndex(sub), hash(djb2Hash(text))
{
}

std::string expandNewlines(std::string text)
{
    // Restarting from the beginning after each replacement finds the same
    // pairs as one left-to-right pass: the inserted newline never forms a pair.
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'n') {
            out.push_back('\n');
            ++i;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

std::string decodeUtf8(const std::string &bytes)
{
    static const char kReplacement[] = "\xEF\xBF\xBD";
    std::string out;
    out.reserve(bytes.size());
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const size_t n = bytes.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        size_t len = 0;
        uint32_t cp = 0;
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            len = 2;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4;
            cp = c & 0x07;
        } else {
            out += kReplacement;
            ++i;
            continue;
        }
        bool ok = i + len <= n;
        for (size_t k = 1; ok && k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                ok = false;
            else
                cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        // Reject overlong forms, surrogates and values past U+10FFFF.
        if (ok) {
            static const uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
            if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
                ok = false;
        }
        if (ok) {
            out.append(bytes, i, len);
            i += len;
        } else {
            out += kReplacement;
            ++i;
        }
    }
    return out;
}

std::string executableFolder()
{
    char buffer[PATH_MAX + 1];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, PATH_MAX);
    if (n <= 0)
        return "./";
    std::string path(buffer, static_cast<size_t>(n));
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

ViewerConfig &ViewerConfig::instance()
{
    static std::mutex lock;
    static ViewerConfig *config = nullptr;
    std::lock_guard guard(lock);
    if (!config)
        config = new ViewerConfig(); // lives until the process ends
    return *config;
}

bool ViewerConfig::folderAt(size_t position, FolderEntry &out) const
{
    if (position >= m_folders.size())
        return false;
    out = m_folders[position];
    return true;
}

bool ViewerConfig::extensionAt(size_t position, std::string &out) const
{
    if (position >= m_extensions.size())
        return false;
    out = m_extensions[position];
    return true;
}

bool ViewerConfig::lookupString(const std::string &lsid, std::string &out) const
{
    const auto it = m_stringTable.find(StringKey(lsid, language));
    if (it == m_stringTable.end())
        return false;
    out = it->second;
    return true;
}

void ViewerConfig::fillLanguageTable()
{
    static const struct {
        const char *name;
        uint32_t mode;
        int32_t index;
    } kRows[] = {{"english", 0, 0}, {"korean", 0, 1},  {"japanese", 0, 2},
                 {"chinese", 0, 3}, {"chinese", 1, 4}, {"russian", 0, 5}};
    for (const auto &row : kRows)
        m_languageTable.emplace(StringKey(row.name, row.mode), row.index); // present rows stay
}

uint32_t ViewerConfig::languageIndex(const std::string &name, uint32_t mode) const
{
    const auto it = m_languageTable.find(StringKey(name, mode));
    return it == m_languageTable.end() ? kNoLanguage : static_cast<uint32_t>(it->second);
}

namespace {

// Reads an attribute with "%d"; 0 when absent or not a number.
int32_t intAttribute(const TiXmlElement *element, const char *name)
{
    const char *value = element->Attribute(name);
    int parsed = 0;
    if (value && std::sscanf(value, "%d", &parsed) == 1)
        return parsed;
    return 0;
}

bool equalsIgnoreCase(const std::string &a, const char *b)
{
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z')
            x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z')
            y = static_cast<char>(y - 'a' + 'A');
        if (x != y)
            return false;
    }
    return i == a.size() && b[i] == '\0';
}

void setFlagFromBool(const TiXmlElement *element, const char *name, uint32_t bit, uint32_t &flags)
{
    // True is exactly "true", "yes" or "1" in any case. TinyXML's own query
    // only compares the start of the value ("yesterday", "10" and "truest"
    // would pass), so the text is compared whole here. Bits are only ever
    // set, never cleared.
    const char *value = element->Attribute(name);
    if (!value)
        return;
    const std::string text(value);
    if (equalsIgnoreCase(text, "true") || equalsIgnoreCase(text, "yes") || equalsIgnoreCase(text, "1"))
        flags |= bit;
}

int32_t folderTypeCode(const std::string &text)
{
    static const char *const kTypes[] = {"NOR", "EVT", "MOT", "MAN", "IMAGE"};
    for (int32_t i = 0; i < 5; ++i)
        if (equalsIgnoreCase(text, kTypes[i]))
            return i;
    return -1;
}

// Reads the file whole and parses it from memory, with the line ends made
// "\n" as TinyXML's own LoadFile makes them (same line numbers, same texts).
// LoadFile gives the parser a buffer with a single terminating zero, and the
// parser steps over a zero that cuts a multi-byte UTF-8 sequence short by up
// to three bytes, then reads on past the buffer; the zeros added here keep
// every such step inside it. False, with the row of the error in the
// document, when the file cannot be read or is not XML.
bool parseXmlFile(TiXmlDocument &document, const char *path)
{
    constexpr size_t kGuardZeros = 8;
    std::FILE *file = std::fopen(path, "rb");
    if (!file)
        return document.LoadFile(path); // fails alike, with the error row LoadFile gives (0)
    std::string bytes;
    char chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes.append(chunk, n);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed)
        return false;
    std::string text;
    text.reserve(bytes.size() + kGuardZeros);
    for (size_t i = 0; i < bytes.size() && bytes[i] != '\0'; ++i) {
        if (bytes[i] != '\r') {
            text.push_back(bytes[i]);
            continue;
        }
        text.push_back('\n');
        if (i + 1 < bytes.size() && bytes[i + 1] == '\n')
            ++i;
    }
    text.append(kGuardZeros, '\0');
    document.Parse(text.c_str(), nullptr, TIXML_DEFAULT_ENCODING);
    return !document.Error();
}

} // namespace

bool ViewerConfig::load(const std::string &fileName)
{
    // Beside the executable, or in the installed data folder.
    return loadFile(resourcePath(fileName));
}

bool ViewerConfig::loadFile(const std::string &path)
{
    fillLanguageTable();
    const char *name = path.c_str();

    TiXmlDocument document;
    if (!parseXmlFile(document, name)) {
        std::printf("%s(line:%d) Can not configuration file\n", name, document.ErrorRow());
        return false;
    }
    const TiXmlElement *root = document.RootElement();
    if (!root) {
        std::printf("%s(line:%d) xml document has no root element\n", name, 0);
        return false;
    }
    const TiXmlElement *configs = root->FirstChildElement("configs");
    if (!configs) {
        std::printf("%s(line:%d) xml document has no configs element\n", name, root->Row());
        return false;
    }
    const TiXmlElement *lstrings = root->FirstChildElement("lstrings");
    if (!lstrings) {
        std::printf("%s(line:%d) xml document has no lstrings element\n", name, root->Row());
        return false;
    }
    if (!parseConfig(configs)) {
        std::printf("%s(line:%d) _parseConfig failed\n", name, configs->Row());
        return false;
    }
    if (!parseLString(lstrings)) {
        std::printf("%s(line:%d) _parseLString failed\n", name, lstrings->Row());
        return false;
    }
    std::fflush(stdout);
    return true;
}

bool ViewerConfig::parseConfig(const void *configsElement)
{
    const auto *configs = static_cast<const TiXmlElement *>(configsElement);

    if (const TiXmlElement *lang = configs->FirstChildElement("language")) {
        if (const char *text = lang->GetText()) {
            const auto mode = static_cast<uint32_t>(intAttribute(lang, "mode"));
            const uint32_t index = languageIndex(text, mode);
            if (index != kNoLanguage)
                language = index;
        }
    }

    if (const TiXmlElement *dirs = configs->FirstChildElement("dirs")) {
        for (const TiXmlElement *dir = dirs->FirstChildElement("dir"); dir;
             dir = dir->NextSiblingElement("dir")) {
            const char *text = dir->GetText();
            const char *typeText = dir->Attribute("type");
            if (!text || !typeText)
                continue;
            const int32_t type = folderTypeCode(typeText);
            if (type < 0)
                continue;
            bool duplicate = false;
            for (const auto &f : m_folders)
                if (f.name8 == text || f.type == type)
                    duplicate = true;
            if (duplicate)
                continue;
            FolderEntry entry;
            entry.type = type;
            entry.name8 = text;
            entry.wideName = decodeUtf8(text);
            const int32_t tavop = intAttribute(dir, "tavop");
            entry.tavop = (tavop >= 0 && tavop <= 99) ? tavop : 0;
            m_folders.push_back(std::move(entry));
        }
    }

    if (const TiXmlElement *exts = configs->FirstChildElement("extensions")) {
        for (const TiXmlElement *ext = exts->FirstChildElement("extension"); ext;
             ext = ext->NextSiblingElement("extension")) {
            const char *text = ext->GetText();
            if (!text)
                continue;
            std::string decoded = decodeUtf8(text);
            bool present = false;
            for (const auto &e : m_extensions)
                if (e == decoded)
                    present = true;
            if (!present)
                m_extensions.push_back(std::move(decoded));
        }
    }

    if (const TiXmlElement *recursive = configs->FirstChildElement("recursive")) {
        setFlagFromBool(recursive, "removal", kFlagRemoval, flags);
        setFlagFromBool(recursive, "desktop", kFlagDesktop, flags);
    }
    if (const TiXmlElement *capture = configs->FirstChildElement("capture")) {
        setFlagFromBool(capture, "filetime", kFlagFileTime, flags);
        setFlagFromBool(capture, "addpos", kFlagAddPos, flags);
    }
    return true;
}

bool ViewerConfig::parseLString(const void *lstringsElement)
{
    const auto *lstrings = static_cast<const TiXmlElement *>(lstringsElement);
    for (const TiXmlElement *item = lstrings->FirstChildElement("lstring"); item;
         item = item->NextSiblingElement("lstring")) {
        const char *lsid = item->Attribute("id");
        if (!lsid)
            continue;
        for (const TiXmlElement *lang = item->FirstChildElement("language"); lang;
             lang = lang->NextSiblingElement("language")) {
            const char *typeText = lang->Attribute("type");
            const char *text = lang->GetText();
            if (!typeText || !text)
                continue;
            const auto mode = static_cast<uint32_t>(intAttribute(lang, "mode"));
            const uint32_t index = languageIndex(typeText, mode);
            StringKey key(lsid, index);
            if (m_stringTable.count(key)) {
                std::printf("Duplicated LSID(%s) found, ignore it.\n", lsid);
                continue;
            }
            m_stringTable.emplace(std::move(key), decodeUtf8(expandNewlines(text)));
        }
    }
    return true;
}

} // namespace korvante
