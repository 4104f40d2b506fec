#include "core/storage/catalogue_config.h"

#include "core/config/viewer_config.h"
#include "core/storage/recording_catalogue.h"

namespace korvante {

void importConfiguration(const ViewerConfig &config, RecordingCatalogue &catalogue)
{
    for (size_t i = 0; i < config.folderCount(); ++i) {
        FolderEntry folder;
        if (config.folderAt(i, folder))
            catalogue.addFolder(folder.wideName);
    }
    for (size_t i = 0; i < config.extensionCount(); ++i) {
        std::string extension;
        if (config.extensionAt(i, extension))
            catalogue.addExtension(extension);
    }
    std::string text;
    if (config.lookupString("COMM_SEL_FOLDER", text) && !text.empty())
        catalogue.pickerCaption = text;
    text.clear();
    if (config.lookupString("SELDRV_COMBO_DESKTOP", text) && !text.empty())
        catalogue.computerCaption = text;
    catalogue.recurseRemovable = (config.flags & kFlagRemoval) != 0;
    catalogue.recursePicked = (config.flags & kFlagDesktop) != 0;
}

} // namespace korvante
