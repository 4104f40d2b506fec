// The trip bar in the viewer's main window, offscreen, on a card that
// korvante-mkcard writes (two 20 s recordings of each kind, one every 30 s:
// one drive with a 10 s gap after each recording; each parked recording is
// knocked into at 10 s). A click on the bar plays the moment under it in the
// recording that holds it, to the frame (the pictures carry their frame
// numbers); Ctrl+Right and Ctrl+Left go from incident to incident across
// recordings; the map shows the whole trip's track, driven up to the
// position.

#include "core/config/viewer_config.h"
#include "core/playback/viewer_state.h"
#include "gui/app/trail_player_dlg.h"
#include "gui/display/map_view.h"
#include "gui/display/map_view_dlg.h"
#include "gui/overview/overview_dlg.h"
#include "gui/platform/message_box.h"
#include "gui/platform/messages.h"
#include "gui/platform/panel_registry.h"
#include "gui/playback/player_menu_dlg.h"
#include "gui/storage/file_manager_dlg.h"
#include "gui/trip/trip_bar.h"
#include "mkcard/frame_code.h"
#include "support/viewer_window.h"

#include <QCheckBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace korvante::testing {
namespace {

using namespace std::chrono;

constexpr int kFps = 30;

QApplication &app()
{
    // Nothing leaves this machine: no connectivity check, tiles on loopback.
    qputenv("KORVANTE_MAP_PROBE", "off");
    qputenv("KORVANTE_MAP_TILES", "http://127.0.0.1:9/");
    return viewerTestApp("gui_trip_viewer_tests", {.cardRegistryFirst = true, .shareGlContexts = true});
}

const std::string &cardFolder()
{
    static TempDir dir;
    static const std::string path = makeSampleCard(
        dir, QStringLiteral("--per-kind 2 --seconds 20 --size 320x240 --audio none --fps 30").split(QLatin1Char(' ')));
    return path;
}

class TripViewerTest : public ViewerWindowTest {
protected:
    void SetUp() override
    {
        app();
        openWindow(cardFolder(), 8);
        bar = window->tripBar();
        ASSERT_NE(bar, nullptr);
        player = window->playerPanel();
    }

    bool settledOn(const std::string &name) const
    {
        const int s = GetViewerState().engine.GetState();
        return player->currentName() == QString::fromStdString(name) && !player->isOpening() &&
               (s == StateRunning || s == StatePaused) && !GetViewerState().engine.SeekWaiting();
    }
    // The front picture's frame number as painted into it.
    int frameShown() const
    {
        QImage image;
        GetViewerState().engine.GrabFrame(0, image);
        image = image.convertToFormat(QImage::Format_RGB32);
        return framecode::decodeFrameNumber(image.constBits(), image.width(), image.height(),
                                            static_cast<int>(image.bytesPerLine()));
    }
    // Waits until `name` plays from `offsetMs` (its position at or up to
    // a few seconds past it, as it plays on).
    ::testing::AssertionResult landsNear(const std::string &name, std::int64_t offsetMs)
    {
        std::uint64_t at = 0;
        const bool ok = waitUntil(
            [&] {
                at = GetViewerState().engine.GetPositionMs();
                return settledOn(name) && at + 40 >= static_cast<std::uint64_t>(offsetMs) &&
                       at < static_cast<std::uint64_t>(offsetMs) + 3000;
            },
            15000);
        if (ok)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "wanted " << name << " from " << offsetMs << " ms, "
                                             << player->currentName().toStdString() << " is at " << at << " ms";
    }
    // Whether the paused picture is the frame of `offsetMs`, within one frame.
    ::testing::AssertionResult showsFrameOf(std::int64_t offsetMs)
    {
        const int want = static_cast<int>(offsetMs * kFps / 1000);
        int shown = -1;
        if (waitUntil([&] { return std::abs((shown = frameShown()) - want) <= 1; }, 5000))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "wanted frame " << want << ", shown " << shown;
    }
    void pause()
    {
        if (GetViewerState().engine.GetState() == StateRunning)
            player->runAction(CPlayerMenuDlg::Play);
        ASSERT_EQ(GetViewerState().engine.GetState(), StatePaused);
    }
    // Plays the first row and waits for its trip on the bar.
    std::shared_ptr<const trip::TripTimeline> playFirst()
    {
        // As a double click on the first row plays it.
        window->fileList()->moveToRow(0);
        PostToPanel(panel::PlayerControl, msg::PanelCommand, cmd::Restart);
        EXPECT_TRUE(waitUntil([&] { return bar->trip() != nullptr; }, 20000)) << bar->text().toStdString();
        return bar->trip();
    }
    QJsonObject mapState() const
    {
        auto *map = qobject_cast<CMapViewDlg *>(FindPanel(panel::MapView));
        if (!map || !map->mapView()->isPageReady())
            return {};
        return QJsonDocument::fromJson(map->mapView()->CallScript(QStringLiteral("MapState()")).toUtf8()).object();
    }

    TripBar *bar = nullptr;
    CPlayerMenuDlg *player = nullptr;
};

TEST_F(TripViewerTest, AClickOnTheBarPlaysThatMomentOfTheTripToTheFrameInWhicheverRecordingHoldsIt)
{
    const auto trip = playFirst();
    ASSERT_TRUE(trip);
    ASSERT_EQ(trip->recordings.size(), 8u);
    EXPECT_EQ(trip->duration(), seconds{7 * 30 + 20});
    const std::string first = trip->recordings[0].source.name;
    ASSERT_TRUE(waitUntil([&] { return settledOn(first) && bar->position().has_value(); }, 15000));
    EXPECT_TRUE(bar->text().startsWith(QString::fromStdString(overview::cameraTimeText(trip->start()).substr(0, 16))))
        << bar->text().toStdString();
    EXPECT_TRUE(bar->text().endsWith(QStringLiteral(" / 03:50"))) << bar->text().toStdString();

    QSignalSpy asked(bar, &TripBar::seekRequested);
    const int y = bar->stripRect().center().y();
    const auto click = [&](overview::CameraTime t) {
        const QRect s = bar->stripRect();
        const int x = s.left() + static_cast<int>((t - trip->start()).count() * s.width() / trip->duration().count());
        QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, QPoint(x, y));
        EXPECT_FALSE(asked.isEmpty());
        return asked.isEmpty() ? t : asked.takeLast().at(0).value<overview::CameraTime>();
    };
    // Into the fifth recording (a parked one), another recording's part:
    // opened there. Then within it, and into the first one again.
    const overview::CameraTime targets[] = {trip->recordings[4].start + milliseconds{13400},
                                            trip->recordings[4].start + milliseconds{4100},
                                            trip->recordings[0].start + milliseconds{15700}};
    for (const overview::CameraTime target : targets) {
        const overview::CameraTime askedFor = click(target);
        const auto where = trip->locate(askedFor);
        ASSERT_TRUE(where);
        const std::string name = trip->recordings[where->recording].source.name;
        EXPECT_TRUE(landsNear(name, where->offsetMs)) << overview::cameraTimeText(askedFor, true);
        // The bar shows where the player is.
        ASSERT_TRUE(waitUntil([&] { return bar->position() && *bar->position() - askedFor < seconds{3}; }));
        // Paused, the same click shows the very frame of that moment.
        pause();
        EXPECT_EQ(click(target), askedFor);
        EXPECT_TRUE(showsFrameOf(where->offsetMs)) << overview::cameraTimeText(askedFor, true);
        EXPECT_EQ(GetViewerState().engine.GetState(), StatePaused);
    }

    // Paused, a click into another recording opens it paused on that frame.
    const overview::CameraTime elsewhere = click(trip->recordings[6].start + milliseconds{8200});
    const auto there = trip->locate(elsewhere);
    ASSERT_TRUE(there);
    EXPECT_TRUE(landsNear(trip->recordings[there->recording].source.name, there->offsetMs));
    EXPECT_TRUE(showsFrameOf(there->offsetMs));
    EXPECT_EQ(GetViewerState().engine.GetState(), StatePaused);

    // A click in a gap: the next recording from its start.
    const overview::CameraTime gap = click(trip->recordings[1].end() + seconds{5});
    ASSERT_LT(gap, trip->recordings[2].start);
    EXPECT_TRUE(landsNear(trip->recordings[2].source.name, 0));

    // "Play trips continuously" at the end of the bar is the player's own setting.
    QCheckBox *continuous = bar->continuousBox();
    ASSERT_TRUE(continuous->isVisible());
    EXPECT_GT(continuous->x(), bar->stripRect().right());
    const bool was = player->continuous();
    EXPECT_EQ(continuous->isChecked(), was);
    QTest::mouseClick(continuous, Qt::LeftButton, Qt::NoModifier, QPoint(6, continuous->height() / 2));
    EXPECT_EQ(player->continuous(), !was);
    player->setContinuous(was); // kept across runs: as it was
    EXPECT_TRUE(boxes.empty()) << boxes.front().toStdString();
}

TEST_F(TripViewerTest, CtrlArrowsGoFromIncidentToIncidentAndTheMapShowsTheWholeTripDriven)
{
    const auto trip = playFirst();
    ASSERT_TRUE(trip);
    ASSERT_EQ(trip->incidents.size(), 2u); // the two knocks of the parked car
    ASSERT_TRUE(waitUntil([&] { return settledOn(trip->recordings[0].source.name); }, 15000));

    const auto expectOn = [&](const trip::TripIncident &incident) {
        const trip::TripRecording &r = trip->recordings[incident.where.recording];
        EXPECT_EQ(r.source.name.front(), 'P');
        EXPECT_TRUE(landsNear(r.source.name, incident.where.offsetMs));
    };
    QTest::keyClick(window.get(), Qt::Key_Right, Qt::ControlModifier);
    expectOn(trip->incidents[0]);
    QTest::keyClick(window.get(), Qt::Key_Right, Qt::ControlModifier);
    expectOn(trip->incidents[1]);
    // Past the last one nothing moves; back again goes to the first.
    const QString before = player->currentName();
    QTest::keyClick(window.get(), Qt::Key_Right, Qt::ControlModifier);
    pumpEvents();
    EXPECT_EQ(player->currentName(), before);
    QTest::keyClick(window.get(), Qt::Key_Left, Qt::ControlModifier);
    expectOn(trip->incidents[0]);

    // The map: every point of the trip, those up to the position driven.
    ASSERT_GT(trip->track.size(), 100u);
    QJsonObject page;
    const auto drivenNow = [&] {
        const std::size_t playing = trip->indexOf(player->currentName().toStdString()).value_or(0);
        const auto now = trip->recordings[playing].start + milliseconds{GetViewerState().engine.GetPositionMs()};
        return std::count_if(trip->track.begin(), trip->track.end(), [&](const trip::TrackPoint &p) { return p.at <= now; });
    };
    EXPECT_TRUE(waitUntil(
        [&] {
            page = mapState();
            const auto driven = page.value(QStringLiteral("driven")).toInt();
            return page.value(QStringLiteral("trackPoints")).toInt() == static_cast<int>(trip->track.size()) &&
                   std::abs(driven - drivenNow()) <= 2 && driven > 0;
        },
        30000))
        << QJsonDocument(page).toJson(QJsonDocument::Compact).toStdString() << " driven now " << drivenNow();
    EXPECT_LT(page.value(QStringLiteral("driven")).toInt(), static_cast<int>(trip->track.size()));

    // The overview's "At least" is the bar's: above every peak, no incident is left.
    window->overviewPanel()->setThreshold(COverviewDlg::kMaxThreshold);
    EXPECT_TRUE(waitUntil([&] { return bar->trip() && bar->trip() != trip && bar->trip()->incidents.empty(); }, 10000));
    EXPECT_TRUE(boxes.empty()) << boxes.front().toStdString();
}

} // namespace
} // namespace korvante::testing
