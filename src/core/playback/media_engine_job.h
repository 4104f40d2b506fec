#pragma once
// A load begun by the media engine (BeginOpen, PrepareNext): private to the
// engine's own files.

#include "core/playback/media_engine.h"

#include <atomic>
#include <memory>
#include <string>
#include <thread>

namespace korvante {

// A load begun with BeginOpen. The worker reads the files into `graph`,
// which nothing else touches until the worker has ended.
struct MediaEngine::OpenJob {
    std::uint64_t serial = 0;
    std::unique_ptr<PlaybackGraph> graph;
    std::string front;
    std::string rear;
    std::intptr_t device = 0;
    // The card device's shared owner, taken on the UI thread: a new scan of
    // the card before the worker reaches the device cannot free it.
    std::shared_ptr<unsigned char> deviceHold;
    std::int32_t recording = -1;
    OpenDone done;
    std::atomic<HResult> loaded{E_FAIL};
    std::atomic<bool> cancel{false};
    // The worker has ended. A recording being walked is handed over before
    // that (finishOpen), and the worker goes on walking it.
    std::atomic<bool> finished{false};
    // The graph is connected and shows its first pictures: the walk goes on.
    std::atomic<bool> shown{false};
    // A prepared graph: where it is cued (ms) and whether it is connected.
    std::uint64_t startMs = 0;
    bool connected = false;
    std::thread worker;
};

} // namespace korvante
