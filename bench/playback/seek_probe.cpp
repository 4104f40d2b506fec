// Measures, on a running viewer's X display, what a user sees after a key or
// a click: the frame numbers that korvante-mkcard paints into its pictures
// are read straight from the screen (the front and the rear screen's top
// strips) every few milliseconds.
//
// usage: korvante-seek-probe FX FY FW FH RX RY RW RH SLIDER_X0 SLIDER_X1 SLIDER_Y
//        korvante-seek-probe --first FX FY FW FH RX RY RW RH
//   --first: waits (60 s at most) until both screens show a picture and
//   prints "first MS" with MS on the monotonic clock (CLOCK_MONOTONIC), for
//   the time to the first picture of a recording being opened.
//   F*: the front screen's picture on the root window, R*: the rear's;
//   SLIDER_*: the seek slider's track (left, right, vertical centre).
// The viewer must be showing a recording made by korvante-mkcard, paused.
// Input goes through xdotool, so the probe measures the whole way from the
// X server's event to the picture on the screen.
//
// Prints, each beside its reference (the frame interval, ffmpeg's exact seek
// of the same recordings is measured by the calling script):
//   resume: Space after a pause until the front picture moves (median of 10);
//   seek: a click on the slider until front and rear show the frame they keep
//         (median of 20, paused), and the front–rear difference after each;
//   forward: Right (10 s on) until the front shows a frame at least 10 s on;
//   seeks while playing: 20 clicks, each followed by a pause, front–rear difference.

#include "mkcard/frame_code.h"

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QScreen>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Area {
    int x = 0, y = 0, w = 0, h = 0;
};

Area g_front, g_rear;
int g_sliderLeft = 0, g_sliderRight = 0, g_sliderY = 0;

double msSince(Clock::time_point t)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// The frame number in an area of the screen; only its top strip is grabbed.
int frameIn(const Area &a)
{
    QScreen *screen = QGuiApplication::primaryScreen();
    const int strip = std::max(2, a.h / 15 + 1);
    const QImage shot = screen->grabWindow(0, a.x, a.y, a.w, strip).toImage().convertToFormat(QImage::Format_RGB32);
    // The code's cells are proportional to the whole picture's height: give the
    // decoder the strip inside a picture of that height.
    QImage whole(a.w, a.h, QImage::Format_RGB32);
    whole.fill(Qt::black);
    for (int y = 0; y < shot.height() && y < a.h; ++y)
        std::copy_n(reinterpret_cast<const QRgb *>(shot.constScanLine(y)), a.w, reinterpret_cast<QRgb *>(whole.scanLine(y)));
    return korvante::framecode::decodeFrameNumber(whole.constBits(), whole.width(), whole.height(),
                                                  static_cast<int>(whole.bytesPerLine()));
}

void xdotool(const QStringList &args)
{
    QProcess::execute(QStringLiteral("xdotool"), args);
}

void key(const char *name)
{
    xdotool({QStringLiteral("key"), QString::fromLatin1(name)});
}

void clickSlider(double fraction)
{
    const int x = g_sliderLeft + static_cast<int>(fraction * (g_sliderRight - g_sliderLeft));
    xdotool({QStringLiteral("mousemove"), QString::number(x), QString::number(g_sliderY), QStringLiteral("click"),
             QStringLiteral("1")});
}

// Polls until `done(front, rear)` holds; the time in ms, or -1 after `limitMs`.
template <typename Done>
double waitFor(Clock::time_point since, double limitMs, Done done)
{
    while (msSince(since) < limitMs) {
        const int f = frameIn(g_front), r = frameIn(g_rear);
        if (done(f, r))
            return msSince(since);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return -1;
}

// Waits until both screens show one frame that stays for `quietMs`. The
// frame (-3 when they never agreed) and when it first showed, in ms after `t0`.
struct Settled {
    int frame = -3;
    double atMs = -1;
};
Settled settledAfter(Clock::time_point t0, int quietMs = 400)
{
    Settled now;
    auto since = Clock::now();
    while (msSince(t0) < 6000) {
        const int f = frameIn(g_front), r = frameIn(g_rear);
        const int v = f == r ? f : -3;
        if (v != now.frame) {
            now = {v, msSince(t0)};
            since = Clock::now();
        } else if (msSince(since) >= quietMs && v >= 0) {
            return now;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return now;
}

int settled(int quietMs = 400)
{
    return settledAfter(Clock::now(), quietMs).frame;
}

double median(std::vector<double> v)
{
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc == 10 && std::string(argv[1]) == "--first") {
        auto n = [&](int i) { return std::atoi(argv[i]); };
        g_front = {n(2), n(3), n(4), n(5)};
        g_rear = {n(6), n(7), n(8), n(9)};
        const auto start = Clock::now();
        while (msSince(start) < 60000) {
            if (frameIn(g_front) >= 0 && frameIn(g_rear) >= 0) {
                const auto now = std::chrono::duration<double, std::milli>(Clock::now().time_since_epoch()).count();
                std::printf("first %.1f\n", now);
                return 0;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
        std::printf("first never\n");
        return 1;
    }
    if (argc != 12) {
        std::fprintf(stderr, "usage: korvante-seek-probe FX FY FW FH RX RY RW RH SLIDER_X0 SLIDER_X1 SLIDER_Y\n");
        return 2;
    }
    auto n = [&](int i) { return std::atoi(argv[i]); };
    g_front = {n(1), n(2), n(3), n(4)};
    g_rear = {n(5), n(6), n(7), n(8)};
    g_sliderLeft = n(9);
    g_sliderRight = n(10);
    g_sliderY = n(11);
    if (frameIn(g_front) < 0 || frameIn(g_rear) < 0) {
        std::fprintf(stderr, "no frame numbers on the screens (front %d, rear %d)\n", frameIn(g_front), frameIn(g_rear));
        return 1;
    }
    std::mt19937 random(11);
    std::uniform_real_distribution<double> anywhere(0.05, 0.85);

    // Resume after a pause.
    std::vector<double> resume;
    int resumeFailed = 0;
    for (int i = 0; i < 10; ++i) {
        clickSlider(anywhere(random));
        const int before = settled();
        const auto t0 = Clock::now();
        key("space");
        const double ms = waitFor(t0, 3000, [&](int f, int) { return f >= 0 && f != before; });
        if (ms < 0)
            ++resumeFailed;
        else
            resume.push_back(ms);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        key("space"); // pause again
    }
    std::printf("resume (Space after a pause to the next picture): median %.0f ms, max %.0f ms over %zu, %d never "
                "moved (aim <= 100 ms; one frame interval is 33 ms)\n",
                median(resume), resume.empty() ? -1.0 : *std::max_element(resume.begin(), resume.end()), resume.size(),
                resumeFailed);

    // Seeks while paused: time until both show the frame they keep, and
    // whether they agree on it.
    std::vector<double> seek;
    int pausedMismatch = 0;
    for (int i = 0; i < 20; ++i) {
        settled(300);
        const auto t0 = Clock::now();
        clickSlider(anywhere(random));
        const Settled after = settledAfter(t0);
        if (after.frame < 0)
            ++pausedMismatch;
        else
            seek.push_back(after.atMs);
    }
    std::printf("seek while paused (click to the frame both screens keep): median %.0f ms, max %.0f ms over %zu; "
                "front and rear apart after %d of 20 (aim <= 250 ms, 0 apart)\n",
                median(seek), seek.empty() ? -1.0 : *std::max_element(seek.begin(), seek.end()), seek.size(),
                pausedMismatch);

    // Forward 10 s from a pause.
    std::vector<double> forward;
    for (int i = 0; i < 5; ++i) {
        clickSlider(0.1 + 0.1 * i);
        const int before = settled();
        const auto t0 = Clock::now();
        key("Right");
        const double ms = waitFor(t0, 4000, [&](int f, int r) { return f >= before + 300 && r >= before + 300; });
        forward.push_back(ms);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        key("space"); // Forward resumes playing: pause again
    }
    std::printf("Forward 10 s (Right to a picture 10 s on in both screens): median %.0f ms, max %.0f ms over 5\n",
                median(forward), *std::max_element(forward.begin(), forward.end()));

    // Seeks while playing, each followed by a pause.
    int playingMismatch = 0;
    for (int i = 0; i < 20; ++i) {
        key("space");
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        clickSlider(anywhere(random));
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        key("space");
        const int both = settled();
        if (both < 0)
            ++playingMismatch;
    }
    std::printf("seeks while playing, then a pause: front and rear apart after %d of 20 (must be 0)\n",
                playingMismatch);
    return 0;
}
