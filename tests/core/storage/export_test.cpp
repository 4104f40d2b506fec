// The export walk on recordings built byte by byte, the rate arithmetic, and
// the output file's temporary name, refusal and clean-up.

#include "avi_check.h"
#include "catalogue_fixture.h"
#include "core/storage/export_entry.h"
#include "core/storage/export_header.h"
#include "support/log_capture.h"
#include "support/small_card.h"
#include "tavo/tavo_writer.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <tuple>

namespace korvante {
namespace {

namespace fs = std::filesystem;
using namespace korvante::testing;

Bytes exported(const Bytes &input, ExportResult *result = nullptr, size_t block = kExportBlockSize)
{
    MemoryExportWriter out;
    const ExportResult r = exportRecordingBytes(input, out, nullptr, block);
    if (result)
        *result = r;
    return out.bytes;
}

std::vector<std::string> filesIn(const fs::path &folder)
{
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(ExportWalk, UnfinishedRecordingsGetAFullIndexOfTheirWholeChunks)
{
    const Bytes old(3000, 0x5C);
    struct Case {
        const char *what;
        size_t chunks;
        uint32_t firstSize;
        size_t cutInto; // bytes of the last chunk written, header included
        Bytes after;
        size_t expected; // index entries
    } cases[] = {
        {"cut chunk, then old bytes", 10, 1000, 50, old, 9},
        {"more chunks than 8399", 9000, 16, 12, old, 8999},
        {"ends on a whole chunk", 10, 1000, 8 + 1333 + 1, {}, 10},
        {"last chunk runs past the end", 10, 1000, 50, {}, 9},
        {"cut inside the last chunk's header", 10, 1000, 5, {}, 9},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<MovieChunk> chunks = typicalChunks(c.chunks, c.firstSize);
        if (c.chunks > 100) // small chunks: typicalChunks grows each one
            for (auto &chunk : chunks)
                chunk.size = c.firstSize + (chunk.size & 7);
        const BuiltRecording in = buildUnfinished(layoutOf(chunks), c.cutInto, c.after);
        ExportResult r;
        const Bytes out = exported(in.bytes, &r, 4093);
        ASSERT_EQ(r.outcome, ExportOutcome::Rebuilt) << r.message;
        const AviLayout avi = walkAvi(out);
        ASSERT_EQ(avi.problem, "");
        EXPECT_EQ(r.indexEntries, c.expected);
        size_t entries = 0;
        for (const auto &[id, n] : avi.indexCounts)
            entries += n;
        EXPECT_EQ(entries, c.expected);
        EXPECT_EQ(compareExceptBlanked(in.bytes, out, avi.moviId + 4, avi.moviEnd, {}), "");
    }
}

TEST(ExportWalk, PrivateRecordsAreBlankedInMetadataChunksOnly)
{
    BuiltRecording in = buildRecording(layoutOf(typicalChunks(9, 40)));
    auto place = [&](size_t chunk, size_t at, const char *tag, uint16_t length) {
        const size_t p = in.chunkOffsets[chunk] + 8 + at;
        std::memcpy(in.bytes.data() + p, tag, 4);
        in.bytes[p + 4] = static_cast<unsigned char>(length);
        in.bytes[p + 5] = static_cast<unsigned char>(length >> 8);
        return p;
    };
    const size_t model = place(2, 4, "QXMS", 10);     // 02tx: blanked, 18 bytes
    const size_t journal = place(5, 4, "QXDJ", 900);  // 02tx: blanked to its chunk's end only
    const size_t video = place(3, 8, "QXMS", 10);     // 00dc: left alone
    const size_t sound = place(4, 0, "QXDJ", 4);      // 01wb: left alone
    ExportResult r;
    const Bytes out = exported(in.bytes, &r, 5);
    ASSERT_EQ(r.outcome, ExportOutcome::Copied);
    EXPECT_EQ(r.blankedRecords, 2u);
    const size_t journalEnd = in.chunkOffsets[5] + 8 + (40 + 37 * 5);
    EXPECT_EQ(compareExceptBlanked(in.bytes, out, 0, in.bytes.size(),
                                   {{model, model + 18, 'M'}, {journal, journalEnd, 'D'}}),
              "");
    EXPECT_EQ(out[video], 'Q');
    EXPECT_EQ(out[sound], 'Q');
}

TEST(ExportWalk, WhatIsNotARecordingIsRefused)
{
    Bytes noMovie = buildRecording(layoutOf(typicalChunks(3))).bytes;
    std::memcpy(noMovie.data() + 12 + 8 + 4 + 180 + 8, "mova", 4);
    Bytes wave = buildRecording(layoutOf(typicalChunks(3))).bytes;
    std::memcpy(wave.data() + 8, "WAVE", 4);
    const std::string text = "hello";
    for (const Bytes &input : {Bytes{}, Bytes(text.begin(), text.end()), noMovie, wave}) {
        ExportResult r;
        exported(input, &r);
        EXPECT_EQ(r.outcome, ExportOutcome::NotAvi) << input.size();
        EXPECT_FALSE(r.message.empty());
    }
}

TEST(ExportRates, CorrectionFollowsTheCountsAndSkipsUnusableRates)
{
    using export_detail::Rates;
    struct Case {
        Rates in;
        uint32_t f, r, t;
        std::optional<Rates> out;
    } cases[] = {
        {{30000, 30000, 11000}, 59, 59, 22, Rates{30000, 30000, 11090}},
        {{30000, 15000, 10000}, 300, 140, 95, Rates{30429, 14208, 10000}},
        {{0, 30000, 11000}, 59, 59, 22, std::nullopt},
        {{30000, 999, 11000}, 59, 59, 22, std::nullopt},
        {{30000, 30000, 0}, 59, 59, 22, std::nullopt},
        {{30000, 30000, 1000}, 59, 59, 5000000, std::nullopt}, // beyond a 32-bit rate
    };
    for (const auto &c : cases) {
        const auto got = export_detail::correctRates(c.in, c.f, c.r, c.t);
        ASSERT_EQ(got.has_value(), c.out.has_value()) << c.in.front << " " << c.in.rear << " " << c.in.text;
        if (got) {
            EXPECT_EQ(got->front, c.out->front);
            EXPECT_EQ(got->rear, c.out->rear);
            EXPECT_EQ(got->text, c.out->text);
        }
    }
}

TEST(ExportNames, CardNamesBecomeAviNamesInTheFolder)
{
    const std::pair<const char *, const char *> cases[] = {
        {"N_20120305_142233_2CH_F.tavo", "N_20120305_142233_2CH_F.avi"},
        {"E_20120305_142233_1CH_F", "E_20120305_142233_1CH_F.avi"},
        {"clip.v1.tavo", "clip.v1.avi"},
        {".tavo", ".tavo.avi"},
        {"", ""},
        {"..", ""},
        {"../escape.tavo", ""},
    };
    for (const auto &[name, file] : cases)
        EXPECT_EQ(exportFileName(name), file) << name;
}

TEST(ExportFile, OnlyACompleteExportReachesItsName)
{
    TempDir dir;
    const Bytes recording = buildRecording(layoutOf(typicalChunks(6))).bytes;
    const std::string target = (dir.path() / "N.avi").string();
    auto source = [&](int failAfter = -1) {
        return [&recording, failAfter, calls = 0, at = size_t(0)](unsigned char *b, size_t size) mutable -> int64_t {
            if (failAfter >= 0 && calls++ >= failAfter)
                return -1;
            const size_t n = std::min({size, recording.size() - at, size_t(700)});
            std::memcpy(b, recording.data() + at, n);
            at += n;
            return static_cast<int64_t>(n);
        };
    };

    // A read that fails part-way and a cancel leave nothing behind.
    EXPECT_EQ(exportToFile(source(2), target).status, EntryExportStatus::Failed);
    std::atomic<bool> cancel{true};
    ExportOptions cancelled;
    cancelled.cancel = &cancel;
    EXPECT_EQ(exportToFile(source(), target, cancelled).result.outcome, ExportOutcome::Cancelled);
    EXPECT_TRUE(filesIn(dir.path()).empty());

    ASSERT_TRUE(exportToFile(source(), target).ok());
    EXPECT_EQ(readAll(target), recording);
    EXPECT_EQ(filesIn(dir.path()), std::vector<std::string>{"N.avi"});

    // Without overwrite an existing file stays as it is; with it, it is replaced.
    writeAll(target, Bytes(10, 1));
    ExportOptions keep;
    keep.overwrite = false;
    EXPECT_EQ(exportToFile(source(), target, keep).status, EntryExportStatus::Exists);
    EXPECT_EQ(readAll(target), Bytes(10, 1));
    EXPECT_TRUE(exportToFile(source(), target).ok());
    EXPECT_EQ(readAll(target), recording);
    EXPECT_EQ(filesIn(dir.path()), std::vector<std::string>{"N.avi"});

    EXPECT_EQ(exportToFile(source(), (dir.path() / "missing" / "N.avi").string()).status,
              EntryExportStatus::OutputFailed);

    // Temporary files that exports killed before their end left go at the next
    // export into the folder; those of live or locking exports, other names
    // and links stay.
    const pid_t ended = ::fork();
    if (ended == 0)
        ::_exit(0);
    ::waitpid(ended, nullptr, 0);
    const std::string dead = std::to_string(ended), live = std::to_string(::getpid());
    enum Kind { File, Locked, Link };
    const std::tuple<std::string, Kind, bool> cases[] = {
        {".N_1.avi." + dead + "-0.part", File, true},
        {".N_2.avi." + live + "-0.part", File, false}, // its export still runs
        {".N_3.avi." + dead + "-1.part", Locked, false},
        {".N_4.avi." + dead + "-2.part", Link, false},
        {"N_5.avi." + dead + "-0.part", File, false},  // not a name of ours
        {".N_6.avi." + dead + ".part", File, false},
    };
    int lock = -1;
    for (const auto &[name, kind, goes] : cases) {
        if (kind == Link)
            fs::create_symlink(target, dir.path() / name);
        else
            writeAll(dir.path() / name, Bytes(5, 1));
        if (kind == Locked)
            lock = ::open((dir.path() / name).c_str(), O_RDONLY | O_CLOEXEC);
    }
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);
    ASSERT_TRUE(exportToFile(source(), target).ok());
    for (const auto &[name, kind, goes] : cases)
        EXPECT_EQ(fs::exists(fs::symlink_status(dir.path() / name)), !goes) << name;
    EXPECT_EQ(readAll(target), recording);
    ::close(lock); // once its holder lets go, an ended export's file is stale too
    EXPECT_EQ(removeStaleTemporaries(dir.str()), 1);
}

TEST(ExportFile, WritesOnlyTheFileItMadeInAFolderNoOneElseCanChange)
{
    TempDir dir;
    LogCapture log;
    const Bytes recording = buildRecording(layoutOf(typicalChunks(6))).bytes;
    const auto source = [&recording, at = size_t(0)](unsigned char *b, size_t size) mutable -> int64_t {
        const size_t n = std::min({size, recording.size() - at, size_t(700)});
        std::memcpy(b, recording.data() + at, n);
        at += n;
        return static_cast<int64_t>(n);
    };
    const fs::path victim = dir.path() / "victim";
    writeAll(victim, Bytes(4, 9));

    // The temporary file swapped for a link while it is written: the link's
    // target stays as it was, and the link never gets the final name.
    const fs::path swapped = dir.path() / "swapped";
    fs::create_directory(swapped);
    ExportOptions swap;
    swap.progress = [&, done = false](uint64_t) mutable {
        for (const auto &e : fs::directory_iterator(swapped))
            if (!done && e.path().extension() == ".part") {
                fs::remove(e.path());
                fs::create_symlink(victim, e.path());
                done = true;
            }
    };
    const EntryExportResult r = exportToFile(source, (swapped / "N.avi").string(), swap);
    EXPECT_EQ(r.status, EntryExportStatus::OutputFailed) << r.message;
    EXPECT_NE(r.message.find("was replaced"), std::string::npos) << r.message;
    EXPECT_EQ(readAll(victim), Bytes(4, 9));
    EXPECT_FALSE(fs::exists(fs::symlink_status(swapped / "N.avi")));

    // Folders that others may write in are refused unless sticky.
    const std::tuple<fs::perms, bool> folders[] = {
        {fs::perms::all, false},
        {fs::perms::all | fs::perms::sticky_bit, true},
        {fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read, true},
    };
    int n = 0;
    for (const auto &[mode, allowed] : folders) {
        const fs::path folder = dir.path() / ("f" + std::to_string(n++));
        fs::create_directory(folder);
        fs::permissions(folder, mode);
        const EntryExportResult e = exportToFile(source, (folder / "N.avi").string());
        EXPECT_EQ(e.ok(), allowed) << e.message;
        EXPECT_EQ(e.status == EntryExportStatus::UnsafeFolder, !allowed) << e.message;
        EXPECT_EQ(outputFolderProblem(folder.string()).empty(), allowed);
        EXPECT_EQ(filesIn(folder).size(), allowed ? 1u : 0u);
    }

    // A full disk is named as the reason.
    const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(full, 0);
    FileExportWriter writer(full);
    const ExportResult w = exportRecordingBytes(recording, writer);
    ::close(full);
    EXPECT_EQ(w.outcome, ExportOutcome::WriteFailed);
    EXPECT_NE(w.message.find(std::strerror(ENOSPC)), std::string::npos) << w.message;
}

TEST(ExportFile, ACardFileCutShortFailsWithoutOutput)
{
    TempDir dir;
    LogCapture log;
    const fs::path image = dir.path() / "card.img";
    const tavo::CardLayout layout = korvante::testing::smallCardLayout();
    std::string error;
    auto writer = tavo::CardWriter::createImage(image.string(), layout, &error);
    ASSERT_TRUE(writer) << error;
    ASSERT_TRUE(writer->addDirectory("NOR"));
    const Bytes recording = buildRecording(layoutOf(typicalChunks(600, 100))).bytes;
    ASSERT_NE(writer->addFile("NOR", "N_20120305_142233_2CH_F.tavo", 1330957353, recording.data(), recording.size()), 0u);
    ASSERT_TRUE(writer->finish(&error)) << error;

    RecordingCatalogue catalogue;
    configureCameraFolders(catalogue);
    StorageSource s;
    s.kind = SourceTavo;
    setText64(s.devicePath, image.string());
    catalogue.setSources({s});
    ASSERT_TRUE(catalogue.selectSource(0));
    RowsView rows;
    ASSERT_EQ(catalogue.listKind(0, rows), 1);
    const fs::path out = dir.path() / "out";
    fs::create_directories(out);
    EXPECT_EQ(exportEntry(catalogue, 5, out.string()).status, EntryExportStatus::NoEntry);
    ASSERT_TRUE(exportEntry(catalogue, 0, out.string()).ok());
    EXPECT_EQ(readAll(out / "N_20120305_142233_2CH_F.avi"), recording);
    fs::remove(out / "N_20120305_142233_2CH_F.avi");

    // The card loses its end while the device is open: the read fails.
    fs::resize_file(image, 4u << 20);
    const EntryExportResult r = exportEntry(catalogue, 0, out.string());
    EXPECT_FALSE(r.ok());
    EXPECT_FALSE(r.message.empty());
    EXPECT_TRUE(filesIn(out).empty());
}

} // namespace
} // namespace korvante
