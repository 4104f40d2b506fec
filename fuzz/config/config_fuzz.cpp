// Treats the input as viewerconfig.cfg and loads it the way start-up does.
// Findings besides crashes and sanitizer reports: a folder type out of range
// or listed twice, a folder name twice, a tavop number out of 0..99, an
// extension listed twice, a language index past the table, an option bit that
// does not exist, or a text for the user that is not valid UTF-8.

#include "fuzz_input.h"

#include "core/config/viewer_config.h"

#include <set>
#include <string>

namespace {

void check(bool condition, const char *what)
{
    korvante::fuzzing::check(condition, "config_fuzz", what);
}

bool validUtf8(const std::string &text)
{
    return korvante::decodeUtf8(text) == text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const korvante::fuzzing::MemoryFile file(data, size);
    korvante::ViewerConfig config;
    const bool loaded = config.loadFile(file.path());

    check(config.language < korvante::kNoLanguage, "language index past the table");
    check((config.flags & ~0xFu) == 0, "an option bit that does not exist");
    std::set<int> types;
    std::set<std::string> names;
    for (std::size_t i = 0; i < config.folderCount(); ++i) {
        korvante::FolderEntry folder;
        check(config.folderAt(i, folder), "a listed folder cannot be read back");
        check(folder.type >= korvante::FolderNormal && folder.type <= korvante::FolderImage,
              "folder type out of range");
        check(types.insert(folder.type).second, "folder type listed twice");
        check(names.insert(folder.name8).second, "folder name listed twice");
        check(folder.tavop >= 0 && folder.tavop <= 99, "tavop out of range");
        check(validUtf8(folder.wideName), "folder name is not valid UTF-8");
    }
    std::set<std::string> extensions;
    for (std::size_t i = 0; i < config.extensionCount(); ++i) {
        std::string extension;
        check(config.extensionAt(i, extension), "a listed extension cannot be read back");
        check(extensions.insert(extension).second, "extension listed twice");
        check(validUtf8(extension), "extension is not valid UTF-8");
    }
    for (const auto &[key, text] : config.stringTable())
        check(validUtf8(text), "a text for the user is not valid UTF-8");
    if (!loaded)
        check(config.stringTable().empty(), "a refused file left texts behind");

    // A text looked up is the one stored for the current language.
    for (const auto &[key, text] : config.stringTable()) {
        std::string found;
        if (key.subIndex == config.language)
            check(config.lookupString(key.text, found), "a stored text cannot be looked up");
    }
    return 0;
}
