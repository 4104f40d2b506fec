#include "core/playback/playback_graph.h"

#include "core/platform/log.h"
#include "core/playback/video_window.h"

#include <chrono>
#include <thread>

namespace korvante {

PlaybackGraph::PlaybackGraph(std::int32_t count, VideoWindow *const windows[4], std::uint8_t mode)
    : windowCount(count), metadataMode(mode)
{
    for (int i = 0; i < 4; ++i)
        window[i] = windows[i];
}

PlaybackGraph::~PlaybackGraph()
{
    Teardown();
}

HResult PlaybackGraph::Build(const std::string &front, const std::string &rear, std::intptr_t device,
                             std::int32_t recording, bool *frontNotLoaded)
{
    if (frontNotLoaded)
        *frontNotLoaded = false;
    if (built)
        Teardown();
    if (LoadSources(front, rear, device, recording) != S_OK) {
        if (frontNotLoaded)
            *frontNotLoaded = true;
        return VFW_E_INVALID_FILE_FORMAT;
    }
    return Connect();
}

HResult PlaybackGraph::LoadSources(const std::string &front, const std::string &rear, std::intptr_t device,
                                   std::int32_t recording, const std::atomic<bool> *cancel,
                                   const std::function<void()> &ready, const std::atomic<bool> *goOn)
{
    frontPath = front;
    rearPath = rear;
    m_loadError.clear();
    const auto began = std::chrono::steady_clock::now();

    graphBuilder = std::make_unique<FilterGraph>();
    parseFilter[0] = std::make_unique<StreamParseFilter>("VXStreamParseFilter");
    parseFilter[1] = std::make_unique<StreamParseFilter>("VXStreamParseFilter2");
    graphBuilder->addFilter(parseFilter[0]->name());
    graphBuilder->addFilter(parseFilter[1]->name());

    IStreamParseMetadata *metadata = parseFilter[0]->queryMetadata();
    metadata->SetMode(metadataMode);
    metadata->SetSource(device, recording);

    StreamParseFilter &frontFilter = *parseFilter[0];
    StreamParseFilter &rearFilter = *parseFilter[1];
    frontFilter.setIndexMemory(indexMemory);
    rearFilter.setIndexMemory(indexMemory);
    auto frontFailed = [&] {
        m_loadError = frontFilter.loadError();
        if (m_loadError.empty())
            m_loadError = "not a recording";
        return VFW_E_INVALID_FILE_FORMAT;
    };
    auto rearFailed = [&] {
        logInfo("playback: the rear file is not available (" + rearFilter.loadError() + "), playing the front alone");
        return false;
    };
    if (frontFilter.BeginLoad(frontPath, cancel) != S_OK)
        return frontFailed();
    bool rearOn = !rearPath.empty() && rearPath != "NULL" && rearPath != "1CH";
    if (rearOn && rearFilter.BeginLoad(rearPath, cancel) != S_OK)
        rearOn = rearFailed();

    // The walk of the one of the two that is behind goes one step on; with
    // `firstOnly`, only a walk short of the first pictures counts. Null when
    // nothing is left to walk.
    auto behind = [&](bool firstOnly) -> StreamParseFilter * {
        StreamParseFilter *next = nullptr;
        for (StreamParseFilter *f : {&frontFilter, rearOn ? &rearFilter : nullptr}) {
            if (!f || !f->walking() || (firstOnly && f->walkedDuration() >= kFirstPictures))
                continue;
            if (!next || f->walkedDuration() < next->walkedDuration())
                next = f;
        }
        return next;
    };
    while (StreamParseFilter *next = behind(!!ready)) {
        if (next->ContinueLoad(kWalkStep, cancel) == S_OK)
            continue;
        if (next == &frontFilter)
            return frontFailed();
        rearOn = rearFailed();
    }
    if (cancel && cancel->load()) {
        m_loadError = "cancelled";
        return VFW_E_INVALID_FILE_FORMAT;
    }
    channelCount = rearOn ? 2 : 1;
    lengthKnown = !walking();
    if (!ready)
        return S_OK;

    const bool walked = walking();
    if (walked)
        logInfo("playback: " + frontPath + " has no usable index; it plays while its chunks are walked");
    ready();
    const auto holdEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(kHoldMs);
    while (walked && goOn && !goOn->load() && !(cancel && cancel->load())
           && std::chrono::steady_clock::now() < holdEnd)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    // Playing now: walk the rest. A failure here ends that file's walk with
    // what was walked (the filter says so); a cancel ends both.
    while (StreamParseFilter *next = behind(false)) {
        if (cancel && cancel->load())
            return S_OK;
        next->ContinueLoad(kWalkStep, cancel);
    }
    if (walked) {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - began);
        logInfo("playback: " + frontPath + " walked while playing; its whole length is known "
                + std::to_string(ms.count()) + " ms after the open began");
    }
    return S_OK;
}

bool PlaybackGraph::walking() const
{
    return (parseFilter[0] && parseFilter[0]->walking()) || (parseFilter[1] && parseFilter[1]->walking());
}

void PlaybackGraph::refreshLength()
{
    if (!parseFilter[0])
        return;
    const auto index = parseFilter[0]->snapshot();
    lengthKnown = index->complete;
    duration = index->estimatedDuration();
    if (graphBuilder)
        graphBuilder->setDuration(duration, lengthKnown);
}

HResult PlaybackGraph::Connect(std::int64_t start, bool waitForCue)
{
    if (!parseFilter[0] || !parseFilter[0]->loaded())
        return VFW_E_INVALID_FILE_FORMAT;
    // A card recording carries the rear picture as the second video stream of
    // the same file: show it in the rear screen rather than dropping it.
    bool rearInFront = false;
    const auto frontIndex = parseFilter[0]->snapshot();
    if (channelCount == 1 && frontIndex->video.size() >= 2 && parseFilter[1]->snapshot()->video.empty()) {
        rearInFront = true;
        channelCount = 2;
    }
    const bool twoChannels = channelCount >= 2;

    // Sound: each audio pin counts 1, a PCM one 1000 more.
    int audioCount = 0;
    for (const OutputPin &pin : parseFilter[0]->pins())
        if (pin.kind == OutputPin::Kind::Audio && pin.name.find("Audio") != std::string::npos)
            audioCount += pin.pcm ? 1001 : 1;
    if (audioCount >= 1 && audioCount < 1000) {
        audioDecoder = std::make_unique<AudioDecoder>(twoChannels ? "CoreAAC Decoder" : "COREAAC AUDIO");
        graphBuilder->addFilter(audioDecoder->name());
    }
    if (audioCount >= 1) {
        audioRenderer = AudioRenderer::create("DirectSound Audio Renderer");
        if (audioRenderer)
            graphBuilder->addFilter(audioRenderer->name());
        else
            logInfo("playback: no audio output; playing without sound");
    }

    // Video chains.
    HResult result = S_OK;
    for (int s = 0; s < windowCount && s < channelCount && s < 4; ++s) {
        const std::string n = std::to_string(s + 1);
        decoder[s] = std::make_unique<VideoDecoder>("FFDShow Decoder" + n);
        colourConverter[s] = std::make_unique<ColourConverter>("Color Space Convertor " + n);
        renderer[s] = std::make_unique<VideoRenderer>(twoChannels ? "Mixing Renderer9-" + n : std::string("Mixing Renderer9"));
        graphBuilder->addFilter(decoder[s]->name());
        graphBuilder->addFilter(colourConverter[s]->name());
        graphBuilder->addFilter(renderer[s]->name());
        renderer[s]->setWindow(window[s]);
        if (window[s])
            renderer[s]->setDestination(QRect(QPoint(0, 0), window[s]->clientSize()));
    }

    // Sound before pictures: front parse filter → (AAC decoder) → renderer.
    if (audioRenderer) {
        AudioDecoder *stage = audioDecoder.get();
        if (!stage) {
            m_pcmStage = std::make_unique<AudioDecoder>("PCM input of " + audioRenderer->name());
            stage = m_pcmStage.get();
        }
        if (stage->connect(*parseFilter[0], *audioRenderer) == S_OK)
            graphBuilder->setAudioPath(stage, audioRenderer.get());
        else
            logWarning("playback: the sound cannot be connected; playing without it");
    }

    for (int s = 0; s < windowCount && s < channelCount && s < 4; ++s) {
        const bool rearStream = s == 1;
        StreamParseFilter &source = rearStream && !rearInFront ? *parseFilter[1] : *parseFilter[0];
        const int videoIndex = rearStream && rearInFront ? 1 : 0;
        const HResult hr = decoder[s]->connect(source, videoIndex, *colourConverter[s]);
        if (hr != S_OK) {
            logError("playback: " + source.name() + " cannot be connected to " + decoder[s]->name());
            result = hr;
            break;
        }
        renderer[s]->setSourceSize(QSize(decoder[s]->stream().width, decoder[s]->stream().height));
        graphBuilder->addVideoPath(*decoder[s], *renderer[s]);
    }
    if (result != S_OK)
        return result;

    refreshLength();
    const HResult cued = graphBuilder->cue(start, waitForCue);
    state = StateStopped;
    built = true;
    duration = graphBuilder->duration();
    if (renderer[0]) {
        const VideoStreamIndex &v = frontIndex->video.front();
        const QSize shown = renderer[0]->nativeSize();
        nativeWidth = shown.isEmpty() ? v.width : shown.width();
        nativeHeight = shown.isEmpty() ? v.height : shown.height();
    }
    return cued;
}

void PlaybackGraph::Teardown()
{
    state = StateStopped;
    if (graphBuilder)
        graphBuilder->shutdown(); // every thread ends before an element is released
    auto remove = [this](auto &element) {
        if (element) {
            if (graphBuilder)
                graphBuilder->removeFilter(element->name());
            element.reset();
        }
    };
    remove(audioRenderer);
    for (auto &r : renderer)
        remove(r);
    for (auto &d : decoder)
        remove(d);
    remove(audioDecoder);
    m_pcmStage.reset();
    remove(parseFilter[0]);
    remove(parseFilter[1]);
    for (auto &c : colourConverter)
        remove(c);
    graphBuilder.reset();
}

} // namespace korvante
