// Benchmarks of loading recordings, each beside a reference in the same run:
//   1. opening a finished two-channel 1920x1080 30 fps recording of 60 s at
//      about 12 Mbit/s (2 x ~90 MB) with every byte read through a source
//      paced to a card reader's speed (default 30 MB/s): bytes read and time
//      from Open to the first frame of each channel, against the same files
//      with their index made unusable (the chunk walk every recording needed
//      before);
//   2. loading a 4 GB unfinished recording (no index: the chunk walk) against
//      `cat FILE > /dev/null` of the same file: wall time and their ratio.
//
// The recordings are written at run time into --dir (default /tmp/load-bench):
// ffmpeg encodes a noisy test pattern to H.264 once, and the camera's own AVI
// layout is written around it (metadata track, PCM sound, idx1 index).
//
// usage: korvante-bench-load [--dir DIR] [--rate MB/s] [--gib N] [--only open|scan] [--keep]

#include "core/recording/byte_source.h"
#include "core/playback/index_memory.h"
#include "core/playback/media_engine.h"
#include "core/playback/stream_parse_filter.h"
#include "core/playback/video_window.h"
#include "mkcard/avi_writer.h"

#include <QCoreApplication>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using namespace korvante;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

double seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

int run(std::vector<std::string> argv, const char *out = nullptr)
{
    std::vector<char *> raw;
    for (auto &a : argv)
        raw.push_back(a.data());
    raw.push_back(nullptr);
    std::fflush(stdout); // or the child writes what is buffered a second time
    const pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        if (out && !freopen(out, "w", stdout))
            _exit(126);
        execvp(raw[0], raw.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class NullWindow final : public VideoWindow {
public:
    QSize clientSize() const override { return QSize(960, 540); }
    void requestRepaint() override {}
};

// Every source opened while it lives reads through one simulated card
// reader: reads are served one after another at `rate` bytes per second.
class PacedReader {
public:
    explicit PacedReader(double rate) : m_rate(rate)
    {
        setByteSourceWrapper([this](std::unique_ptr<ByteSource> inner) -> std::unique_ptr<ByteSource> {
            return std::make_unique<Paced>(std::move(inner), *this);
        });
    }
    ~PacedReader() { setByteSourceWrapper({}); }
    std::int64_t bytes() const { return m_bytes.load(); }

private:
    class Paced final : public ByteSource {
    public:
        Paced(std::unique_ptr<ByteSource> inner, PacedReader &owner) : m_inner(std::move(inner)), m_owner(owner) {}
        std::int64_t size() const override { return m_inner->size(); }
        std::int64_t readAt(std::int64_t offset, void *buffer, std::int64_t length) override
        {
            const std::int64_t n = m_inner->readAt(offset, buffer, length);
            if (n > 0)
                m_owner.pace(n);
            return n;
        }

    private:
        std::unique_ptr<ByteSource> m_inner;
        PacedReader &m_owner;
    };

    void pace(std::int64_t n)
    {
        m_bytes += n;
        Clock::time_point done;
        {
            std::lock_guard lock(m_mutex);
            const auto now = Clock::now();
            m_busyUntil = std::max(m_busyUntil, now)
                + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(static_cast<double>(n) / m_rate));
            done = m_busyUntil;
        }
        std::this_thread::sleep_until(done);
    }

    double m_rate;
    std::atomic<std::int64_t> m_bytes{0};
    std::mutex m_mutex;
    Clock::time_point m_busyUntil{};
};

using Bytes = std::vector<std::uint8_t>;

Bytes readAll(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Splits an Annex B stream written with access unit delimiters into pictures.
std::vector<std::pair<std::size_t, std::size_t>> accessUnits(const Bytes &b)
{
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i + 4 < b.size(); ++i)
        if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 0 && b[i + 3] == 1 && (b[i + 4] & 0x1F) == 9)
            starts.push_back(i);
    std::vector<std::pair<std::size_t, std::size_t>> units;
    for (std::size_t k = 0; k < starts.size(); ++k)
        units.emplace_back(starts[k], (k + 1 < starts.size() ? starts[k + 1] : b.size()) - starts[k]);
    return units;
}

bool hasIdr(const std::uint8_t *p, std::size_t n)
{
    for (std::size_t i = 0; i + 3 < n; ++i)
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1 && (p[i + 3] & 0x1F) == 5)
            return true;
    return false;
}

bool writeFile(const std::string &path, const Bytes &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

// The camera's front file (video, PCM sound, metadata) and rear file (video)
// around the encoded pictures.
bool writeRecording(const Bytes &h264, const std::string &front, const std::string &rear)
{
    const auto units = accessUnits(h264);
    if (units.size() < 30)
        return false;
    const Bytes silence(3200, 0); // 100 ms of 16 kHz mono 16-bit sound
    std::vector<Bytes> text;
    auto record = [](const char *tag, const std::string &body) {
        Bytes b(4, 0); // time 0
        for (int i = 0; i < 4; ++i) // push_back: GCC 12 warns wrongly about a range insert here
            b.push_back(static_cast<std::uint8_t>(tag[i]));
        b.push_back(static_cast<std::uint8_t>(body.size()));
        b.push_back(static_cast<std::uint8_t>(body.size() >> 8));
        b.push_back(0);
        b.push_back(0);
        b.insert(b.end(), body.begin(), body.end());
        return b;
    };
    text.push_back(record("QXMS", "MODEL-1 SERIAL-0001"));
    text.push_back(record("QXDJ", "DRIVER"));
    const std::size_t seconds = units.size() / 30;
    for (std::size_t s = 0; s < seconds; ++s) {
        char sentence[128];
        std::snprintf(sentence, sizeof sentence, "GPRMC,1000%02zu.00,A,3733.1234,N,12658.5678,E,%zu.0,90.0,050312",
                      s % 60, 20 + s % 7);
        const auto ms = static_cast<std::uint32_t>(s * 1000);
        Bytes b{static_cast<std::uint8_t>(ms), static_cast<std::uint8_t>(ms >> 8), static_cast<std::uint8_t>(ms >> 16),
                static_cast<std::uint8_t>(ms >> 24)};
        b.insert(b.end(), sentence, sentence + std::strlen(sentence));
        text.push_back(b);
    }
    mkcard::AviStream video;
    video.width = 1920;
    video.height = 1080;
    video.fps = 30;
    mkcard::AviStream sound;
    sound.kind = mkcard::StreamKind::Audio;
    sound.audioCodec = mkcard::AudioCodec::Pcm;
    sound.sampleRate = 16000;
    mkcard::AviStream meta;
    meta.kind = mkcard::StreamKind::Text;
    meta.textRateMilli = static_cast<std::uint32_t>(text.size() * 1000 / std::max<std::size_t>(1, seconds));

    std::vector<mkcard::AviChunk> frontChunks, rearChunks;
    frontChunks.push_back({2, text[0], true});
    frontChunks.push_back({2, text[1], true});
    for (std::size_t f = 0; f < units.size(); ++f) {
        const std::span<const std::uint8_t> picture(h264.data() + units[f].first, units[f].second);
        const bool key = hasIdr(picture.data(), std::min<std::size_t>(picture.size(), 4096));
        frontChunks.push_back({0, picture, key});
        rearChunks.push_back({0, picture, key});
        if (f % 3 == 0)
            frontChunks.push_back({1, silence, true});
        if (f % 30 == 0 && f / 30 + 2 < text.size())
            frontChunks.push_back({2, text[f / 30 + 2], true});
    }
    return writeFile(front, mkcard::buildAvi({video, sound, meta}, frontChunks, 40, std::nullopt))
        && writeFile(rear, mkcard::buildAvi({video}, rearChunks, 0, std::nullopt));
}

// Walked indexes kept in memory for the bench's second opens, as the
// viewer keeps them in the overview cache.
class MemoryOfWalks final : public IndexMemory {
public:
    std::optional<std::string> recall(const IndexMemoryKey &key) override
    {
        std::lock_guard lock(m_mutex);
        for (const auto &[k, bytes] : m_kept)
            if (k == key)
                return bytes;
        return std::nullopt;
    }
    void remember(const IndexMemoryKey &key, const std::string &bytes) override
    {
        std::lock_guard lock(m_mutex);
        m_kept.emplace_back(key, bytes);
    }

private:
    std::mutex m_mutex;
    std::vector<std::pair<IndexMemoryKey, std::string>> m_kept;
};

// Open to the first frame of both channels through the paced reader, as the
// viewer opens (BeginOpen: a recording without an index plays while it is
// walked), and on to the moment the whole length is known.
void openOnce(const std::string &front, const std::string &rear, double rate, const char *label,
              const std::shared_ptr<IndexMemory> &memory)
{
    NullWindow frontWindow, rearWindow;
    MediaEngine engine;
    engine.AttachScreens(&frontWindow, &rearWindow);
    engine.indexMemory = memory;
    PacedReader reader(rate);
    const auto t0 = Clock::now();
    std::optional<MediaEngine::OpenOutcome> outcome;
    engine.BeginOpen(front, rear, 0, -1, [&](const MediaEngine::OpenOutcome &o) { outcome = o; });
    while (!outcome && seconds(t0, Clock::now()) < 60)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    if (!outcome || outcome->opened != 1) {
        std::printf("  %s: the recording does not open\n", label);
        return;
    }
    const double opened = seconds(t0, Clock::now());
    const std::int64_t openBytes = reader.bytes();
    engine.Play();
    double first[2] = {-1, -1};
    std::int64_t bytesAtFirst = 0;
    while (seconds(t0, Clock::now()) < 60 && (first[0] < 0 || first[1] < 0)) {
        for (int s = 0; s < 2; ++s) {
            if (first[s] < 0 && engine.graph && engine.graph->renderer[s]
                && engine.graph->renderer[s]->presentedCount() > 0) {
                first[s] = seconds(t0, Clock::now());
                bytesAtFirst = reader.bytes();
            }
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    while (seconds(t0, Clock::now()) < 120 && (engine.IsWalking() || !engine.LengthKnown()))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const double known = seconds(t0, Clock::now());
    engine.Stop();
    std::printf("  %-26s open %.3f s (%.2f MB read); first frame front %.3f s, rear %.3f s; %.2f MB read by then;"
                " whole length (%.1f s) known at %.3f s\n",
                label, opened, static_cast<double>(openBytes) / 1e6, first[0], first[1],
                static_cast<double>(bytesAtFirst) / 1e6, static_cast<double>(engine.GetDurationMs()) / 1000, known);
}

double catSeconds(const std::string &path)
{
    const auto t0 = Clock::now();
    run({"cat", path}, "/dev/null");
    return seconds(t0, Clock::now());
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::string dir = "/tmp/load-bench";
    double rateMB = 30;
    int gib = 4;
    std::string only;
    bool keep = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--keep")
            keep = true;
        else if (i + 1 < argc && a == "--dir")
            dir = argv[++i];
        else if (i + 1 < argc && a == "--rate")
            rateMB = std::max(1.0, std::atof(argv[++i]));
        else if (i + 1 < argc && a == "--gib")
            gib = std::max(1, std::atoi(argv[++i]));
        else if (i + 1 < argc && a == "--only")
            only = argv[++i];
    }
    fs::create_directories(dir);
    const std::string h264 = dir + "/pictures.h264";
    if (!fs::exists(h264)) {
        std::printf("encoding 60 s of a noisy 1920x1080 30 fps test pattern at 12 Mbit/s with ffmpeg ...\n");
        std::fflush(stdout);
        if (run({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                 "testsrc2=size=1920x1080:rate=30,noise=alls=10:allf=t", "-t", "60", "-c:v", "libx264", "-preset",
                 "ultrafast", "-b:v", "12M", "-maxrate", "12M", "-bufsize", "12M", "-g", "30", "-bf", "0",
                 "-x264-params", "aud=1:repeat-headers=1", "-f", "h264", h264 + ".part"})
                != 0
            || !fs::exists(h264 + ".part")) {
            std::fprintf(stderr, "ffmpeg failed\n");
            return 1;
        }
        fs::rename(h264 + ".part", h264);
    }
    const std::string front = dir + "/N_20120305_100000_2CH_F.avi";
    const std::string rear = dir + "/N_20120305_100001_2CH_R.avi";
    const Bytes pictures = readAll(h264);
    if (!fs::exists(front) || !fs::exists(rear)) {
        if (!writeRecording(pictures, front, rear)) {
            std::fprintf(stderr, "writing the recording failed\n");
            return 1;
        }
    }
    std::printf("recording: %s (%.1f MB) + rear (%.1f MB)\n", front.c_str(),
                static_cast<double>(fs::file_size(front)) / 1e6, static_cast<double>(fs::file_size(rear)) / 1e6);

    if (only.empty() || only == "open") {
        // The same files with the index renamed: what every load cost before.
        const std::string frontNoIndex = dir + "/noindex_F.avi", rearNoIndex = dir + "/noindex_R.avi";
        for (const auto &[from, to] : {std::pair{front, frontNoIndex}, std::pair{rear, rearNoIndex}}) {
            Bytes b = readAll(from);
            const auto at = std::search(b.begin(), b.end(), std::begin("idx1"), std::end("idx1") - 1);
            if (at != b.end())
                std::memcpy(&*at, "JUNK", 4);
            writeFile(to, b);
        }
        std::printf("\nopening, every read paced to %.0f MB/s (targets: < 10 MB, < 0.5 s to the first frame):\n", rateMB);
        const auto memory = std::make_shared<MemoryOfWalks>();
        openOnce(front, rear, rateMB * 1e6, "from the index:", memory);
        openOnce(frontNoIndex, rearNoIndex, rateMB * 1e6, "index unusable (walk):", memory);
        openOnce(frontNoIndex, rearNoIndex, rateMB * 1e6, "the same, opened again:", memory);
        fs::remove(frontNoIndex);
        fs::remove(rearNoIndex);
    }

    if (only.empty() || only == "scan") {
        // An unfinished recording of `gib` GiB: the movie list repeated, sizes 0, no index.
        const std::string big = dir + "/big_unfinished.avi";
        const Bytes file = readAll(front);
        const auto movi = std::search(file.begin(), file.end(), std::begin("movi"), std::end("movi") - 1);
        const auto idx1 = std::search(file.begin(), file.end(), std::begin("idx1"), std::end("idx1") - 1);
        const std::size_t first = static_cast<std::size_t>(movi - file.begin()) + 4;
        const std::size_t end = static_cast<std::size_t>(idx1 - file.begin());
        const auto target = static_cast<std::uintmax_t>(gib) << 30;
        if (!fs::exists(big) || fs::file_size(big) < target) {
            std::printf("\nwriting a %d GiB unfinished recording ...\n", gib);
            std::fflush(stdout);
            std::ofstream out(big, std::ios::binary | std::ios::trunc);
            Bytes head(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(first));
            std::memset(head.data() + 4, 0, 4);         // RIFF size
            std::memset(head.data() + first - 8, 0, 4); // movie list size
            out.write(reinterpret_cast<const char *>(head.data()), static_cast<std::streamsize>(head.size()));
            std::uintmax_t written = head.size();
            while (written < target) {
                out.write(reinterpret_cast<const char *>(file.data() + first), static_cast<std::streamsize>(end - first));
                written += end - first;
            }
        }
        const double size = static_cast<double>(fs::file_size(big));
        double bestCat = 1e9, bestScan = 1e9;
        std::size_t frames = 0;
        for (int round = 0; round < 2; ++round) {
            bestCat = std::min(bestCat, catSeconds(big));
            StreamParseFilter filter("VXStreamParseFilter");
            const auto t0 = Clock::now();
            if (filter.Load(big) != S_OK) {
                std::fprintf(stderr, "the big recording does not load: %s\n", filter.loadError().c_str());
                return 1;
            }
            bestScan = std::min(bestScan, seconds(t0, Clock::now()));
            frames = filter.index().video[0].frames.size();
        }
        std::printf("\nloading a %.2f GB unfinished recording (chunk walk, %zu frames), best of 2:\n", size / 1e9, frames);
        std::printf("  load %.2f s (%.0f MB/s), cat %.2f s (%.0f MB/s): ratio %.2f (target <= about 1)\n", bestScan,
                    size / bestScan / 1e6, bestCat, size / bestCat / 1e6, bestScan / bestCat);
        if (!keep)
            fs::remove(big);
    }
    return 0;
}
