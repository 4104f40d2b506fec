#pragma once
// The media engine: plays one recording at a time, the front channel and,
// when the recording has one, the rear channel, each in its own video window,
// with the front channel's sound. It builds a PlaybackGraph for each opened
// recording and runs, pauses, stops and seeks it, changes rate and volume,
// zooms a picture, swaps the screens, flips a picture and grabs frames.
//
// Threads: every operation runs on the user-interface thread. The metadata
// poller reads packets through pollMetadataPacket(), which holds the poller
// lock; Open and Close take that lock before a graph is freed, so a poller
// never uses a freed graph. Positions are in milliseconds unless a name says
// otherwise; results are those of the operations' table (1/0, or result codes).

#include "core/playback/playback_graph.h"
#include "core/playback/result_codes.h"

#include <QImage>
#include <QRect>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class QObject;
class QTimer;
class QPainter;

namespace korvante {

class CQDRVTextData;
class IndexMemory;
class VideoWindow;

class MediaEngine final {
public:
    MediaEngine();
    ~MediaEngine();
    MediaEngine(const MediaEngine &) = delete;
    MediaEngine &operator=(const MediaEngine &) = delete;

    std::int32_t windowCount = 0;
    VideoWindow *videoWindow[4] = {};
    std::unique_ptr<PlaybackGraph> graph;
    std::uint8_t metadataMode = 1;
    std::int32_t zoom[4] = {};
    // Where the indexes of walked recordings are remembered (see
    // index_memory.h); null: every open of such a recording walks it.
    std::shared_ptr<IndexMemory> indexMemory;

    void AttachScreens(VideoWindow *front, VideoWindow *rear);
    // `rear` may be a path, "1CH", "NULL" or empty; `device` and `recording`
    // name a card recording (0 and −1 for plain files). 1 opened, 0 failed.
    int Open(const std::string &front, const std::string &rear = {}, std::intptr_t device = 0,
             std::int32_t recording = -1);

    // How an open begun with BeginOpen ended.
    struct OpenOutcome {
        int opened = 0;       // 1 opened (the graph is built and cued), 0 not
        bool cancelled = false;
        std::string reason;   // why the front file was not loaded, e.g. "the file is empty"
    };
    using OpenDone = std::function<void(const OpenOutcome &)>;
    // Open without waiting for the files to be read: the current graph is
    // stopped and closed at once (GetState() is −1 while loading), the files
    // are loaded on a worker thread, and the graph is connected, cued and
    // made current on this thread's event loop, which then calls `done`.
    // A later BeginOpen, Open, Stop, Close or CancelOpen cancels the load:
    // `done` then runs (queued) with `cancelled` set and the engine keeps no
    // graph. Call on the user-interface thread, which must run an event loop.
    void BeginOpen(const std::string &front, const std::string &rear, std::intptr_t device,
                   std::int32_t recording, OpenDone done);
    // Cancels a load begun with BeginOpen; returns at once (the worker ends
    // on its own soon after). True when there was one.
    bool CancelOpen();
    bool IsOpening() const { return m_pending != nullptr; }
    // A recording without a usable index plays while its chunks are walked:
    // the open's worker walks on after `done` said it opened. While it does,
    // the length is an estimate from the file's size (LengthKnown() false),
    // the metadata grows, and a seek past the walked part waits for the walk
    // (SeekWaiting() true: the position is already the new one, and the
    // pictures and playing follow by themselves). Close (and so every
    // open) ends the walk.
    bool IsWalking() const;
    bool LengthKnown() const { return !graph || graph->lengthKnown; }
    bool SeekWaiting() const { return graph && graph->graphBuilder && graph->graphBuilder->seekWaiting(); }
    // How far the front file is walked, ms (its length once walked).
    std::uint64_t WalkedMs() const;
    // Load workers still reading files: the current load's and those of
    // cancelled loads that have not noticed yet.
    int loadWorkersRunning() const;

    // Continuous playback: the next recording is opened and cued beside the
    // one that plays, so that it can follow without a pause.
    //
    // PrepareNext loads `front`/`rear` on a worker as BeginOpen does (headers
    // and index; a file without one is walked past its first pictures and on
    // from there), never touching the current graph, its pollers, screens or
    // sound; on this thread's event loop the graph is then connected and cued
    // at `startMs` (its first pictures decode on its own threads) and `done`
    // says how it went (opened 1: HasPrepared() is true). A later
    // PrepareNext, DropPrepared, Close, Open or BeginOpen drops it, without
    // calling `done`. UI thread, which must run an event loop.
    void PrepareNext(const std::string &front, const std::string &rear, std::intptr_t device,
                     std::int32_t recording, std::uint64_t startMs, OpenDone done);
    bool HasPrepared() const;
    bool IsPreparing() const { return m_prepared != nullptr; }
    // The front file of the prepared (or preparing) recording, "" without one.
    std::string PreparedFront() const;
    // True when there was one to drop.
    bool DropPrepared();
    // Makes the prepared graph current at once: it keeps the running state
    // (a running graph goes on running, a paused one shows the new first
    // pictures), the rate, the volume, the screens with their zoom and the
    // picture settings; sound goes on with the new recording's; pollers read
    // the new graph, and `sensorLists` (when set) start over under the
    // poller lock, so no packet of the old recording lands after the clear.
    // The old graph is closed. 1 switched, 0 nothing prepared.
    int SwitchToPrepared();
    // With `switched` set, a running graph that reaches its end while a
    // prepared graph is ready is replaced by it right then (within a
    // millisecond or two of the last picture's time running out, by a
    // precise timer on this thread), and `switched` is called after. Empty:
    // off, the graph stops at its end as before.
    void SwitchAtEnd(std::function<void()> switched);
    // The sensor lists that a switch starts over (the viewer state's; not owned).
    CQDRVTextData *sensorLists = nullptr;

    int Close();
    HResult Play();
    HResult Pause();
    int Stop();
    // Forgets the pictures the screens show (after a stop: a stopped
    // recording starts again from its beginning, so its last picture would
    // belong to no position the panels show). The screens paint their
    // background until the next frame.
    void ClearPictures();
    std::int32_t GetState() const;
    // True when the open recording stopped being readable while it played
    // (its card pulled out, its file cut short): the caller stops and says so.
    bool ReadFailed() const;
    std::uint64_t GetPositionMs() const;
    std::uint64_t GetDurationMs();
    int Rewind(double seconds);
    int Forward(double seconds);
    // Absolute seek, 100 ns units (the seek slider and the picture settings use it).
    HResult SetPosition(std::int64_t position);
    HResult SetRate(float rate);
    HResult SetVolume(std::int32_t percent);
    int ZoomStep(int slot, int direction, VideoWindow *screen);
    int ZoomReset(int slot, VideoWindow *screen);
    int PlacePicture(int slot, VideoWindow *screen, QPainter *painter, int x, int y);
    int SwapScreens(VideoWindow *a, VideoWindow *b);
    int Repaint();
    HResult GetNativeVideoSize(int slot, std::int32_t *width, std::int32_t *height,
                               std::int32_t *aspectWidth, std::int32_t *aspectHeight);
    // The frame shown in `slot` as a 32-bit top-down image. 1 done, 0 failed.
    int GrabFrame(int slot, QImage &bitmap);
    HResult SetFlip(int slot, int on);
    HResult SetRearFlip(int on);
    HResult SetPictureParam(std::int32_t id, std::int32_t value);
    // Whether SetPictureParam(id, value) would change the picture: the value
    // after clamping differs from what a decoder holds.
    bool PictureParamDiffers(std::int32_t id, std::int32_t value) const;
    // A paused picture is decoded again at its position with the current
    // settings (one seek); nothing while running, where the next frames
    // already use them.
    void RefreshPicture();
    HResult ResetPicture(int slot, std::int32_t value);
    // Start-up check: the decoders can be created, the whitelists hold the
    // program. 1 ready, 0 missing (the main window then shows "Not Find VX filter").
    int CheckComponents();

    // Paints the frame of the renderer drawing into `window`; called from the
    // window's paint handler on the user-interface thread. Returns the part of
    // the window the picture covered (the caller fills the rest).
    QRect PaintVideo(VideoWindow *window, QPainter &painter) const;

    // The metadata poller's step: with the graph running or paused, reads the
    // front filter's next packet and hands it to DispatchPacket. False when
    // the poller should end (no graph, not running or paused, no packet left).
    // Read and append happen under one lock, so pollers never reorder or
    // repeat packets. Any thread.
    bool pollMetadataPacket(CQDRVTextData &sensorData);
    // No packet is left yet, but the front file is still walked and the
    // graph runs or is paused: more will come. Any thread.
    bool metadataStillComing();
    // Poller threads register so that the engine outlives them.
    void pollerStarted();
    void pollerEnded();
    // Closes the graph and waits until every poller thread has ended (call
    // before the sensor lists the pollers append to are destroyed).
    void waitForPollers();

private:
    struct OpenJob;
    HResult seekBy(std::int64_t delta);
    void stopAndClose();
    void finishOpen(std::uint64_t serial);
    void reapJobs(bool all);
    // Ends the walk of the current graph's files (joins its worker).
    void endWalk();
    void startWalkTimer();
    // Every kWalkServiceMs while a walk or a seek waiting for it lasts: the
    // length, the waiting seek, the worker once it has ended.
    void serviceWalk();
    static constexpr int kWalkServiceMs = 50;
    std::unique_ptr<OpenJob> makeJob(const std::string &front, const std::string &rear, std::intptr_t device,
                                     std::int32_t recording, OpenDone done, VideoWindow *const windows[4]);
    // Runs the job's load on its worker; `finish` (with the job's serial)
    // on this thread once it is playable or has failed.
    void startLoad(OpenJob &job, void (MediaEngine::*finish)(std::uint64_t), bool holdWalk);
    void finishPrepare(std::uint64_t serial);
    // Checks how far the running graph is from its end and switches to the
    // prepared one there (SwitchAtEnd); re-arms m_endTimer.
    void serviceEnd();
    static constexpr int kEndPollMs = 100;

    // Loads begun with BeginOpen: the current one, and cancelled ones whose
    // worker may still run (joined once they end, and at the latest by the
    // destructor).
    std::unique_ptr<OpenJob> m_pending;
    std::vector<std::unique_ptr<OpenJob>> m_retired;
    // The load whose worker still walks the current graph's files.
    std::unique_ptr<OpenJob> m_walk;
    // The next recording, loading or cued (PrepareNext).
    std::unique_ptr<OpenJob> m_prepared;
    std::function<void()> m_onEndSwitch;
    QTimer *m_endTimer = nullptr; // child of m_loopContext
    QTimer *m_walkTimer = nullptr; // child of m_loopContext
    std::uint64_t m_openSerial = 0;
    std::unique_ptr<QObject> m_loopContext; // delivers a finished load to the UI thread

    std::mutex m_pollerMutex; // held by a poller's read and by the freeing of a graph
    std::mutex m_pollerCountMutex;
    std::condition_variable m_pollersGone;
    int m_pollers = 0;
    std::optional<std::int32_t> m_volume; // the last SetVolume, hundredths of a dB
};

} // namespace korvante
