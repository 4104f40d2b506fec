#include "mkcard/recording.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace mkcard {
namespace {

struct KindInfo {
    DriveKind kind;
    char letter;
    const char *folder;
};

constexpr KindInfo kKinds[] = {
    {DriveKind::Normal, 'N', "NOR"},
    {DriveKind::Event, 'E', "EVT"},
    {DriveKind::Parking, 'P', "MOT"},
    {DriveKind::Manual, 'M', "MAN"},
};

std::tm fields(int64_t local)
{
    const std::time_t t = static_cast<std::time_t>(local);
    std::tm tm{};
    gmtime_r(&t, &tm);
    return tm;
}

std::string nameStem(const RecordingPlan &plan, int64_t local)
{
    const std::tm tm = fields(local);
    char text[96];
    std::snprintf(text, sizeof text, "%c_%04d%02d%02d_%02d%02d%02d_%s", plan.letter, tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, plan.twoChannels ? "2CH" : "1CH");
    return text;
}

std::vector<int16_t> engineSound(const RecordingPlan &plan, const CardSettings &settings, const DriveTrack &drive)
{
    const size_t count = static_cast<size_t>(std::llround(settings.seconds * kSampleRate));
    std::vector<int16_t> samples(count);
    Random random(settings.seed ^ (static_cast<uint64_t>(plan.globalIndex) << 32) ^ 0x736F756E64ull);
    double phase = 0;
    const double knockAt = std::max(0.5, settings.seconds * 0.5);
    for (size_t n = 0; n < count; ++n) {
        const double t = static_cast<double>(n) / kSampleRate;
        const double pos = t * 10.0;
        const size_t i = std::min(static_cast<size_t>(pos), drive.speedKmh.size() - 1);
        const size_t j = std::min(i + 1, drive.speedKmh.size() - 1);
        const double speed = drive.speedKmh[i] + (drive.speedKmh[j] - drive.speedKmh[i]) * (pos - static_cast<double>(i));
        double value;
        if (plan.kind == DriveKind::Parking) {
            // Engine off: a faint hiss, and the thump of the knock.
            value = 0.01 * random.symmetric();
            if (t >= knockAt)
                value += 0.6 * std::exp(-(t - knockAt) / 0.08) * std::sin(2 * 3.14159265358979 * 70.0 * (t - knockAt));
        } else {
            // Engine hum rising with the speed, three harmonics.
            const double f = 30.0 + speed * 1.1;
            phase += 2 * 3.14159265358979 * f / kSampleRate;
            if (phase > 2 * 3.14159265358979)
                phase -= 2 * 3.14159265358979;
            value = 0.18 * std::sin(phase) + 0.09 * std::sin(2 * phase) + 0.05 * std::sin(3 * phase) +
                    0.02 * random.symmetric();
        }
        samples[n] = static_cast<int16_t>(std::lround(std::clamp(value, -1.0, 1.0) * 32000.0));
    }
    return samples;
}

struct TimedChunk {
    int64_t timeUs;
    int stream;
    std::span<const uint8_t> data;
    bool key;
};

std::vector<AviChunk> interleave(std::vector<TimedChunk> timed)
{
    std::stable_sort(timed.begin(), timed.end(), [](const TimedChunk &a, const TimedChunk &b) {
        return a.timeUs != b.timeUs ? a.timeUs < b.timeUs : a.stream < b.stream;
    });
    std::vector<AviChunk> chunks;
    chunks.reserve(timed.size());
    for (const auto &t : timed)
        chunks.push_back({t.stream, t.data, t.key});
    return chunks;
}

void addVideo(std::vector<TimedChunk> &timed, int stream, const std::vector<EncodedPacket> &packets)
{
    for (const auto &p : packets)
        timed.push_back({p.timeUs, stream, p.data, p.keyFrame});
}

// Metadata chunk payloads: the 32-bit millisecond time, then the packet. The
// private records come first, at time 0.
std::vector<Bytes> textPayloads(const RecordingMedia &media)
{
    std::vector<Bytes> payloads;
    payloads.reserve(media.drive.packets.size() + 2);
    for (const Bytes *record : {&media.modelRecord, &media.journalRecord}) {
        Bytes b;
        putU32(b, 0);
        putBytes(b, *record);
        payloads.push_back(std::move(b));
    }
    for (const auto &p : media.drive.packets) {
        Bytes b;
        putU32(b, p.timeMs);
        putBytes(b, p.bytes);
        payloads.push_back(std::move(b));
    }
    return payloads;
}

void addText(std::vector<TimedChunk> &timed, int stream, const std::vector<Bytes> &payloads, const RecordingMedia &media)
{
    for (size_t i = 0; i < payloads.size(); ++i) {
        const int64_t t = i < 2 ? -1 : static_cast<int64_t>(media.drive.packets[i - 2].timeMs) * 1000;
        timed.push_back({t, stream, payloads[i], true});
    }
}

AviStream videoStream(const CardSettings &s, bool rear = false)
{
    AviStream v;
    v.kind = StreamKind::Video;
    v.width = rear && s.rearWidth > 0 ? s.rearWidth : s.width;
    v.height = rear && s.rearHeight > 0 ? s.rearHeight : s.height;
    v.fps = s.fps;
    return v;
}

AviStream audioStream(const RecordingMedia &media)
{
    AviStream a;
    a.kind = StreamKind::Audio;
    a.audioCodec = media.audio.codec;
    a.sampleRate = media.audio.sampleRate;
    a.audioConfig = media.audio.config;
    return a;
}

// The nominal rate makes the track last exactly as long as the recording,
// counting the private records at its start.
AviStream textStream(size_t chunks, double seconds)
{
    AviStream t;
    t.kind = StreamKind::Text;
    t.textRateMilli = static_cast<uint32_t>(std::llround(static_cast<double>(chunks) * 1000.0 / seconds));
    return t;
}

std::optional<UnfinishedLayout> cutLayout(const RecordingPlan &plan, const CardSettings &s, uint64_t salt)
{
    if (!plan.unfinished)
        return std::nullopt;
    return UnfinishedLayout{s.seed * 31u + static_cast<uint64_t>(plan.globalIndex) * 1009u + salt};
}

// Front video, then (for the card partition) rear video, then sound and
// metadata, numbered in that order.
Bytes buildCombined(const RecordingPlan &plan, const CardSettings &s, const RecordingMedia &media, bool withRear,
                    uint64_t salt)
{
    std::vector<AviStream> streams{videoStream(s)};
    std::vector<TimedChunk> timed;
    addVideo(timed, 0, media.front);
    if (withRear && !media.rear.empty()) {
        streams.push_back(videoStream(s, true));
        addVideo(timed, 1, media.rear);
    }
    if (media.audio.codec != AudioCodec::None) {
        const int index = static_cast<int>(streams.size());
        streams.push_back(audioStream(media));
        for (const auto &p : media.audio.packets)
            timed.push_back({p.timeUs, index, p.data, true});
    }
    const std::vector<Bytes> payloads = textPayloads(media);
    addText(timed, static_cast<int>(streams.size()), payloads, media);
    streams.push_back(textStream(payloads.size(), s.seconds));
    return buildAvi(streams, interleave(std::move(timed)), media.drive.maxGpsSpeedKmh, cutLayout(plan, s, salt));
}

} // namespace

std::vector<RecordingPlan> planRecordings(const CardSettings &s)
{
    std::vector<RecordingPlan> plans;
    int64_t clock = s.startLocal;
    // Recordings follow each other with a gap that keeps every rear partner
    // search (three seconds either way) clear of the neighbours.
    const int64_t spacing = static_cast<int64_t>(std::ceil(s.seconds)) + 10;
    int global = 0;
    for (size_t k = 0; k < std::size(kKinds); ++k) {
        for (int i = 0; i < s.perKind; ++i, ++global) {
            RecordingPlan p;
            p.kind = kKinds[k].kind;
            p.letter = kKinds[k].letter;
            p.folder = kKinds[k].folder;
            p.indexInKind = i;
            p.globalIndex = global;
            p.startLocal = clock;
            p.rearOffset = static_cast<int>((static_cast<uint64_t>(global) + s.seed) % 4);
            p.twoChannels = s.channels == 2;
            p.unfinished = i >= s.perKind - s.unfinished;
            p.format = static_cast<SensorFormat>((k + static_cast<size_t>(i)) % 3);
            p.frames = static_cast<int>(std::llround(s.seconds * s.fps));
            plans.push_back(p);
            clock += spacing;
        }
    }
    return plans;
}

std::string plainName(const RecordingPlan &plan, char camera)
{
    const int64_t local = camera == 'R' ? plan.startLocal + plan.rearOffset : plan.startLocal;
    return nameStem(plan, local) + "_" + camera + ".avi";
}

std::string cardName(const RecordingPlan &plan) { return nameStem(plan, plan.startLocal) + "_F.tavo"; }

std::string clockText(int64_t local)
{
    const std::tm tm = fields(local);
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec);
    return text;
}

Bytes privateRecord(const char tag[4], const std::string &data)
{
    Bytes b;
    putText(b, std::string_view(tag, 4));
    putU16(b, static_cast<uint16_t>(data.size()));
    putU16(b, 0);
    putText(b, data);
    return b;
}

bool produceMedia(const RecordingPlan &plan, const CardSettings &s, RecordingMedia &media, std::string *error)
{
    media = RecordingMedia{};
    DriveSpec drive;
    drive.kind = plan.kind;
    drive.format = plan.format;
    drive.recordingIndex = plan.globalIndex;
    drive.seed = s.seed;
    drive.seconds = s.seconds;
    drive.startLocal = plan.startLocal;
    drive.utcOffsetHours = kUtcOffsetHours;
    media.drive = simulateDrive(drive);

    VideoSettings video;
    video.width = s.width;
    video.height = s.height;
    video.fps = s.fps;
    video.frames = plan.frames;
    video.cameraEncoding = s.cameraEncoding;
    const int64_t start = plan.startLocal;
    const int fps = s.fps;
    video.clockText = [start, fps](int frame) { return clockText(start + frame / fps); };
    video.channel = Channel::Front;
    if (!encodeVideo(video, media.front, error))
        return false;
    if (plan.twoChannels) {
        video.channel = Channel::Rear;
        if (s.rearWidth > 0) {
            video.width = s.rearWidth;
            video.height = s.rearHeight;
        }
        if (!encodeVideo(video, media.rear, error))
            return false;
    }
    if (!encodeAudio(s.audio, kSampleRate, engineSound(plan, s, media.drive), media.audio, error))
        return false;

    char serial[16];
    std::snprintf(serial, sizeof serial, "%08llu", static_cast<unsigned long long>((s.seed * 2654435761u) % 100000000u));
    media.modelRecord = privateRecord("QXMS", std::string("MODEL=KV-D2000;SERIAL=KVD2") + serial);
    char journal[128];
    std::snprintf(journal, sizeof journal, "DRIVER=0001;TRIP=%04d;START=%s;ODO=%07.1f", plan.globalIndex + 1,
                  clockText(plan.startLocal).c_str(), 12345.6 + plan.globalIndex * 0.3);
    media.journalRecord = privateRecord("QXDJ", journal);
    return true;
}

Bytes buildFrontFile(const RecordingPlan &plan, const CardSettings &s, const RecordingMedia &media)
{
    return buildCombined(plan, s, media, false, 1);
}

Bytes buildRearFile(const RecordingPlan &plan, const CardSettings &s, const RecordingMedia &media)
{
    std::vector<TimedChunk> timed;
    addVideo(timed, 0, media.rear);
    return buildAvi({videoStream(s, true)}, interleave(std::move(timed)), media.drive.maxGpsSpeedKmh,
                    cutLayout(plan, s, 2));
}

Bytes buildCardFile(const RecordingPlan &plan, const CardSettings &s, const RecordingMedia &media)
{
    return buildCombined(plan, s, media, true, 3);
}

} // namespace mkcard
