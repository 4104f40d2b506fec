#pragma once
// The one state shared by every panel of the viewer: the media engine, the
// catalogue of recordings, the sensor lists decoded from the open recording,
// and the few settings more than one panel reads. Reached only through
// GetViewerState(); it lives until the process ends.
//
// Threads: the UI thread uses everything; the metadata poller appends to
// sensorData (whose walks and appends share one lock) and reads the engine's
// graph through the engine's own poller interface.

#include "core/playback/media_engine.h"
#include "core/playback/sensor_records.h"
#include "core/storage/recording_catalogue.h"

#include <cstdint>


namespace korvante {

struct ViewerState {
    MediaEngine engine;
    RecordingCatalogue catalogue;
    CQDRVTextData sensorData;
    CQDRVGPSData currentFix;
    std::int32_t currentFixValid = 0;
    std::int32_t layoutMode = 0; // 0 default window, 1 fit screen, 2 full screen
    std::int32_t speedUnit = 0;  // 0 km/h, 1 mi/h, 2 kn

    ViewerState();
    ~ViewerState();
    ViewerState(const ViewerState &) = delete;
    ViewerState &operator=(const ViewerState &) = delete;

    // Clears currentFixValid and zeroes currentFix with it.
    void clearCurrentFix();
};

// The one ViewerState, made on first use (on the UI thread, before any
// worker starts). If construction throws, the next call tries again.
ViewerState &GetViewerState();

// Whether GetViewerState() has made the state (for code that runs at exit).
bool ViewerStateExists();

} // namespace korvante
