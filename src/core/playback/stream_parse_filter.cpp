#include "core/playback/stream_parse_filter.h"

#include "core/platform/log.h"
#include "core/playback/card_device.h"
#include "core/playback/demux_reader.h"
#include "core/playback/index_builder.h"
#include "core/playback/index_memory.h"
#include "core/recording/riff_chunk.h"

#include <algorithm>
#include <cstring>

namespace korvante {

StreamParseFilter::StreamParseFilter(std::string name) : m_name(std::move(name)) {}

StreamParseFilter::~StreamParseFilter() = default;

HResult StreamParseFilter::SetMode(std::uint8_t mode)
{
    m_mode = mode;
    return S_OK;
}

HResult StreamParseFilter::SetSource(std::intptr_t device, std::int32_t recording)
{
    m_device = device;
    m_recording = recording;
    m_deviceHold = findSharedCardDevice(reinterpret_cast<const unsigned char *>(device));
    return S_OK;
}

std::unique_ptr<ByteSource> StreamParseFilter::openSource(SourceFailure *why) const
{
    if (m_device != 0 && m_recording >= 1) {
        if (why)
            *why = SourceFailure::CannotRead;
        return openCardSource(reinterpret_cast<unsigned char *>(m_device), m_recording, m_path,
                              m_deviceHold);
    }
    return openFileSource(m_path, why);
}

HResult StreamParseFilter::fail(const std::string &reason, const std::string &detail)
{
    m_loadError = reason;
    logWarning(m_name + ": cannot play " + (m_path.empty() ? std::string("(no name)") : m_path)
               + ": " + detail);
    m_load.reset();
    m_loadReader.reset();
    m_building = RecordingIndex{};
    m_loaded = false;
    m_walking = false;
    {
        std::lock_guard lock(m_publishMutex);
        m_published.reset();
    }
    m_publishedWake.notify_all();
    return VFW_E_INVALID_FILE_FORMAT;
}

HResult StreamParseFilter::failLoad(LoadFailure failure, const std::string &why)
{
    switch (failure) {
    case LoadFailure::None: break;
    case LoadFailure::NotRecording: return fail("not a recording", why);
    case LoadFailure::DamagedHeader: return fail("damaged header", why);
    case LoadFailure::NoVideo: return fail("no video", why);
    case LoadFailure::Unreadable: return fail("cannot be read", why);
    case LoadFailure::Cancelled: return fail("cancelled", "the load was cancelled");
    }
    return S_OK;
}

HResult StreamParseFilter::Load(const std::string &path, const std::atomic<bool> *cancel)
{
    HResult hr = BeginLoad(path, cancel);
    while (hr == S_OK && walking())
        hr = ContinueLoad(INT64_MAX, cancel);
    return hr;
}

HResult StreamParseFilter::BeginLoad(const std::string &path, const std::atomic<bool> *cancel)
{
    m_loaded = false;
    m_walking = false;
    m_recalled = false;
    m_memoryKey.reset();
    m_loadError.clear();
    m_load.reset();
    m_loadReader.reset();
    m_building = RecordingIndex{};
    {
        std::lock_guard lock(m_publishMutex);
        m_published.reset();
    }
    {
        std::lock_guard lock(m_packetMutex);
        m_nextPacket = 0;
    }
    m_path = path;
    if (path.empty())
        return fail("cannot be read", "no recording named");
    SourceFailure sourceFailure = SourceFailure::None;
    auto source = openSource(&sourceFailure);
    if (!source) {
        if (sourceFailure == SourceFailure::NotRegular)
            return fail("not a regular file", "a folder, device or FIFO, not a file");
        return fail("cannot be read", "the file cannot be opened");
    }
    if (source->size() == 0)
        return fail("the file is empty", "0 bytes");
    unsigned char magic[recording::kRiffHeaderBytes] = {};
    const std::int64_t got = source->readAt(0, magic, sizeof magic);
    if (got < 0)
        return fail("cannot be read", "the first bytes cannot be read");
    if (got < static_cast<std::int64_t>(sizeof magic) || !recording::isRiffAvi(magic))
        return fail("not a recording", "not a RIFF AVI file");
    if (cancel && cancel->load())
        return fail("cancelled", "cancelled");

    std::string why;
    m_loadReader = DemuxReader::open(std::move(source), &why);
    if (!m_loadReader)
        return fail("damaged header", why);
    IndexOptions options;
    options.cancel = cancel;
    m_load = std::make_unique<IndexLoad>();
    const LoadFailure failure = m_load->begin(*m_loadReader, m_building, options, &why);
    if (failure != LoadFailure::None)
        return failLoad(failure, why);
    if (!m_load->walking())
        return finishLoad();
    if (recallWalkedIndex())
        return finishLoad();
    // Copies handed out are only read: the walk goes on filling the
    // metadata block they share, beyond the bytes they see.
    m_building.metadata.appendToShared(true);
    m_walking = true;
    return S_OK;
}

HResult StreamParseFilter::ContinueLoad(std::int64_t bytes, const std::atomic<bool> *cancel)
{
    if (!walking())
        return m_loaded ? S_OK : VFW_E_INVALID_FILE_FORMAT;
    ChunkWalk &walk = *m_load->walk();
    const std::int64_t until = bytes >= INT64_MAX - walk.position() ? INT64_MAX : walk.position() + bytes;
    std::string why;
    const LoadFailure failure = walk.advance(until, cancel, &why);
    m_building.walkedTo = walk.position();
    if (failure != LoadFailure::None) {
        if (!m_loaded)
            return failLoad(failure, why);
        // What was walked plays; the rest is given up (a cancel: the
        // recording is being closed, nothing to say).
        if (failure != LoadFailure::Cancelled) {
            logWarning(m_name + ": " + m_path + ": the walk of the chunks ended early (" + why + ")");
            m_building.truncated = true;
        }
        return finishLoad();
    }
    if (walk.done()) {
        rememberWalkedIndex();
        return finishLoad();
    }
    const bool playable = !m_building.video.front().frames.empty();
    const auto now = std::chrono::steady_clock::now();
    // Early on every step counts (the first pictures wait for it); later a
    // copy every interval is plenty, and each copy costs the whole index.
    if (playable && (walkedDuration() < 2 * kTicksPerSecond
                     || now - m_lastPublish >= std::chrono::milliseconds(kPublishIntervalMs))) {
        publish(false);
        m_loaded = true;
    }
    return S_OK;
}

void StreamParseFilter::publish(bool complete)
{
    auto copy = std::make_shared<RecordingIndex>(m_building);
    // Decoding has to start somewhere: the first frame counts as a key frame.
    for (auto &v : copy->video)
        if (!v.frames.empty())
            v.frames.front().key = true;
    copy->complete = complete;
    if (complete)
        copy->walkedTo = copy->regionEnd;
    {
        std::lock_guard lock(m_publishMutex);
        m_published = std::move(copy);
    }
    m_publishedWake.notify_all();
    m_lastPublish = std::chrono::steady_clock::now();
}

HResult StreamParseFilter::finishLoad()
{
    m_load.reset();
    m_loadReader.reset();
    m_building.complete = true;
    m_building.metadata.appendToShared(false);
    if (m_building.video.empty() || m_building.video.front().frames.empty())
        return fail("no video", "the recording has no whole video frame");
    if (m_building.truncated)
        logInfo(m_name + ": " + m_path + " ends in a cut-off chunk or damage; playing up to it");
    if (m_building.metadata.dropped() > 0)
        logWarning(m_name + ": " + m_path + ": " + std::to_string(m_building.metadata.dropped())
                   + " metadata packet(s) left out: more than a recording of this size can hold (kept "
                   + std::to_string(m_building.metadata.size()) + ")");
    if (m_building.resyncs > 0)
        logInfo(m_name + ": " + m_path + ": stepped over " + std::to_string(m_building.resyncs)
                + " damaged stretch(es)");
    publish(true);
    m_building = RecordingIndex{}; // the copy handed out is the index now
    m_loaded = true;
    m_walking = false;
    return S_OK;
}

bool StreamParseFilter::recallWalkedIndex()
{
    if (!m_memory || m_device != 0)
        return false; // card recordings: the catalogue's card key is not known here
    auto key = indexMemoryKeyOf(m_path);
    if (!key || key->size != m_loadReader->source().size())
        return false;
    m_memoryKey = std::make_unique<IndexMemoryKey>(*key);
    const std::optional<std::string> bytes = m_memory->recall(*key);
    if (!bytes)
        return false;
    RecordingIndex recalled = m_building; // the stream table, no entries yet
    if (!decodeWalkedIndex(*bytes, recalled) || !walkedIndexMatches(recalled, m_loadReader->source())) {
        logInfo(m_name + ": " + m_path + ": the index remembered from an earlier walk does not fit; walking its chunks");
        return false;
    }
    m_building = std::move(recalled);
    m_recalled = true;
    logDebug(m_name + ": " + m_path + ": index remembered from an earlier walk");
    return true;
}

void StreamParseFilter::rememberWalkedIndex()
{
    if (!m_memory || !m_memoryKey)
        return;
    // A file that changed while it was walked (still being written) is not
    // what the walk saw from its start.
    const auto now = indexMemoryKeyOf(m_path);
    if (!now || !(*now == *m_memoryKey))
        return;
    m_memory->remember(*m_memoryKey, encodeWalkedIndex(m_building));
}

std::shared_ptr<const RecordingIndex> StreamParseFilter::snapshot() const
{
    static const auto empty = std::make_shared<const RecordingIndex>();
    std::lock_guard lock(m_publishMutex);
    return m_published ? m_published : empty;
}

const RecordingIndex &StreamParseFilter::index() const
{
    return *snapshot();
}

std::shared_ptr<const RecordingIndex> StreamParseFilter::waitForIndex(
    const std::function<bool(const RecordingIndex &)> &ready, const std::atomic<bool> *interrupt) const
{
    std::unique_lock lock(m_publishMutex);
    for (;;) {
        const bool ended = !m_walking.load();
        if (m_published && (ready(*m_published) || m_published->complete))
            return m_published;
        if (ended || (interrupt && interrupt->load()))
            break;
        // The interrupt has no way to this condition: look at it now and then.
        m_publishedWake.wait_for(lock, std::chrono::milliseconds(20));
    }
    lock.unlock();
    return snapshot();
}

HResult StreamParseFilter::ReadPacket(std::uint8_t *buffer, std::int32_t *length, std::int32_t *time)
{
    if (!buffer || !length || !time)
        return E_POINTER;
    const auto index = snapshot();
    std::lock_guard lock(m_packetMutex);
    if (!m_loaded || m_nextPacket >= index->metadata.size())
        return S_FALSE;
    const size_t i = m_nextPacket++;
    const size_t room = static_cast<size_t>(std::max<std::int32_t>(*length, 0));
    if (const std::uint8_t *bytes = index->metadata.bytesAt(i))
        std::memcpy(buffer, bytes, std::min(room, index->metadata.lengthAt(i)));
    *time = index->metadata.timeAt(i);
    return S_OK;
}

void StreamParseFilter::RewindPackets()
{
    std::lock_guard lock(m_packetMutex);
    m_nextPacket = 0;
}

std::vector<OutputPin> StreamParseFilter::pins() const
{
    std::vector<OutputPin> result;
    if (!m_loaded)
        return result;
    const auto index = snapshot();
    for (size_t i = 0; i < index->video.size(); ++i) {
        OutputPin pin;
        pin.name = i == 0 ? std::string("Video") : "Video " + std::to_string(i + 1);
        pin.kind = OutputPin::Kind::Video;
        pin.stream = index->video[i].stream;
        result.push_back(pin);
    }
    if (index->audio.stream >= 0) {
        OutputPin pin;
        pin.name = "Audio";
        pin.kind = OutputPin::Kind::Audio;
        pin.stream = index->audio.stream;
        pin.pcm = index->audio.pcm;
        result.push_back(pin);
    }
    return result;
}

std::unique_ptr<DemuxReader> StreamParseFilter::openReader(const std::atomic<bool> *interrupt,
                                                           std::vector<std::size_t> *registered) const
{
    if (!m_loaded)
        return nullptr;
    std::string why;
    auto reader = DemuxReader::open(openSource(), &why);
    if (!reader) {
        logError(m_name + ": cannot reopen " + m_path + ": " + why);
        return nullptr;
    }
    const auto index = snapshot();
    registerKeyFrames(*index, *reader, registered);
    reader->limitTo(index->endPos);
    if (!index->complete) {
        // The reader's own thread waits here for the walk to pass the bytes
        // it wants; the end of the walk or an interrupt ends the wait.
        reader->growLimit([this, interrupt](std::int64_t at) {
            const auto now = waitForIndex([at](const RecordingIndex &i) { return i.endPos > at; }, interrupt);
            return now->endPos;
        });
    }
    return reader;
}

} // namespace korvante
