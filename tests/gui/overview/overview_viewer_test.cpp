// The card overview in the viewer's main window, offscreen, on a card that
// korvante-mkcard writes (one recording of each kind, 20 s; the parked car is
// knocked into at 10 s, a hard moment well above 1.5 g): key T, reading the
// listed card, double-clicks that play through the file list from the right
// offset (the kind filter widened when it hid the recording), and the mark
// on the G-sensor graph of the recording that holds the incident.

#include "core/config/viewer_config.h"
#include "core/playback/viewer_state.h"
#include "gui/app/trail_player_dlg.h"
#include "gui/display/gsensor_graphic_dlg.h"
#include "gui/overview/overview_dlg.h"
#include "gui/platform/message_box.h"
#include "gui/playback/player_menu_dlg.h"
#include "gui/storage/file_manager_dlg.h"
#include "gui/ui/skin_button.h"
#include "gui/ui/skin_combo_box.h"
#include "support/viewer_window.h"

#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QProcess>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

#include <cstdlib>

namespace korvante::testing {
namespace {

QApplication &app() { return viewerTestApp("gui_overview_viewer_tests"); }

const std::string &cardFolder()
{
    static TempDir dir;
    static const std::string path =
        makeSampleCard(dir, {QStringLiteral("--per-kind"), QStringLiteral("1"), QStringLiteral("--seconds"),
                             QStringLiteral("20"), QStringLiteral("--size"), QStringLiteral("320x240"),
                             QStringLiteral("--audio"), QStringLiteral("none")});
    return path;
}

class OverviewViewerTest : public ViewerWindowTest {
protected:
    void SetUp() override
    {
        app();
        openWindow(cardFolder(), 4);
        panel = window->overviewPanel();
        ASSERT_NE(panel, nullptr);
    }

    // Shows the panel and waits for its overview of the card.
    void readCard()
    {
        if (!panel->isVisible())
            QTest::keyClick(window.get(), Qt::Key_T);
        ASSERT_TRUE(panel->isVisible());
        ASSERT_TRUE(waitUntil([&] { return panel->result() && !panel->isScanning(); }, 30000));
    }
    void doubleClick(QTreeView *list, int row)
    {
        const QRect cell = list->visualRect(list->model()->index(row, 1));
        // A double click is a click followed by the double-click press.
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
    }
    std::uint64_t position() const { return GetViewerState().engine.GetPositionMs(); }
    bool playing(const std::string &name) const
    {
        const int s = GetViewerState().engine.GetState();
        return window->playerPanel()->currentName() == QString::fromStdString(name) &&
               (s == StateRunning || s == StatePaused);
    }
    std::string listedName(int row) const
    {
        const RecordingEntry *entry = GetViewerState().catalogue.shownEntryAt(row);
        return entry ? entry->name : std::string();
    }

    COverviewDlg *panel = nullptr;
};

TEST_F(OverviewViewerTest, KeyTAndTheTitleButtonToggleThePanel)
{
    EXPECT_FALSE(panel->isVisible());
    QTest::keyClick(window.get(), Qt::Key_T);
    EXPECT_TRUE(panel->isVisible());
    QTest::keyClick(panel->tripList(), Qt::Key_T); // wherever the focus is in the viewer
    EXPECT_FALSE(panel->isVisible());
    CSkinButton *button = window->titleButton(CVX_TrailPlayerDlg::kOverviewButton);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->geometry().topLeft(), QPoint(650, 2));
    EXPECT_TRUE(button->toolTip().contains(QStringLiteral("(T)")));
    QTest::mouseClick(button, Qt::LeftButton);
    pumpEvents();
    EXPECT_TRUE(panel->isVisible());
    // The threshold box is a text field: a T typed there stays there.
    panel->thresholdBox()->setFocus();
    QTest::keyClick(panel->thresholdBox(), Qt::Key_T);
    EXPECT_TRUE(panel->isVisible());
}

TEST_F(OverviewViewerTest, AnIncidentPlaysItsRecordingFromFiveSecondsBeforeThePeakAndIsMarked)
{
    readCard();
    const overview::OverviewResult &result = *panel->result();
    ASSERT_EQ(result.items.size(), 4u);
    EXPECT_EQ(panel->trips().size(), 1u); // 20 s recordings every 30 s: one drive
    ASSERT_FALSE(panel->incidents().empty());
    const overview::Incident incident = panel->incidents().front();
    const std::string name = result.items[incident.recording].name;
    EXPECT_EQ(name.front(), 'P'); // the knock, not the brake (about 1.4 g)
    EXPECT_NEAR(incident.offsetMs, 10000, 300);
    EXPECT_GT(incident.g, 1.5f);

    // The list shows normal recordings only: the parked one is not a row.
    window->fileList()->kindFilter()->setCurrentIndex(1);
    ASSERT_EQ(window->fileList()->rowCount(), 1);

    QElapsedTimer clock;
    clock.start();
    doubleClick(panel->incidentList(), 0);
    // Within less time than playing from the start would take to get there.
    const std::int64_t from = incident.offsetMs - 5000;
    ASSERT_TRUE(waitUntil([&] { return playing(name) && position() + 200 >= static_cast<std::uint64_t>(from); },
                          from - 1000))
        << "at " << position() << " ms of " << window->playerPanel()->currentName().toStdString();
    EXPECT_LT(clock.elapsed(), from - 500);
    EXPECT_EQ(window->fileList()->kindFilter()->currentIndex(), 0);
    EXPECT_EQ(listedName(window->fileList()->currentRow()), name);
    EXPECT_TRUE(panel->messageLine()->text().isEmpty()) << panel->messageLine()->text().toStdString();

    // Its graph marks the incident; another recording's shows no mark.
    ASSERT_TRUE(waitUntil([&] { return !window->graph()->incidentMarks().empty(); }));
    EXPECT_EQ(window->graph()->incidentMarks().front().offsetMs, incident.offsetMs);
    EXPECT_FLOAT_EQ(window->graph()->incidentMarks().front().g, incident.g);
    doubleClick(panel->tripList(), 0);
    const std::string first = result.items[panel->trips().front().recordings.front()].name;
    EXPECT_EQ(first.front(), 'N');
    ASSERT_TRUE(waitUntil([&] { return playing(first); }, 10000));
    EXPECT_LT(position(), 4000u); // from its start
    EXPECT_EQ(listedName(window->fileList()->currentRow()), first);
    ASSERT_TRUE(waitUntil([&] { return window->graph()->incidentMarks().empty(); }));
    EXPECT_TRUE(boxes.empty()) << boxes.front().toStdString();
}

TEST_F(OverviewViewerTest, ASecondOverviewComesFromTheCacheAndAnotherSourceStartsAnew)
{
    readCard();
    readCard(); // the same card again: nothing new to read
    window->overviewPanel()->toggleShown();
    window.reset();
    // A new viewer on the same card reads every recording from the cache.
    window = std::make_unique<CVX_TrailPlayerDlg>();
    window->show();
    pumpEvents();
    window->openPath(QString::fromStdString(cardFolder()));
    panel = window->overviewPanel();
    readCard();
    EXPECT_EQ(panel->result()->cached, 4u);
    EXPECT_EQ(panel->result()->scanned, 0u);
    EXPECT_TRUE(panel->statusLine()->text().contains(QStringLiteral("all from the cache")));

    // Another folder listed while the panel is shown: its (empty) overview.
    TempDir empty;
    window->openPath(QString::fromStdString(empty.path().string()));
    ASSERT_TRUE(waitUntil([&] { return !panel->isScanning() && !panel->result(); }));
    EXPECT_EQ(panel->tripList()->model()->rowCount(), 0);
    EXPECT_EQ(panel->incidentList()->model()->rowCount(), 0);
    boxes.clear(); // the "no files" message of the empty folder
}

} // namespace
} // namespace korvante::testing
