// The player control panel: its controls and placements, opening and playing
// the focused row, pause and stop with the commands the other panels get,
// stepping through the list, the end of a recording, a failed open.

#include "player_fixture.h"

#include <set>

using namespace korvante;
using namespace korvante::testing;

namespace {

QImage skinImage(int id)
{
    return SkinLibrary::bitmap(id).toImage();
}

} // namespace

TEST_F(PlayerTest, ControlsAndPlacements)
{
    const QPoint origin = mainWindow->frameGeometry().topLeft();
    EXPECT_EQ(player->geometry(), QRect(origin + QPoint(24, 453), QSize(730, 50)));

    CBitmapSlider *seek = player->seekSlider();
    EXPECT_TRUE(seek->isSeekSlider());
    EXPECT_EQ(seek->id(), 256);
    EXPECT_EQ(seek->pos(), 0);
    EXPECT_EQ(seek->notifyWindow(), player.get());
    EXPECT_EQ(seek->geometry().topLeft(), QPoint(40, 0));
    CBitmapSlider *volume = player->volumeSlider();
    EXPECT_FALSE(volume->isSeekSlider());
    EXPECT_EQ(volume->id(), 257);
    EXPECT_EQ(volume->geometry().topLeft(), QPoint(635, 1));
    EXPECT_EQ(volume->rangeMin(), 0);
    EXPECT_EQ(volume->rangeMax(), 100);
    EXPECT_EQ(player->currentTimeBox()->geometry(), QRect(0, 0, 40, 20));
    EXPECT_EQ(player->currentTimeBox()->id(), 1003);
    EXPECT_EQ(player->lengthBox()->geometry(), QRect(565, 0, 40, 20));
    EXPECT_EQ(player->lengthBox()->id(), 1006);
    EXPECT_EQ(player->currentTimeBox()->text(), QStringLiteral("00:00"));
    EXPECT_EQ(player->lengthBox()->text(), QStringLiteral("00:00"));

    // Sixteen buttons, each reporting its own action, each with its tooltip
    // (the label, and the key where one has a key), drawn from its skin's
    // normal image; only the rear flip is wider.
    ASSERT_TRUE(SkinLibrary::isLoaded());
    std::set<int> ids;
    for (CSkinButton *b : player->buttons()) {
        ids.insert(b->id());
        EXPECT_TRUE(b->toolTip().startsWith(b->caption())) << b->toolTip().toStdString();
        EXPECT_FALSE(b->currentImage().isNull()) << b->id();
        EXPECT_EQ(b->size(), b->id() == CPlayerMenuDlg::RearVideoFlip ? QSize(30, 20) : QSize(20, 20));
    }
    EXPECT_EQ(ids, (std::set<int>{0, 1, 2, 3, 4, 5, 7, 8, 9, 11, 12, 13, 14, 15, 16, 17}));
    EXPECT_EQ(player->button(CPlayerMenuDlg::Play)->currentImage().toImage(), skinImage(214));
    EXPECT_EQ(player->button(CPlayerMenuDlg::Play)->geometry().topLeft(), QPoint(120, 23));

    // Wide: a = (W - 1580) / 2 truncated toward zero.
    EXPECT_EQ(CPlayerMenuDlg::widePlacement(QSize(1920, 1080)), QRect(1020, 1015, 720, 70));
    EXPECT_EQ(CPlayerMenuDlg::widePlacement(QSize(1281, 1024)), QRect(701, 959, 401, 70));
    player->setLayout(1);
    EXPECT_TRUE(player->isVisible());
    mainWindow->move(mainWindow->pos() + QPoint(30, 10));
    player->followMainWindow();
    EXPECT_NE(player->pos(), mainWindow->frameGeometry().topLeft() + QPoint(24, 453)); // stays in the wide layouts
    player->setLayout(0);
    EXPECT_EQ(player->geometry(), QRect(mainWindow->frameGeometry().topLeft() + QPoint(24, 453), QSize(730, 50)));
}

TEST_F(PlayerTest, PlayPauseStopWithTheirPanelCommands)
{
    // Play with no focused row does nothing visible.
    click(CPlayerMenuDlg::Play);
    pump();
    EXPECT_NE(state(), StateRunning);
    EXPECT_TRUE(peer(panel::SensorInfo).messages.empty());

    // Play on a focused row opens it with its rear partner and plays it.
    focusRow(0);
    click(CPlayerMenuDlg::Play);
    ASSERT_TRUE(waitFor([this] { return state() == StateRunning; }));
    MediaEngine &engine = GetViewerState().engine;
    EXPECT_EQ(engine.metadataMode, 0);
    EXPECT_EQ(player->currentName(), QStringLiteral("N_20120305_142233_2CH_F.avi"));
    EXPECT_EQ(player->currentIndex(), 0);
    EXPECT_EQ(player->seekSlider()->rangeMax(), static_cast<int>(engine.GetDurationMs()));
    EXPECT_NEAR(static_cast<double>(engine.GetDurationMs()), kSampleLengthMs, 200);
    EXPECT_TRUE(player->isTimerActive(CPlayerMenuDlg::kProgressTimer));
    EXPECT_EQ(player->button(CPlayerMenuDlg::Play)->currentImage().toImage(), skinImage(212));
    pump();
    EXPECT_TRUE(peer(panel::SensorInfo).got(cmd::Start));
    EXPECT_TRUE(peer(panel::ScreenSettings).got(cmd::Start));

    // The progress tick moves the slider, the time and the graph's cursor.
    ASSERT_TRUE(waitFor([this] { return player->seekSlider()->pos() >= 1000; }));
    EXPECT_EQ(player->currentTimeBox()->text().left(4), QStringLiteral("00:0"));
    EXPECT_EQ(player->lengthBox()->text(), QStringLiteral("00:08"));
    EXPECT_FALSE(peer(panel::GsensorGraph).cursorTimes.empty());

    // Play again pauses; the panels hear it and the tick stops.
    clearMessages();
    click(CPlayerMenuDlg::Play);
    EXPECT_EQ(state(), StatePaused);
    EXPECT_FALSE(player->isTimerActive(CPlayerMenuDlg::kProgressTimer));
    EXPECT_EQ(player->button(CPlayerMenuDlg::Play)->currentImage().toImage(), skinImage(214));
    pump();
    EXPECT_TRUE(peer(panel::SensorInfo).got(cmd::Pause));
    EXPECT_TRUE(peer(panel::ScreenSettings).got(cmd::Pause));

    // Command 3 from another panel resumes, command 4 pauses.
    sendMessage(player.get(), msg::PanelCommand, cmd::Start);
    EXPECT_EQ(state(), StateRunning);
    sendMessage(player.get(), msg::PanelCommand, cmd::Pause);
    EXPECT_EQ(state(), StatePaused);

    // Stop: graph stopped, slider emptied, times reset, resets posted, and
    // the pictures go with them (Play starts from the beginning).
    QImage picture;
    ASSERT_EQ(engine.GrabFrame(0, picture), 1);
    clearMessages();
    click(CPlayerMenuDlg::Stop);
    EXPECT_EQ(state(), StateStopped);
    EXPECT_EQ(engine.GrabFrame(0, picture), 0) << "the stopped recording's picture is still shown";
    EXPECT_EQ(player->seekSlider()->rangeMax(), 0);
    EXPECT_EQ(player->currentTimeBox()->text(), QStringLiteral("00:00"));
    EXPECT_EQ(player->lengthBox()->text(), QStringLiteral("00:00"));
    pump();
    EXPECT_TRUE(peer(panel::SensorInfo).got(cmd::Reset));
    EXPECT_TRUE(peer(panel::GsensorGraph).got(cmd::Reset));

    // Play after Stop opens the focused row again.
    click(CPlayerMenuDlg::Play);
    EXPECT_TRUE(waitFor([this] { return state() == StateRunning; }));
}

TEST_F(PlayerTest, StepsThroughTheListAndPlaysAfterASecond)
{
    // Next File without a focused row selects the first row and plays it after 1 s.
    EXPECT_EQ(sendMessage(player.get(), msg::ButtonClick, CPlayerMenuDlg::NextFile), 1);
    EXPECT_EQ(list->currentIndex().row(), 0);
    EXPECT_TRUE(list->topLevelItem(0)->isSelected());
    EXPECT_TRUE(player->isTimerActive(CPlayerMenuDlg::kNextFileTimer));
    pump();
    EXPECT_TRUE(peer(panel::SensorInfo).got(cmd::Reset));
    QTest::qWait(600);
    EXPECT_NE(state(), StateRunning); // not before the second is up
    ASSERT_TRUE(waitFor([this] { return state() == StateRunning; }, 3000));
    EXPECT_EQ(player->currentIndex(), 0);
    EXPECT_FALSE(player->isTimerActive(CPlayerMenuDlg::kNextFileTimer));

    // Previous file on the first row does nothing, and playback goes on.
    EXPECT_EQ(sendMessage(player.get(), msg::ButtonClick, CPlayerMenuDlg::PreviousFile), 0);
    EXPECT_EQ(state(), StateRunning);
    EXPECT_FALSE(player->isTimerActive(CPlayerMenuDlg::kNextFileTimer));

    // Next while playing pauses, moves one row down, and plays that row.
    EXPECT_EQ(sendMessage(player.get(), msg::ButtonClick, CPlayerMenuDlg::NextFile), 1);
    EXPECT_EQ(state(), StatePaused);
    EXPECT_FALSE(player->isTimerActive(CPlayerMenuDlg::kProgressTimer));
    EXPECT_EQ(list->currentIndex().row(), 1);
    EXPECT_FALSE(list->topLevelItem(0)->isSelected());
    ASSERT_TRUE(waitFor([this] { return player->currentIndex() == 1 && state() == StateRunning; }, 3000));
    EXPECT_EQ(GetViewerState().engine.graph->channelCount, 1);

    // Previous moves back up.
    EXPECT_EQ(sendMessage(player.get(), msg::ButtonClick, CPlayerMenuDlg::PreviousFile), 1);
    EXPECT_EQ(list->currentIndex().row(), 0);

    // Next File on the last row does nothing.
    player->killTimer(CPlayerMenuDlg::kNextFileTimer);
    focusRow(kSampleRows - 1);
    EXPECT_EQ(sendMessage(player.get(), msg::ButtonClick, CPlayerMenuDlg::NextFile), 0);
    EXPECT_EQ(list->currentIndex().row(), kSampleRows - 1);
    EXPECT_FALSE(player->isTimerActive(CPlayerMenuDlg::kNextFileTimer));
}

TEST_F(PlayerTest, EndOfARecordingMovesOnOrStopsAtTheLastRow)
{
    ASSERT_TRUE(openRow(2));
    MediaEngine &engine = GetViewerState().engine;
    const auto length = static_cast<quintptr>(engine.GetDurationMs());
    sendMessage(player.get(), msg::Seek, length - 300);
    ASSERT_TRUE(waitFor([this] { return player->currentIndex() == 3 && state() == StateRunning; }, 6000));
    EXPECT_EQ(list->currentIndex().row(), 3);

    // Row 3 is the last that plays: make it the last row of the list.
    delete list->takeTopLevelItem(kSampleRows - 1);
    sendMessage(player.get(), msg::Seek, length - 300);
    ASSERT_TRUE(waitFor([this] { return state() == StateStopped; }, 4000));
    EXPECT_EQ(player->seekSlider()->rangeMax(), 0);
    EXPECT_FALSE(player->isTimerActive(CPlayerMenuDlg::kProgressTimer));
    EXPECT_FALSE(player->isTimerActive(CPlayerMenuDlg::kNextFileTimer));
}

TEST_F(PlayerTest, PlayAfterAFailedOpenTriesTheFocusedRowAgain)
{
    focusRow(kSampleRows - 1); // not a recording
    click(CPlayerMenuDlg::Play);
    EXPECT_EQ(state(), -1); // no graph
    EXPECT_FALSE(player->isTimerActive(CPlayerMenuDlg::kProgressTimer));
    EXPECT_EQ(player->currentIndex(), -1);
    // Stop, seek and the other buttons do nothing harmful without a graph.
    for (int action : {CPlayerMenuDlg::Stop, CPlayerMenuDlg::Rewind, CPlayerMenuDlg::Forward,
                       CPlayerMenuDlg::ScreenSwitching, CPlayerMenuDlg::RearVideoFlip, CPlayerMenuDlg::Print})
        click(action);
    sendMessage(player.get(), msg::Seek, 1000);
    EXPECT_EQ(state(), -1);

    focusRow(1);
    click(CPlayerMenuDlg::Play);
    EXPECT_TRUE(waitFor([this] { return state() == StateRunning; }));
    // Command 5 does the same from a failed open.
    focusRow(kSampleRows - 1);
    sendMessage(player.get(), msg::PanelCommand, cmd::Restart);
    EXPECT_EQ(state(), -1);
    focusRow(0);
    sendMessage(player.get(), msg::PanelCommand, cmd::Restart);
    EXPECT_TRUE(waitFor([this] { return state() == StateRunning; }));
}

TEST_F(PlayerTest, WithoutASourceOrARowNothingOpens)
{
    ViewerState &state = GetViewerState();
    list->clear();
    EXPECT_EQ(player->openFocusedRecording(), 0);
    // A row that the catalogue did not fill has no recording behind it.
    auto *stray = new QTreeWidgetItem;
    list->insertTopLevelItem(0, stray);
    list->addTopLevelItem(new QTreeWidgetItem);
    list->addTopLevelItem(new QTreeWidgetItem);
    list->addTopLevelItem(new QTreeWidgetItem);
    list->addTopLevelItem(new QTreeWidgetItem);
    list->addTopLevelItem(new QTreeWidgetItem);
    focusRow(5);
    EXPECT_EQ(player->openFocusedRecording(), 0);
    // No source selected: nothing opens.
    state.catalogue.setSources({});
    focusRow(0);
    EXPECT_EQ(player->openFocusedRecording(), 0);
    EXPECT_NE(this->state(), StateRunning);
}

TEST_F(PlayerTest, DestructionStopsAndClosesTheEngine)
{
    ASSERT_TRUE(openRow(0));
    player.reset();
    EXPECT_EQ(GetViewerState().engine.graph, nullptr);
    EXPECT_EQ(state(), -1);
}

TEST_F(PlayerTest, MouseAndKeysDriveThePanel)
{
    focusRow(0);
    // A click on the Play button reaches the panel through its posted message.
    QTest::mouseClick(player->button(CPlayerMenuDlg::Play), Qt::LeftButton);
    ASSERT_TRUE(waitFor([this] { return state() == StateRunning; }));
    QTest::mouseClick(player->button(CPlayerMenuDlg::Play), Qt::LeftButton);
    ASSERT_TRUE(waitFor([this] { return state() == StatePaused; }));

    // Keys on the seek slider seek to the slider's own position.
    CBitmapSlider *seek = player->seekSlider();
    seek->setFocus();
    QTest::keyClick(seek, Qt::Key_End);
    pump();
    MediaEngine &engine = GetViewerState().engine;
    EXPECT_EQ(engine.GetPositionMs(), engine.GetDurationMs());
    QTest::keyClick(seek, Qt::Key_Home);
    pump();
    EXPECT_EQ(engine.GetPositionMs(), 0u);
    EXPECT_EQ(player->currentTimeBox()->text(), QStringLiteral("00:00"));

    // The volume slider's keys reach the engine's volume.
    CBitmapSlider *volume = player->volumeSlider();
    volume->setFocus();
    QTest::keyClick(volume, Qt::Key_Home);
    pump();
    EXPECT_EQ(volume->pos(), 0);
}

TEST_F(PlayerTest, CardRecordingsOpenThroughTheCardDevice)
{
    TempDir dir;
    const std::string image = dir.file("card.img");
    QProcess mkcard;
    mkcard.start(QString::fromUtf8(KORVANTE_BINARY_DIR "/bin/korvante-mkcard"),
                 {QStringLiteral("--image"), QString::fromStdString(image), QStringLiteral("--per-kind"),
                  QStringLiteral("1"), QStringLiteral("--seconds"), QStringLiteral("2"), QStringLiteral("--size"),
                  QStringLiteral("320x240"), QStringLiteral("--audio"), QStringLiteral("none"),
                  QStringLiteral("--channels"), QStringLiteral("2")});
    ASSERT_TRUE(mkcard.waitForFinished(300000));
    ASSERT_EQ(mkcard.exitCode(), 0) << mkcard.readAllStandardError().toStdString();

    RecordingCatalogue &catalogue = GetViewerState().catalogue;
    StorageSource card;
    card.kind = SourceTavo;
    card.label = "/media/card/ (TAVO)";
    ASSERT_TRUE(setText64(card.devicePath, image));
    catalogue.setSources({card});
    ASSERT_TRUE(catalogue.selectSource(0));
    TreeListView view(*list);
    ASSERT_GE(catalogue.listAllWithoutRepair(view), 1);

    ASSERT_TRUE(openRow(0));
    MediaEngine &engine = GetViewerState().engine;
    const RecordingEntry *entry = catalogue.shownEntryAt(0);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(engine.graph->frontPath, catalogue.cardPathOf(*entry));
    EXPECT_EQ(player->currentName(), QString::fromStdString(entry->name));
    EXPECT_NEAR(static_cast<double>(engine.GetDurationMs()), 2000, 200);
    click(CPlayerMenuDlg::Stop);
    EXPECT_EQ(state(), StateStopped);
}
