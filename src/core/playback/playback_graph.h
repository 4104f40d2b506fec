#pragma once
// The media graph of one opened recording: the stream-parse filters of the
// front and rear files, a video chain (decoder, colour converter, renderer)
// per shown channel, the front channel's sound, and the running graph that
// joins them. Element names are those the logs and tests refer to
// ("VXStreamParseFilter", "FFDShow Decoder1", "Mixing Renderer9-1" …).
//
// Ownership: the MediaEngine owns the current graph; the graph owns every
// element. Threads: all members are used on the user-interface thread,
// except `state` (read by the metadata poller) and the front parse filter's
// metadata reads (under the engine's poller lock).

#include "core/playback/audio_output.h"
#include "core/playback/colour_converter.h"
#include "core/playback/filter_graph.h"
#include "core/playback/result_codes.h"
#include "core/playback/stream_parse_filter.h"
#include "core/playback/video_decoder.h"
#include "core/playback/video_renderer.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace korvante {

class IndexMemory;
class VideoWindow;

// Graph states.
enum GraphState : std::int32_t { StateRunning = 0, StatePaused = 1, StateStopped = 2, StateCreated = 3 };

class PlaybackGraph final {
public:
    PlaybackGraph(std::int32_t windowCount, VideoWindow *const windows[4], std::uint8_t metadataMode);
    ~PlaybackGraph();
    PlaybackGraph(const PlaybackGraph &) = delete;
    PlaybackGraph &operator=(const PlaybackGraph &) = delete;

    // Builds and cues the graph for a recording: LoadSources, then Connect.
    // `frontNotLoaded` is set when the front file could not be loaded (the
    // open then fails). Any other error is returned as its result and leaves
    // the graph as far as it got.
    HResult Build(const std::string &front, const std::string &rear, std::intptr_t device,
                  std::int32_t recording, bool *frontNotLoaded);
    // The slow half of Build: reads the front and rear files into the
    // stream-parse filters. May run on a worker thread while nothing else
    // uses this graph. S_OK, or VFW_E_INVALID_FILE_FORMAT when the front file
    // is not loaded (the reason in loadError()). `cancel` is polled while the
    // files are read.
    //
    // Files without a usable index are walked front and rear in turns, the
    // one whose walk has covered less time first, so that both reach any
    // moment together. With `ready` given, it is called as soon as both have
    // been walked past their first pictures (kFirstPictures), and the walks
    // go on from there on this thread while the rest of the graph is built
    // and plays (from then on this thread touches nothing of the graph but
    // the two filters' loads). Without it, everything is walked first.
    //
    // After `ready` the walks wait until `goOn` is set (the caller has shown
    // the first pictures, whose reads then have the card reader to
    // themselves), at most kHoldMs.
    HResult LoadSources(const std::string &front, const std::string &rear, std::intptr_t device,
                        std::int32_t recording, const std::atomic<bool> *cancel = nullptr,
                        const std::function<void()> &ready = {}, const std::atomic<bool> *goOn = nullptr);
    // How much of a recording is walked before it plays: half a second of
    // the first video stream, what its first pictures need (a camera holds a
    // few pictures back for the B-frames between them).
    static constexpr std::int64_t kFirstPictures = 5'000'000;
    static constexpr int kHoldMs = 2000;
    // A step of a walk: one read of the walk's blocks.
    static constexpr std::int64_t kWalkStep = 1 << 20;
    // Either file is still being walked. Any thread.
    bool walking() const;
    // Takes the length from the front file's index as far as it is walked
    // (an estimate until the walk is over) into `duration` and the running
    // graph. User-interface thread.
    void refreshLength();
    bool lengthKnown = true;
    // The rest of Build after a successful LoadSources: the sound and video
    // chains, their connections and the cue at `start` (100 ns). With
    // `waitForCue` false it returns before the first pictures are decoded
    // (FilterGraph::cue). User-interface thread.
    HResult Connect(std::int64_t start = 0, bool waitForCue = true);
    // Why the front file was not loaded ("the file is empty", "cancelled" …).
    const std::string &loadError() const { return m_loadError; }
    // Stops every thread and releases the elements in the graph's order.
    void Teardown();

    std::unique_ptr<FilterGraph> graphBuilder;
    std::unique_ptr<StreamParseFilter> parseFilter[2];
    std::unique_ptr<VideoDecoder> decoder[4];
    std::unique_ptr<ColourConverter> colourConverter[4];
    std::unique_ptr<VideoRenderer> renderer[4];
    std::unique_ptr<AudioDecoder> audioDecoder;   // the AAC decoder, when the sound needs one
    std::unique_ptr<AudioRenderer> audioRenderer; // null without an audio output
    std::int32_t windowCount = 0;
    VideoWindow *window[4] = {};
    bool ready = false;
    std::atomic<std::int32_t> state{StateCreated};
    bool built = false;
    float rate = 1.0f;
    std::int64_t duration = 0;   // 100 ns units, 0 = not asked yet
    std::int32_t channelCount = 0;
    std::string frontPath;
    std::string rearPath;
    std::uint8_t metadataMode = 1;
    std::int32_t nativeWidth = 0;
    std::int32_t nativeHeight = 0;
    // Handed to the stream-parse filters before they load (see index_memory.h).
    std::shared_ptr<IndexMemory> indexMemory;

private:
    std::string m_loadError;
    // The sound's own decoding stage when PCM goes straight to the renderer.
    std::unique_ptr<AudioDecoder> m_pcmStage;
};

} // namespace korvante
