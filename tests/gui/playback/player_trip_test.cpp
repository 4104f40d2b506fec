// The player going on through a drive: a trip of four recordings (one per
// kind, 10 s apart) and a fifth an hour later. Played continuously, the
// recordings follow in time order whatever the list's order or kind filter,
// each selected in the list as it starts and without the pause of Next File;
// the trip's end and the toggle off do what the end always did; single
// picture steps cross the boundaries.

#include "player_fixture.h"

#include "core/overview/source_overview.h"
#include "gui/platform/message_box.h"
#include "gui/trip/trip_source.h"

#include <gtest/gtest.h>

namespace korvante::testing {
namespace {

namespace fs = std::filesystem;

// Time order: N 14:22:33, E 14:22:46, P 14:22:59, M 14:23:12 (3 s each), and
// M 15:23:12, a copy an hour later (another trip).
const std::vector<std::string> kTrip{"N_20120305_142233_2CH_F.avi", "E_20120305_142246_2CH_F.avi",
                                     "P_20120305_142259_2CH_F.avi", "M_20120305_142312_2CH_F.avi"};
const std::string kLater = "M_20120305_152312_2CH_F.avi";

const fs::path &tripCard()
{
    static TempDir dir;
    static fs::path card;
    if (!card.empty())
        return card;
    const fs::path made = dir.path() / "card";
    QProcess mkcard;
    mkcard.start(QString::fromUtf8(KORVANTE_BINARY_DIR "/bin/korvante-mkcard"),
                 {QStringLiteral("--folder"), QString::fromStdString(made.string()), QStringLiteral("--per-kind"),
                  QStringLiteral("1"), QStringLiteral("--seconds"), QStringLiteral("3"), QStringLiteral("--size"),
                  QStringLiteral("320x240"), QStringLiteral("--audio"), QStringLiteral("none"),
                  QStringLiteral("--channels"), QStringLiteral("2")});
    if (!mkcard.waitForFinished(300000) || mkcard.exitCode() != 0) {
        ADD_FAILURE() << "korvante-mkcard failed";
        return card;
    }
    fs::copy_file(made / "MAN" / kTrip[3], made / "MAN" / kLater);
    fs::copy_file(made / "MAN" / "M_20120305_142312_2CH_R.avi", made / "MAN" / "M_20120305_152312_2CH_R.avi");
    card = made;
    return card;
}

struct ListSetup {
    const char *what;
    SortOrder order;
    int kind; // -1 every kind, else the kind listed alone
    std::size_t first; // where in the trip playing starts
};

class TripPlayerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testApp();
        platform::setMessageBoxHook([](const QString &, const QString &, unsigned) { return platform::IDOK; });
        ASSERT_FALSE(tripCard().empty());
        ViewerState &state = GetViewerState();
        mainWindow = std::make_unique<RecorderPanel>(nullptr, Qt::Window | Qt::FramelessWindowHint);
        RegisterPanel(panel::MainWindow, mainWindow.get());
        front = std::make_unique<CScreen1Dlg>(mainWindow.get());
        rear = std::make_unique<CScreen2Dlg>(mainWindow.get());
        state.engine.AttachScreens(front->videoArea(), rear->videoArea());
        for (int id : {panel::SensorInfo, panel::MapView, panel::FileList, panel::GsensorGraph, panel::ScreenSettings}) {
            peers[id] = std::make_unique<RecorderPanel>();
            RegisterPanel(id, peers[id].get());
        }
        list = std::make_unique<CSkinListCtrl>(1013, QRect(0, 0, 307, 387), nullptr);
        list->setColumnCount(ListColumnCount);
        RecordingCatalogue &catalogue = state.catalogue;
        for (const char *folder : {"NOR", "EVT", "MOT", "MAN"})
            catalogue.addFolder(folder);
        catalogue.addExtension("avi");
        StorageSource source;
        source.label = tripCard().string() + "/";
        source.kind = SourceRemovable;
        catalogue.setSources({source});
        ASSERT_TRUE(catalogue.selectSource(0));
        listAll();

        trips = std::make_unique<TripSource>(nullptr, cache.path().string());
        trips->setRecordings(overview::recordingsOf(catalogue));
        player = std::make_unique<CPlayerMenuDlg>(mainWindow.get(), front.get(), rear.get());
        RegisterPanel(panel::PlayerControl, player.get());
        CSkinListCtrl *rows = list.get();
        player->setFileListLink({[rows] { return rows->focusedRow(); }, [rows] { return rows->topLevelItemCount(); },
                                 [rows](int row) { rows->moveToRow(row); },
                                 [rows] { rows->ensureRowVisible(rows->focusedRow()); }});
        player->setTripLink({trips.get(), [this] {
                                 ++listedAll;
                                 listAll();
                             }});
        player->setContinuous(true);
        mainWindow->show();
        player->show();
        // The trip is read once here, so that playing never waits for it.
        ASSERT_TRUE(waitFor([this] { return trips->tripOf(kTrip[0]) != nullptr; }, 30000));
        ASSERT_EQ(trips->tripOf(kTrip[0])->recordings.size(), kTrip.size());
    }

    void TearDown() override
    {
        player->setContinuous(true);
        player.reset();
        trips.reset();
        list.reset();
        peers.clear();
        ViewerState &state = GetViewerState();
        state.engine.AttachScreens(nullptr, nullptr);
        state.engine.Close();
        state.catalogue.sortOrder = SortOrder::Ascending;
        front.reset();
        rear.reset();
        mainWindow.reset();
        platform::setMessageBoxHook({});
    }

    void listAll()
    {
        TreeListView view(*list);
        GetViewerState().catalogue.listAllWithoutRepair(view);
    }

    std::string rowName(int row) const
    {
        QTreeWidgetItem *item = list->topLevelItem(row);
        return item ? item->text(ColumnName).toStdString() : std::string();
    }

    int rowOf(const std::string &name) const
    {
        for (int row = 0; row < list->topLevelItemCount(); ++row)
            if (rowName(row) == name)
                return row;
        return -1;
    }

    bool play(const std::string &name)
    {
        const int row = rowOf(name);
        if (row < 0)
            return false;
        list->clearSelection();
        list->setCurrentItem(list->topLevelItem(row));
        sendMessage(player.get(), msg::PanelCommand, cmd::Restart);
        waitFor([this] { return !player->isOpening(); });
        return player->currentName().toStdString() == name;
    }

    // Plays on until the trip's last recording has ended (Next File's pause
    // began, or playing stopped). Records each recording as it starts, with
    // the list's focused row at that moment, and whether Next File's pause
    // ran before the trip's end.
    struct Start {
        std::string name;
        std::string focused;
    };
    std::vector<Start> followTrip(int ms)
    {
        std::vector<Start> starts{{player->currentName().toStdString(), rowName(list->focusedRow())}};
        waitFor(
            [&] {
                const std::string now = player->currentName().toStdString();
                if (now != starts.back().name) {
                    starts.push_back({now, rowName(list->focusedRow())});
                    if (now == kTrip.back())
                        rowOfLast = list->focusedRow();
                }
                const bool ended = player->isTimerActive(CPlayerMenuDlg::kNextFileTimer) || state() == StateStopped;
                if (ended && now != kTrip.back())
                    nextFileInside = true;
                return ended;
            },
            ms);
        return starts;
    }
    int state() const { return GetViewerState().engine.GetState(); }

    TempDir cache;
    std::unique_ptr<RecorderPanel> mainWindow;
    std::unique_ptr<CScreen1Dlg> front;
    std::unique_ptr<CScreen2Dlg> rear;
    std::map<int, std::unique_ptr<RecorderPanel>> peers;
    std::unique_ptr<CSkinListCtrl> list;
    std::unique_ptr<TripSource> trips;
    std::unique_ptr<CPlayerMenuDlg> player;
    int listedAll = 0;
    bool nextFileInside = false;
    int rowOfLast = -1;
};

TEST_F(TripPlayerTest, ATripPlaysOnInTimeOrderWhateverTheListShowsAndEndsAsBefore)
{
    const ListSetup setups[] = {
        {"oldest first, every kind", SortOrder::Ascending, -1, 0},
        {"newest first", SortOrder::Descending, -1, 1},
        {"events only", SortOrder::Ascending, 1, 1},
    };
    for (const ListSetup &setup : setups) {
        SCOPED_TRACE(setup.what);
        RecordingCatalogue &catalogue = GetViewerState().catalogue;
        catalogue.sortOrder = setup.order;
        TreeListView view(*list);
        if (setup.kind < 0) {
            catalogue.listAllWithoutRepair(view);
        } else {
            catalogue.listKind(setup.kind, view);
            ASSERT_EQ(list->topLevelItemCount(), 1);
            ASSERT_EQ(rowName(0), kTrip[setup.first]) << "the kind filter lists another kind";
        }
        listedAll = 0;
        nextFileInside = false;
        rowOfLast = -1;
        // At twice the speed (kept from one recording to the next).
        while (player->speed() < 2.0f)
            player->stepSpeed(+1);
        ASSERT_TRUE(play(kTrip[setup.first]));
        const std::vector<Start> starts = followTrip(60000);
        EXPECT_FALSE(nextFileInside) << "Next File's pause ran inside the trip";
        ASSERT_EQ(starts.size(), kTrip.size() - setup.first);
        for (std::size_t i = 0; i < starts.size(); ++i) {
            EXPECT_EQ(starts[i].name, kTrip[setup.first + i]);
            EXPECT_EQ(starts[i].focused, starts[i].name) << "the list did not select the recording that plays";
        }
        EXPECT_EQ(listedAll, setup.kind < 0 ? 0 : 1);
        EXPECT_FLOAT_EQ(GetViewerState().engine.graph->rate, 2.0f);

        // The trip's end (the recording an hour later is not part of it):
        // what the end always did, the next row after Next File's pause, or
        // a stop on the last row.
        ASSERT_GE(rowOfLast, 0);
        const bool rowFollows = rowOfLast + 1 < list->topLevelItemCount();
        EXPECT_EQ(player->isTimerActive(CPlayerMenuDlg::kNextFileTimer), rowFollows);
        if (rowFollows) {
            EXPECT_EQ(list->focusedRow(), rowOfLast + 1);
        }
        EXPECT_EQ(player->currentName().toStdString(), kTrip.back());
        player->runAction(CPlayerMenuDlg::Stop);
        player->killTimer(CPlayerMenuDlg::kNextFileTimer);
    }
    while (player->speed() > 1.0f)
        player->stepSpeed(-1);
}

TEST_F(TripPlayerTest, WithTheToggleOffTheEndWaitsAndPlaysTheNextRowAsBefore)
{
    player->setContinuous(false);
    EXPECT_FALSE(CPlayerMenuDlg(mainWindow.get(), front.get(), rear.get()).continuous()) << "not kept";
    ASSERT_TRUE(play(kTrip[0]));
    const int row = list->focusedRow();
    bool prepared = false;
    ASSERT_TRUE(waitFor(
        [&] {
            prepared = prepared || GetViewerState().engine.IsPreparing();
            return player->isTimerActive(CPlayerMenuDlg::kNextFileTimer);
        },
        20000));
    EXPECT_FALSE(prepared);
    EXPECT_EQ(list->focusedRow(), row + 1);
    EXPECT_EQ(player->currentName().toStdString(), kTrip[0]) << "switched before the pause";
    // The pause ends with the next row played, whatever recording that is.
    ASSERT_TRUE(waitFor([&] { return player->currentName().toStdString() == rowName(row + 1); }, 5000));
    player->runAction(CPlayerMenuDlg::Stop);
    player->setContinuous(true);
    EXPECT_TRUE(CPlayerMenuDlg(mainWindow.get(), front.get(), rear.get()).continuous());
}

TEST_F(TripPlayerTest, PictureStepsCrossIntoTheNeighbouringRecordings)
{
    MediaEngine &engine = GetViewerState().engine;
    ASSERT_TRUE(play(kTrip[0]));
    player->runAction(CPlayerMenuDlg::Play); // pause
    ASSERT_EQ(state(), StatePaused);
    const std::int64_t last = static_cast<std::int64_t>(engine.graph->parseFilter[0]->snapshot()->video[0].frames.size()) - 1;
    engine.SetPosition(engine.graph->graphBuilder->duration() - 10000);
    ASSERT_EQ(player->shownFrame(), last);
    EXPECT_EQ(player->stepFrameInTrip(-1), 1);
    EXPECT_EQ(player->shownFrame(), last - 1) << "a step inside the recording";
    EXPECT_EQ(player->stepFrameInTrip(+1), 1);
    ASSERT_EQ(player->shownFrame(), last);

    // Past the last picture: the next recording of the trip, on its first.
    EXPECT_EQ(player->stepFrameInTrip(+1), 1);
    ASSERT_TRUE(waitFor([&] { return !player->isOpening() && player->currentName().toStdString() == kTrip[1]; }));
    ASSERT_TRUE(waitFor([&] { return state() == StatePaused; }));
    EXPECT_EQ(player->shownFrame(), 0);
    EXPECT_EQ(rowName(list->focusedRow()), kTrip[1]);

    // Before the first picture: back to the last picture of the one before.
    EXPECT_EQ(player->stepFrameInTrip(-1), 1);
    ASSERT_TRUE(waitFor([&] { return !player->isOpening() && player->currentName().toStdString() == kTrip[0]; }));
    ASSERT_TRUE(waitFor([&] { return state() == StatePaused; }));
    EXPECT_EQ(player->shownFrame(), last);
    EXPECT_EQ(rowName(list->focusedRow()), kTrip[0]);

    // The trip's first picture is as far back as a step goes.
    engine.SetPosition(0);
    EXPECT_EQ(player->shownFrame(), 0);
    EXPECT_EQ(player->stepFrameInTrip(-1), 0);
    EXPECT_EQ(player->currentName().toStdString(), kTrip[0]);
    player->runAction(CPlayerMenuDlg::Stop);
}

} // namespace
} // namespace korvante::testing
