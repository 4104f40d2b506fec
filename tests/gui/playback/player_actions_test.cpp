// The player control panel's actions on a playing recording: rewind and
// forward at the edges, seeking, volume, the rear partner's offsets, screen
// swapping across recordings, flips, the dialogs' surroundings and the
// toggles it sends to other panels.

#include "player_fixture.h"

#include "core/playback/audio_output.h"

using namespace korvante;
using namespace korvante::testing;

TEST(PlayerTimeText, MinutesAndSeconds)
{
    EXPECT_EQ(CPlayerMenuDlg::formatTime(0), QStringLiteral("00:00"));
    EXPECT_EQ(CPlayerMenuDlg::formatTime(59999), QStringLiteral("00:59"));
    EXPECT_EQ(CPlayerMenuDlg::formatTime(60000), QStringLiteral("01:00"));
    EXPECT_EQ(CPlayerMenuDlg::formatTime(3723999), QStringLiteral("62:03")); // minutes are not capped
}

TEST_F(PlayerTest, RewindAtFiveSecondsLandsAtZeroAndResumes)
{
    ASSERT_TRUE(openRow(0));
    MediaEngine &engine = GetViewerState().engine;
    click(CPlayerMenuDlg::Play); // pause
    ASSERT_EQ(state(), StatePaused);

    // A seek from the graph while paused moves slider, cursor and time.
    clearMessages();
    sendMessage(player.get(), msg::Seek, 5000);
    EXPECT_EQ(player->seekSlider()->pos(), 5000);
    EXPECT_NEAR(static_cast<double>(engine.GetPositionMs()), 5000, 50);
    ASSERT_FALSE(peer(panel::GsensorGraph).cursorTimes.empty());
    EXPECT_EQ(peer(panel::GsensorGraph).cursorTimes.back(), 5000u);
    EXPECT_EQ(player->currentTimeBox()->text(), QStringLiteral("00:05"));

    // Rewind from pause: 12 s back clamps at 0, and playback resumes.
    click(CPlayerMenuDlg::Rewind);
    EXPECT_EQ(state(), StateRunning);
    EXPECT_LT(engine.GetPositionMs(), 600u);
    EXPECT_TRUE(player->isTimerActive(CPlayerMenuDlg::kProgressTimer));
}

TEST_F(PlayerTest, ForwardIntoTheEndGoesOnAsTheEndOfPlaybackDoes)
{
    ASSERT_TRUE(openRow(0));
    MediaEngine &engine = GetViewerState().engine;
    const std::uint64_t length = engine.GetDurationMs();

    // Three seconds before the end: two steps of 5 s stop at the end, and the
    // list moves on to the next row, which plays after a second.
    sendMessage(player.get(), msg::Seek, static_cast<quintptr>(length - 3000));
    click(CPlayerMenuDlg::Forward);
    EXPECT_EQ(engine.GetPositionMs(), length);
    EXPECT_EQ(list->currentIndex().row(), 1);
    EXPECT_TRUE(player->isTimerActive(CPlayerMenuDlg::kNextFileTimer));
    EXPECT_FALSE(player->isTimerActive(CPlayerMenuDlg::kProgressTimer));
    ASSERT_TRUE(waitFor([&] { return player->currentIndex() == 1 && state() == StateRunning; }));
    EXPECT_LT(engine.GetPositionMs(), 1500u);

    // With no row after the focused one, Forward into the end (10 s of an
    // 8 s recording) stops, as the end of playback on the last row does.
    ASSERT_TRUE(openRow(3));
    focusRow(kSampleRows - 1);
    click(CPlayerMenuDlg::Forward);
    EXPECT_EQ(state(), StateStopped);
    EXPECT_EQ(player->seekSlider()->pos(), 0);
}

TEST_F(PlayerTest, SeekSliderOwnPositionAndClamp)
{
    ASSERT_TRUE(openRow(0));
    MediaEngine &engine = GetViewerState().engine;
    click(CPlayerMenuDlg::Play); // pause
    // A drag of the slider posts 0: the slider's own position is used.
    player->seekSlider()->setPos(3000);
    sendMessage(player.get(), msg::Seek, 0);
    EXPECT_NEAR(static_cast<double>(engine.GetPositionMs()), 3000, 50);
    // A position past the end is clamped into the slider's range.
    sendMessage(player.get(), msg::Seek, 99999999);
    EXPECT_EQ(player->seekSlider()->pos(), player->seekSlider()->rangeMax());
    EXPECT_EQ(engine.GetPositionMs(), engine.GetDurationMs());
}

TEST_F(PlayerTest, VolumeAtHundredActsAsNinety)
{
    ASSERT_TRUE(openRow(0));
    MediaEngine &engine = GetViewerState().engine;
    // The sample has no sound: give the graph an output that never starts,
    // so the volume it receives can be read back.
    engine.graph->audioRenderer = std::make_unique<AudioRenderer>("test output", QAudioDevice());
    CBitmapSlider *volume = player->volumeSlider();
    volume->setPos(100);
    sendMessage(player.get(), msg::SliderMoved, CPlayerMenuDlg::kVolumeSliderId);
    EXPECT_EQ(engine.graph->audioRenderer->volume(), volumeToHundredthsOfDb(90));
    volume->setPos(40);
    sendMessage(player.get(), msg::SliderMoved, CPlayerMenuDlg::kVolumeSliderId);
    EXPECT_EQ(engine.graph->audioRenderer->volume(), volumeToHundredthsOfDb(40));
    // Other sliders' ids are not the panel's.
    volume->setPos(0);
    sendMessage(player.get(), msg::SliderMoved, 1280);
    EXPECT_EQ(engine.graph->audioRenderer->volume(), volumeToHundredthsOfDb(40));
    engine.graph->audioRenderer.reset();
}

TEST_F(PlayerTest, RearPartnerWithinThreeSeconds)
{
    MediaEngine &engine = GetViewerState().engine;
    const std::string nor = (sampleCard() / "NOR").string() + "/";
    ASSERT_TRUE(openRow(0)); // rear one second later
    EXPECT_EQ(engine.graph->channelCount, 2);
    EXPECT_EQ(engine.graph->rearPath, nor + "N_20120305_142234_2CH_R.avi");
    ASSERT_TRUE(openRow(2)); // rear four seconds later: front alone
    EXPECT_EQ(engine.graph->channelCount, 1);
    EXPECT_EQ(engine.graph->rearPath, "NULL");
    ASSERT_TRUE(openRow(3)); // same second
    EXPECT_EQ(engine.graph->channelCount, 2);
    EXPECT_EQ(engine.graph->rearPath, nor + "N_20120305_145000_2CH_R.avi");
    ASSERT_TRUE(openRow(1)); // one channel by name
    EXPECT_EQ(engine.graph->rearPath, "1CH");
}

TEST_F(PlayerTest, SwapCarriesOverAFrontOnlyRecording)
{
    MediaEngine &engine = GetViewerState().engine;
    VideoWindow *frontArea = front->videoArea();
    VideoWindow *rearArea = rear->videoArea();
    ASSERT_TRUE(openRow(0));
    EXPECT_FALSE(player->frontShowsRear());
    EXPECT_EQ(engine.graph->window[0], frontArea);

    click(CPlayerMenuDlg::ScreenSwitching);
    EXPECT_TRUE(player->frontShowsRear());
    EXPECT_FALSE(player->rearShowsRear());
    EXPECT_EQ(engine.graph->window[0], rearArea);
    EXPECT_EQ(engine.graph->window[1], frontArea);
    EXPECT_EQ(engine.graph->renderer[1]->window(), frontArea);

    // A front-only recording comes up in the front screen...
    ASSERT_TRUE(openRow(1));
    EXPECT_FALSE(player->frontShowsRear());
    EXPECT_TRUE(player->restoreSwap());
    EXPECT_EQ(engine.graph->window[0], frontArea);
    // ...where switching does nothing (one channel).
    click(CPlayerMenuDlg::ScreenSwitching);
    EXPECT_FALSE(player->frontShowsRear());

    // The next two-channel recording comes up swapped again.
    ASSERT_TRUE(openRow(3));
    EXPECT_TRUE(player->frontShowsRear());
    EXPECT_FALSE(player->restoreSwap());
    EXPECT_EQ(engine.graph->window[0], rearArea);

    // Stop gives each screen its own channel back but keeps the choice for
    // the next recording.
    click(CPlayerMenuDlg::Stop);
    EXPECT_EQ(engine.graph->window[0], frontArea);
    EXPECT_TRUE(player->frontShowsRear());
    ASSERT_TRUE(openRow(0));
    EXPECT_EQ(engine.graph->window[0], rearArea);

    // Switching back; with a stopped graph switching does nothing.
    click(CPlayerMenuDlg::ScreenSwitching);
    EXPECT_FALSE(player->frontShowsRear());
    EXPECT_EQ(engine.graph->window[0], frontArea);
    click(CPlayerMenuDlg::Stop);
    click(CPlayerMenuDlg::ScreenSwitching);
    EXPECT_FALSE(player->frontShowsRear());
}

TEST_F(PlayerTest, FlipsFollowTheScreenShownAlone)
{
    ASSERT_TRUE(openRow(0));
    // Front screen selected and showing the front video: the front decoder.
    front->setSelected(true);
    click(CPlayerMenuDlg::FlipShownScreen);
    EXPECT_TRUE(player->flipA());
    EXPECT_FALSE(player->flipB());
    // Swapped, the selected front screen shows the rear video.
    click(CPlayerMenuDlg::ScreenSwitching);
    click(CPlayerMenuDlg::FlipShownScreen);
    EXPECT_TRUE(player->flipA());
    EXPECT_TRUE(player->flipB());
    // Rear flip toggles and survives the next open.
    click(CPlayerMenuDlg::RearVideoFlip);
    EXPECT_TRUE(player->rearFlip());
    ASSERT_TRUE(openRow(3));
    EXPECT_TRUE(player->rearFlip());
    click(CPlayerMenuDlg::RearVideoFlip);
    EXPECT_FALSE(player->rearFlip());
}

TEST_F(PlayerTest, PrintGrabsTheShownChannelAroundADisabledMainWindow)
{
    QImage printed;
    QWidget *printedMap = nullptr;
    MediaEngine *engine = &GetViewerState().engine;
    int stateDuringDialog = -2;
    player->setDialogHooks({[&](const QImage &frame, QWidget *map) {
                                printed = frame;
                                printedMap = map;
                                stateDuringDialog = engine->GetState();
                            },
                            {}, {}, {}});
    // Nothing to print without a playing recording.
    click(CPlayerMenuDlg::Print);
    EXPECT_TRUE(printed.isNull());

    ASSERT_TRUE(openRow(0));
    front->setSelected(true);
    click(CPlayerMenuDlg::Print);
    EXPECT_EQ(printed.size(), QSize(320, 240));
    EXPECT_EQ(printedMap, &peer(panel::MapView));
    EXPECT_EQ(stateDuringDialog, StatePaused);
    EXPECT_EQ(state(), StateRunning); // running again afterwards
    pump();
    std::vector<std::pair<int, int>> expected = {{msg::EnableWindows, 0}, {msg::EnableWindows, 1}};
    EXPECT_EQ(mainWindow->messages, expected);

    // Paused stays paused.
    click(CPlayerMenuDlg::Play);
    printed = QImage();
    click(CPlayerMenuDlg::Print);
    EXPECT_FALSE(printed.isNull());
    EXPECT_EQ(state(), StatePaused);
}

TEST_F(PlayerTest, DeviceDialogsAndPanelToggles)
{
    int formats = 0;
    std::vector<std::string> settingsLabels;
    int captures = 0;
    player->setDialogHooks({{},
                            [&] { ++captures; },
                            [&] { ++formats; },
                            [&](const StorageSource &source) { settingsLabels.push_back(source.label); }});
    click(CPlayerMenuDlg::Capture);
    EXPECT_EQ(captures, 1);
    click(CPlayerMenuDlg::SaveDevices);
    EXPECT_EQ(formats, 1);
    pump();
    std::vector<std::pair<int, int>> around = {{msg::EnableWindows, 0}, {msg::EnableWindows, 1}};
    EXPECT_EQ(mainWindow->messages, around);

    // Device settings stops playback from the card first.
    ASSERT_TRUE(openRow(0));
    click(CPlayerMenuDlg::DeviceSettings);
    ASSERT_EQ(settingsLabels.size(), 1u);
    EXPECT_EQ(settingsLabels[0], sampleCard().string() + "/");
    EXPECT_TRUE(waitFor([this] { return state() == StateStopped; }, 2000));

    // Without a selected source there is nothing to edit.
    GetViewerState().catalogue.setSources({});
    click(CPlayerMenuDlg::DeviceSettings);
    EXPECT_EQ(settingsLabels.size(), 1u);

    clearMessages();
    click(CPlayerMenuDlg::SensorInformation);
    click(CPlayerMenuDlg::MapInformation);
    click(CPlayerMenuDlg::FileList);
    click(CPlayerMenuDlg::ScreenSettings);
    pump();
    EXPECT_EQ(peer(panel::GsensorGraph).commands(), std::vector<int>{cmd::ToggleGraph});
    EXPECT_EQ(peer(panel::MapView).commands(), std::vector<int>{cmd::ToggleMap});
    EXPECT_EQ(peer(panel::FileList).commands(), std::vector<int>{cmd::ToggleFileList});
    EXPECT_EQ(peer(panel::ScreenSettings).commands(), std::vector<int>{cmd::ToggleScreenSettings});
}
