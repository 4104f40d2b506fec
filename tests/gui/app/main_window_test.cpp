// The main window with its panels, offscreen: layouts, screen selection,
// zoom and pan on a playing sample recording.

#include "core/playback/viewer_state.h"
#include "gui/app/trail_player_dlg.h"
#include "gui/display/gsensor_graphic_dlg.h"
#include "gui/display/map_view_dlg.h"
#include "gui/display/screen_dlg.h"
#include "gui/display/screen_setting_dlg.h"
#include "gui/platform/message_box.h"
#include "gui/platform/messages.h"
#include "gui/platform/panel_registry.h"
#include "gui/platform/screen_metrics.h"
#include "gui/playback/player_menu_dlg.h"
#include "gui/storage/file_manager_dlg.h"
#include "gui/storage/select_drive_dlg.h"
#include "gui/ui/skin_combo_box.h"
#include "gui/ui/skin_list_ctrl.h"
#include "gui/ui/bitmap_slider.h"
#include "gui/ui/skin_button.h"
#include "gui/ui/skin_static.h"
#include "support/temp_dir.h"
#include "fake_machine.h"

#include <QApplication>
#include <QDialog>
#include <QProcess>
#include <QPushButton>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>

using namespace korvante;
using korvante::testing::TempDir;

namespace {

TempDir &configHome()
{
    static TempDir dir;
    return dir;
}

QApplication &app()
{
    static int argc = 1;
    static char name[] = "gui_main_window_tests";
    static char *argv[] = {name, nullptr};
    static QApplication *instance = [] {
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(configHome().path().string()));
        return new QApplication(argc, argv);
    }();
    return *instance;
}

void pump()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

// One small two-channel recording for the tests that need a playing graph.
const std::string &sampleFront()
{
    static TempDir dir;
    static std::string front;
    if (front.empty()) {
        QProcess mkcard;
        mkcard.start(QString::fromUtf8(KORVANTE_BINARY_DIR "/bin/korvante-mkcard"),
                     {QStringLiteral("--folder"), QString::fromStdString(dir.path().string()),
                      QStringLiteral("--per-kind"), QStringLiteral("1"), QStringLiteral("--seconds"),
                      QStringLiteral("3"), QStringLiteral("--size"), QStringLiteral("320x240"),
                      QStringLiteral("--audio"), QStringLiteral("none")});
        mkcard.waitForFinished(120000);
        for (const auto &e : std::filesystem::directory_iterator(dir.path() / "NOR")) {
            const std::string name = e.path().filename().string();
            if (name.find("_F.avi") != std::string::npos)
                front = e.path().string();
        }
    }
    return front;
}

std::string rearOf(const std::string &front)
{
    // The rear partner has its own second; take whichever _R file exists.
    const auto folder = std::filesystem::path(front).parent_path();
    for (const auto &e : std::filesystem::directory_iterator(folder))
        if (e.path().filename().string().find("_R.avi") != std::string::npos)
            return e.path().string();
    return {};
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        app();
        m_previous = platform::setMessageBoxHook([this](const QString &text, const QString &, unsigned) {
            boxes.push_back(text);
            return platform::IDOK;
        });
        window = std::make_unique<CVX_TrailPlayerDlg>();
        window->show();
        pump();
    }
    void TearDown() override
    {
        window.reset();
        platform::setMessageBoxHook(std::move(m_previous));
        GetViewerState().layoutMode = 0;
    }
    void click(int id) { sendMessage(window.get(), msg::ButtonClick, static_cast<quintptr>(id)); }

    std::unique_ptr<CVX_TrailPlayerDlg> window;
    std::vector<QString> boxes;
    platform::MessageBoxHook m_previous;
};

} // namespace

TEST_F(MainWindowTest, CreatesAndRegistersThePanelsInPlace)
{
    EXPECT_TRUE(boxes.empty()) << boxes.front().toStdString(); // components found
    EXPECT_EQ(window->size(), QSize(780, 780));
    for (int id : {102, 129, 130, 135, 136, 137, 139, 155, 159})
        EXPECT_NE(FindPanel(id), nullptr) << id;
    const QPoint origin = window->frameGeometry().topLeft();
    EXPECT_EQ(FindPanel(129)->geometry(), QRect(origin + QPoint(14, 25), QSize(745, 419)));
    EXPECT_EQ(FindPanel(130)->geometry(), QRect(origin + QPoint(14, 508), QSize(390, 219)));
    EXPECT_EQ(FindPanel(135)->geometry(), QRect(origin + QPoint(24, 453), QSize(730, 50)));
    EXPECT_EQ(FindPanel(136)->geometry(), QRect(origin + QPoint(14, 725), QSize(750, 55)));
    EXPECT_EQ(FindPanel(137)->geometry(), QRect(origin + QPoint(770, 0), QSize(315, 310)));
    EXPECT_EQ(FindPanel(139)->geometry(), QRect(origin + QPoint(770, 310), QSize(315, 470)));
    EXPECT_EQ(FindPanel(155)->geometry(), QRect(origin + QPoint(421, 515), QSize(336, 200)));
    EXPECT_EQ(FindPanel(159)->size(), QSize(280, 106));
    EXPECT_TRUE(window->frontScreen()->isSelected());
    EXPECT_FALSE(window->rearScreen()->isSelected());
    EXPECT_EQ(GetViewerState().engine.windowCount, 4);
    EXPECT_EQ(GetViewerState().engine.videoWindow[0], window->frontScreen()->videoArea());
    // Unknown button ids are refused.
    EXPECT_EQ(sendMessage(window.get(), msg::ButtonClick, 99), -1);

    // Panels follow the main window in the default layout.
    window->move(window->pos() + QPoint(30, 20));
    pump();
    EXPECT_EQ(FindPanel(139)->pos(), window->frameGeometry().topLeft() + QPoint(770, 310));
    EXPECT_EQ(FindPanel(129)->pos(), window->frameGeometry().topLeft() + QPoint(14, 25));
}

TEST_F(MainWindowTest, ShowTimerShowsSevenPanelsButNotThePictureSettings)
{
    QTest::qWait(250);
    for (int id : {129, 130, 135, 136, 137, 139, 155})
        EXPECT_TRUE(FindPanel(id)->isVisible()) << id;
    EXPECT_FALSE(FindPanel(159)->isVisible());
}

TEST_F(MainWindowTest, LayoutTransitions)
{
    ViewerState &state = GetViewerState();
    const QSize screen = screenSize();
    // Default in the default layout changes nothing.
    const QPoint before = window->pos();
    click(CVX_TrailPlayerDlg::kDefaultScreenButton);
    EXPECT_EQ(state.layoutMode, 0);
    EXPECT_EQ(window->pos(), before);

    click(CVX_TrailPlayerDlg::kFullScreenButton);
    pump();
    EXPECT_EQ(state.layoutMode, 2);
    EXPECT_EQ(window->geometry(), QRect(QPoint(0, 0), screen));
    EXPECT_FALSE(window->titleButton(CVX_TrailPlayerDlg::kFullScreenButton)->isVisible());
    EXPECT_EQ(window->titleButton(CVX_TrailPlayerDlg::kDefaultScreenButton)->pos(), QPoint(screen.width() - 55, 4));
    EXPECT_EQ(window->titleButton(CVX_TrailPlayerDlg::kCloseButton)->pos(), QPoint(screen.width() - 30, 4));
    EXPECT_EQ(FindPanel(129)->geometry(), QRect(12, 30, screen.width() - 25, screen.height() - 100));
    EXPECT_FALSE(FindPanel(130)->isVisible());
    EXPECT_FALSE(FindPanel(137)->isVisible());
    EXPECT_FALSE(FindPanel(139)->isVisible());
    EXPECT_EQ(FindPanel(135)->geometry(), CPlayerMenuDlg::widePlacement(screen));

    // Full screen twice: nothing changes.
    const QRect full = FindPanel(129)->geometry();
    click(CVX_TrailPlayerDlg::kFullScreenButton);
    EXPECT_EQ(state.layoutMode, 2);
    EXPECT_EQ(FindPanel(129)->geometry(), full);

    // Fit while full switches directly; without a recording the fit area is empty.
    click(CVX_TrailPlayerDlg::kFitScreenButton);
    pump();
    EXPECT_EQ(state.layoutMode, 1);
    EXPECT_TRUE(window->titleButton(CVX_TrailPlayerDlg::kFullScreenButton)->isVisible());
    EXPECT_FALSE(window->titleButton(CVX_TrailPlayerDlg::kFitScreenButton)->isVisible());
    EXPECT_EQ(window->titleButton(CVX_TrailPlayerDlg::kDefaultScreenButton)->pos(), QPoint(screen.width() - 80, 4));

    click(CVX_TrailPlayerDlg::kDefaultScreenButton);
    pump();
    EXPECT_EQ(state.layoutMode, 0);
    EXPECT_EQ(window->size(), QSize(780, 780));
    EXPECT_FALSE(window->titleButton(CVX_TrailPlayerDlg::kDefaultScreenButton)->isVisible());
    EXPECT_EQ(window->titleButton(CVX_TrailPlayerDlg::kFitScreenButton)->pos(), QPoint(700, 4));
    const QPoint origin = window->frameGeometry().topLeft();
    EXPECT_EQ(FindPanel(129)->geometry(), QRect(origin + QPoint(14, 25), QSize(745, 419)));
    EXPECT_EQ(FindPanel(139)->geometry(), QRect(origin + QPoint(770, 310), QSize(315, 470)));
    EXPECT_EQ(FindPanel(155)->geometry(), QRect(origin + QPoint(421, 515), QSize(336, 200)));
    for (int id : {129, 130, 137, 139})
        EXPECT_TRUE(FindPanel(id)->isVisible()) << id;
}

TEST_F(MainWindowTest, WideLayoutShowsTheSelectedScreenAlone)
{
    sendMessage(window.get(), msg::ScreenSelect, 2);
    EXPECT_FALSE(window->frontScreen()->isSelected());
    EXPECT_TRUE(window->rearScreen()->isSelected());
    // Leaving the default layout with the rear selected keeps the rear: only an
    // unselected front screen is marked anew.
    click(CVX_TrailPlayerDlg::kFitScreenButton);
    pump();
    EXPECT_TRUE(window->frontScreen()->isSelected()); // the front is marked when it was not
    EXPECT_FALSE(window->rearScreen()->isSelected());
    click(CVX_TrailPlayerDlg::kDefaultScreenButton);
    sendMessage(window.get(), msg::ScreenSelect, 0);
    EXPECT_FALSE(window->frontScreen()->isSelected());
    EXPECT_FALSE(window->rearScreen()->isSelected());
}

TEST_F(MainWindowTest, EnableMessageHoldsInputBackButLeavesDialogsUsable)
{
    sendMessage(window.get(), msg::EnableWindows, 0);
    EXPECT_TRUE(window->isInputBlocked());
    // A title-bar click does not reach the window while blocked.
    QTest::mouseClick(window->titleButton(CVX_TrailPlayerDlg::kFullScreenButton), Qt::LeftButton);
    pump();
    EXPECT_EQ(GetViewerState().layoutMode, 0);
    // A dialog parented to the main window (as the modal ones are) still works.
    QDialog dialog(window.get());
    auto *button = new QPushButton(QStringLiteral("OK"), &dialog);
    int clicks = 0;
    QObject::connect(button, &QPushButton::clicked, [&clicks] { ++clicks; });
    dialog.show();
    EXPECT_TRUE(dialog.isEnabled());
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(clicks, 1);
    dialog.hide();

    sendMessage(window.get(), msg::EnableWindows, 1);
    EXPECT_FALSE(window->isInputBlocked());
    QTest::mouseClick(window->titleButton(CVX_TrailPlayerDlg::kFullScreenButton), Qt::LeftButton);
    pump();
    EXPECT_EQ(GetViewerState().layoutMode, 2);
    click(CVX_TrailPlayerDlg::kDefaultScreenButton);
}

TEST(PanelRegistryTest, DestroyedPanelIsForgotten)
{
    app();
    auto *panel = new QWidget;
    RegisterPanel(4242, panel);
    EXPECT_EQ(FindPanel(4242), panel);
    const size_t size = panelRegistrySize();
    delete panel;
    EXPECT_EQ(FindPanel(4242), nullptr);
    EXPECT_EQ(panelRegistrySize(), size - 1);
    EXPECT_FALSE(PostToPanel(4242, msg::PanelCommand, 2));
    // Registering again under the same id replaces the first entry.
    QWidget a, b;
    RegisterPanel(4243, &a);
    RegisterPanel(4243, &b);
    EXPECT_EQ(FindPanel(4243), &b);
}

TEST(ScreenPlacementTest, FitScreenCentresTheNativeSize)
{
    QRect panel, area;
    CScreenDlg::widePlacement(1, QSize(1280, 1024), QSize(640, 480), panel, area);
    EXPECT_EQ(panel, QRect(319, 252, 640, 480));
    EXPECT_EQ(area, QRect(4, 2, 632, 474));
    CScreenDlg::widePlacement(2, QSize(1280, 1024), QSize(640, 480), panel, area);
    EXPECT_EQ(panel, QRect(12, 30, 1255, 924));
    EXPECT_EQ(area, QRect(4, 2, 1247, 918));
    // A video larger than the area is limited to it.
    CScreenDlg::widePlacement(1, QSize(1280, 1024), QSize(1920, 1080), panel, area);
    EXPECT_EQ(panel, QRect(12, 30 + (924 - 924) / 2, 1255, 924));
}

TEST_F(MainWindowTest, ScreenSelectionZoomAndPanOnAPlayingRecording)
{
    const std::string front = sampleFront();
    ASSERT_FALSE(front.empty()) << "korvante-mkcard made no recording";
    MediaEngine &engine = GetViewerState().engine;
    ASSERT_EQ(engine.Open(front, rearOf(front)), 1);
    ASSERT_EQ(engine.Play(), 0);
    engine.Pause();
    CScreen2Dlg *rear = window->rearScreen();
    CScreen1Dlg *frontScreen = window->frontScreen();

    // Button down on the unselected rear screen clears both; button up inside
    // its video area selects it.
    QTest::mousePress(rear, Qt::LeftButton, {}, QPoint(50, 50));
    pump();
    EXPECT_FALSE(frontScreen->isSelected());
    EXPECT_FALSE(rear->isSelected());
    QTest::mouseRelease(rear, Qt::LeftButton, {}, QPoint(50, 50));
    pump();
    EXPECT_TRUE(rear->isSelected());
    EXPECT_FALSE(frontScreen->isSelected());

    // A drag on an unzoomed picture does nothing.
    QTest::mousePress(frontScreen, Qt::LeftButton, {}, QPoint(100, 100));
    QTest::mouseMove(frontScreen, QPoint(50, 40));
    QTest::mouseRelease(frontScreen, Qt::LeftButton, {}, QPoint(50, 40));
    EXPECT_EQ(frontScreen->pan(), QPoint(0, 0));

    // Zoom in twice by command, pan by dragging: the pan stays within 0 … zoom.
    postMessage(frontScreen, msg::PanelCommand, cmd::ZoomIn);
    postMessage(frontScreen, msg::PanelCommand, cmd::ZoomIn);
    pump();
    EXPECT_EQ(engine.zoom[0], 40);
    QTest::mousePress(frontScreen, Qt::LeftButton, {}, QPoint(200, 200));
    QTest::mouseMove(frontScreen, QPoint(190, 185));
    EXPECT_EQ(frontScreen->pan(), QPoint(10, 15));
    QTest::mouseMove(frontScreen, QPoint(100, 100));
    EXPECT_EQ(frontScreen->pan(), QPoint(40, 40));
    QTest::mouseMove(frontScreen, QPoint(400, 400));
    EXPECT_EQ(frontScreen->pan(), QPoint(0, 0));
    QTest::mouseMove(frontScreen, QPoint(380, 380));
    EXPECT_EQ(frontScreen->pan(), QPoint(20, 20));
    QTest::mouseRelease(frontScreen, Qt::LeftButton, {}, QPoint(380, 380));

    // Zooming out clamps the pan; from 20 to 0 the next paint clears it.
    postMessage(frontScreen, msg::PanelCommand, cmd::ZoomOut);
    pump();
    EXPECT_EQ(engine.zoom[0], 20);
    EXPECT_EQ(frontScreen->pan(), QPoint(20, 20));
    postMessage(frontScreen, msg::PanelCommand, cmd::ZoomOut);
    pump();
    EXPECT_EQ(engine.zoom[0], 0);
    frontScreen->repaint();
    EXPECT_EQ(frontScreen->pan(), QPoint(0, 0));

    // The wheel zooms while paused; not once the graph is stopped.
    QWheelEvent up(QPointF(50, 50), frontScreen->mapToGlobal(QPointF(50, 50)), QPoint(), QPoint(0, 120),
                   Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(frontScreen, &up);
    EXPECT_EQ(engine.zoom[0], 20);
    postMessage(frontScreen, msg::PanelCommand, cmd::ZoomReset);
    pump();
    EXPECT_EQ(engine.zoom[0], 0);
    engine.Stop();
    QApplication::sendEvent(frontScreen, &up);
    EXPECT_EQ(engine.zoom[0], 0);

    // Fit screen uses the native size of the recording.
    engine.Play();
    sendMessage(window.get(), msg::ScreenSelect, 1);
    click(CVX_TrailPlayerDlg::kFitScreenButton);
    pump();
    QRect panel, area;
    CScreenDlg::widePlacement(1, screenSize(), QSize(320, 240), panel, area);
    EXPECT_EQ(frontScreen->geometry(), panel);
    EXPECT_EQ(frontScreen->videoArea()->geometry(), area);
    click(CVX_TrailPlayerDlg::kDefaultScreenButton);
    engine.Stop();
    engine.Close();
}

TEST_F(MainWindowTest, PictureSettingsResetMovesSlidersAndAppliesOnlyWhilePlaying)
{
    CScreenSettingDlg *settings = window->screenSettings();
    settings->slider(0)->setPos(10);
    settings->slider(2)->setPos(300);
    sendMessage(settings, msg::ButtonClick, 1); // Reset with no graph playing
    EXPECT_EQ(settings->slider(0)->pos(), 128);
    EXPECT_EQ(settings->slider(1)->pos(), 256);
    EXPECT_EQ(settings->slider(2)->pos(), 180);
    EXPECT_EQ(settings->slider(3)->pos(), 64);
    EXPECT_FALSE(settings->isShownFlag());
    sendMessage(settings, msg::PanelCommand, cmd::ToggleScreenSettings);
    EXPECT_TRUE(settings->isShownFlag());
    EXPECT_TRUE(settings->isVisible());
    sendMessage(settings, msg::ButtonClick, 0);
    EXPECT_FALSE(settings->isVisible());
}

TEST_F(MainWindowTest, AfterASwapEachScreenZoomsThePictureItShows)
{
    const std::string front = sampleFront();
    ASSERT_FALSE(front.empty());
    MediaEngine &engine = GetViewerState().engine;
    ASSERT_EQ(engine.Open(front, rearOf(front)), 1);
    ASSERT_EQ(engine.Play(), 0);
    engine.Pause();
    CScreen1Dlg *frontScreen = window->frontScreen();
    CScreen2Dlg *rear = window->rearScreen();
    // Rear video into the front screen, front video into the rear screen.
    engine.SwapScreens(rear->videoArea(), frontScreen->videoArea());
    EXPECT_EQ(frontScreen->slot(), 1);
    EXPECT_EQ(rear->slot(), 0);
    postMessage(frontScreen, msg::PanelCommand, cmd::ZoomIn);
    pump();
    EXPECT_EQ(engine.zoom[1], 20);
    EXPECT_EQ(engine.zoom[0], 0);
    engine.SwapScreens(frontScreen->videoArea(), rear->videoArea());
    EXPECT_EQ(frontScreen->slot(), 0);
    engine.Stop();
    engine.Close();
}

TEST_F(MainWindowTest, PictureSettingsChangeThePictureShown)
{
    const std::string front = sampleFront();
    ASSERT_FALSE(front.empty());
    MediaEngine &engine = GetViewerState().engine;
    ASSERT_EQ(engine.Open(front, rearOf(front)), 1);
    ASSERT_EQ(engine.Play(), 0);
    engine.Pause();
    QImage before;
    ASSERT_EQ(engine.GrabFrame(0, before), 1);
    const auto saturationOf = [](const QImage &image) {
        // Mean distance of the channels from their grey, below the frame-number strip.
        double sum = 0;
        int n = 0;
        for (int y = image.height() / 4; y < image.height(); y += 4)
            for (int x = 0; x < image.width(); x += 4) {
                const QRgb c = image.pixel(x, y);
                const int grey = (qRed(c) + qGreen(c) + qBlue(c)) / 3;
                sum += std::abs(qRed(c) - grey) + std::abs(qGreen(c) - grey) + std::abs(qBlue(c) - grey);
                ++n;
            }
        return sum / n;
    };
    ASSERT_GT(saturationOf(before), 10.0) << "the sample picture should be coloured";

    // Saturation slider (1283) to 0, as a drag would leave it.
    CScreenSettingDlg *settings = window->screenSettings();
    settings->slider(3)->setPos(0);
    sendMessage(settings, msg::SliderMoved, 1283);
    QImage after;
    ASSERT_EQ(engine.GrabFrame(0, after), 1);
    EXPECT_LT(saturationOf(after), 3.0) << "saturation 0 should leave a grey picture";

    // Reset brings the colour back at once.
    sendMessage(settings, msg::ButtonClick, 1);
    QImage reset;
    ASSERT_EQ(engine.GrabFrame(0, reset), 1);
    EXPECT_GT(saturationOf(reset), 10.0);

    // Every start of playback applies the four settings: unchanged, they cost
    // no seek (on camera footage each one takes a good part of a second).
    const std::uint64_t seeks = engine.graph->renderer[0]->currentGeneration();
    sendMessage(settings, msg::PanelCommand, cmd::Start);
    EXPECT_EQ(engine.graph->renderer[0]->currentGeneration(), seeks);
    engine.Stop();
    engine.Close();
}

TEST_F(MainWindowTest, LayoutChangesKeepTheModalRunGoing)
{
    // The viewer runs the main window modally: switching layouts must not end
    // that run (hiding a dialog would).
    QPointer<CVX_TrailPlayerDlg> guard(window.get());
    bool runningAtTheEnd = false;
    QTimer::singleShot(50, [this, guard] { if (guard) click(CVX_TrailPlayerDlg::kFullScreenButton); });
    QTimer::singleShot(150, [this, guard] { if (guard) click(CVX_TrailPlayerDlg::kDefaultScreenButton); });
    QTimer::singleShot(250, [this, guard] { if (guard) click(CVX_TrailPlayerDlg::kFitScreenButton); });
    QTimer::singleShot(350, [this, guard] { if (guard) click(CVX_TrailPlayerDlg::kDefaultScreenButton); });
    QTimer::singleShot(600, [guard, &runningAtTheEnd] {
        if (!guard)
            return;
        runningAtTheEnd = guard->isVisible();
        guard->accept();
    });
    window->exec();
    EXPECT_TRUE(runningAtTheEnd) << "the modal run ended before the Close";
    EXPECT_EQ(GetViewerState().layoutMode, 0);
}

TEST_F(MainWindowTest, EscapeNeverClosesTheViewerAndLeavesTheWideLayouts)
{
    int finished = 0;
    QObject::connect(window.get(), &QDialog::finished, [&finished] { ++finished; });
    ViewerState &state = GetViewerState();
    auto *fileList = qobject_cast<CFileManagerDlg *>(FindPanel(panel::FileList));
    ASSERT_NE(fileList, nullptr);
    const struct {
        int button; // 0: the default layout
        int layout;
    } layouts[] = {{0, 0}, {CVX_TrailPlayerDlg::kFitScreenButton, 1}, {CVX_TrailPlayerDlg::kFullScreenButton, 2}};
    for (const auto &l : layouts) {
        // Wherever the key lands: the main window, the screen shown, the
        // player's buttons, or a control inside a panel that passes it on.
        std::vector<QWidget *> targets{window.get(), window->frontScreen(), window->playerPanel()};
        if (l.layout == 0)
            targets.push_back(fileList->listCtrl());
        for (QWidget *target : targets) {
            if (l.button)
                click(l.button);
            pump();
            ASSERT_EQ(state.layoutMode, l.layout);
            QTest::keyClick(target, Qt::Key_Escape);
            pump();
            EXPECT_EQ(state.layoutMode, 0) << l.layout << " " << target->objectName().toStdString();
            EXPECT_TRUE(window->isVisible()) << l.layout << " " << target->objectName().toStdString();
            EXPECT_EQ(finished, 0);
        }
    }
    EXPECT_EQ(window->size(), QSize(780, 780));
    EXPECT_TRUE(FindPanel(panel::FileList)->isVisible());
    EXPECT_TRUE(FindPanel(panel::MapView)->isVisible());
    // The Close button still closes.
    click(CVX_TrailPlayerDlg::kCloseButton);
    EXPECT_EQ(finished, 1);
}

namespace {
// Answers the folder picker with one folder and counts the questions.
class OneFolderPicker final : public FolderPicker {
public:
    explicit OneFolderPicker(std::string folder) : m_folder(std::move(folder)) {}
    std::optional<std::string> pickFolder(void *, const std::string &) override
    {
        ++calls;
        return m_folder;
    }
    int calls = 0;

private:
    std::string m_folder;
};

// Answers the next drive dialog with line `line`, or Close when negative.
void answerDriveDialog(QObject *owner, int line)
{
    auto *timer = new QTimer(owner);
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, line] {
        auto *dialog = qobject_cast<CNSelectDriveDlg *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        timer->stop();
        timer->deleteLater();
        if (line >= 0) {
            dialog->sourceCombo()->setCurrentIndex(line);
            dialog->checkButton()->click();
        } else {
            dialog->closeButton()->click();
        }
    });
    timer->start();
}
} // namespace

TEST_F(MainWindowTest, PlayAfterOpenFileWhenTheSourceListShrank)
{
    const std::string front = sampleFront();
    ASSERT_FALSE(front.empty()) << "korvante-mkcard made no recording";
    TempDir dir;
    korvante::testing::FakeMachine machine(dir.path() / "root");
    korvante::testing::SysrootScope sysroot(machine.root());
    machine.addDisk("sda", false, 1 << 20);
    machine.mountRoot("sda", 1);
    machine.addDisk("sdb", true, 4096);
    machine.mount("sdb", 1, "/media/first");
    machine.addDisk("sdc", true, 4096);
    machine.mount("sdc", 1, "/media/second");

    RecordingCatalogue &catalogue = GetViewerState().catalogue;
    catalogue.addExtension("avi");
    OneFolderPicker picker(std::filesystem::path(front).parent_path().string());
    FolderPicker *previous = catalogue.folderPicker;
    catalogue.folderPicker = &picker;
    auto *fileList = qobject_cast<CFileManagerDlg *>(FindPanel(panel::FileList));
    ASSERT_NE(fileList, nullptr);

    // A folder on the computer: the third line, after the two cards.
    answerDriveDialog(window.get(), 2);
    sendMessage(fileList, msg::ButtonClick, CFileManagerDlg::CmdOpenFile);
    pump();
    ASSERT_GT(fileList->listCtrl()->topLevelItemCount(), 0)
        << catalogue.sources().size() << " sources, " << picker.calls << " picks, "
        << (boxes.empty() ? std::string() : boxes.front().toStdString());

    // The first card is pulled out; Open File is cancelled. The list is
    // shorter now, and the folder's rows still play.
    machine.unmountDisk("sdb");
    answerDriveDialog(window.get(), -1);
    sendMessage(fileList, msg::ButtonClick, CFileManagerDlg::CmdOpenFile);
    pump();
    catalogue.folderPicker = previous;
    ASSERT_EQ(catalogue.sources().size(), 2u);
    ASSERT_GT(fileList->listCtrl()->topLevelItemCount(), 0);

    CSkinListCtrl *list = fileList->listCtrl();
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Return);
    MediaEngine &engine = GetViewerState().engine;
    EXPECT_TRUE(QTest::qWaitFor([&engine] { return engine.GetState() == StateRunning; }, 10000));
    EXPECT_EQ(picker.calls, 1);
    engine.Stop();
    engine.Close();
}

TEST_F(MainWindowTest, ShowTimerShowsTheMainWindowWithItsPanels)
{
    // A window made as the viewer makes it: hidden until its show timer.
    window.reset();
    window = std::make_unique<CVX_TrailPlayerDlg>();
    ASSERT_FALSE(window->isVisible());
    struct ShowWatch final : QObject {
        CVX_TrailPlayerDlg *main = nullptr;
        int shows = 0;
        int panelsVisibleAtShow = -1;
        bool eventFilter(QObject *watched, QEvent *event) override
        {
            if (watched == main && event->type() == QEvent::Show) {
                ++shows;
                panelsVisibleAtShow = 0;
                for (PanelFrame *p : main->shownPanels())
                    panelsVisibleAtShow += p->isVisible() ? 1 : 0;
            }
            return false;
        }
    } watch;
    watch.main = window.get();
    window->installEventFilter(&watch);
    ASSERT_TRUE(QTest::qWaitFor([this] { return window->isVisible(); }, 5000));
    window->removeEventFilter(&watch);
    EXPECT_EQ(watch.shows, 1);
    // By the time the main window shows, its seven panels already do.
    EXPECT_EQ(watch.panelsVisibleAtShow, 7);
    EXPECT_FALSE(FindPanel(panel::ScreenSettings)->isVisible());
}
