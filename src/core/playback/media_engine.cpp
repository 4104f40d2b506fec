#include "core/playback/media_engine.h"

#include "core/platform/log.h"
#include "core/platform/registry.h"
#include "core/playback/sensor_records.h"
#include "core/playback/video_window.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace korvante {
namespace {

constexpr std::int64_t kTicksPerSecond = 10'000'000;
constexpr int kZoomLimit = 960;

bool isPlayingState(std::int32_t s)
{
    return s == StateRunning || s == StatePaused;
}

QRect clientRect(const VideoWindow *window)
{
    return window ? QRect(QPoint(0, 0), window->clientSize()) : QRect();
}

// A decoder FFmpeg can create and open, as the start-up check needs it.
bool decoderAvailable(AVCodecID id)
{
    const AVCodec *codec = avcodec_find_decoder(id);
    if (!codec)
        return false;
    AVCodecContext *ctx = avcodec_alloc_context3(codec);
    if (!ctx)
        return false;
    if (id == AV_CODEC_ID_AAC) {
        // Opening AAC needs a channel layout and a sample rate.
        ctx->sample_rate = 48000;
        av_channel_layout_default(&ctx->ch_layout, 2);
    }
    const bool ok = avcodec_open2(ctx, codec, nullptr) >= 0;
    avcodec_free_context(&ctx);
    return ok;
}

} // namespace

void MediaEngine::AttachScreens(VideoWindow *front, VideoWindow *rear)
{
    windowCount = 4;
    videoWindow[0] = front;
    videoWindow[1] = rear;
    videoWindow[2] = nullptr;
    videoWindow[3] = nullptr;
    if (!graph) {
        auto created = std::make_unique<PlaybackGraph>(windowCount, videoWindow, metadataMode);
        created->ready = true;
        std::lock_guard lock(m_pollerMutex);
        graph = std::move(created);
    }
}

void MediaEngine::stopAndClose()
{
    if (graph) {
        if (isPlayingState(graph->state))
            Stop();
        if (graph->graphBuilder)
            graph->graphBuilder->setPosition(0);
    }
    Close();
}

int MediaEngine::Open(const std::string &front, const std::string &rear, std::intptr_t device,
                      std::int32_t recording)
{
    if (!videoWindow[0] || front.empty())
        return 0;
    stopAndClose();

    auto created = std::make_unique<PlaybackGraph>(windowCount, videoWindow, metadataMode);
    created->ready = true;
    created->state = StateCreated;
    created->rate = 1.0f;
    created->indexMemory = indexMemory;
    bool frontNotLoaded = false;
    const HResult hr = created->Build(front, rear, device, recording, &frontNotLoaded);
    if (frontNotLoaded) {
        logWarning("playback: " + front + " cannot be opened: " + created->loadError());
        return 0; // the engine stays without a graph
    }
    if (hr != S_OK)
        logWarning("playback: the graph for " + front + " was built only in part");
    if (created->audioRenderer && m_volume)
        created->audioRenderer->setVolume(*m_volume);
    std::lock_guard lock(m_pollerMutex);
    graph = std::move(created);
    return 1;
}

int MediaEngine::Close()
{
    CancelOpen();
    DropPrepared();
    endWalk(); // its worker uses the graph: ended before the graph goes
    std::unique_ptr<PlaybackGraph> old;
    {
        // Pollers read under this lock: once it is released with `graph`
        // null, no poller can reach the old graph any more.
        std::lock_guard lock(m_pollerMutex);
        old = std::move(graph);
    }
    old.reset();
    return 1;
}

HResult MediaEngine::Play()
{
    if (!graph || !graph->ready)
        return -1;
    if (graph->state != StatePaused && graph->state != StateStopped)
        return VFW_E_WRONG_STATE;
    FilterGraph *g = graph->graphBuilder.get();
    if (!g)
        return E_FAIL;
    // At the end: from the start again (not at a length still estimated
    // while the file is walked, which the position may pass).
    if (g->duration() > 0 && g->durationKnown() && g->position() >= g->duration())
        g->setPosition(0);
    if (graph->rate != 1.0f)
        graph->rate = std::clamp(graph->rate, 0.5f, 2.0f);
    g->setRate(graph->rate);
    const HResult hr = g->run();
    if (hr == S_OK)
        graph->state = StateRunning;
    return hr;
}

HResult MediaEngine::Pause()
{
    if (!graph || !graph->ready)
        return -1;
    if (graph->state != StateRunning || !graph->graphBuilder)
        return S_FALSE;
    const HResult hr = graph->graphBuilder->pause();
    graph->state = StatePaused;
    return hr;
}

int MediaEngine::Stop()
{
    CancelOpen();
    if (!graph || !graph->ready)
        return 0;
    if (!isPlayingState(graph->state) || !graph->graphBuilder)
        return 0; // VFW_E_WRONG_STATE
    graph->graphBuilder->stop();
    graph->state = StateStopped;
    return 1;
}

void MediaEngine::ClearPictures()
{
    if (!graph)
        return;
    for (auto &r : graph->renderer) {
        if (!r)
            continue;
        r->reset();
        if (VideoWindow *w = r->window())
            w->requestRepaint();
    }
}

std::int32_t MediaEngine::GetState() const
{
    return graph ? graph->state.load() : -1;
}

bool MediaEngine::ReadFailed() const
{
    if (!graph)
        return false;
    for (const auto &decoder : graph->decoder)
        if (decoder && decoder->readFailed())
            return true;
    return false;
}

std::uint64_t MediaEngine::GetPositionMs() const
{
    if (!graph || !graph->graphBuilder)
        return 0;
    return static_cast<std::uint64_t>(graph->graphBuilder->position()) / 10000u;
}

std::uint64_t MediaEngine::GetDurationMs()
{
    if (!graph)
        return 0;
    if (graph->duration == 0 && graph->graphBuilder)
        graph->duration = graph->graphBuilder->duration();
    return static_cast<std::uint64_t>(graph->duration) / 10000u;
}

HResult MediaEngine::seekBy(std::int64_t delta)
{
    FilterGraph *g = graph->graphBuilder.get();
    const std::int64_t target = std::clamp<std::int64_t>(g->position() + delta, 0, g->duration());
    return g->setPosition(target);
}

int MediaEngine::Rewind(double seconds)
{
    if (!graph || !graph->graphBuilder || !isPlayingState(graph->state))
        return 0;
    return seekBy(-static_cast<std::int64_t>(seconds * kTicksPerSecond)) == S_OK ? 1 : 0;
}

int MediaEngine::Forward(double seconds)
{
    if (!graph || !graph->graphBuilder || !isPlayingState(graph->state))
        return 0;
    return seekBy(static_cast<std::int64_t>(seconds * kTicksPerSecond)) == S_OK ? 1 : 0;
}

HResult MediaEngine::SetPosition(std::int64_t position)
{
    if (!graph || !graph->graphBuilder || !graph->built)
        return VFW_E_WRONG_STATE;
    return graph->graphBuilder->setPosition(position);
}

HResult MediaEngine::SetRate(float rate)
{
    if (!graph)
        return -1;
    const bool wasRunning = graph->state == StateRunning;
    if (wasRunning)
        Pause();
    graph->rate = rate;
    if (wasRunning)
        return Play();
    return S_OK;
}

HResult MediaEngine::SetVolume(std::int32_t percent)
{
    const std::int32_t v = volumeToHundredthsOfDb(percent);
    // Kept for the graphs of the next recordings too, so that the volume
    // slider's setting is not lost when the next file opens.
    m_volume = v;
    if (!graph || !graph->audioRenderer)
        return E_NOINTERFACE;
    graph->audioRenderer->setVolume(v);
    return S_OK;
}

int MediaEngine::ZoomStep(int slot, int direction, VideoWindow *screen)
{
    if (slot < 0 || slot > 3 || !graph || !graph->renderer[slot])
        return 1;
    if (direction == 20 && zoom[slot] >= kZoomLimit)
        return 1;
    if (direction == -20 && zoom[slot] < -(kZoomLimit - 1))
        return 1;
    if (direction != 20 && direction != -20)
        return 1;
    zoom[slot] += direction;
    const QSize size = screen ? screen->clientSize() : QSize();
    graph->renderer[slot]->setDestination(
        QRect(0, 0, size.width() - 2 * zoom[slot], size.height() - 2 * zoom[slot]));
    return 0;
}

int MediaEngine::ZoomReset(int slot, VideoWindow *screen)
{
    if (slot < 0 || slot > 3)
        return 0;
    zoom[slot] = 0;
    if (graph && graph->renderer[slot])
        graph->renderer[slot]->setDestination(clientRect(screen));
    return 1;
}

int MediaEngine::PlacePicture(int slot, VideoWindow *screen, QPainter *painter, int x, int y)
{
    if (slot < 0 || slot > 3 || !graph || !graph->renderer[slot] || !screen)
        return 0;
    const int z = zoom[slot];
    const QSize size = screen->clientSize();
    const int w = size.width(), h = size.height();
    const int d = 2 * z + w - x;
    const int e = 2 * z + h - y;
    const int left = d < w ? z : x;
    const int top = e < h ? z : y;
    graph->renderer[slot]->setDestination(QRect(-left, -top, d, e));
    if (painter)
        graph->renderer[slot]->paint(*painter);
    return 1;
}

int MediaEngine::SwapScreens(VideoWindow *a, VideoWindow *b)
{
    if (!graph)
        return 0;
    graph->window[0] = a;
    graph->window[1] = b;
    for (int s = 0; s < 2; ++s) {
        if (graph->renderer[s]) {
            graph->renderer[s]->setWindow(graph->window[s]);
            graph->renderer[s]->setDestination(clientRect(graph->window[s]));
        }
    }
    return 1;
}

int MediaEngine::Repaint()
{
    if (!graph)
        return 0;
    for (auto &r : graph->renderer) {
        if (!r)
            continue;
        VideoWindow *w = r->window();
        r->setDestination(clientRect(w));
        if (w)
            w->requestRepaint();
    }
    return 1;
}

QRect MediaEngine::PaintVideo(VideoWindow *window, QPainter &painter) const
{
    QRect covered;
    if (!graph || !window)
        return covered;
    for (const auto &r : graph->renderer)
        if (r && r->window() == window)
            covered |= r->paint(painter);
    return covered & clientRect(window);
}

HResult MediaEngine::GetNativeVideoSize(int slot, std::int32_t *width, std::int32_t *height,
                                        std::int32_t *aspectWidth, std::int32_t *aspectHeight)
{
    if (slot < 0 || slot > 3 || !graph || !graph->renderer[slot])
        return E_FAIL;
    QSize size = graph->renderer[slot]->nativeSize();
    if (size.isEmpty() && graph->decoder[slot] && graph->decoder[slot]->connected())
        size = QSize(graph->decoder[slot]->stream().width, graph->decoder[slot]->stream().height);
    if (width)
        *width = size.width();
    if (height)
        *height = size.height();
    if (aspectWidth)
        *aspectWidth = size.width();
    if (aspectHeight)
        *aspectHeight = size.height();
    if (slot == 0) {
        graph->nativeWidth = size.width();
        graph->nativeHeight = size.height();
    }
    return S_OK;
}

int MediaEngine::GrabFrame(int slot, QImage &bitmap)
{
    if (!graph || slot < 0 || slot > 3 || slot >= std::max(graph->windowCount, 1))
        return 0;
    if (!graph->renderer[slot])
        return 0;
    const QImage image = graph->renderer[slot]->currentImage();
    if (image.isNull())
        return 0;
    bitmap = image.convertToFormat(QImage::Format_RGB32);
    return 1;
}

void MediaEngine::RefreshPicture()
{
    // A paused picture is decoded again so that a changed setting shows at once.
    if (graph && graph->graphBuilder && graph->built && graph->state != StateRunning)
        graph->graphBuilder->refresh();
}

HResult MediaEngine::SetFlip(int slot, int on)
{
    if (!graph || slot < 0 || slot > 3 || !graph->decoder[slot])
        return E_FAIL;
    graph->decoder[slot]->SetParam(1101, 1);
    const HResult hr = graph->decoder[slot]->SetParam(1112, on ? 1 : 0);
    RefreshPicture();
    return hr;
}

HResult MediaEngine::SetRearFlip(int on)
{
    if (!graph || !graph->decoder[1])
        return E_FAIL;
    graph->decoder[1]->SetParam(1101, 1);
    const HResult hr = graph->decoder[1]->SetParam(1113, on ? 1 : 0);
    RefreshPicture();
    return hr;
}

HResult MediaEngine::SetPictureParam(std::int32_t id, std::int32_t value)
{
    if (!graph)
        return E_FAIL;
    HResult result = E_FAIL;
    for (auto &d : graph->decoder) {
        if (!d)
            continue;
        std::int32_t old = 0;
        d->GetParam(id, &old);
        d->SetParam(205, 1);
        result = d->SetParam(id, value);
    }
    return result;
}

bool MediaEngine::PictureParamDiffers(std::int32_t id, std::int32_t value) const
{
    if (!graph)
        return false;
    for (const auto &d : graph->decoder) {
        if (!d)
            continue;
        // Adjustments still off with the value at what the decoder holds
        // show the same picture as adjustments on: no difference.
        std::int32_t before = 0;
        if (d->GetParam(id, &before) != S_OK)
            continue;
        if (before != DecoderParams::clamped(id, value))
            return true;
    }
    return false;
}

HResult MediaEngine::ResetPicture(int slot, std::int32_t value)
{
    if (!graph || slot < 0 || slot > 3 || !graph->decoder[slot])
        return E_FAIL;
    graph->decoder[slot]->SetParam(205, 1);
    return graph->decoder[slot]->SetParam(202, value);
}

int MediaEngine::CheckComponents()
{
    if (!graph)
        return 0;
    // The program's name in the decoders' whitelists, where those keys exist.
    const QString program = QStringLiteral("KORVANTE.exe");
    for (const char *key : {"SOFTWARE/VX", "SOFTWARE/GNU", "SOFTWARE/GNU/ffdshow"}) {
        const QString group = QStringLiteral("HKEY_CURRENT_USER/") + QString::fromUtf8(key);
        if (Registry::keys(group).isEmpty())
            continue; // a key that does not exist is not created
        const QString list = Registry::value(group, QStringLiteral("whitelist")).toString();
        if (!list.contains(program))
            Registry::setValue(group, QStringLiteral("whitelist"), QVariant(QString(list + QStringLiteral(";") + program)));
    }
    // The stream-parse filter needs FFmpeg's AVI demuxer, the decoders the
    // H.264 and AAC decoders. Nothing can be registered at run time here: a
    // missing part fails the check.
    if (!av_find_input_format("avi")) {
        logError("playback: FFmpeg has no AVI demuxer");
        return 0;
    }
    if (!decoderAvailable(AV_CODEC_ID_H264) || !decoderAvailable(AV_CODEC_ID_AAC)) {
        logError("playback: FFmpeg's H.264 or AAC decoder cannot be created");
        return 0;
    }
    return 1;
}

bool MediaEngine::metadataStillComing()
{
    std::lock_guard lock(m_pollerMutex);
    return graph && isPlayingState(graph->state) && graph->parseFilter[0] && graph->parseFilter[0]->walking();
}

bool MediaEngine::pollMetadataPacket(CQDRVTextData &sensorData)
{
    std::lock_guard lock(m_pollerMutex);
    if (!graph || !isPlayingState(graph->state) || !graph->parseFilter[0])
        return false;
    std::uint8_t buffer[1024] = {};
    std::int32_t length = sizeof buffer;
    std::int32_t time = 0;
    if (graph->parseFilter[0]->queryMetadata()->ReadPacket(buffer, &length, &time) != S_OK)
        return false;
    DispatchPacket(time, sensorData, buffer, sizeof buffer);
    return true;
}

void MediaEngine::pollerStarted()
{
    std::lock_guard lock(m_pollerCountMutex);
    ++m_pollers;
}

void MediaEngine::pollerEnded()
{
    std::lock_guard lock(m_pollerCountMutex);
    --m_pollers;
    m_pollersGone.notify_all();
}

void MediaEngine::waitForPollers()
{
    Close();
    std::unique_lock lock(m_pollerCountMutex);
    m_pollersGone.wait(lock, [this] { return m_pollers == 0; });
}

} // namespace korvante
