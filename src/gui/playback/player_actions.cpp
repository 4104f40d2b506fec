// The actions of the player control panel's buttons.

#include "player_menu_dlg.h"

#include "core/playback/viewer_state.h"
#include "gui/display/screen_dlg.h"
#include "gui/platform/messages.h"
#include "gui/platform/panel_registry.h"
#include "gui/ui/bitmap_slider.h"
#include "gui/ui/skin_button.h"
#include "gui/ui/skin_static.h"


namespace korvante {

namespace {

bool inPlay(int state)
{
    return state == StateRunning || state == StatePaused;
}

// Seconds per step of Rewind and Forward; each button takes two steps.
constexpr double kRewindStepSeconds = 6.0;
constexpr double kForwardStepSeconds = 5.0;

} // namespace

int CPlayerMenuDlg::runAction(int id)
{
    MediaEngine &engine = m_state.engine;
    switch (id) {
    case PreviousFile:
        return stepFile(-1);
    case NextFile:
        return stepFile(+1);
    case Rewind:
        seekBySteps(false);
        return 0;
    case Forward:
        seekBySteps(true);
        return 0;
    case Play: {
        const int s = engine.GetState();
        if (s == StateRunning)
            pausePlaying();
        else if (s == StatePaused)
            startPlaying();
        else // stopped, never built, or no graph after a failed open: try the focused row
            openFocusedRecording();
        return 0;
    }
    case Stop:
        stopPlaying();
        return 0;
    case Print:
        print();
        return 0;
    case Capture:
        if (m_hooks.capture)
            m_hooks.capture();
        return 0;
    case ScreenSwitching:
        switchScreens();
        return 0;
    case FlipShownScreen:
        flipShownScreen();
        return 0;
    case RearVideoFlip:
        m_rearFlip = !m_rearFlip;
        if (engine.graph)
            engine.SetRearFlip(m_rearFlip ? 1 : 0);
        return 0;
    case SensorInformation:
        PostToPanel(panel::GsensorGraph, msg::PanelCommand, cmd::ToggleGraph);
        return 0;
    case MapInformation:
        PostToPanel(panel::MapView, msg::PanelCommand, cmd::ToggleMap);
        return 0;
    case FileList:
        PostToPanel(panel::FileList, msg::PanelCommand, cmd::ToggleFileList);
        return 0;
    case ScreenSettings:
        PostToPanel(panel::ScreenSettings, msg::PanelCommand, cmd::ToggleScreenSettings);
        return 0;
    case SaveDevices:
        openModal(m_hooks.formatCard);
        return 0;
    case DeviceSettings:
        openDeviceSettings();
        return 0;
    default:
        return 0;
    }
}

void CPlayerMenuDlg::setPlayImages(bool playing)
{
    if (CSkinButton *play = button(Play))
        play->setSkin(playing ? SkinImageIds{212, 213, 213, 213} : SkinImageIds{214, 215, 215, 215});
}

void CPlayerMenuDlg::startPlaying()
{
    if (m_fileList.revealCurrentRow)
        m_fileList.revealCurrentRow();
    PostToPanel(panel::SensorInfo, msg::PanelCommand, cmd::Start);
    PostToPanel(panel::ScreenSettings, msg::PanelCommand, cmd::Start);
    setPlayImages(true);
    refreshTimeDisplay();
    m_state.engine.Play();
    setTimer(kProgressTimer, kProgressIntervalMs);
}

void CPlayerMenuDlg::pausePlaying()
{
    PostToPanel(panel::SensorInfo, msg::PanelCommand, cmd::Pause);
    PostToPanel(panel::ScreenSettings, msg::PanelCommand, cmd::Pause);
    killTimer(kProgressTimer);
    m_state.engine.Pause();
    setPlayImages(false);
}

int CPlayerMenuDlg::stepFile(int direction)
{
    const int rows = fileListRows();
    if (rows == 0)
        return 0;
    const int focused = fileListRow();
    int target = 0;
    if (direction < 0) {
        if (focused <= 0)
            return 0;
        target = focused - 1;
    } else {
        target = focused < 0 ? 0 : focused + 1;
    }
    if (target >= rows)
        return 0;

    MediaEngine &engine = m_state.engine;
    cancelOpening(); // the row being opened is left behind
    dropPrepared();
    if (engine.GetState() == StateRunning) {
        engine.SetRearFlip(m_rearFlip ? 1 : 0);
        pausePlaying();
    }
    m_fileList.moveToRow(target); // focus and selection move together
    PostToPanel(panel::SensorInfo, msg::PanelCommand, cmd::Reset);
    if (direction > 0)
        killTimer(kProgressTimer);
    setTimer(kNextFileTimer, kNextFileDelayMs);
    return 1;
}

void CPlayerMenuDlg::seekBySteps(bool forward)
{
    MediaEngine &engine = m_state.engine;
    if (!inPlay(engine.GetState()))
        return;
    // Both steps in one seek: each step is clamped at the same end, so the
    // target is the same, and a seek on camera footage (decoding from the
    // key frame before the target) is the costly part.
    if (forward)
        engine.Forward(2 * kForwardStepSeconds);
    else
        engine.Rewind(2 * kRewindStepSeconds);
    followWalk(); // a step past the walked part says that it waits
    if (engine.GetState() == StateRunning)
        pausePlaying();
    const std::uint64_t length = engine.GetDurationMs();
    if (forward && length > 0 && engine.LengthKnown() && engine.GetPositionMs() >= length) {
        // Forward ran into the end: go on as the end of playback does, with
        // the next recording, or stop after the last one (playing from the
        // very end would start the recording over from 0).
        if (runAction(NextFile) != 1)
            runAction(Stop);
        return;
    }
    startPlaying();
}

void CPlayerMenuDlg::stopPlaying()
{
    MediaEngine &engine = m_state.engine;
    cancelOpening();
    dropPrepared();
    showScreenMessage(QString());
    pausePlaying();
    engine.Stop();
    // Time, graph and numbers go back to nothing: so does the picture.
    engine.ClearPictures();
    m_seek->setRange(0, 0, true);
    refreshTimeDisplay();
    // The screens show their own channel again; the panel keeps its record
    // of the user's swap for the next recording.
    engine.SwapScreens(frontArea(), rearArea());
    PostToPanel(panel::FrontScreen, msg::PanelCommand, cmd::Reset);
    PostToPanel(panel::RearScreen, msg::PanelCommand, cmd::Reset);
    PostToPanel(panel::SensorInfo, msg::PanelCommand, cmd::Reset);
    PostToPanel(panel::GsensorGraph, msg::PanelCommand, cmd::Reset);
}

void CPlayerMenuDlg::switchScreens()
{
    MediaEngine &engine = m_state.engine;
    const int s = engine.GetState();
    if (!engine.graph || s == StateStopped || s == StateCreated || engine.graph->channelCount < 2)
        return;
    swapToFront(m_frontShowsRear);
    if (m_state.layoutMode == 1 && m_frontScreen)
        m_frontScreen->setLayout(1);
    engine.Repaint();
    if (m_frontScreen)
        m_frontScreen->repaint();
    if (m_rearScreen)
        m_rearScreen->repaint();
}

void CPlayerMenuDlg::flipShownScreen()
{
    // The front screen, when shown alone, displays either channel: flip the
    // decoder of the channel it shows.
    const bool shownAlone = m_frontScreen && m_frontScreen->isSelected();
    if (shownAlone != m_frontShowsRear) {
        m_flipA = !m_flipA;
        m_state.engine.SetFlip(0, m_flipA ? 1 : 0);
    } else {
        m_flipB = !m_flipB;
        m_state.engine.SetFlip(1, m_flipB ? 1 : 0);
    }
}

void CPlayerMenuDlg::print()
{
    MediaEngine &engine = m_state.engine;
    const int s = engine.GetState();
    if (!inPlay(s))
        return;
    // The screen shown alone decides which channel goes into the report.
    bool rearShown = false;
    if (m_frontScreen && m_frontScreen->isSelected())
        rearShown = m_frontShowsRear;
    else if (m_rearScreen && m_rearScreen->isSelected())
        rearShown = m_rearShowsRear;
    QImage frame;
    engine.GrabFrame(rearShown ? 1 : 0, frame);
    const bool wasRunning = s == StateRunning;
    if (wasRunning)
        pausePlaying();
    QWidget *mapView = m_mapView;
    openModal([this, &frame, mapView] {
        if (m_hooks.printReport)
            m_hooks.printReport(frame, mapView);
    });
    if (wasRunning)
        startPlaying();
}

void CPlayerMenuDlg::openModal(const std::function<void()> &dialog)
{
    // The main window and its panels stay disabled while the dialog runs.
    PostToPanel(panel::MainWindow, msg::EnableWindows, 0);
    if (dialog)
        dialog();
    PostToPanel(panel::MainWindow, msg::EnableWindows, 1);
}

void CPlayerMenuDlg::openDeviceSettings()
{
    const RecordingCatalogue &catalogue = m_state.catalogue;
    const StorageSource *source = catalogue.selectedSourceRecord();
    if (!source || (catalogue.sourceKind() != SourceRemovable && catalogue.sourceKind() != SourceTavo))
        return;
    // The card may be rewritten: playback from it stops first.
    postMessage(this, msg::PanelCommand, cmd::Reset);
    const StorageSource chosen = *source;
    openModal([this, &chosen] {
        if (m_hooks.deviceSettings)
            m_hooks.deviceSettings(chosen);
    });
}

VideoWindow *CPlayerMenuDlg::frontArea() const
{
    return m_frontScreen ? m_frontScreen->videoArea() : nullptr;
}

VideoWindow *CPlayerMenuDlg::rearArea() const
{
    return m_rearScreen ? m_rearScreen->videoArea() : nullptr;
}

void CPlayerMenuDlg::swapToFront(bool frontVideoInFrontScreen)
{
    if (frontVideoInFrontScreen)
        m_state.engine.SwapScreens(frontArea(), rearArea());
    else
        m_state.engine.SwapScreens(rearArea(), frontArea());
    m_frontShowsRear = !frontVideoInFrontScreen;
    m_rearShowsRear = frontVideoInFrontScreen;
}

} // namespace korvante
