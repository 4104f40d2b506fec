#include "viewer_state.h"

#include "core/config/viewer_config.h"
#include "core/platform/registry.h"

#include <cstdlib>
#include <mutex>

namespace korvante {

namespace {

ViewerState *g_state = nullptr;

void destroyViewerState()
{
    delete g_state;
    g_state = nullptr;
}

} // namespace

void ViewerState::importConfiguration(RecordingCatalogue &catalogue, const ViewerConfig &config)
{
    FolderEntry folder;
    for (size_t i = 0; config.folderAt(i, folder); ++i)
        catalogue.addFolder(folder.wideName);
    std::string extension;
    for (size_t i = 0; config.extensionAt(i, extension); ++i)
        catalogue.addExtension(extension);
    std::string text;
    if (config.lookupString("COMM_SEL_FOLDER", text) && !text.empty())
        catalogue.pickerCaption = text;
    text.clear();
    if (config.lookupString("SELDRV_COMBO_DESKTOP", text) && !text.empty())
        catalogue.computerCaption = text;
    catalogue.recurseRemovable = (config.flags & kFlagRemoval) != 0;
    catalogue.recursePicked = (config.flags & kFlagDesktop) != 0;
}

ViewerState::ViewerState()
{
    // The media components look for this mark; failing to write it is harmless.
    Registry::setValue(Registry::machineGroup(), QStringLiteral("usingDShow"), 1);
    importConfiguration(catalogue, ViewerConfig::instance());
}

ViewerState::~ViewerState()
{
    // Pollers append to sensorData: make them leave before the lists go.
    engine.waitForPollers();
    sensorData.clearSamples();
    sensorData.clearFixes();
    // Members then go in reverse order: sensor lists, catalogue (closing the
    // card device and stopping the card library), engine (closing its graph).
}

void ViewerState::clearCurrentFix()
{
    currentFixValid = 0;
    currentFix = CQDRVGPSData();
}

ViewerState &GetViewerState()
{
    if (!g_state) {
        // A throwing constructor leaves g_state null, so the next call retries.
        g_state = new ViewerState();
        std::atexit(destroyViewerState);
    }
    return *g_state;
}

bool ViewerStateExists()
{
    return g_state != nullptr;
}

} // namespace korvante
