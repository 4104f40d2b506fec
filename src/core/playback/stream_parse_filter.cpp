#include "core/playback/stream_parse_filter.h"

#include "core/platform/log.h"
#include "core/playback/card_device.h"
#include "core/playback/demux_reader.h"
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
    m_index = RecordingIndex{};
    return VFW_E_INVALID_FILE_FORMAT;
}

HResult StreamParseFilter::Load(const std::string &path, const std::atomic<bool> *cancel)
{
    m_loaded = false;
    m_loadError.clear();
    m_index = RecordingIndex{};
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
    auto reader = DemuxReader::open(std::move(source), &why);
    if (!reader)
        return fail("damaged header", why);
    IndexOptions options;
    options.cancel = cancel;
    switch (buildRecordingIndex(*reader, m_index, options, &why)) {
    case LoadFailure::None: break;
    case LoadFailure::NotRecording: return fail("not a recording", why);
    case LoadFailure::DamagedHeader: return fail("damaged header", why);
    case LoadFailure::NoVideo: return fail("no video", why);
    case LoadFailure::Unreadable: return fail("cannot be read", why);
    case LoadFailure::Cancelled: return fail("cancelled", "the load was cancelled");
    }
    if (m_index.truncated)
        logInfo(m_name + ": " + path + " ends in a cut-off chunk or damage; playing up to it");
    if (m_index.metadata.dropped() > 0)
        logWarning(m_name + ": " + path + ": " + std::to_string(m_index.metadata.dropped())
                   + " metadata packet(s) left out: more than a recording of this size can hold (kept "
                   + std::to_string(m_index.metadata.size()) + ")");
    if (m_index.resyncs > 0)
        logInfo(m_name + ": " + path + ": stepped over " + std::to_string(m_index.resyncs)
                + " damaged stretch(es)");
    m_loaded = true;
    return S_OK;
}

HResult StreamParseFilter::ReadPacket(std::uint8_t *buffer, std::int32_t *length, std::int32_t *time)
{
    if (!buffer || !length || !time)
        return E_POINTER;
    std::lock_guard lock(m_packetMutex);
    if (!m_loaded || m_nextPacket >= m_index.metadata.size())
        return S_FALSE;
    const size_t i = m_nextPacket++;
    const size_t room = static_cast<size_t>(std::max<std::int32_t>(*length, 0));
    if (const std::uint8_t *bytes = m_index.metadata.bytesAt(i))
        std::memcpy(buffer, bytes, std::min(room, m_index.metadata.lengthAt(i)));
    *time = m_index.metadata.timeAt(i);
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
    for (size_t i = 0; i < m_index.video.size(); ++i) {
        OutputPin pin;
        pin.name = i == 0 ? std::string("Video") : "Video " + std::to_string(i + 1);
        pin.kind = OutputPin::Kind::Video;
        pin.stream = m_index.video[i].stream;
        result.push_back(pin);
    }
    if (m_index.audio.stream >= 0) {
        OutputPin pin;
        pin.name = "Audio";
        pin.kind = OutputPin::Kind::Audio;
        pin.stream = m_index.audio.stream;
        pin.pcm = m_index.audio.pcm;
        result.push_back(pin);
    }
    return result;
}

std::unique_ptr<DemuxReader> StreamParseFilter::openReader() const
{
    if (!m_loaded)
        return nullptr;
    std::string why;
    auto reader = DemuxReader::open(openSource(), &why);
    if (!reader) {
        logError(m_name + ": cannot reopen " + m_path + ": " + why);
        return nullptr;
    }
    registerKeyFrames(m_index, *reader);
    reader->limitTo(m_index.endPos);
    return reader;
}

} // namespace korvante
