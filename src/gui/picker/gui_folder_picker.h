#pragma once
// The catalogue's folder picker in the viewer: runs CXFolderDialog modally.

#include "core/storage/folder_picker.h"

namespace korvante {

class GuiFolderPicker final : public FolderPicker {
public:
    // `ownerWindow` is the main window (a QWidget); the dialog opens over it.
    std::optional<std::string> pickFolder(void *ownerWindow, const std::string &caption) override;
};

} // namespace korvante
