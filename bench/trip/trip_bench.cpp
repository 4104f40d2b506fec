// Continuous playback through a trip with the real engine: the recordings of
// a camera-like card (two channels, B-frames, frame codes) played one after
// the other as the player does it: the next pair prepared 3 s into each
// recording, switched to at its end. For every boundary it prints
//   - the time between the old recording's last picture reaching the screen
//     thread and the new recording's first (each channel), against the frame
//     interval;
//   - the old recording's last and the new one's first picture shown (frame
//     numbers, "last>first" against the old one's count) and whether the
//     new one skipped any picture (its graph's count of pictures skipped as
//     late, reported when it closes); nothing is grabbed meanwhile, so the
//     screen thread is as free as the viewer's;
//   - the bytes read to open and cue the next pair (before its `done`), and
//     how long that took;
// and, as the reference, what Next File costs today: its 1 s pause plus an
// open of the same pair to its first pictures.
//
// usage: korvante-bench-trip [--card DIR] [--count N]
//   DIR holds NOR/EVT/MOT/MAN as korvante-mkcard writes them; the first N
//   recordings in camera-time order are played (default 5).

#include "core/platform/log.h"
#include "core/playback/media_engine.h"
#include "core/playback/video_window.h"
#include "core/recording/byte_source.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <vector>

using namespace korvante;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

double msBetween(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double, std::milli>(b - a).count();
}

struct Pair {
    std::string front, rear, time; // time: "YYYYMMDD_HHMMSS" from the name
};

std::vector<Pair> tripOf(const fs::path &card)
{
    std::vector<Pair> all;
    for (const char *dir : {"NOR", "EVT", "MOT", "MAN"}) {
        std::vector<std::string> fronts, rears;
        if (!fs::exists(card / dir))
            continue;
        for (const auto &e : fs::directory_iterator(card / dir)) {
            const std::string n = e.path().string();
            if (n.ends_with("_F.avi"))
                fronts.push_back(n);
            else if (n.ends_with("_R.avi"))
                rears.push_back(n);
        }
        std::sort(fronts.begin(), fronts.end());
        std::sort(rears.begin(), rears.end());
        for (std::size_t i = 0; i < fronts.size(); ++i) {
            const std::string name = fs::path(fronts[i]).filename().string();
            all.push_back({fronts[i], i < rears.size() ? rears[i] : std::string("1CH"), name.substr(2, 15)});
        }
    }
    std::sort(all.begin(), all.end(), [](const Pair &a, const Pair &b) { return a.time < b.time; });
    return all;
}

// Bytes read by every source opened while it lives, per source in opening order.
class ReadCounter {
public:
    ReadCounter()
    {
        setByteSourceWrapper([this](std::unique_ptr<ByteSource> inner) -> std::unique_ptr<ByteSource> {
            auto counter = std::make_shared<std::atomic<std::int64_t>>(0);
            {
                std::lock_guard lock(m_mutex);
                m_counters.push_back(counter);
            }
            return std::make_unique<Counted>(std::move(inner), counter);
        });
    }
    ~ReadCounter() { setByteSourceWrapper({}); }
    std::size_t sources() const
    {
        std::lock_guard lock(m_mutex);
        return m_counters.size();
    }
    // Bytes read so far by the sources opened from `first` on.
    std::int64_t bytesFrom(std::size_t first) const
    {
        std::lock_guard lock(m_mutex);
        std::int64_t sum = 0;
        for (std::size_t i = first; i < m_counters.size(); ++i)
            sum += m_counters[i]->load();
        return sum;
    }

private:
    class Counted final : public ByteSource {
    public:
        Counted(std::unique_ptr<ByteSource> inner, std::shared_ptr<std::atomic<std::int64_t>> count)
            : m_inner(std::move(inner)), m_count(std::move(count))
        {
        }
        std::int64_t size() const override { return m_inner->size(); }
        std::int64_t readAt(std::int64_t offset, void *buffer, std::int64_t length) override
        {
            const std::int64_t got = m_inner->readAt(offset, buffer, length);
            if (got > 0)
                *m_count += got;
            return got;
        }

    private:
        std::unique_ptr<ByteSource> m_inner;
        std::shared_ptr<std::atomic<std::int64_t>> m_count;
    };
    mutable std::mutex m_mutex;
    std::vector<std::shared_ptr<std::atomic<std::int64_t>>> m_counters;
};

// A picture reaching the screen thread: which recording, which channel, which frame.
struct Shown {
    Clock::time_point at;
    int recording = 0;
    int slot = 0;
    std::int64_t frame = -1;
};

// A screen of the viewer's size. The presentation thread asks for a paint;
// the request is taken on the UI thread, as a screen's paint is.
class BenchWindow final : public VideoWindow {
public:
    BenchWindow(QSize size, int slot, QObject *ui, std::function<void(int)> onPaint)
        : m_size(size), m_slot(slot), m_ui(ui), m_onPaint(std::move(onPaint))
    {
    }
    QSize clientSize() const override { return m_size; }
    void requestRepaint() override
    {
        QMetaObject::invokeMethod(m_ui, [this] { m_onPaint(m_slot); }, Qt::QueuedConnection);
    }

private:
    QSize m_size;
    int m_slot;
    QObject *m_ui;
    std::function<void(int)> m_onPaint;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    fs::path card = "/tmp/korvante-trip-card";
    std::size_t count = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--card")
            card = argv[i + 1];
        else if (a == "--count")
            count = static_cast<std::size_t>(std::max(2, std::atoi(argv[i + 1])));
    }
    std::vector<Pair> trip = tripOf(card);
    if (trip.size() < 2) {
        std::fprintf(stderr, "korvante-bench-trip: %s holds fewer than two recordings\n", card.c_str());
        return 2;
    }
    trip.resize(std::min(count, trip.size()));

    // The graphs' own counts, said when each closes, in order.
    std::mutex logMutex;
    std::vector<std::pair<std::int64_t, std::int64_t>> closedCounts; // shown, skipped as late
    setLogSink([&](LogLevel level, std::string_view message) {
        static const std::regex counts("frames shown ([0-9]+), skipped as late ([0-9]+)");
        const std::string line(message);
        std::smatch m;
        if (std::regex_search(line, m, counts)) {
            std::lock_guard lock(logMutex);
            closedCounts.emplace_back(std::stoll(m[1]), std::stoll(m[2]));
        } else if (level >= LogLevel::Warning) {
            std::fprintf(stderr, "korvante: %s\n", line.c_str());
        }
    });

    ReadCounter reads;
    MediaEngine engine;
    QObject ui;
    int playing = 0; // index in `trip` of the recording that plays
    std::vector<Shown> shown;
    auto onPaint = [&](int slot) {
        if (!engine.graph || !engine.graph->renderer[slot])
            return;
        const std::int64_t frame = engine.graph->renderer[slot]->currentFrame();
        if (frame < 0)
            return;
        if (!shown.empty()) {
            // Only a new picture counts (a repaint of the same one does not).
            for (auto it = shown.rbegin(); it != shown.rend(); ++it)
                if (it->slot == slot) {
                    if (it->recording == playing && it->frame == frame)
                        return;
                    break;
                }
        }
        shown.push_back({Clock::now(), playing, slot, frame});
    };
    BenchWindow front(QSize(745, 419), 0, &ui, onPaint);
    BenchWindow rear(QSize(390, 219), 1, &ui, onPaint);
    engine.AttachScreens(&front, &rear);

    struct Boundary {
        std::int64_t preparedBytes = 0;
        double prepareMs = 0;
        std::int64_t frames[2] = {0, 0}; // of the old recording
    };
    std::vector<Boundary> boundaries(trip.size() - 1);
    std::int64_t framesNow[2] = {0, 0};
    auto countFrames = [&] {
        for (int s = 0; s < 2; ++s)
            framesNow[s] = engine.graph && engine.graph->parseFilter[s]
                               ? static_cast<std::int64_t>(engine.graph->parseFilter[s]->snapshot()->video.empty()
                                                               ? 0
                                                               : engine.graph->parseFilter[s]->snapshot()->video[0].frames.size())
                               : 0;
    };
    bool preparing = false;
    Clock::time_point prepareBegan;
    std::size_t sourcesBefore = 0;
    bool finished = false;

    engine.SwitchAtEnd([&] {
        Boundary &b = boundaries[static_cast<std::size_t>(playing)];
        for (int s = 0; s < 2; ++s)
            b.frames[s] = framesNow[s];
        ++playing;
        countFrames();
        preparing = false;
    });
    QTimer tick;
    tick.setInterval(20);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const std::int32_t s = engine.GetState();
        if (s != StateRunning)
            return;
        const std::uint64_t pos = engine.GetPositionMs();
        const std::uint64_t length = engine.GetDurationMs();
        if (!preparing && !engine.IsPreparing() && static_cast<std::size_t>(playing) + 1 < trip.size() && pos >= 3000) {
            preparing = true;
            const Pair &next = trip[static_cast<std::size_t>(playing) + 1];
            sourcesBefore = reads.sources();
            prepareBegan = Clock::now();
            const int at = playing;
            engine.PrepareNext(next.front, next.rear, 0, -1, 0, [&, at](const MediaEngine::OpenOutcome &o) {
                Boundary &b = boundaries[static_cast<std::size_t>(at)];
                b.prepareMs = msBetween(prepareBegan, Clock::now());
                b.preparedBytes = reads.bytesFrom(sourcesBefore);
                if (o.opened != 1)
                    std::fprintf(stderr, "korvante-bench-trip: %s not prepared: %s\n", trip[at + 1].front.c_str(),
                                 o.reason.c_str());
            });
        }
        if (static_cast<std::size_t>(playing) + 1 == trip.size() && length > 0 && pos >= length && !finished) {
            finished = true;
            app.quit();
        }
    });

    std::printf("trip: %zu recordings from %s\n", trip.size(), card.c_str());
    engine.BeginOpen(trip[0].front, trip[0].rear, 0, -1, [&](const MediaEngine::OpenOutcome &o) {
        if (o.opened != 1) {
            std::fprintf(stderr, "korvante-bench-trip: cannot open %s: %s\n", trip[0].front.c_str(), o.reason.c_str());
            app.exit(1);
            return;
        }
        countFrames();
        engine.Play();
        tick.start();
    });
    if (app.exec() != 0)
        return 1;
    tick.stop();
    engine.SwitchAtEnd({});
    engine.Close();

    // Reference: Next File today, a 1 s pause and then an open of the pair
    // to its first pictures (the last pair again: its files are as cached as
    // the prepared ones were).
    double openMs = 0;
    {
        const Clock::time_point began = Clock::now();
        bool done = false;
        engine.BeginOpen(trip.back().front, trip.back().rear, 0, -1, [&](const MediaEngine::OpenOutcome &) {
            openMs = msBetween(began, Clock::now());
            done = true;
            app.quit();
        });
        if (!done)
            app.exec();
        engine.Close();
    }

    const double interval = 1000.0 / 30.0;
    std::printf("%-4s %-9s %-9s %-14s %-14s %-13s %-12s %-11s %s\n", "gap", "front ms", "rear ms", "front", "rear",
                "skipped late", "open bytes", "prepare ms", "next");
    for (std::size_t i = 0; i < boundaries.size(); ++i) {
        const Boundary &b = boundaries[i];
        double gap[2] = {-1, -1};
        std::int64_t lastFrame[2] = {-1, -1}, firstFrame[2] = {-1, -1};
        for (int s = 0; s < 2; ++s) {
            std::optional<Clock::time_point> lastOld, firstNew;
            for (const Shown &r : shown) {
                if (r.slot != s)
                    continue;
                if (r.recording == static_cast<int>(i) && r.frame == b.frames[s] - 1 && !lastOld)
                    lastOld = r.at;
                if (r.recording == static_cast<int>(i))
                    lastFrame[s] = std::max(lastFrame[s], r.frame);
                if (r.recording == static_cast<int>(i) + 1 && !firstNew) {
                    firstNew = r.at;
                    firstFrame[s] = r.frame;
                }
            }
            if (lastOld && firstNew)
                gap[s] = msBetween(*lastOld, *firstNew);
        }
        std::int64_t skipped = -1;
        {
            std::lock_guard lock(logMutex);
            // Graph i + 1 closed i + 1'th (the first graph is closed first).
            if (i + 1 < closedCounts.size())
                skipped = closedCounts[i + 1].second;
        }
        char front[32], rearText[32];
        std::snprintf(front, sizeof front, "%lld/%lld>%lld", static_cast<long long>(lastFrame[0]),
                      static_cast<long long>(b.frames[0]), static_cast<long long>(firstFrame[0]));
        std::snprintf(rearText, sizeof rearText, "%lld/%lld>%lld", static_cast<long long>(lastFrame[1]),
                      static_cast<long long>(b.frames[1]), static_cast<long long>(firstFrame[1]));
        std::printf("%-4zu %-9.1f %-9.1f %-14s %-14s %-13lld %-12lld %-11.1f %s\n", i + 1, gap[0], gap[1], front,
                    rearText, static_cast<long long>(skipped), static_cast<long long>(b.preparedBytes), b.prepareMs,
                    fs::path(trip[i + 1].front).filename().c_str());
    }
    std::printf("frame interval %.1f ms (the aim: at most two, %.1f ms)\n", interval, 2 * interval);
    std::printf("reference, Next File today: 1000 ms pause + %.1f ms open = %.1f ms without pictures\n", openMs,
                1000.0 + openMs);
    setLogSink({});
    return 0;
}
