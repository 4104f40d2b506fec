// Loading without freezing: a paused screen stays idle, a huge recording's
// load is cancelled by Stop while the user-interface thread goes on, and
// files that are not what their names promise say why they cannot play while
// stepping through the list goes on to the good recording after them.

#include "player_fixture.h"

#include <QCursor>
#include <QTimer>

#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <optional>
#include <random>

namespace korvante::testing {
namespace {

namespace fs = std::filesystem;

// Counts the paint events a widget receives.
class PaintCounter final : public QObject {
public:
    explicit PaintCounter(QWidget *watched) { watched->installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

std::vector<char> readAll(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeAll(const fs::path &path, const std::vector<char> &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Offset of the first chunk of the movie list ("movi" + 4).
size_t firstChunk(const std::vector<char> &bytes)
{
    const std::string text(bytes.begin(), bytes.end());
    const size_t movi = text.find("movi");
    return movi == std::string::npos ? 0 : movi + 4;
}

void putU32(std::vector<char> &bytes, size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + static_cast<size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// An unfinished recording from the sample tool.
fs::path unfinishedSample()
{
    static TempDir dir;
    static fs::path found;
    if (!found.empty())
        return found;
    QProcess mkcard;
    mkcard.start(QString::fromUtf8(KORVANTE_BINARY_DIR "/bin/korvante-mkcard"),
                 {QStringLiteral("--folder"), QString::fromStdString(dir.path().string()), QStringLiteral("--per-kind"),
                  QStringLiteral("1"), QStringLiteral("--unfinished"), QStringLiteral("1"), QStringLiteral("--seconds"),
                  QStringLiteral("4"), QStringLiteral("--size"), QStringLiteral("320x240"), QStringLiteral("--audio"),
                  QStringLiteral("none"), QStringLiteral("--channels"), QStringLiteral("1")});
    if (!mkcard.waitForFinished(300000) || mkcard.exitCode() != 0)
        return found;
    for (const auto &e : fs::directory_iterator(dir.path() / "NOR"))
        found = e.path();
    return found;
}

class PlayerLoadTest : public PlayerTest {
protected:
    // Lists the folder card at `root` in the file list instead of the sample card.
    int listCard(const fs::path &root)
    {
        RecordingCatalogue &catalogue = GetViewerState().catalogue;
        StorageSource source;
        source.label = root.string() + "/";
        source.kind = SourceRemovable;
        catalogue.setSources({source});
        if (!catalogue.selectSource(0))
            return -1;
        TreeListView view(*list);
        return catalogue.listAllWithoutRepair(view);
    }
    fs::path goodRecording() const { return sampleCard() / "NOR" / "N_20120305_143000_1CH_F.avi"; }
};

TEST_F(PlayerLoadTest, APausedScreenReceivesNoFurtherPaints)
{
    front->show();
    rear->show();
    ASSERT_TRUE(openRow(0));
    ASSERT_TRUE(waitFor([&] { return GetViewerState().engine.GetPositionMs() > 300; }));
    click(CPlayerMenuDlg::Play); // pause
    ASSERT_EQ(state(), StatePaused);
    pump();
    QTest::qWait(100); // the repaint of the last frame shown

    PaintCounter frontPanel(front.get()), frontArea(front->videoArea()), rearPanel(rear.get()),
        rearArea(rear->videoArea());
    QTest::qWait(400);
    EXPECT_EQ(frontPanel.count, 0);
    EXPECT_EQ(frontArea.count, 0);
    EXPECT_EQ(rearPanel.count, 0);
    EXPECT_EQ(rearArea.count, 0);

    // A repaint asked for paints once, and only what was asked.
    sendMessage(front.get(), msg::PanelCommand, cmd::RepaintVideo);
    QTest::qWait(200);
    EXPECT_EQ(frontArea.count, 1);
    EXPECT_LE(frontPanel.count, 1);
    EXPECT_EQ(rearArea.count, 0);

    // Playing paints frames again.
    click(CPlayerMenuDlg::Play);
    EXPECT_TRUE(waitFor([&] { return frontArea.count > 5 && rearArea.count > 5; }));
}

TEST_F(PlayerLoadTest, AHugeRecordingWithoutAnIndexPlaysWhileItIsWalkedAndClosingEndsTheWalk)
{
    // An unfinished recording's start followed by gigabytes of chunks: no
    // index, so the load walks the whole file.
    TempDir dir;
    const fs::path root = dir.path() / "card";
    fs::create_directories(root / "NOR");
    const fs::path sample = unfinishedSample();
    ASSERT_FALSE(sample.empty());
    const fs::path huge = root / "NOR" / "N_20120306_090000_1CH_F.avi";
    {
        // The unfinished sample's header list, then a picture chunk every
        // 256 KiB for 4 GiB: each one is a chunk header and holes, so the
        // file takes little disk space but has 16384 chunks to walk.
        std::vector<char> head = readAll(sample);
        head.resize(firstChunk(head));
        writeAll(huge, head);
        std::fstream out(huge, std::ios::binary | std::ios::in | std::ios::out);
        const std::uint64_t step = 256 * 1024;
        for (std::uint64_t at = head.size(); at + step <= (4ull << 30); at += step) {
            std::vector<char> chunk(16, '\0');
            std::memcpy(chunk.data(), "00dc", 4);
            putU32(chunk, 4, static_cast<std::uint32_t>(step - 8));
            chunk[8 + 3] = 1;
            chunk[8 + 4] = 0x41; // a P slice
            out.seekp(static_cast<std::streamoff>(at));
            out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        }
    }
    ASSERT_EQ(listCard(root), 1);

    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(10);

    MediaEngine &engine = GetViewerState().engine;
    focusRow(0);
    sendMessage(player.get(), msg::PanelCommand, cmd::Restart);
    ASSERT_TRUE(player->isOpening());
    EXPECT_EQ(player->screenMessage(), QStringLiteral("Opening N_20120306_090000_1CH_F.avi"));
    EXPECT_EQ(QGuiApplication::overrideCursor() ? QGuiApplication::overrideCursor()->shape() : Qt::ArrowCursor,
              Qt::BusyCursor);
    // No index: it plays once its first second is walked, and the walk of
    // the rest goes on behind it with a length estimated from the size.
    ASSERT_TRUE(waitFor([&] { return !player->isOpening(); }, 10000));
    EXPECT_EQ(state(), 0);
    EXPECT_EQ(player->screenMessage(), QString());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    QTest::qWait(300);
    ASSERT_TRUE(engine.IsWalking()) << "the walk of 4 GiB ended before it could be stopped";
    EXPECT_FALSE(engine.LengthKnown());
    EXPECT_GT(engine.GetDurationMs(), 60u * 1000u);
    EXPECT_GT(ticks, 5); // the user-interface thread kept answering while the file was read

    // The next open (here: of the same row) ends the walk and walks anew;
    // Stop leaves the recording where it is, walk and all.
    sendMessage(player.get(), msg::PanelCommand, cmd::Restart);
    ASSERT_TRUE(waitFor([&] { return !player->isOpening(); }, 10000));
    EXPECT_EQ(state(), 0);
    click(CPlayerMenuDlg::Stop);
    EXPECT_FALSE(player->isOpening());
    EXPECT_EQ(player->screenMessage(), QString());
    EXPECT_EQ(state(), 2);
    EXPECT_TRUE(boxes.empty());

    // Close (the panel going) ends the walk within one read.
    player.reset();
    EXPECT_FALSE(engine.IsOpening());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(waitFor([&] { return engine.loadWorkersRunning() == 0; }, 5000));
}

TEST_F(PlayerLoadTest, EveryBadFileSaysWhyAndTheGoodOneAfterThemPlays)
{
    TempDir dir;
    const fs::path root = dir.path() / "card";
    const fs::path nor = root / "NOR";
    fs::create_directories(nor);
    const std::vector<char> good = readAll(goodRecording());
    ASSERT_GT(good.size(), 4096u);
    const size_t first = firstChunk(good);
    ASSERT_GT(first, 0u);
    const fs::path unfinished = unfinishedSample();
    ASSERT_FALSE(unfinished.empty());

    struct Case {
        const char *what;
        const char *time;
        std::function<void(const fs::path &)> make;
        const char *reason; // null: plays what it holds
    };
    const std::vector<Case> cases = {
        {"empty", "100000", [](const fs::path &p) { writeAll(p, {}); }, "the file is empty"},
        {"random bytes", "100100",
         [](const fs::path &p) {
             std::vector<char> bytes(65536);
             std::mt19937 random(7);
             for (char &c : bytes)
                 c = static_cast<char>(random() & 0xFF);
             writeAll(p, bytes);
         },
         "not a recording"},
        {"header alone", "100200", [&](const fs::path &p) { writeAll(p, {good.begin(), good.begin() + first}); },
         "no video"},
        {"first chunk claiming 4 GB", "100300",
         [&](const fs::path &p) {
             std::vector<char> bytes = good;
             putU32(bytes, first + 4, 0xFFFFFFF0u);
             writeAll(p, bytes);
         },
         nullptr},
        {"chunk ids zeroed", "100400",
         [&](const fs::path &p) {
             std::vector<char> bytes = good;
             for (size_t i = first; i + 4 <= bytes.size(); ++i)
                 if (bytes[i] == '0' && (bytes[i + 1] == '0' || bytes[i + 1] == '1' || bytes[i + 1] == '2') &&
                     ((bytes[i + 2] == 'd' && bytes[i + 3] == 'c') || (bytes[i + 2] == 't' && bytes[i + 3] == 'x')))
                     std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(i),
                               bytes.begin() + static_cast<std::ptrdiff_t>(i) + 4, '\0');
             writeAll(p, bytes);
         },
         "no video"},
        {"unfinished", "100500", [&](const fs::path &p) { fs::copy_file(unfinished, p); }, nullptr},
        {"good", "100600", [&](const fs::path &p) { writeAll(p, good); }, nullptr},
    };
    for (const Case &c : cases)
        c.make(nor / ("N_20120306_" + std::string(c.time) + "_1CH_F.avi"));
    // Never listed, and refused on any other way in.
    const fs::path fifo = nor / "N_20120306_100700_1CH_F.avi";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const fs::path folder = nor / "N_20120306_100800_1CH_F.avi";
    fs::create_directories(folder);
    ASSERT_EQ(listCard(root), static_cast<int>(cases.size()));

    // Step through the list with Next File, as a user does.
    focusRow(0);
    sendMessage(player.get(), msg::PanelCommand, cmd::Restart);
    for (size_t row = 0; row < cases.size(); ++row) {
        const Case &c = cases[row];
        SCOPED_TRACE(c.what);
        const QString name = QStringLiteral("N_20120306_%1_1CH_F.avi").arg(QLatin1String(c.time));
        if (row > 0) {
            EXPECT_EQ(sendMessage(player.get(), msg::ButtonClick, CPlayerMenuDlg::NextFile), 1);
            ASSERT_TRUE(waitFor([&] { return player->isOpening() || player->currentIndex() == static_cast<int>(row); }));
        }
        ASSERT_TRUE(waitFor([&] { return !player->isOpening(); }, 30000));
        ASSERT_EQ(list->currentIndex().row(), static_cast<int>(row));
        if (c.reason) {
            EXPECT_EQ(state(), -1);
            EXPECT_EQ(player->screenMessage(), QStringLiteral("Cannot play %1: %2").arg(name, QLatin1String(c.reason)));
        } else {
            EXPECT_EQ(state(), StateRunning);
            EXPECT_EQ(player->currentName(), name);
            EXPECT_EQ(player->screenMessage(), QString());
            EXPECT_GT(GetViewerState().engine.GetDurationMs(), 0u);
        }
    }
    EXPECT_TRUE(boxes.empty()) << "no message box is in the way of stepping through the list";

    for (const fs::path &p : {fifo, folder}) {
        std::optional<MediaEngine::OpenOutcome> outcome;
        GetViewerState().engine.BeginOpen(p.string(), "1CH", 0, -1,
                                          [&](const MediaEngine::OpenOutcome &o) { outcome = o; });
        ASSERT_TRUE(waitFor([&] { return outcome.has_value(); }));
        EXPECT_EQ(outcome->opened, 0) << p;
        EXPECT_EQ(outcome->reason, "not a regular file") << p;
    }
}

} // namespace
} // namespace korvante::testing
