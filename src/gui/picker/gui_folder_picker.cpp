#include "gui_folder_picker.h"

#include "core/platform/registry.h"
#include "gui/picker/folder_dialog.h"
#include "gui/picker/history_combo.h"

#include <QDir>
#include <QFileInfo>
#include <QWidget>

namespace korvante {

std::optional<std::string> GuiFolderPicker::pickFolder(void *ownerWindow, const std::string &caption)
{
    auto *owner = static_cast<QWidget *>(ownerWindow);
    CXFolderDialog dialog(owner);
    dialog.title = QString::fromStdString(caption);
    dialog.rememberViewMode = true;
    dialog.applyViewMode = true;
    // Start where the user chose last time, when that folder still exists.
    const QString last = Registry::value(Registry::profileGroup(QStringLiteral("FolderHistory")),
                                         QStringLiteral("Folder"))
                             .toString();
    dialog.initialFolder = QFileInfo(last).isDir() ? last : QDir::homePath();
    // The owner stays disabled while the picker runs (the dialog is modal).
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.selectedPath.toStdString();
}

} // namespace korvante
