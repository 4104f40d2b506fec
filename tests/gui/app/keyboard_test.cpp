// The viewer's keys, and recordings opened by name or by a drop, on the real
// main window with its panels playing sample recordings. Offscreen.

#include "core/playback/viewer_state.h"
#include "gui/app/trail_player_dlg.h"
#include "gui/display/screen_dlg.h"
#include "gui/platform/message_box.h"
#include "gui/platform/messages.h"
#include "gui/platform/panel_registry.h"
#include "gui/playback/player_menu_dlg.h"
#include "gui/storage/file_manager_dlg.h"
#include "gui/ui/skin_button.h"
#include "gui/ui/skin_list_ctrl.h"
#include "gui/ui/text_box.h"
#include "mkcard/frame_code.h"
#include "support/gui_app.h"

#include <QDateEdit>
#include <QDialog>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QProcess>
#include <QUrl>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

using namespace korvante;
using namespace korvante::testing;
namespace fs = std::filesystem;

namespace {

// Two 14 s two-channel recordings in NOR; a text file and a fake .avi in misc.
const fs::path &sampleFolder()
{
    static TempDir dir;
    static fs::path folder = [] {
        QProcess mkcard;
        QStringList args =
            QStringLiteral("--per-kind 2 --seconds 14 --size 320x240 --audio none --folder").split(QLatin1Char(' '));
        mkcard.start(QStringLiteral(KORVANTE_BINARY_DIR "/bin/korvante-mkcard"),
                     args << QString::fromStdString(dir.path().string()));
        mkcard.waitForFinished(300000);
        fs::create_directories(dir.path() / "misc");
        std::ofstream(dir.path() / "misc" / "notes.txt") << "not a recording";
        std::ofstream(dir.path() / "misc" / "fake.avi") << "RIFX not an AVI file at all";
        return dir.path() / "NOR";
    }();
    return folder;
}

std::vector<fs::path> recordings(const char *suffix)
{
    std::vector<fs::path> out;
    for (const auto &e : fs::directory_iterator(sampleFolder()))
        if (e.path().filename().string().ends_with(suffix))
            out.push_back(e.path());
    std::sort(out.begin(), out.end());
    return out;
}

class KeyboardTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        guiTestApp("gui_keyboard_tests");
        ASSERT_EQ(recordings("_F.avi").size(), 2u) << "korvante-mkcard made no sample card";
        GetViewerState().catalogue.addExtension("avi");
        m_previous = platform::setMessageBoxHook([this](const QString &text, const QString &, unsigned) {
            boxes.push_back(text);
            return platform::IDOK;
        });
        window = std::make_unique<CVX_TrailPlayerDlg>();
        window->show();
        player = window->playerPanel();
        files = qobject_cast<CFileManagerDlg *>(FindPanel(panel::FileList));
        ASSERT_TRUE(waitUntil([this] { return files->isVisible(); }));
    }
    void TearDown() override
    {
        window.reset();
        platform::setMessageBoxHook(std::move(m_previous));
        GetViewerState().layoutMode = 0;
    }
    int state() const { return GetViewerState().engine.GetState(); }
    bool playing(int row)
    {
        return waitUntil([&] { return state() == StateRunning && player->currentIndex() == row; }, 10000);
    }
    void press(QWidget *target, Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        QTest::keyClick(target, key, mods);
        pumpEvents();
    }
    int frameShown() const
    {
        QImage image;
        GetViewerState().engine.GrabFrame(0, image);
        image = image.convertToFormat(QImage::Format_RGB32);
        return framecode::decodeFrameNumber(image.constBits(), image.width(), image.height(),
                                            static_cast<int>(image.bytesPerLine()));
    }

    std::unique_ptr<CVX_TrailPlayerDlg> window;
    CPlayerMenuDlg *player = nullptr;
    CFileManagerDlg *files = nullptr;
    std::vector<QString> boxes;
    platform::MessageBoxHook m_previous;
};

} // namespace

TEST_F(KeyboardTest, KeysDrivePlaybackSpeedFramesLayoutsButNotFromTextFieldsOrUnderDialogs)
{
    window->openPath(QString::fromStdString(recordings("_F.avi")[0].string()));
    ASSERT_TRUE(playing(0));
    MediaEngine &engine = GetViewerState().engine;
    QWidget *list = files->listCtrl(); // it would take arrows, Space and paging itself

    press(list, Qt::Key_Space);
    EXPECT_EQ(state(), StatePaused);
    // Both resume playing: the position is read at once, before any event.
    sendMessage(player, msg::Seek, 3000);
    QTest::keyClick(list, Qt::Key_Right);
    EXPECT_NEAR(static_cast<double>(engine.GetPositionMs()), 13000.0, 700.0);
    EXPECT_EQ(state(), StateRunning);
    QTest::keyClick(window.get(), Qt::Key_Left);
    EXPECT_NEAR(static_cast<double>(engine.GetPositionMs()), 1000.0, 700.0);
    pumpEvents();

    const float speeds[] = {0.75f, 0.5f, 0.5f, 0.75f, 1.0f, 1.25f, 1.5f, 2.0f, 2.0f}; // [ [ [ then ] ] ] ] ] ]
    for (size_t i = 0; i < std::size(speeds); ++i) {
        press(player, i < 3 ? Qt::Key_BracketLeft : Qt::Key_BracketRight);
        EXPECT_DOUBLE_EQ(engine.graph->graphBuilder->rate(), speeds[i]) << i;
        EXPECT_EQ(player->speedBox()->isVisible(), speeds[i] != 1.0f) << i;
        EXPECT_EQ(player->speedBox()->text(), QStringLiteral("%1x").arg(static_cast<double>(speeds[i])));
    }
    const bool swapped = player->frontShowsRear();
    press(window->frontScreen(), Qt::Key_S);
    EXPECT_NE(player->frontShowsRear(), swapped);
    const std::pair<Qt::Key, int> layouts[] = {{Qt::Key_F, 2},      {Qt::Key_F, 0},   {Qt::Key_F11, 2},
                                               {Qt::Key_Escape, 0}, {Qt::Key_F11, 2}, {Qt::Key_F11, 0}};
    for (const auto &[key, layout] : layouts) {
        press(player, key);
        EXPECT_EQ(GetViewerState().layoutMode, layout) << key;
    }
    // The next recording plays at the speed chosen; Page Up goes back.
    press(list, Qt::Key_PageDown);
    ASSERT_TRUE(playing(1));
    EXPECT_DOUBLE_EQ(engine.graph->graphBuilder->rate(), 2.0);
    press(player, Qt::Key_PageUp);
    ASSERT_TRUE(playing(0));

    // Typed into the search fields, under a modal dialog, or while input is
    // held back, the keys do nothing to playback.
    const auto pressAllInto = [&](QWidget *target, const char *where) {
        for (Qt::Key key : {Qt::Key_Space, Qt::Key_S, Qt::Key_F, Qt::Key_BracketLeft, Qt::Key_Left, Qt::Key_PageDown})
            press(target, key);
        EXPECT_EQ(state(), StateRunning) << where;
        EXPECT_EQ(player->currentIndex(), 0) << where;
        EXPECT_FLOAT_EQ(player->speed(), 2.0f) << where;
        EXPECT_EQ(GetViewerState().layoutMode, 0) << where;
    };
    files->speedEdit()->setFocus();
    pressAllInto(files->speedEdit(), "speed field");
    files->startDatePicker()->setFocus();
    pressAllInto(files->startDatePicker(), "date field");
    {
        QDialog modal(window.get());
        modal.setModal(true);
        modal.show();
        pressAllInto(player, "modal dialog");
    }
    sendMessage(window.get(), msg::EnableWindows, 0);
    pressAllInto(window.get(), "input held back");
    sendMessage(window.get(), msg::EnableWindows, 1);
    EXPECT_TRUE(player->button(CPlayerMenuDlg::Play)->toolTip().contains(QStringLiteral("Space")));
    EXPECT_TRUE(window->titleButton(CVX_TrailPlayerDlg::kFullScreenButton)->toolTip().contains(QStringLiteral("F11")));

    // Five pictures forward, five back, one at a time (the first step pauses).
    press(player, Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(state(), StatePaused);
    sendMessage(player, msg::Seek, 4000);
    const int start = frameShown();
    ASSERT_GT(start, 0);
    std::vector<int> seen, expected;
    for (int i = 1; i <= 10; ++i) {
        press(player, i <= 5 ? Qt::Key_Right : Qt::Key_Left, Qt::ShiftModifier);
        seen.push_back(frameShown());
        expected.push_back(start + (i <= 5 ? i : 10 - i));
    }
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(player->shownFrame(), start);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(KeyboardTest, RecordingsFoldersAndOtherFilesGivenByNameOrDropped)
{
    const fs::path folder = sampleFolder();
    const auto path = [](const fs::path &p) { return QString::fromStdString(p.string()); };
    window->openPath(path(recordings("_R.avi")[1])); // a rear file plays its recording
    ASSERT_TRUE(playing(1));

    const struct { fs::path file; const char *says; } refused[] = {
        {folder.parent_path() / "misc" / "notes.txt", "it is not a recording."},
        {folder.parent_path() / "misc" / "fake.avi", "it is not a recording."},
        {folder / "missing_F.avi", "there is no such file."},
    };
    for (const auto &bad : refused) {
        boxes.clear();
        window->openPath(path(bad.file));
        ASSERT_EQ(boxes.size(), 1u) << bad.file;
        EXPECT_EQ(boxes[0], QStringLiteral("Cannot open %1: %2").arg(path(bad.file), QLatin1String(bad.says)));
        EXPECT_EQ(player->currentIndex(), 1) << "the recording plays on";
    }

    // A dropped recording plays, a dropped folder is listed, text is refused.
    const auto drop = [&](QWidget *onto, const fs::path &file) {
        QMimeData data;
        file.empty() ? data.setText(QStringLiteral("N_20120305_142233_2CH_F.avi"))
                     : data.setUrls({QUrl::fromLocalFile(path(file))});
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QDropEvent dropped(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(onto, &enter);
        QApplication::sendEvent(onto, &dropped);
        pumpEvents();
        return enter.isAccepted() && dropped.isAccepted();
    };
    EXPECT_TRUE(drop(window->frontScreen(), recordings("_F.avi")[0]));
    EXPECT_TRUE(playing(0));
    EXPECT_FALSE(drop(player, {}));
    boxes.clear();
    EXPECT_TRUE(drop(window.get(), folder));
    EXPECT_EQ(files->listCtrl()->topLevelItemCount(), 2);
    EXPECT_NE(state(), StateRunning); // listed, not played
    EXPECT_TRUE(boxes.empty());
}
