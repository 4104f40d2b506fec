// The viewer's main job, end to end, with the mouse: on a machine offering a
// folder card and a TAVO card as removable drives, Open File, choose the card,
// see its recordings, double-click one, watch both screens play, Next File.

#include "e2e_support.h"
#include "fake_machine.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace korvante::testing;
namespace fs = std::filesystem;

namespace {

const QRgb kSelection = qRgb(115, 123, 165);

// Top and bottom of the rows painted in the selection colour, or (-1, -1).
std::pair<int, int> selectionBand(const QImage &shot, const QRect &list)
{
    int top = -1, bottom = -1;
    for (int y = list.top(); y <= list.bottom(); ++y) {
        int hits = 0;
        for (int x = list.left(); x <= list.right(); ++x)
            if (shot.pixel(x, y) == kSelection)
                ++hits;
        if (hits > list.width() / 3) {
            if (top < 0)
                top = y;
            bottom = y;
        }
    }
    return {top, bottom};
}

struct Run {
    QPoint origin;
    std::string err;
    QImage list, play1, play2, next1, next2;
};

Run runScript(const TempDir &dir, const fs::path &sysroot, int sourceIndex)
{
    QProcessEnvironment env = viewerEnvironment(dir, 40000);
    env.insert(QStringLiteral("KORVANTE_SYSROOT"), QString::fromStdString(sysroot.string()));
    const fs::path out = dir.path() / ("out" + std::to_string(sourceIndex));
    fs::create_directories(out);
    QProcess run;
    run.setProcessEnvironment(env);
    run.start(QStringLiteral("xvfb-run"),
              {QStringLiteral("-a"), QStringLiteral("-s"), QStringLiteral("-screen 0 1600x1000x24 -nolisten tcp"),
               QString::fromUtf8(KORVANTE_E2E_DIR "/open_card.sh"),
               QString::fromUtf8(KORVANTE_BINARY_DIR "/bin/korvante"), QString::fromStdString(out.string()),
               QString::number(sourceIndex)});
    Run r;
    if (!run.waitForFinished(180000))
        return r;
    r.err = readFile((out / "stderr.txt").string()) + run.readAllStandardError().toStdString();
    std::ifstream origin(out / "origin.txt");
    int x = 0, y = 0;
    if (origin >> x >> y)
        r.origin = QPoint(x, y);
    const auto load = [&out](const char *name) { return QImage(QString::fromStdString((out / name).string())); };
    r.list = load("list.png");
    r.play1 = load("play1.png");
    r.play2 = load("play2.png");
    r.next1 = load("next1.png");
    r.next2 = load("next2.png");
    // KORVANTE_E2E_SHOTS=DIR keeps the screenshots for a person to look at.
    const QString keep = qEnvironmentVariable("KORVANTE_E2E_SHOTS");
    if (!keep.isEmpty()) {
        const fs::path target = fs::path(keep.toStdString()) / ("source" + std::to_string(sourceIndex));
        fs::create_directories(target);
        for (const auto &e : fs::directory_iterator(out))
            fs::copy_file(e.path(), target / e.path().filename(), fs::copy_options::overwrite_existing);
    }
    return r;
}

void expectPlaying(const QImage &a, const QImage &b, QPoint origin, const char *what)
{
    SCOPED_TRACE(what);
    const int f1 = frameIn(a, frontVideoArea(origin)), r1 = frameIn(a, rearVideoArea(origin));
    const int f2 = frameIn(b, frontVideoArea(origin)), r2 = frameIn(b, rearVideoArea(origin));
    ASSERT_GE(f1, 0) << "the front screen shows no recording";
    ASSERT_GE(r1, 0) << "the rear screen shows no recording";
    EXPECT_LE(std::abs(f1 - r1), 2) << "front " << f1 << ", rear " << r1;
    EXPECT_LE(std::abs(f2 - r2), 2) << "front " << f2 << ", rear " << r2;
    EXPECT_GE(f2 - f1, 15) << "frames did not advance: " << f1 << " -> " << f2;
}

void checkRun(const Run &r)
{
    ASSERT_FALSE(r.origin.isNull()) << r.err;
    ASSERT_FALSE(r.list.isNull() || r.play1.isNull() || r.play2.isNull() || r.next1.isNull() || r.next2.isNull())
        << "a screenshot is missing; viewer output:\n" << r.err;
    const QRect list(r.origin + QPoint(770 + 4, 310 + 32 + 20), QSize(290, 300));
    // The card's recordings are listed: light text in the list, the first row selected.
    int text = 0;
    for (int y = list.top(); y <= list.bottom(); ++y)
        for (int x = list.left(); x <= list.right(); ++x)
            if (luma(r.list.pixel(x, y)) > 120 && r.list.pixel(x, y) != kSelection)
                ++text;
    EXPECT_GT(text, 300) << "no rows in the list";
    const auto firstRow = selectionBand(r.list, list);
    ASSERT_GE(firstRow.first, 0) << "no row is selected after the card was listed";

    expectPlaying(r.play1, r.play2, r.origin, "after the double click");

    // Next File: the next row is selected and its recording plays.
    const auto nextRow = selectionBand(r.next1, list);
    ASSERT_GE(nextRow.first, 0);
    EXPECT_GT(nextRow.first, firstRow.second) << "the selection did not move to the next row";
    expectPlaying(r.next1, r.next2, r.origin, "after Next File");
}

class OpenCardEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        ensureGuiApp();
        if (!haveXTools())
            GTEST_FAIL() << "xvfb-run, ImageMagick's import and xdotool are needed (scripts/setup installs them)";
        machine = std::make_unique<FakeMachine>(dir.path() / "root");
        machine->addDisk("sda", false, 1 << 20);
        machine->mountRoot("sda", 1);
    }
    TempDir dir;
    std::unique_ptr<FakeMachine> machine;
};

} // namespace

TEST_F(OpenCardEndToEnd, FolderCardOnARemovableDrive)
{
    const fs::path mounted = machine->mount("sdb", 1, "/media/card");
    machine->addDisk("sdb", true, 1 << 16);
    machine->writeMountTable();
    ASSERT_EQ(runMkcardTool({QStringLiteral("--folder"), QString::fromStdString(mounted.string()),
                             QStringLiteral("--per-kind"), QStringLiteral("1"), QStringLiteral("--seconds"),
                             QStringLiteral("12"), QStringLiteral("--size"), QStringLiteral("640x360"),
                             QStringLiteral("--audio"), QStringLiteral("none")}),
              "");
    checkRun(runScript(dir, machine->root(), 0));
}

TEST_F(OpenCardEndToEnd, TavoCardImageOnARemovableDrive)
{
    const fs::path image = dir.path() / "tavo.img";
    ASSERT_EQ(runMkcardTool({QStringLiteral("--image"), QString::fromStdString(image.string()),
                             QStringLiteral("--per-kind"), QStringLiteral("1"), QStringLiteral("--seconds"),
                             QStringLiteral("12"), QStringLiteral("--size"), QStringLiteral("640x360"),
                             QStringLiteral("--audio"), QStringLiteral("none")}),
              "");
    machine->addDisk("sdc", true, fs::file_size(image) / 512, image);
    machine->mount("sdc", 1, "/media/tavo");
    checkRun(runScript(dir, machine->root(), 0));
}
