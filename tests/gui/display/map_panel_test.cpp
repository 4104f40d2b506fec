// The map panel with the real page in the real browser, offscreen: offline
// when the map service cannot be reached (message box, track drawn on the
// plain plane), online over tiles from a loopback map service, the page's
// script calls, the fix step on a playing recording, and the panel's own
// controls and placement. Two panels (offline, online) serve every case.

#include "map_fixture.h"

#include "core/playback/metadata_poller.h"
#include "core/playback/viewer_state.h"
#include "gui/display/map_view.h"
#include "gui/platform/message_box.h"
#include "gui/platform/messages.h"
#include "gui/platform/skin_library.h"
#include "gui/ui/skin_button.h"
#include "support/log_capture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QMouseEvent>

#include <gtest/gtest.h>

#include <cmath>

using namespace korvante;
using namespace korvante::testing;

namespace {

QPointF centreOf(const QImage &image, QRgb colour)
{
    double sx = 0, sy = 0;
    int n = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (std::abs(qRed(p) - qRed(colour)) <= 30 && std::abs(qGreen(p) - qGreen(colour)) <= 30 &&
                std::abs(qBlue(p) - qBlue(colour)) <= 30) {
                sx += x;
                sy += y;
                ++n;
            }
        }
    }
    return n ? QPointF(sx / n, sy / n) : QPointF(-1, -1);
}

CQDRVGPSData fixAt(std::int32_t timestamp, double latitude, double longitude, int valid = 1)
{
    CQDRVGPSData f;
    f.timestamp = timestamp;
    f.latitude = latitude;
    f.longitude = longitude;
    f.valid = valid;
    return f;
}

// A left-button drag by `by` from `from` (panel coordinates) on the panel's body.
void drag(QWidget &widget, QPoint from, QPoint by)
{
    const QPoint global = widget.mapToGlobal(from);
    QMouseEvent press(QEvent::MouseButtonPress, from, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&widget, &press);
    QMouseEvent move(QEvent::MouseMove, from + by, global + by, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&widget, &move);
    QMouseEvent release(QEvent::MouseButtonRelease, from + by, global + by, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(&widget, &release);
}

QStringList received(CMapViewDlg &panel)
{
    QStringList out;
    for (const auto &v : pageState(panel).value(QStringLiteral("received")).toArray())
        out << v.toString();
    return out;
}

class MapPanelTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        mapTestApp();
        s_previousHook = platform::setMessageBoxHook([](const QString &text, const QString &, unsigned) {
            s_boxes.push_back(text);
            return platform::IDOK;
        });
        s_server = new TileServer;
        s_offline = new PanelUnderTest(
            makeMapPanel(QStringLiteral("127.0.0.1:%1").arg(closedPort()), s_server->tileUrl()));
        s_offlineBoxes = s_boxes;
        s_boxes.clear();
        s_online = new PanelUnderTest(
            makeMapPanel(QStringLiteral("127.0.0.1:%1").arg(s_server->port()), s_server->tileUrl()));
        s_onlineBoxes = s_boxes;
    }
    static void TearDownTestSuite()
    {
        delete s_online;
        delete s_offline;
        delete s_server;
        platform::setMessageBoxHook(std::move(s_previousHook));
    }

    void SetUp() override
    {
        ASSERT_FALSE(mapSampleRecording().empty());
        state().engine.AttachScreens(&m_window, nullptr);
        state().clearCurrentFix();
        state().layoutMode = 0;
    }
    void TearDown() override
    {
        ViewerState &s = state();
        s.engine.Close();
        s.engine.AttachScreens(nullptr, nullptr);
        s.engine.waitForPollers();
        s.sensorData.clearSamples();
        s.sensorData.clearFixes();
        s.clearCurrentFix();
        s.layoutMode = 0;
        // A panel whose marker showed takes it down at its next step after the
        // close; run that step now, and a round trip to the page after it, so
        // that it cannot land in the middle of the next test.
        for (CMapViewDlg *panel : {&offline(), &online()}) {
            panel->mapStep();
            pageState(*panel);
        }
    }

    static ViewerState &state() { return GetViewerState(); }
    static CMapViewDlg &offline() { return *s_offline->panel; }
    static CMapViewDlg &online() { return *s_online->panel; }

    // Opens the sample recording paused, with every metadata packet read.
    bool openPaused()
    {
        MediaEngine &engine = state().engine;
        if (engine.Open(mapSampleRecording(), "1CH") != 1) {
            ADD_FAILURE() << "cannot open " << mapSampleRecording();
            return false;
        }
        state().sensorData.clearSamples();
        state().sensorData.clearFixes();
        engine.Play();
        engine.Pause();
        if (engine.GetState() != StatePaused) {
            ADD_FAILURE() << "not paused: state " << engine.GetState();
            return false;
        }
        StartMetadataPoller(engine, state().sensorData);
        // Ten G-sensor samples a second for 40 s; the fixes come with them.
        const bool all = waitFor([] { return state().sensorData.sampleCount() == 400; });
        EXPECT_TRUE(all) << state().sensorData.sampleCount() << " samples, " << state().sensorData.fixCount()
                         << " fixes";
        return all;
    }
    bool pauseAt(std::uint64_t ms)
    {
        MediaEngine &engine = state().engine;
        engine.SetPosition(static_cast<std::int64_t>(ms) * 10000);
        return waitFor([&] { return engine.GetPositionMs() == ms; }, 5000);
    }
    static int validFixes()
    {
        int n = 0;
        state().sensorData.withFixes([&](const std::list<CQDRVGPSData> &fixes) {
            for (const auto &f : fixes)
                n += f.valid ? 1 : 0;
        });
        return n;
    }

    LogCapture m_log;
    NullVideoWindow m_window;

    static inline platform::MessageBoxHook s_previousHook;
    static inline std::vector<QString> s_boxes, s_offlineBoxes, s_onlineBoxes;
    static inline TileServer *s_server = nullptr;
    static inline PanelUnderTest *s_offline = nullptr;
    static inline PanelUnderTest *s_online = nullptr;
};

} // namespace

TEST_F(MapPanelTest, OfflineWhenTheMapServiceCannotBeReached)
{
    ASSERT_EQ(s_offlineBoxes.size(), 1u);
    EXPECT_EQ(s_offlineBoxes.front(), QStringLiteral("Please check your Internet connection."));
    EXPECT_FALSE(offline().isOnline());
    EXPECT_TRUE(offline().isPageLoaded());
    EXPECT_EQ(pageState(offline()).value(QStringLiteral("mode")).toString(), QStringLiteral("offline"));

    ASSERT_TRUE(openPaused());
    ASSERT_GT(validFixes(), 20);
    ASSERT_TRUE(pauseAt(10000));
    offline().mapStep();
    EXPECT_EQ(state().currentFixValid, 1);
    EXPECT_GT(state().currentFix.timestamp, 10000);
    ASSERT_TRUE(waitFor([&] {
        const QJsonObject page = pageState(offline());
        return page.value(QStringLiteral("trackPoints")).toInt() == validFixes() &&
               page.value(QStringLiteral("current")).isArray();
    }));
    // The browser paints a moment after the script has run.
    QImage first;
    EXPECT_TRUE(waitFor([&] {
        first = browserImage(offline());
        return countColour(first, kTrackColour) > 150 && countColour(first, kCarColour) > 30;
    })) << "track or position not drawn: " << countColour(first, kTrackColour) << " track, "
        << countColour(first, kCarColour) << " marker pixels";

    // Later in the recording the marker stands elsewhere on the same track.
    const QPointF a = centreOf(first, kCarColour);
    ASSERT_TRUE(pauseAt(30000));
    offline().mapStep();
    QImage second;
    QPointF b;
    EXPECT_TRUE(waitFor([&] {
        second = browserImage(offline());
        b = centreOf(second, kCarColour);
        return std::hypot(a.x() - b.x(), a.y() - b.y()) > 5.0;
    })) << a.x() << "," << a.y() << " " << b.x() << "," << b.y();
    EXPECT_GT(countColour(second, kTrackColour), 150);
}

TEST_F(MapPanelTest, OnlineOverTilesFromTheMapService)
{
    EXPECT_TRUE(s_onlineBoxes.empty());
    EXPECT_TRUE(online().isOnline());
    const QJsonObject page = pageState(online());
    EXPECT_EQ(page.value(QStringLiteral("mode")).toString(), QStringLiteral("online"));
    EXPECT_EQ(page.value(QStringLiteral("tiles")).toString(), s_server->tileUrl());

    ASSERT_TRUE(openPaused());
    ASSERT_TRUE(pauseAt(20000));
    online().mapStep();
    ASSERT_TRUE(waitFor([&] {
        const QJsonObject now = pageState(online());
        return now.value(QStringLiteral("trackPoints")).toInt() == validFixes() &&
               now.value(QStringLiteral("current")).isArray();
    }));
    EXPECT_TRUE(waitFor([&] { return s_server->requests() > 0; })) << "no tile was asked for";
    EXPECT_TRUE(s_server->userAgent().startsWith("KORVANTE-VIEWER/")) << s_server->userAgent().toStdString();
    // The tiles, the track and the marker all show.
    QImage shot;
    EXPECT_TRUE(waitFor([&] {
        shot = browserImage(online());
        return countColour(shot, TileServer::kTileColour, 6) > 5000 && countColour(shot, kTrackColour) > 100 &&
               countColour(shot, kCarColour) > 30;
    })) << countColour(shot, TileServer::kTileColour, 6) << " tile, " << countColour(shot, kTrackColour)
        << " track, " << countColour(shot, kCarColour) << " marker pixels";
}

TEST_F(MapPanelTest, PageReceivesLongitudeFirstThenLatitude)
{
    EXPECT_EQ(offline().mapView()->CallScript(QStringLiteral("javascript:DrawCurrent('127.000000', '37.508333')")),
              QString());
    EXPECT_EQ(received(offline()), (QStringList{QStringLiteral("127.000000"), QStringLiteral("37.508333")}));
    const QJsonArray current = pageState(offline()).value(QStringLiteral("current")).toArray();
    ASSERT_EQ(current.size(), 2);
    EXPECT_NEAR(current.at(0).toDouble(), 37.508333, 1e-9); // the page keeps [lat, lon]
    EXPECT_NEAR(current.at(1).toDouble(), 127.0, 1e-9);

    // The fix step's own text, south-west of the origin.
    CQDRVTextData data;
    data.appendFix(fixAt(500, -3730.5, -12700.0));
    CQDRVGPSData fix;
    std::int32_t valid = 0;
    const auto script = runFixStep(data, fix, valid, 0);
    ASSERT_TRUE(script.has_value());
    offline().mapView()->CallScript(*script);
    EXPECT_EQ(received(offline()), (QStringList{QStringLiteral("-127.000000"), QStringLiteral("-37.508333")}));
}

TEST_F(MapPanelTest, HostileScriptTextsAreRefusedOrHarmless)
{
    CMap_view &view = *offline().mapView();
    const QString title = view.pageTitle();
    QString longList = QStringLiteral("DrawTrack(");
    for (int i = 0; i < 100000; ++i)
        longList += QStringLiteral("'%1.5', ").arg(i % 170);
    longList += QLatin1Char(')');

    const std::vector<std::pair<QString, QString>> cases = {
        {QString(), QString()},
        {QStringLiteral("MapState"), QString()},                          // no parenthesis
        {QStringLiteral("(((,,;;'\"\t)))"), QString()},                  // only separators
        {QStringLiteral("NoSuchFunction(1, 2)"), QString()},
        {QStringLiteral("document(1)"), QString()},                       // not a function
        {QStringLiteral("javascript:alert.call(1)"), QString()},          // not a plain name
        {QStringLiteral("DrawCurrent('1'');document.title=('x')"), QString()},
        {QStringLiteral("DrawTrack('1\\', '2\\')"), QStringLiteral("1")}, // backslashes stay text
        {QStringLiteral("DrawTrack(\"3\"'4'  ;  5  6)"), QStringLiteral("2")},
    };
    for (const auto &[text, expected] : cases)
        EXPECT_EQ(view.CallScript(text), expected) << text.toStdString();
    // 50000 points: either drawn or refused by the script engine, never a crash.
    const QString result = view.CallScript(longList, 10000);
    EXPECT_TRUE(result.isEmpty() || result == QStringLiteral("50000")) << result.toStdString();

    EXPECT_EQ(view.pageTitle(), title) << "a quoted argument escaped into the page";
    EXPECT_EQ(pageState(offline()).value(QStringLiteral("mode")).toString(), QStringLiteral("offline"));
    EXPECT_EQ(view.CallScript(QStringLiteral("DrawTrack()")), QStringLiteral("0"));
    EXPECT_FALSE(view.PostScript(QStringLiteral("no call at all")));
}

TEST_F(MapPanelTest, FixStepKeepsThePositionOnInvalidFixesAndClearsOnEmptyListsInPlayOnly)
{
    ASSERT_TRUE(openPaused());
    CQDRVTextData &data = state().sensorData;
    ASSERT_TRUE(pauseAt(5000));
    offline().mapStep();
    ASSERT_EQ(state().currentFixValid, 1);
    ASSERT_TRUE(waitFor([&] { return !received(offline()).isEmpty(); }));
    const QStringList shown = received(offline());
    const CQDRVGPSData kept = state().currentFix;

    // The next fix after the position is invalid: neither the page nor currentFix move.
    data.clearFixes();
    data.appendFix(fixAt(1000, 100.0, 100.0));
    data.appendFix(fixAt(9000, 4000.0, 13000.0, 0));
    data.appendFix(fixAt(12000, 4100.0, 13100.0));
    offline().mapStep();
    EXPECT_EQ(state().currentFix.timestamp, kept.timestamp);
    EXPECT_EQ(state().currentFix.latitude, kept.latitude);
    EXPECT_EQ(received(offline()), shown);

    // Past the last fix: the position stays.
    ASSERT_TRUE(pauseAt(20000));
    offline().mapStep();
    EXPECT_EQ(state().currentFix.timestamp, kept.timestamp);
    EXPECT_EQ(received(offline()), shown);

    // Emptied lists with the graph paused (a recording without GPS): the
    // current fix goes, and so do the page's marker and track.
    data.clearFixes();
    offline().mapStep();
    EXPECT_EQ(state().currentFixValid, 0);
    EXPECT_EQ(state().currentFix.timestamp, 0);
    EXPECT_TRUE(waitFor([&] {
        const QJsonObject page = pageState(offline());
        return page.value(QStringLiteral("current")).isNull() && page.value(QStringLiteral("trackPoints")).toInt() == 0;
    })) << "the previous recording's marker or track stayed on the map";

    // With the graph stopped nothing is touched.
    data.appendFix(fixAt(30000, 3730.5, 12700.0));
    offline().mapStep();
    ASSERT_EQ(state().currentFixValid, 1);
    ASSERT_TRUE(waitFor([&] { return pageState(offline()).value(QStringLiteral("current")).isArray(); }));
    state().engine.Stop();
    data.clearFixes();
    offline().mapStep();
    EXPECT_EQ(state().currentFixValid, 1);
    EXPECT_EQ(state().currentFix.timestamp, 30000);
    // A recording that does not play shows no car on the map.
    EXPECT_TRUE(waitFor([&] { return pageState(offline()).value(QStringLiteral("current")).isNull(); }));
}

TEST_F(MapPanelTest, ControlsPlacementAndLook)
{
    CMapViewDlg &panel = offline();
    QWidget &main = *s_offline->mainWindow;
    EXPECT_EQ(panel.size(), CMapViewDlg::kSize);
    EXPECT_EQ(panel.mapView()->geometry(), CMapViewDlg::kBrowserRect);
    EXPECT_EQ(panel.geometry().topLeft(), main.frameGeometry().topLeft() + QPoint(770, 0));
    EXPECT_EQ(panel.closeButton()->geometry(), QRect(285, 2, 20, 20));
    EXPECT_EQ(panel.fixedButton()->geometry(), QRect(265, 3, 20, 20));

    // Look: dark background, frame, the white title.
    const QImage look = panel.grab().toImage();
    EXPECT_EQ(look.pixel(1, 150), qRgb(32, 33, 38));
    EXPECT_EQ(look.pixel(150, 12), qRgb(16, 16, 16));
    EXPECT_GT(countColour(look.copy(10, 5, 90, 15), qRgb(255, 255, 255), 60), 15) << "no title";

    // Toggle command 10 and the Close button.
    sendMessage(&panel, msg::PanelCommand, cmd::ToggleMap);
    EXPECT_FALSE(panel.isVisible());
    EXPECT_FALSE(panel.isShownFlag());
    sendMessage(&panel, msg::PanelCommand, cmd::ToggleMap);
    EXPECT_TRUE(panel.isVisible());
    EXPECT_TRUE(panel.isShownFlag());
    sendMessage(&panel, msg::PanelCommand, cmd::ToggleFileList); // not the map's command
    EXPECT_TRUE(panel.isVisible());
    sendMessage(&panel, msg::ButtonClick, CMapViewDlg::kCloseButton);
    EXPECT_FALSE(panel.isVisible());
    EXPECT_FALSE(panel.isShownFlag());
    sendMessage(&panel, msg::PanelCommand, cmd::ToggleMap);
    EXPECT_TRUE(panel.isVisible());

    // "Fixed window": floating panels stay put, docked ones follow.
    const QImage docked = SkinLibrary::bitmap(CMapViewDlg::kDockedImage).toImage();
    const QImage floating = SkinLibrary::bitmap(CMapViewDlg::kFloatingImage).toImage();
    ASSERT_FALSE(docked.isNull());
    EXPECT_EQ(panel.fixedButton()->currentImage().toImage(), docked);
    sendMessage(&panel, msg::ButtonClick, CMapViewDlg::kFixedButton);
    EXPECT_FALSE(panel.isDocked());
    EXPECT_EQ(panel.fixedButton()->currentImage().toImage(), floating);
    QPoint floatingAt = panel.pos();
    drag(panel, QPoint(150, 12), QPoint(40, 30)); // a floating panel drags by its body
    EXPECT_EQ(panel.pos(), floatingAt + QPoint(40, 30));
    floatingAt = panel.pos();
    main.move(main.pos() + QPoint(30, 20));
    panel.followMainWindow();
    EXPECT_EQ(panel.pos(), floatingAt);
    sendMessage(&panel, msg::ButtonClick, CMapViewDlg::kFixedButton);
    EXPECT_TRUE(panel.isDocked());
    EXPECT_EQ(panel.fixedButton()->currentImage().toImage(), docked);
    EXPECT_EQ(panel.geometry().topLeft(), main.frameGeometry().topLeft() + QPoint(770, 0));
    const QPoint dock = panel.pos();
    drag(panel, QPoint(150, 12), QPoint(40, 30)); // docked in the default layout: no drag
    EXPECT_EQ(panel.pos(), dock);
    state().layoutMode = 1;                        // docked, but the main window is wide
    drag(panel, QPoint(150, 12), QPoint(40, 30));
    EXPECT_EQ(panel.pos(), dock + QPoint(40, 30));

    // Wide layouts hide it on top; the default layout brings it back docked.
    state().layoutMode = 2;
    panel.setLayout(1);
    EXPECT_FALSE(panel.isVisible());
    EXPECT_FALSE(panel.isShownFlag());
    EXPECT_TRUE(panel.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    main.move(main.pos() + QPoint(-30, -20));
    panel.followMainWindow();
    state().layoutMode = 0;
    panel.setLayout(0);
    EXPECT_TRUE(panel.isVisible());
    EXPECT_TRUE(panel.isShownFlag());
    EXPECT_FALSE(panel.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(panel.geometry(), QRect(main.frameGeometry().topLeft() + QPoint(770, 0), CMapViewDlg::kSize));
}

TEST_F(MapPanelTest, ATripShowsItsWholeTrackDrivenUpToThePositionAndGoesBackToTheRecordingsOwn)
{
    ASSERT_TRUE(openPaused());
    // A drive of 26 one-minute recordings, a fix a second: 1,560 points
    // north-east from the origin; the open recording plays as the fifth.
    using namespace std::chrono;
    auto trip = std::make_shared<trip::TripTimeline>();
    const overview::CameraTime start{local_days{year{2024} / May / 1} + hours{8}};
    for (int i = 0; i < 26; ++i) {
        trip::TripRecording r;
        r.source.name = "N_" + std::to_string(i);
        r.start = start + minutes{i};
        r.lengthMs = 60000;
        trip->recordings.push_back(r);
    }
    for (int s = 0; s < 26 * 60; ++s)
        trip->track.push_back({start + seconds{s}, 37.5 + s * 1e-4, 127.0 + s * 1e-4, 40.0f});
    trip->settle();
    offline().setTrip(trip, trip->recordings[4].start);
    ASSERT_TRUE(pauseAt(20000)); // 4 min 20 s into the trip
    offline().mapStep();
    QJsonObject page;
    ASSERT_TRUE(waitFor([&] {
        page = pageState(offline());
        return page.value(QStringLiteral("trackPoints")).toInt() == 1560 &&
               page.value(QStringLiteral("driven")).toInt() == 261; // the fixes at 0 s .. 260 s
    })) << QJsonDocument(page).toJson(QJsonDocument::Compact).toStdString();
    // Both shades show; the driven one is the darker.
    const QRgb driven = qRgb(168, 100, 0);
    QImage shot;
    EXPECT_TRUE(waitFor([&] {
        shot = browserImage(offline());
        return countColour(shot, kTrackColour, 30) > 100 && countColour(shot, driven, 30) > 20;
    })) << countColour(shot, kTrackColour, 30) << " track, " << countColour(shot, driven, 30) << " driven";

    // Later in the trip more of it is driven; a track too long for one call is thinned.
    ASSERT_TRUE(pauseAt(35000));
    offline().mapStep();
    EXPECT_TRUE(waitFor([&] { return pageState(offline()).value(QStringLiteral("driven")).toInt() == 276; }));
    for (int s = 26 * 60; s < 3 * 3600; ++s)
        trip->track.push_back({start + seconds{s}, 37.5 + s * 1e-5, 127.0, 40.0f});
    auto longer = std::make_shared<trip::TripTimeline>(*trip);
    offline().setTrip(longer, longer->recordings[4].start);
    offline().mapStep();
    EXPECT_TRUE(waitFor(
        [&] { return pageState(offline()).value(QStringLiteral("trackPoints")).toInt() == kMaxTrackPoints; }));

    // No trip: the recording's own track again, nothing driven.
    offline().setTrip(nullptr, {});
    offline().mapStep();
    EXPECT_TRUE(waitFor([&] {
        page = pageState(offline());
        return page.value(QStringLiteral("trackPoints")).toInt() == validFixes() &&
               page.value(QStringLiteral("driven")).toInt() == 0;
    })) << QJsonDocument(page).toJson(QJsonDocument::Compact).toStdString();
}
