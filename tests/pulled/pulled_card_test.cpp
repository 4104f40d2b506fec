// A card pulled out while the viewer reads it: its files removed, cut short or
// replaced, its image file gone, or every read failing as a vanished device's
// do. Whatever the moment, the viewer stops that piece of work with a reason,
// stays usable for the next card, and writes nothing.

#include "catalogue_fixture.h"
#include "fake_machine.h"
#include "playback_fixture.h"

#include "core/recording/byte_source.h"
#include "core/playback/media_engine.h"
#include "core/playback/stream_parse_filter.h"
#include "core/storage/export_entry.h"
#include "core/storage/recording_repair.h"
#include "support/log_capture.h"
#include "tavo/tavo.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <thread>

namespace korvante {
namespace {

namespace fs = std::filesystem;
using namespace korvante::testing;

enum class Pull { Removed, Emptied, CutShort, NowAFolder, CardGone };

const char *nameOf(Pull p)
{
    switch (p) {
    case Pull::Removed: return "removed";
    case Pull::Emptied: return "emptied";
    case Pull::CutShort: return "cut short";
    case Pull::NowAFolder: return "now a folder";
    case Pull::CardGone: return "card gone";
    }
    return "";
}

// What `path` turns into when the card goes while it is being read.
void pull(const fs::path &path, Pull how)
{
    switch (how) {
    case Pull::Removed: fs::remove(path); break;
    case Pull::Emptied: fs::resize_file(path, 0); break;
    case Pull::CutShort: fs::resize_file(path, fs::file_size(path) / 3); break;
    case Pull::NowAFolder: fs::remove(path); fs::create_directory(path); break;
    case Pull::CardGone: fs::remove_all(path.parent_path().parent_path()); break;
    }
}

// Every file below `root` with its size: what the viewer must leave as it found it.
std::map<std::string, std::uintmax_t> treeOf(const fs::path &root)
{
    std::map<std::string, std::uintmax_t> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
        out[it->path().string()] = it->is_regular_file() ? it->file_size() : 0;
    return out;
}

TEST(PulledCard, ListingSearchingAndRepairingAFolderCardStopCleanly)
{
    for (Pull how : {Pull::Removed, Pull::Emptied, Pull::CutShort, Pull::NowAFolder, Pull::CardGone}) {
        SCOPED_TRACE(nameOf(how));
        LogCapture log;
        TempDir dir;
        const fs::path card = dir.path() / "card";
        const auto kept = writeRecording(card / "NOR", "N_20240105_101010_1CH_F.avi", 80);
        const auto finished = writeRecording(card / "NOR", "N_20240105_102020_1CH_F.avi", 90);
        const auto unfinished = writeRecording(card / "EVT", "E_20240105_103030_1CH_F.avi", std::nullopt, true);
        RecordingCatalogue c;
        configureCameraFolders(c);
        ASSERT_TRUE(selectDrive(c, card));
        ASSERT_EQ(c.entries().size(), 3u);

        // The scan has listed the card; it goes before the list is filled.
        pull(finished, how);
        if (how != Pull::CardGone)
            pull(unfinished, how);
        const auto before = treeOf(dir.path());
        RowsView rows;
        c.listAll(rows); // repairs what it can open; every row is a name the scan saw
        EXPECT_EQ(treeOf(dir.path()), before) << "the fill wrote to a card that went";

        SearchCriteria all;
        all.start = 0;
        all.end = INT64_MAX;
        RowsView found;
        const int hits = c.searchAll(found, all);
        EXPECT_EQ(treeOf(dir.path()), before);
        EXPECT_EQ(hits, how == Pull::CardGone ? 0 : 1) << "only the recording still there has a speed";

        // The next card (here: the same one put back) lists in full.
        for (const auto &p : {kept, finished, unfinished})
            fs::remove_all(p);
        writeRecording(card / "NOR", "N_20240105_101010_1CH_F.avi", 80);
        writeRecording(card / "NOR", "N_20240105_102020_1CH_F.avi", 90);
        ASSERT_TRUE(c.rescanSelected());
        RowsView again;
        EXPECT_EQ(c.listAll(again), 2);
    }
}

// Runs `work` in a child process whose writes at or past byte `limit` of a
// file fail (EFBIG, its signal ignored), as writes to a card that is going
// away fail part-way; returns the child's exit code.
int withWritesFailingFrom(uint64_t limit, const std::function<int()> &work)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit r{};
        ::getrlimit(RLIMIT_FSIZE, &r);
        r.rlim_cur = limit;
        ::setrlimit(RLIMIT_FSIZE, &r);
        setLogSink([](LogLevel, std::string_view) {});
        ::_exit(work());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

// A repair that cannot finish: its writes fail at points of the zero fill
// (`from` bytes past the cut chunk's 8-byte head), or its file is cut or
// removed between the walk and the writes. The failure is reported with its
// reason; the file stays unfinished with nothing before the zeros changed,
// a cut one is not grown again, and the next listing repairs it exactly as
// one uninterrupted repair would have.
TEST(PulledCard, ARepairStoppedPartWayIsReportedAndFinishedByTheNextListing)
{
    enum Gone { Not, CutShort, Removed };
    const std::pair<uint64_t, Gone> cases[] = {{0, Not}, {1, Not}, {kRepairZeroBlock + 3, Not}, {600'000, Not},
                                               {0, CutShort}, {0, Removed}};
    for (const auto &[from, gone] : cases) {
        SCOPED_TRACE(std::to_string(from) + (gone == Not ? "" : gone == CutShort ? " cut short" : " removed"));
        LogCapture log;
        TempDir dir;
        const fs::path card = dir.path() / "card", path = card / "EVT" / "E_20240105_103030_1CH_F.avi";
        fs::create_directories(path.parent_path());
        // Old bytes of more than two zero blocks after the cut chunk.
        const Bytes original = buildUnfinished(layoutOf(typicalChunks(6, 300)), 50, Bytes(700'000, 0x5C)).bytes;
        writeAll(path, original);
        std::FILE *f = std::fopen(path.c_str(), "rb+");
        const RepairPlan plan = planRepair(f);
        ASSERT_TRUE(plan.repairable);
        const uint64_t kept = plan.zeroFillStart + (gone == CutShort ? 4 : 8);
        if (gone == Not) {
            std::fclose(f);
            EXPECT_EQ(withWritesFailingFrom(plan.zeroFillStart + 8 + from, [&card] {
                RecordingCatalogue c;
                configureCameraFolders(c);
                RowsView rows;
                const bool listed = selectDrive(c, card) && c.listAll(rows) == 1;
                const auto &failed = c.failedRepairs();
                return listed && failed.size() == 1 && failed[0].find("File too large") != std::string::npos ? 0 : 1;
            }), 0) << "the failed repair was not reported with its reason";
            EXPECT_FALSE(isIntact(path.string())) << "marked repaired before its zeros were written";
        } else {
            gone == Removed ? void(fs::remove(path)) : fs::resize_file(path, kept);
            std::string why;
            EXPECT_FALSE(applyRepair(f, plan, &why));
            EXPECT_FALSE(why.empty());
            std::fclose(f);
            if (gone == Removed)
                continue;
            EXPECT_EQ(fs::file_size(path), kept);
        }
        const Bytes after = readAll(path);
        ASSERT_GE(after.size(), kept);
        EXPECT_TRUE(std::equal(original.begin(), original.begin() + static_cast<long>(kept), after.begin()));
        if (gone == CutShort)
            writeAll(path, original); // the card back with the whole file

        RecordingCatalogue c;
        configureCameraFolders(c);
        ASSERT_TRUE(selectDrive(c, card));
        RowsView rows;
        EXPECT_EQ(c.listAll(rows), 1);
        EXPECT_TRUE(c.failedRepairs().empty());
        Bytes repaired = original;
        std::memcpy(repaired.data(), "RIFF", 4);
        putLe32(repaired, 4, static_cast<uint32_t>(original.size() - 8));
        std::fill(repaired.begin() + static_cast<long>(plan.zeroFillStart), repaired.end(), 0);
        EXPECT_TRUE(readAll(path) == repaired) << "not the bytes of one whole repair";
    }
}

fs::path copyOf(const std::string &from, const fs::path &folder)
{
    const fs::path to = folder / fs::path(from).filename();
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    return to;
}

// Reads that fail from the moment `gone` is set, as those of a device that
// went away: the ones already open and any opened afterwards.
class VanishingSource final : public ByteSource {
public:
    VanishingSource(std::unique_ptr<ByteSource> inner, const std::atomic<bool> &gone)
        : m_inner(std::move(inner)), m_gone(gone) {}
    std::int64_t size() const override { return m_inner->size(); }
    std::int64_t readAt(std::int64_t offset, void *buffer, std::int64_t length) override
    {
        return m_gone ? -1 : m_inner->readAt(offset, buffer, length);
    }

private:
    std::unique_ptr<ByteSource> m_inner;
    const std::atomic<bool> &m_gone;
};

enum class PlayPull { ReadsFail, Emptied, Removed };

TEST(PulledCard, PlaybackOfAPulledRecordingEndsAndTheNextOnePlays)
{
    for (PlayPull how : {PlayPull::ReadsFail, PlayPull::Emptied, PlayPull::Removed}) {
        SCOPED_TRACE(static_cast<int>(how));
        LogCapture log;
        const TempDir dir;
        const auto &rec = sampleCard().finished.front();
        const fs::path front = copyOf(rec.front, dir.path());
        const fs::path rear = copyOf(rec.rear, dir.path());
        static std::atomic<bool> gone{false};
        gone = false;
        setByteSourceWrapper([](std::unique_ptr<ByteSource> s) -> std::unique_ptr<ByteSource> {
            return std::make_unique<VanishingSource>(std::move(s), gone);
        });

        RecordingWindow frontWindow, rearWindow;
        MediaEngine engine;
        engine.AttachScreens(&frontWindow, &rearWindow);
        ASSERT_EQ(engine.Open(front.string(), rear.string()), 1);
        engine.SetRate(2.0f);
        ASSERT_EQ(engine.Play(), S_OK);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        switch (how) {
        case PlayPull::ReadsFail: gone = true; break;
        case PlayPull::Emptied: fs::resize_file(front, 0); fs::resize_file(rear, 0); break;
        case PlayPull::Removed: fs::remove(front); fs::remove(rear); break;
        }
        // The engine keeps answering while the decoders meet the end of what is left.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (engine.GetPositionMs() < engine.GetDurationMs() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(engine.GetPositionMs(), engine.GetDurationMs());
        // Both a failed read and a file cut under the reader are told from the end of the recording.
        EXPECT_EQ(engine.ReadFailed(), how != PlayPull::Removed);
        EXPECT_EQ(log.contains("cannot be read any more"), how != PlayPull::Removed);
        EXPECT_EQ(engine.Stop(), 1);
        // Opening the pulled recording again fails with a reason; a good one plays.
        gone = false;
        setByteSourceWrapper({});
        if (how != PlayPull::ReadsFail) {
            StreamParseFilter filter("again");
            EXPECT_NE(filter.Load(front.string()), S_OK);
            EXPECT_FALSE(filter.loadError().empty());
        }
        const auto &next = sampleCard().finished[1];
        ASSERT_EQ(engine.Open(next.front, next.rear), 1);
        ASSERT_EQ(engine.Play(), S_OK);
        ASSERT_EQ(engine.Pause(), S_OK);
        QImage picture;
        EXPECT_EQ(engine.GrabFrame(0, picture), 1);
        EXPECT_EQ(engine.Close(), 1);
    }
}

TEST(PulledCard, ACardImageThatGoesEndsReadsThroughTheCardLibrary)
{
    for (Pull how : {Pull::Removed, Pull::Emptied, Pull::CutShort, Pull::NowAFolder}) {
        SCOPED_TRACE(nameOf(how));
        LogCapture log;
        log.expectError("");
        const std::string folder = tempFolder();
        const fs::path image = fs::path(folder) / "card.img";
        ASSERT_TRUE(runMkcard({"--image", image.string(), "--per-kind", "1", "--seconds", "1", "--size", "160x120",
                               "--fps", "5", "--audio", "pcm", "--channels", "2", "--seed", "3"}));
        RecordingCatalogue c;
        configureCameraFolders(c);
        StorageSource s;
        s.kind = SourceTavo;
        s.label = "/media/card/ (TAVO)";
        setText64(s.devicePath, image.string());
        c.setSources({s});
        ASSERT_TRUE(c.selectSource(0));
        ASSERT_FALSE(c.entries().empty());
        const RecordingEntry entry = c.entries().front();
        unsigned char *device = c.cardDevice();
        ASSERT_NE(device, nullptr);

        pull(image, how);
        RowsView rows;
        c.listAll(rows);
        // A recording of the card that went cannot be loaded: a reason, no crash.
        StreamParseFilter filter("card");
        filter.SetSource(reinterpret_cast<std::intptr_t>(device), entry.cardFileId);
        const HResult loaded = filter.Load(c.cardPathOf(entry));
        // The open image of a card whose file was unlinked or replaced still
        // reads (the descriptor keeps the old file); a cut one does not.
        const bool cut = how == Pull::Emptied || how == Pull::CutShort;
        EXPECT_EQ(loaded != S_OK, cut);
        if (loaded != S_OK) {
            EXPECT_FALSE(filter.loadError().empty());
        }
        // Scanning the card again finds it gone, or what is left of it.
        if (how == Pull::CutShort) {
            c.rescanSelected();
        } else {
            EXPECT_FALSE(c.rescanSelected());
            EXPECT_TRUE(c.entries().empty());
            EXPECT_EQ(c.cardDevice(), nullptr);
        }
    }
}

// The card's disk leaves the fake machine (unmounted, its image gone) while
// its recordings are listed: the drive list no longer offers it, and a new
// scan of the selected card lists nothing instead of rows that cannot play.
TEST(PulledCard, ADiskThatLeavesTheMachineIsNoLongerOfferedOrListed)
{
    LogCapture log;
    TempDir dir;
    FakeMachine machine(dir.path() / "root");
    SysrootScope scope(machine.root());
    machine.addDisk("sda", false, 1 << 20);
    machine.mountRoot("sda", 1);
    const fs::path image = dir.path() / "card.img";
    ASSERT_TRUE(runMkcard({"--image", image.string(), "--per-kind", "1", "--seconds", "1", "--size", "160x120",
                           "--fps", "5", "--audio", "none", "--channels", "1", "--seed", "5"}));
    machine.addDisk("sdd", true, fs::file_size(image) / 512, image);
    machine.mount("sdd", 1, "/media/card");
    RecordingCatalogue c;
    configureCameraFolders(c);
    ASSERT_EQ(c.enumerateSources(), 2);
    ASSERT_EQ(c.sourceAt(0)->kind, SourceTavo);
    ASSERT_TRUE(c.selectSource(0));
    ASSERT_FALSE(c.entries().empty());

    machine.unmountDisk("sdd");
    fs::remove(image);
    RowsView rows;
    c.listAll(rows);
    EXPECT_EQ(c.enumerateSources(), 1);
    EXPECT_EQ(c.sourceAt(0)->kind, SourceComputer);
    EXPECT_FALSE(c.rescanSelected());
    EXPECT_TRUE(c.entries().empty());
}

// Export of a card recording whose card goes: before the first block (the
// image cut under the open device) and after some bytes (every read after
// the first failing). Neither leaves a file in the save folder, and a file
// already under the final name stays as it was.
TEST(PulledCard, AnExportCutOffByAPulledCardLeavesNothingBehind)
{
    LogCapture log;
    log.expectError("");
    const std::string folder = tempFolder();
    const fs::path image = fs::path(folder) / "card.img";
    ASSERT_TRUE(runMkcard({"--image", image.string(), "--per-kind", "1", "--seconds", "1", "--size", "160x120",
                           "--fps", "5", "--audio", "pcm", "--channels", "2", "--seed", "4"}));
    const fs::path saveFolder = fs::path(folder) / "saved";
    fs::create_directories(saveFolder);
    const std::string output = (saveFolder / "N_old.avi").string();
    const std::string old = "an earlier export";
    {
        std::ofstream(output, std::ios::binary) << old;
    }
    const auto savedTree = [&] { return treeOf(saveFolder); };
    const auto before = savedTree();

    // Some bytes, then the device is gone.
    int calls = 0;
    const ExportReader failing = [&calls](unsigned char *buffer, size_t size) -> int64_t {
        if (calls++ > 0)
            return -1;
        const size_t n = std::min<size_t>(size, 600);
        std::memcpy(buffer, "RIFF\0\0\0\0AVI LIST", std::min<size_t>(n, 16));
        return static_cast<int64_t>(n);
    };
    EntryExportResult r = exportToFile(failing, output);
    EXPECT_FALSE(r.ok());
    EXPECT_FALSE(r.message.empty());
    EXPECT_EQ(savedTree(), before);

    // The card image cut while its device is open.
    std::vector<unsigned char> device(VX_TAVO_DEVICE_BLOCK_SIZE, 0);
    ASSERT_EQ(VX_Tavo_Device_Open(image.c_str(), VX_TAVO_OPEN_MODE, device.data()), 0);
    const CardRecord record = firstCardRecord(device.data(), "NOR");
    ASSERT_FALSE(record.name.empty());
    fs::resize_file(image, 4096);
    r = exportCardFile(device.data(), "/NOR/" + record.name, record.id, output);
    EXPECT_FALSE(r.ok());
    EXPECT_FALSE(r.message.empty());
    EXPECT_EQ(savedTree(), before);
    VX_Tavo_Device_Close(device.data());
    std::ifstream in(output, std::ios::binary);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()), old);
}

} // namespace
} // namespace korvante
