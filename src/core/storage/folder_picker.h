#pragma once
// Asks the user for a folder on the computer. The viewer shows its folder picker
// dialog; the command-line tool answers with the folder given on its command line.

#include <optional>
#include <string>

namespace korvante {

class FolderPicker {
public:
    virtual ~FolderPicker() = default;

    // Modal on the calling (UI) thread. `ownerWindow` is the opaque window the
    // dialog belongs to (the catalogue's ownerWindow, never null here); `caption`
    // is the dialog's title. Returns the chosen folder (UTF-8 path, with or
    // without a trailing "/"), or none when the user cancels.
    virtual std::optional<std::string> pickFolder(void *ownerWindow, const std::string &caption) = 0;
};

} // namespace korvante
