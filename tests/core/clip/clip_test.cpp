// The clip export as users meet it: korvante-cli clip and verify run as real
// processes on cards korvante-mkcard writes (camera-like footage with B-frames,
// a rear of another size, a card image), the clips read back with ffprobe and
// ffmpeg, the pictures identified by the frame code the sample tool paints.
// Cancel and failure go through the library, where they can be timed.

#include "core/clip/clip_plan.h"
#include "core/clip/clip_writer.h"
#include "core/clip/evidence.h"
#include "core/clip/overlay.h"
#include "core/storage/list_view.h"
#include "core/storage/recording_catalogue.h"
#include "mkcard/frame_code.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/log.h>
}

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>

namespace korvante::clip {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

const std::string kBin = std::string(KORVANTE_BINARY_DIR) + "/bin/";
constexpr double kFrame = 1.0 / 30;

std::string quote(const std::string &s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

struct ToolRun {
    int rc = -1;
    std::string out, err;
};

ToolRun shell(const std::string &command, const fs::path &scratch)
{
    const std::string out = (scratch / "stdout.txt").string(), err = (scratch / "stderr.txt").string();
    const int status = std::system((command + " >" + quote(out) + " 2>" + quote(err)).c_str());
    ToolRun r;
    r.rc = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    r.out = testing::readFile(out);
    r.err = testing::readFile(err);
    return r;
}

ToolRun cli(const std::vector<std::string> &args, const fs::path &scratch)
{
    std::string command = quote(kBin + "korvante-cli");
    for (const std::string &a : args)
        command += " " + quote(a);
    return shell(command, scratch);
}

// Both cards hold the same recordings: one of each kind, 6 s, 30 fps, a
// 640x360 front and 480x270 rear as a camera encodes them, 10 s apart: the
// first two are N_20120305_142233 and E_20120305_142249.
struct Cards {
    TempDir dir;
    std::string folder, image;
    Cards()
    {
        folder = dir.file("card");
        image = dir.file("card.img");
        const ToolRun r = shell(quote(kBin + "korvante-mkcard") + " --folder " + quote(folder) + " --image " + quote(image)
                                + " --per-kind 1 --seconds 6 --size 640x360 --rear-size 480x270 --encoding camera"
                                  " --audio aac --channels 2 --seed 3",
                            dir.path());
        EXPECT_EQ(r.rc, 0) << r.err;
    }
};

const Cards &cards()
{
    static const Cards c;
    return c;
}

struct Probe {
    bool valid = false;
    int width = 0, height = 0;
    double duration = 0;
    bool sound = false;
};

Probe probe(const std::string &file, const fs::path &scratch)
{
    const ToolRun r = shell("ffprobe -v error -show_entries stream=codec_name,width,height:format=duration,format_name"
                        " -of default=noprint_wrappers=1 " + quote(file), scratch);
    Probe p;
    p.valid = r.rc == 0 && r.err.empty();
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) {
        const auto eq = line.find('=');
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "width")
            p.width = std::stoi(value);
        else if (key == "height")
            p.height = std::stoi(value);
        else if (key == "duration")
            p.duration = std::stod(value);
        else if (key == "codec_name" && value == "aac")
            p.sound = true;
        else if (key == "codec_name" && value != "h264")
            p.valid = false;
    }
    return p;
}

// The frame code of each picture of a clip in the columns [x0, x0 + w).
std::vector<int> frameCodes(const std::string &file, int width, int height, int x0, int w)
{
    std::vector<int> codes;
    const std::string command = "ffmpeg -v error -i " + quote(file) + " -f rawvideo -pix_fmt gray -";
    std::FILE *pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return codes;
    std::vector<std::uint8_t> picture(static_cast<std::size_t>(width) * height);
    while (std::fread(picture.data(), 1, picture.size(), pipe) == picture.size())
        codes.push_back(framecode::decodeFrameNumberLuma(picture.data() + x0, w, height, width));
    ::pclose(pipe);
    return codes;
}

// What a clip's first pictures have to be: the frame shown at In and the
// one shown just before Out (30 fps, from the recording's start).
int frameAt(double seconds) { return static_cast<int>(std::floor(seconds * 30 + 1e-9)); }
int frameBefore(double seconds) { return static_cast<int>(std::ceil(seconds * 30 - 1e-9)) - 1; }

std::vector<std::string> folderNames(const fs::path &folder)
{
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(Clip, EachLayoutIsValidFrameExactAndVerifies)
{
    struct Case {
        const char *layout;
        bool overlay, sound;
        double from, to; // seconds into N_20120305_142233
        int width, height;
        bool rearHalf; // check the rear's own code in the right half (side)
    };
    const Case cases[] = {
        {"front", false, true, 1.25, 4.5, 640, 360, false},
        {"rear", true, false, 2.0, 5.0, 480, 270, false},
        {"side", true, true, 0.5, 3.0, 640 + 640, 360, true}, // the rear scaled to 640x360
        {"pip", false, true, 3.1, 5.9, 640, 360, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.layout);
        TempDir out;
        const auto time = [](double s) {
            char text[64];
            std::snprintf(text, sizeof text, "2012-03-05 14:22:%02d.%03d", 33 + static_cast<int>(s),
                          static_cast<int>(std::lround((s - std::floor(s)) * 1000)));
            return std::string(text);
        };
        std::vector<std::string> args{"clip", "--from", time(c.from), "--to", time(c.to), "--layout", c.layout,
                                      "--out", out.file("clip.mp4"), "--drive", cards().folder};
        if (c.overlay)
            args.push_back("--overlay");
        if (!c.sound)
            args.push_back("--no-audio");
        const ToolRun r = cli(args, out.path());
        ASSERT_EQ(r.rc, 0) << r.err;
        EXPECT_EQ(r.out, out.file("clip.mp4") + "\t" + out.file("clip.mp4.evidence.json") + "\n");

        const Probe p = probe(out.file("clip.mp4"), out.path());
        EXPECT_TRUE(p.valid);
        EXPECT_EQ(p.width, c.width);
        EXPECT_EQ(p.height, c.height);
        EXPECT_NEAR(p.duration, c.to - c.from, kFrame);
        EXPECT_EQ(p.sound, c.sound);
        EXPECT_EQ(shell("ffmpeg -v error -i " + quote(out.file("clip.mp4")) + " -f null -", out.path()).err, "");

        const int frontWidth = c.rearHalf ? 640 : c.width;
        const std::vector<int> codes = frameCodes(out.file("clip.mp4"), c.width, c.height, 0, frontWidth);
        ASSERT_FALSE(codes.empty());
        EXPECT_EQ(codes.front(), frameAt(c.from));
        EXPECT_EQ(codes.back(), frameBefore(c.to));
        EXPECT_EQ(static_cast<int>(codes.size()), frameBefore(c.to) - frameAt(c.from) + 1);
        if (c.rearHalf) {
            const std::vector<int> rear = frameCodes(out.file("clip.mp4"), c.width, c.height, 640, 640);
            EXPECT_EQ(rear, codes);
        }
        const ToolRun v = cli({"verify", out.file("clip.mp4.evidence.json")}, out.path());
        EXPECT_EQ(v.rc, 0) << v.out << v.err;
        EXPECT_NE(v.out.find("clip.mp4\tok\n"), std::string::npos) << v.out;
    }
}

TEST(Clip, SpanAcrossRecordingsOfACardImage)
{
    // From 4 s into the first recording to 2 s into the next: its end,
    // ten seconds no recording covers (black, silent), its start.
    TempDir out;
    const ToolRun r = cli({"clip", "--from", "2012-03-05 14:22:37", "--to", "2012-03-05 14:22:51", "--layout", "side",
                       "--overlay", "--out", out.file("trip.mp4"), "--tavo", cards().image},
                      out.path());
    ASSERT_EQ(r.rc, 0) << r.err;
    const Probe p = probe(out.file("trip.mp4"), out.path());
    EXPECT_TRUE(p.valid);
    EXPECT_NEAR(p.duration, 14.0, kFrame);
    EXPECT_TRUE(p.sound);
    const std::vector<int> codes = frameCodes(out.file("trip.mp4"), 1280, 360, 0, 640);
    ASSERT_EQ(codes.size(), 14u * 30);
    EXPECT_EQ(codes.front(), 120);
    EXPECT_EQ(codes[59], 179); // the first recording's last picture
    EXPECT_EQ(codes[60], -1);  // black
    EXPECT_EQ(codes[359], -1);
    EXPECT_EQ(codes[360], 0); // the next recording's first
    EXPECT_EQ(codes.back(), 59);
    const std::vector<int> rear = frameCodes(out.file("trip.mp4"), 1280, 360, 640, 640);
    EXPECT_EQ(rear, codes);

    // The card file is found on the card it was read from.
    const ToolRun v = cli({"verify", out.file("trip.mp4.evidence.json")}, out.path());
    EXPECT_EQ(v.rc, 0) << v.err;
    EXPECT_EQ(v.out, "trip.mp4\tok\nN_20120305_142233_2CH_F.tavo\tok\nE_20120305_142249_2CH_F.tavo\tok\n");
}

TEST(Clip, EvidenceReportsChangedAndMissingFiles)
{
    TempDir dir;
    const std::string card = dir.file("card");
    fs::copy(cards().folder, card, fs::copy_options::recursive);
    fs::create_directory(dir.file("out"));
    const std::string clip = dir.file("out/c.mp4"), evidence = clip + ".evidence.json";
    ASSERT_EQ(cli({"clip", "--from", "2012-03-05 14:22:34", "--to", "2012-03-05 14:22:36", "--layout", "side", "--out",
                   clip, "--drive", card},
                  dir.path())
                  .rc,
              0);
    const std::string front = card + "/NOR/N_20120305_142233_2CH_F.avi";
    // The rear file's name has its own second.
    std::string rearName;
    for (const std::string &name : folderNames(card + "/NOR"))
        if (name.rfind("N_20120305_14223", 0) == 0 && name.find("_R.avi") != std::string::npos)
            rearName = name;
    const auto lines = [&](const char *clipState, const char *frontState) {
        return std::string("c.mp4\t") + clipState + "\nN_20120305_142233_2CH_F.avi\t" + frontState + "\n" + rearName
               + "\tok\n";
    };
    const std::string all = lines("ok", "ok");
    EXPECT_EQ(cli({"verify", evidence}, dir.path()).out, all);

    const auto flip = [](const std::string &path, std::int64_t at) {
        std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
        f.seekg(at);
        const char c = static_cast<char>(f.get());
        f.seekp(at);
        f.put(static_cast<char>(c ^ 0x01));
    };
    flip(clip, 1000);
    ToolRun v = cli({"verify", evidence}, dir.path());
    EXPECT_EQ(v.rc, 1);
    EXPECT_EQ(v.out, lines("changed", "ok"));
    flip(clip, 1000);

    flip(front, static_cast<std::int64_t>(fs::file_size(front) / 2));
    v = cli({"verify", evidence}, dir.path());
    EXPECT_EQ(v.rc, 1);
    EXPECT_EQ(v.out, lines("ok", "changed"));
    // An intact copy in the folder given is found there.
    v = cli({"verify", evidence, "--sources", cards().folder}, dir.path());
    EXPECT_EQ(v.rc, 0);
    EXPECT_EQ(v.out, all);

    fs::remove(front);
    v = cli({"verify", evidence}, dir.path());
    EXPECT_EQ(v.rc, 1);
    EXPECT_EQ(v.out, lines("ok", "missing"));
    // Beside the clip counts as well.
    fs::copy(cards().folder + "/NOR/N_20120305_142233_2CH_F.avi", dir.file("out/N_20120305_142233_2CH_F.avi"));
    EXPECT_EQ(cli({"verify", evidence}, dir.path()).out, all);
}

TEST(Clip, RefusalsWriteNothing)
{
    TempDir dir;
    const std::string folder = dir.file("out");
    fs::create_directory(folder);
    const std::string clip = folder + "/c.mp4";
    const std::string open = dir.file("open");
    fs::create_directory(open);
    fs::permissions(open, fs::perms::all); // others may write, not sticky
    testing::TempDir scratch;
    std::ofstream(folder + "/old.mp4") << "x";
    struct Case {
        std::string from, to, out;
        std::vector<std::string> extra;
        std::string says;
    };
    const std::vector<Case> cases{
        {"2012-03-05 14:22:36", "2012-03-05 14:22:36", clip, {}, "Out is not after In"},
        {"2012-03-05 14:22:36", "2012-03-05 14:22:35", clip, {}, "Out is not after In"},
        {"2013-01-01 00:00:00", "2013-01-01 00:01:00", clip, {}, "no recording covers"},
        {"2012-03-05 14:22:34", "2012-03-05 14:22:35", folder + "/old.mp4", {}, "exists (use --force"},
        {"2012-03-05 14:22:34", "2012-03-05 14:22:35", dir.file("none/c.mp4"), {}, "no such folder"},
        {"2012-03-05 14:22:34", "2012-03-05 14:22:35", open + "/c.mp4", {}, "other users may write"},
        {"2012-03-05 14:22:34", "2012-03-05 14:22:35", clip, {"--layout", "rear"}, ""}, // written
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.from + " " + c.to + " " + c.out);
        std::vector<std::string> args{"clip", "--from", c.from, "--to", c.to, "--out", c.out, "--drive", cards().folder};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const ToolRun r = cli(args, scratch.path());
        if (c.says.empty()) {
            EXPECT_EQ(r.rc, 0) << r.err;
            continue;
        }
        EXPECT_EQ(r.rc, 1);
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(folderNames(folder), std::vector<std::string>{"old.mp4"});
        EXPECT_TRUE(fs::is_empty(open));
    }
    // With --force an existing clip is replaced; bad command lines are usage errors.
    EXPECT_EQ(cli({"clip", "--from", "2012-03-05 14:22:34", "--to", "2012-03-05 14:22:35", "--out", clip, "--force",
                   "--drive", cards().folder},
                  scratch.path())
                  .rc,
              0);
    EXPECT_EQ(cli({"clip", "--from", "2012-03-05 14:22:34", "--out", clip, cards().folder}, scratch.path()).rc, 2);
    EXPECT_EQ(cli({"clip", "--from", "yesterday", "--to", "2012-03-05 14:22:35", "--out", clip, cards().folder},
                  scratch.path())
                  .rc,
              1);
    EXPECT_EQ(cli({"verify", dir.file("none.json")}, scratch.path()).rc, 1);
}

// The plan of a span of the folder card, as the command line makes it.
std::optional<ClipPlan> planOf(RecordingCatalogue &catalogue, const std::string &root, const std::string &from,
                               const std::string &to)
{
    for (const char *folder : {"NOR", "EVT", "MOT", "MAN"})
        catalogue.addFolder(folder);
    catalogue.addExtension("AVI");
    StorageSource source;
    source.label = root + "/";
    source.kind = SourceRemovable;
    catalogue.setSources({source});
    if (!catalogue.selectSource(0))
        return std::nullopt;
    NullListView rows;
    catalogue.listAllWithoutRepair(rows);
    std::string error;
    return planClip(catalogue, *parseCameraTime(from), *parseCameraTime(to), nullptr, error);
}

TEST(Clip, CancelFailureAndKillLeaveNothing)
{
    av_log_set_level(AV_LOG_QUIET);
    TempDir dir;
    const std::string card = dir.file("card");
    fs::copy(cards().folder, card, fs::copy_options::recursive);
    const std::string folder = dir.file("out");
    fs::create_directory(folder);
    RecordingCatalogue catalogue;
    const auto plan = planOf(catalogue, card, "2012-03-05 14:22:33", "2012-03-05 14:22:52");
    ASSERT_TRUE(plan);
    ASSERT_EQ(plan->segments.size(), 2u);

    std::atomic<bool> cancel{false};
    double seen = 0;
    ClipOptions options;
    options.layout = Layout::Side;
    const ClipOutcome cancelled = writeClip(*plan, options, folder + "/c.mp4", [&](double f) {
        seen = f;
        if (f > 0.3)
            cancel = true;
    }, &cancel);
    EXPECT_EQ(cancelled.status, ClipStatus::Cancelled);
    EXPECT_GT(seen, 0.3);
    EXPECT_TRUE(fs::is_empty(folder));

    // A recording gone since the plan: the clip fails part-way.
    fs::remove(card + "/EVT/E_20120305_142249_2CH_F.avi");
    const ClipOutcome failed = writeClip(*plan, options, folder + "/c.mp4");
    EXPECT_EQ(failed.status, ClipStatus::Failed);
    EXPECT_NE(failed.message.find("E_20120305_142249_2CH_F.avi"), std::string::npos) << failed.message;
    EXPECT_TRUE(fs::is_empty(folder));

    // Killed: only its temporary file is left, and the next clip into the folder removes it.
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execl((kBin + "korvante-cli").c_str(), "korvante-cli", "clip", "--from", "2012-03-05 14:22:33", "--to",
                "2012-03-05 14:22:39", "--layout", "side", "--out", (folder + "/k.mp4").c_str(), "--drive",
                cards().folder.c_str(), static_cast<char *>(nullptr));
        ::_exit(127);
    }
    for (int i = 0; i < 200 && fs::is_empty(folder); ++i)
        ::usleep(10'000);
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    for (const std::string &name : folderNames(folder))
        EXPECT_EQ(name.back(), 't') << name; // ".k.mp4.PID-N.part"
    ASSERT_EQ(cli({"clip", "--from", "2012-03-05 14:22:34", "--to", "2012-03-05 14:22:35", "--out", folder + "/n.mp4",
                   "--drive", cards().folder},
                  dir.path())
                  .rc,
              0);
    EXPECT_EQ(folderNames(folder), (std::vector<std::string>{"n.mp4", "n.mp4.evidence.json"}));
}

TEST(Clip, SegmentsFollowTheRecordingShownAndSkipGaps)
{
    const CameraTime t0 = *parseCameraTime("2012-03-05 14:00:00");
    const auto at = [&](double s) { return t0 + std::chrono::milliseconds{std::llround(s * 1000)}; };
    const auto recording = [&](double start, double length) {
        ClipRecording r;
        r.start = at(start);
        r.lengthMs = std::llround(length * 1000);
        return r;
    };
    // 0: 0-60 s, 1: 60-120 s, 2: an event recording 50-70 s inside both, 3: 150-160 s after a gap.
    const std::vector<ClipRecording> recordings{recording(0, 60), recording(60, 60), recording(50, 20),
                                                recording(150, 10)};
    struct Case {
        double in, out;
        std::vector<std::tuple<std::size_t, double, double>> segments;
    };
    const Case cases[] = {
        {10, 20, {{0, 10, 20}}},
        {55, 65, {{0, 55, 60}, {2, 60, 65}}},          // 0 goes on to its end, then the earliest started
        {64, 80, {{2, 64, 70}, {1, 70, 80}}},          // 2 shown first (started earlier), then 1
        {30, 40, {{0, 30, 35}, {0, 35, 40}}},          // merged: one segment
        {110, 155, {{1, 110, 120}, {3, 150, 155}}},    // the gap 120-150 is no segment
        {125, 145, {}},                                // nothing covers it
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.in);
        const std::vector<ClipSegment> got = segmentsOf(recordings, at(c.in), at(c.out));
        std::vector<std::tuple<std::size_t, double, double>> want;
        for (const auto &[r, from, to] : c.segments)
            if (!want.empty() && std::get<0>(want.back()) == r && std::get<2>(want.back()) == from)
                std::get<2>(want.back()) = to;
            else
                want.emplace_back(r, from, to);
        ASSERT_EQ(got.size(), want.size());
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].recording, std::get<0>(want[i]));
            EXPECT_EQ(got[i].from, at(std::get<1>(want[i])));
            EXPECT_EQ(got[i].to, at(std::get<2>(want[i])));
        }
    }
}

TEST(Clip, EvidenceFileRoundTripsAndOthersAreRefused)
{
    Evidence e;
    e.clipName = "clip.mp4";
    e.clipSize = 1234;
    e.clipSha256 = std::string(64, 'a');
    e.in = "2012-03-05 14:22:33.000";
    e.out = "2012-03-05 14:22:43.500";
    e.program = programName();
    e.layout = "pip";
    e.overlay = true;
    e.sound = true;
    e.quality = "half";
    e.speedUnit = "mph";
    e.videoBitRate = 6'000'000;
    e.encoder = "libx264 veryfast";
    e.width = 1920;
    e.height = 1080;
    e.sources.push_back({"front and rear", "N_20120305_142233_2CH_F.tavo", "/NOR/N_20120305_142233_2CH_F.tavo",
                         "/dev/sdb", 99, std::string(64, 'b'), {{0, 500}, {700, 900}}});
    std::string error;
    const auto back = parseEvidence(evidenceJson(e), error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(evidenceJson(*back), evidenceJson(e));
    EXPECT_EQ(back->sources.at(0).parts.at(1).toMs, 900);
    EXPECT_EQ(back->program.rfind("KORVANTE VIEWER ", 0), 0u);
    for (const std::string &bad : {std::string("{"), std::string("[]"), std::string("{\"evidence\": \"report\"}"),
                                   std::string("{\"evidence\": \"clip\", \"version\": 1, \"clip\": {\"name\": \"../x\"}}")}) {
        EXPECT_FALSE(parseEvidence(bad, error)) << bad;
        EXPECT_FALSE(error.empty());
    }
}

TEST(Clip, OverlayBandFitsSmallAndLargePictures)
{
    for (const auto &[w, h, lines, scale] : {std::tuple{1920, 1080, 1, 4}, std::tuple{1280, 720, 1, 2},
                                              std::tuple{320, 240, 2, 1}, std::tuple{3840, 1080, 1, 4}}) {
        const OverlayPainter painter(w, h, 0);
        OverlayValues v;
        v.time = *parseCameraTime("2012-03-05 14:22:33.900");
        v.speedKmh = 87.6f;
        v.totalG = 1.234f;
        v.latitude = -37.5;
        v.longitude = 126.978;
        const auto text = painter.lines(v);
        EXPECT_EQ(static_cast<int>(text.size()), lines) << w << "x" << h;
        EXPECT_EQ(painter.scale(), scale) << w << "x" << h;
        EXPECT_EQ(text.front().substr(0, 19), "2012-03-05 14:22:33");
        EXPECT_NE(text.back().find("-37.500000, 126.978000"), std::string::npos);
        EXPECT_NE(text.front().find("88 km/h"), std::string::npos);
        EXPECT_NE(text.front().find("1.23 g"), std::string::npos);
    }
    EXPECT_EQ(proposedClipName(*parseCameraTime("2012-03-05 14:22:33.900")), "clip_20120305_142233.mp4");
    EXPECT_FALSE(parseCameraTime("2012-02-30 10:00:00"));
    EXPECT_FALSE(parseCameraTime("2012-03-05 14:22:33."));
    EXPECT_EQ(cameraTimeMsText(*parseCameraTime("2012-03-05 14:22:33.25")), "2012-03-05 14:22:33.250");
    EXPECT_EQ(speedText(100.0f, 1), "62 mph");
    EXPECT_EQ(speedText(std::nullopt, 2), "-- kn");
}

} // namespace
} // namespace korvante::clip
