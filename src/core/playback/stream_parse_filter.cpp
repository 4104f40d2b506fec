#include "core/playback/stream_parse_filter.h"

#include "core/platform/log.h"
#include "core/playback/demux_reader.h"

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
    return S_OK;
}

std::unique_ptr<ByteSource> StreamParseFilter::openSource() const
{
    if (m_device != 0 && m_recording >= 1)
        return openCardSource(reinterpret_cast<unsigned char *>(m_device), m_recording, m_path);
    return openFileSource(m_path);
}

HResult StreamParseFilter::Load(const std::string &path)
{
    m_loaded = false;
    m_index = RecordingIndex{};
    {
        std::lock_guard lock(m_packetMutex);
        m_nextPacket = 0;
    }
    m_path = path;
    if (path.empty()) {
        logWarning(m_name + ": no recording named");
        return VFW_E_INVALID_FILE_FORMAT;
    }
    auto source = openSource();
    if (!source) {
        logWarning(m_name + ": cannot open " + path);
        return VFW_E_INVALID_FILE_FORMAT;
    }
    std::string why;
    auto reader = DemuxReader::open(std::move(source), &why);
    if (!reader || !scanRecording(*reader, m_index, &why)) {
        logWarning(m_name + ": " + path + " is not a readable recording (" + why + ")");
        m_index = RecordingIndex{};
        return VFW_E_INVALID_FILE_FORMAT;
    }
    if (m_index.truncated)
        logInfo(m_name + ": " + path + " ends in a cut-off chunk; playing up to it");
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
    const MetadataRecord &record = m_index.metadata[m_nextPacket++];
    const size_t room = static_cast<size_t>(std::max<std::int32_t>(*length, 0));
    std::memcpy(buffer, record.bytes.data(), std::min(room, record.bytes.size()));
    *time = record.time;
    return S_OK;
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
    return reader;
}

} // namespace korvante
