#include "viewer_state.h"

#include "core/config/viewer_config.h"
#include "core/overview/overview_cache.h"
#include "core/playback/index_memory_cache.h"
#include "core/platform/registry.h"
#include "core/storage/catalogue_config.h"

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

ViewerState::ViewerState()
{
    // The media components look for this mark; failing to write it is harmless.
    Registry::setValue(Registry::machineGroup(), QStringLiteral("usingDShow"), 1);
    importConfiguration(ViewerConfig::instance(), catalogue);
    // Recordings walked for want of an index open at index speed next time.
    engine.indexMemory = std::make_shared<CachedIndexMemory>(overview::OverviewCache::defaultDirectory());
    // A switch to the next recording of a trip starts these lists over.
    engine.sensorLists = &sensorData;
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
