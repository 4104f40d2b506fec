// Benchmarks of the playback engine, each beside a reference measured in the
// same run:
//   1. decoding a 60 s 1920x1080 recording through the graph in free-running
//      mode (no clock), frames per second, against
//      `ffmpeg -v error -i FILE -vf format=bgra -f null -` on the same file;
//   2. playing a two-channel 1920x1080 30 fps recording for its length at rate
//      1.0: frames shown against frames due, CPU seconds per second of
//      playback, peak memory;
//   3. seek latency: the median of 50 random seeks on the paused graph.
//
// usage: korvante-bench-playback [--card DIR] [--seconds N]
//   --card DIR   use a card folder written earlier by korvante-mkcard
//                (default: write one into a temporary folder)
//   --seconds N  length of the recordings made (default 60)
//   --only play|decode   run one part (play covers playback and seeks)

#include "core/playback/media_engine.h"
#include "core/playback/video_window.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace korvante;
using Clock = std::chrono::steady_clock;

namespace {

class NullWindow final : public VideoWindow {
public:
    QSize clientSize() const override { return QSize(960, 540); }
    void requestRepaint() override {}
};

double seconds(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double>(b - a).count();
}

int run(std::vector<std::string> argv, bool quiet = false)
{
    std::vector<char *> raw;
    for (auto &a : argv)
        raw.push_back(a.data());
    raw.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        if (quiet) {
            if (!freopen("/dev/null", "w", stdout))
                _exit(126);
        }
        execvp(raw[0], raw.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec)
        + static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long peakKiB()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// Bytes this process has read through read(2)/pread(2) so far.
double bytesRead()
{
    std::FILE *io = std::fopen("/proc/self/io", "r");
    if (!io)
        return 0;
    char key[32] = {};
    unsigned long long value = 0;
    double rchar = 0;
    while (std::fscanf(io, "%31s %llu", key, &value) == 2)
        if (std::string(key) == "rchar:")
            rchar = static_cast<double>(value);
    std::fclose(io);
    return rchar;
}

bool findRecording(const std::string &card, std::string &front, std::string &rear)
{
    namespace fs = std::filesystem;
    std::vector<std::string> fronts, rears;
    if (!fs::exists(card + "/NOR"))
        return false;
    for (const auto &e : fs::directory_iterator(card + "/NOR")) {
        const std::string n = e.path().string();
        if (n.size() > 6 && n.compare(n.size() - 6, 6, "_F.avi") == 0)
            fronts.push_back(n);
        if (n.size() > 6 && n.compare(n.size() - 6, 6, "_R.avi") == 0)
            rears.push_back(n);
    }
    std::sort(fronts.begin(), fronts.end());
    std::sort(rears.begin(), rears.end());
    if (fronts.empty() || rears.empty())
        return false;
    front = fronts.front();
    rear = rears.front();
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::string card;
    int length = 60;
    std::string only;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--card")
            card = argv[i + 1];
        else if (a == "--only")
            only = argv[i + 1];
        else if (a == "--seconds")
            length = std::max(5, std::atoi(argv[i + 1]));
    }
    QTemporaryDir temp;
    if (card.empty()) {
        card = temp.path().toStdString() + "/card";
        std::printf("writing a two-channel 1920x1080 30 fps card, %d s per recording ...\n", length);
        std::fflush(stdout);
        if (run({KORVANTE_BINARY_DIR "/bin/korvante-mkcard", "--folder", card, "--per-kind", "1", "--seconds",
                 std::to_string(length), "--size", "1920x1080", "--fps", "30", "--audio", "aac", "--channels", "2",
                 "--seed", "1"},
                true)
            != 0) {
            std::fprintf(stderr, "korvante-mkcard failed\n");
            return 1;
        }
    }
    std::string front, rear;
    if (!findRecording(card, front, rear)) {
        std::fprintf(stderr, "no two-channel recording in %s/NOR\n", card.c_str());
        return 1;
    }
    std::printf("recording: %s (+ rear)\n", front.c_str());

    NullWindow frontWindow, rearWindow;

    // 2. Real-time two-channel playback (first, so the peak memory is its own).
    if (only.empty() || only == "play") {
        MediaEngine engine;
        engine.AttachScreens(&frontWindow, &rearWindow);
        const double read0 = bytesRead();
        if (engine.Open(front, rear) != 1) {
            std::fprintf(stderr, "the recording does not open\n");
            return 1;
        }
        const double duration = static_cast<double>(engine.GetDurationMs()) / 1000.0;
        const double cpu0 = cpuSeconds();
        const auto t0 = Clock::now();
        engine.Play();
        while (engine.GetPositionMs() < engine.GetDurationMs() && seconds(t0, Clock::now()) < duration + 10)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const double wall = seconds(t0, Clock::now());
        const double cpu = cpuSeconds() - cpu0;
        engine.Pause();
        const PlaybackGraph &g = *engine.graph;
        std::uint64_t shown = 0, due = 0;
        for (int s = 0; s < 2; ++s) {
            if (!g.renderer[s])
                continue;
            shown += g.renderer[s]->presentedCount();
            due += g.decoder[s]->stream().frames.size();
        }
        std::printf("\nplayback, two channels 1920x1080 at rate 1.0 for %.1f s (wall %.1f s):\n", duration, wall);
        std::printf("  frames shown %llu of %llu due (%.1f %%), dropped late %llu\n",
                    static_cast<unsigned long long>(shown), static_cast<unsigned long long>(due),
                    due ? 100.0 * static_cast<double>(shown) / static_cast<double>(due) : 0.0,
                    static_cast<unsigned long long>(g.graphBuilder->framesDropped()));
        std::printf("  CPU %.3f s per s of playback (target <= 0.6)\n", cpu / wall);
        std::error_code sizeError;
        const double played = static_cast<double>(std::filesystem::file_size(front, sizeError))
            + static_cast<double>(std::filesystem::file_size(rear, sizeError));
        std::printf("  read %.1f MB for %.1f MB of recordings (%.2f x)\n", (bytesRead() - read0) / 1e6, played / 1e6,
                    played > 0 ? (bytesRead() - read0) / played : 0.0);
        std::printf("  peak memory %.1f MB (target <= 300)\n", static_cast<double>(peakKiB()) / 1024.0);

        // 3. Seek latency on the paused graph.
        std::mt19937 random(7);
        std::vector<double> ms;
        const auto limit = static_cast<std::int64_t>(engine.GetDurationMs());
        for (int i = 0; i < 50; ++i) {
            const std::int64_t target = std::uniform_int_distribution<std::int64_t>(0, limit - 1)(random);
            const auto s0 = Clock::now();
            engine.SetPosition(target * 10000);
            ms.push_back(seconds(s0, Clock::now()) * 1000.0);
        }
        std::sort(ms.begin(), ms.end());
        std::printf("\nseek latency over 50 random seeks, both channels shown: median %.1f ms, max %.1f ms (target median <= 150)\n",
                    (ms[24] + ms[25]) / 2, ms.back());
    }

    // 1. Free-running decode of the front file against ffmpeg.
    if (only.empty() || only == "decode") {
        // Three turns each, alternating, best of each: the machine may be
        // shared, and alternating keeps both sides under the same load.
        double ours = 1e9, theirs = 1e9;
        std::size_t frames = 0;
        int rc = 0;
        for (int turn = 0; turn < 3; ++turn) {
            VideoWindow *windows[4] = {&frontWindow, nullptr, nullptr, nullptr};
            PlaybackGraph g(4, windows, 0);
            g.ready = true;
            bool frontNotLoaded = false;
            if (g.Build(front, "1CH", 0, -1, &frontNotLoaded) != S_OK) {
                std::fprintf(stderr, "the graph cannot be built\n");
                return 1;
            }
            frames = g.decoder[0]->stream().frames.size();
            g.graphBuilder->setFreeRunning(true);
            const auto t0 = Clock::now();
            g.graphBuilder->setPosition(0);
            g.graphBuilder->run();
            while (!g.graphBuilder->atEnd())
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            ours = std::min(ours, seconds(t0, Clock::now()));
            g.Teardown();

            const auto f0 = Clock::now();
            rc |= run({"ffmpeg", "-v", "error", "-i", front, "-vf", "format=bgra", "-f", "null", "-"});
            theirs = std::min(theirs, seconds(f0, Clock::now()));
        }
        const double oursFps = static_cast<double>(frames) / ours;
        const double theirFps = static_cast<double>(frames) / theirs;
        std::printf("\nfree-running decode of %zu frames 1920x1080 to 32-bit pictures (best of 3 each):\n", frames);
        std::printf("  graph  %.1f fps (%.2f s)\n", oursFps, ours);
        std::printf("  ffmpeg %.1f fps (%.2f s)%s\n", theirFps, theirs, rc == 0 ? "" : " (ffmpeg failed)");
        std::printf("  ratio %.2f (target >= 0.9)\n", oursFps / theirFps);
    }
    return 0;
}
