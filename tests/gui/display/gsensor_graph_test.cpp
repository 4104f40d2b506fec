// The G-sensor graph: what its pixels show for the samples and the cursor,
// where a click or a drag seeks a recording played by the real engine, and
// how the panel behaves in its two layouts.

#include "gui/display/gsensor_graphic_dlg.h"
#include "gui/display/gsensor_plot.h"
#include "gui/platform/panel_registry.h"
#include "gui/ui/skin_button.h"
#include "sensor_fixture.h"

#include <QTest>

#include <memory>

namespace korvante::testing {
namespace {

const QRgb kGreen = qRgb(0, 255, 0);
const QRgb kCursor = qRgb(255, 138, 72);

class GraphTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        mainWindow = std::make_unique<QWidget>(nullptr, Qt::Window | Qt::FramelessWindowHint);
        mainWindow->setGeometry(100, 100, 780, 780);
        graph = std::make_unique<CGsensorGraphicDlg>(mainWindow.get());
        player = std::make_unique<SeekingPlayer>();
        RegisterPanel(panel::PlayerControl, player.get());
        mainWindow->show();
        graph->show();
        pump();
    }
    void TearDown() override
    {
        graph.reset();
        player.reset();
        mainWindow.reset();
        EngineTest::TearDown();
    }
    QImage shot() { return graph->grab().toImage(); }
    void click(int x, int y)
    {
        QTest::mouseClick(graph.get(), Qt::LeftButton, Qt::NoModifier, QPoint(x, y));
        pump();
    }
    // Pixels of `colour` in column range [x0, x1] of the plot's rows above
    // row `above` (the legend above the plot has curve colours too).
    static int count(const QImage &image, QRgb colour, int x0, int x1, int above)
    {
        int n = 0;
        for (int x = x0; x <= x1; ++x)
            for (int y = 55; y < above; ++y)
                if (image.pixel(x, y) == colour)
                    ++n;
        return n;
    }

    std::unique_ptr<QWidget> mainWindow;
    std::unique_ptr<CGsensorGraphicDlg> graph;
    std::unique_ptr<SeekingPlayer> player;
};

TEST_F(GraphTest, DrawsTheSamplesOfTheFirstMinuteOnly)
{
    // Normal layout: curve rectangle (31, 55)-(332, 173), centre line 114.
    struct Case {
        std::int32_t lastTime;
        bool drawn;
    };
    for (const Case c : {Case{60000, true}, Case{60001, false}, Case{-1, false}}) {
        SCOPED_TRACE(c.lastTime);
        setSamples({SensorSample{0, 0, 0, 0, 0}, SensorSample{100, 0, 0, 0, c.lastTime}});
        graph->setCursorTime(0);
        const QImage image = shot();
        // X (green) climbs from the left end of the centre line to the last
        // sample, 100 raw units above it: y = 114 - 100 * 0.4609 = 67.
        const int green = count(image, kGreen, 250, 335, 110);
        if (c.drawn) {
            EXPECT_GT(green, 60);
            EXPECT_GT(count(image, kGreen, 331, 335, 70), 0) << "the line ends at the right edge, 67";
        } else {
            EXPECT_EQ(green, 0);
        }
    }
}

TEST_F(GraphTest, CurvesFollowTheSamplesOfAPlayedRecording)
{
    ASSERT_TRUE(openPaused(1)); // the event recording: it brakes at 20 s
    graph->setCursorTime(20000);
    const QImage image = shot();
    // SENSOR_GRAPH_SHOT=FILE keeps the picture for a person to look at.
    if (const QString keep = qEnvironmentVariable("SENSOR_GRAPH_SHOT"); !keep.isEmpty())
        image.save(keep);
    // The cursor at 31 + 20000 * 293 / 60000 = 128 from the plot's top to its bottom.
    for (int y = 55; y < 173; ++y)
        ASSERT_EQ(image.pixel(128, y), kCursor) << y;
    EXPECT_NE(image.pixel(128, 173), kCursor);
    // 40 s of samples cover the left two thirds: curves there, none beyond.
    const auto coloured = [&image](int x0, int x1) {
        int n = 0;
        for (int x = x0; x <= x1; ++x)
            for (int y = 55; y < 173; ++y) {
                const QRgb p = image.pixel(x, y);
                if (p == kGreen || p == qRgb(255, 0, 0) || p == qRgb(0, 0, 255))
                    ++n;
            }
        return n;
    };
    EXPECT_GT(coloured(32, 225), 300);
    EXPECT_EQ(coloured(234, 331), 0);
    // The hard brake pulls X far from the centre line around 20 s (x 128 ... 140).
    int deepest = 0;
    for (int x = 125; x <= 145; ++x)
        for (int y = 55; y < 173; ++y)
            if (image.pixel(x, y) == kGreen)
                deepest = std::max(deepest, std::abs(y - 114));
    EXPECT_GE(deepest, 10) << "no brake in the X curve";
}

TEST_F(GraphTest, NoCurvesBeforeTheCursorWasSetAndNoCursorAfterReset)
{
    setSamples({SensorSample{0, 0, 0, 0, 0}, SensorSample{100, 0, 0, 0, 30000}});
    EXPECT_EQ(count(shot(), kGreen, 31, 335, 110), 0);
    graph->setCursorTime(30000);
    QImage image = shot();
    EXPECT_GT(count(image, kGreen, 31, 335, 110), 30);
    EXPECT_GT(count(image, kCursor, 177, 177, 200), 100);
    sendMessage(graph.get(), msg::PanelCommand, cmd::Reset);
    EXPECT_EQ(graph->cursorTime(), 0u);
    image = shot();
    EXPECT_EQ(count(image, kCursor, 0, 335, 200), 0);
    EXPECT_GT(count(image, kGreen, 31, 335, 110), 30) << "the curves stay";
}

TEST_F(GraphTest, ClicksSeekOnTheOneMinuteScale)
{
    ASSERT_TRUE(openPaused(0));
    ASSERT_TRUE(pauseAt(5000));
    // The middle of the plot is half a minute.
    click(179, 100);
    ASSERT_EQ(player->seeks.size(), 1u);
    EXPECT_GE(player->seeks[0], 29999u);
    EXPECT_LE(player->seeks[0], 30000u);
    EXPECT_NEAR(static_cast<double>(state().engine.GetPositionMs()), 30000.0, 100.0);
    // The left edge is the start (asked for as its first millisecond, since a
    // seek of 0 would mean "where the seek slider is").
    click(33, 100);
    ASSERT_EQ(player->seeks.size(), 2u);
    EXPECT_EQ(player->seeks[1], 1u);
    EXPECT_LE(state().engine.GetPositionMs(), 1u);
    // 50 s lies after the end of the 40 s recording: nothing.
    click(33 + 244, 100);
    EXPECT_EQ(player->seeks.size(), 2u);
    // Outside the click rectangle: nothing.
    for (QPoint p : {QPoint(32, 100), QPoint(100, 52), QPoint(325, 100), QPoint(100, 166)})
        click(p.x(), p.y());
    EXPECT_EQ(player->seeks.size(), 2u);
    EXPECT_FALSE(graph->isDragging());
}

TEST_F(GraphTest, DraggingSeeksUntilThePointerLeavesThePlot)
{
    ASSERT_TRUE(openPaused(0));
    QTest::mousePress(graph.get(), Qt::LeftButton, Qt::NoModifier, QPoint(60, 100));
    EXPECT_TRUE(graph->isDragging());
    QMouseEvent move(QEvent::MouseMove, QPointF(90, 100), graph->mapToGlobal(QPointF(90, 100)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(graph.get(), &move);
    QMouseEvent out(QEvent::MouseMove, QPointF(90, 20), graph->mapToGlobal(QPointF(90, 20)), Qt::NoButton,
                    Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(graph.get(), &out);
    EXPECT_FALSE(graph->isDragging());
    QCoreApplication::sendEvent(graph.get(), &move); // back in, but no longer dragging
    QTest::mouseRelease(graph.get(), Qt::LeftButton, Qt::NoModifier, QPoint(90, 100));
    pump();
    ASSERT_EQ(player->seeks.size(), 2u);
    EXPECT_NEAR(static_cast<double>(player->seeks[0]), 27.0 * 60000 / 292, 1.0);
    EXPECT_NEAR(static_cast<double>(player->seeks[1]), 57.0 * 60000 / 292, 1.0);
}

TEST_F(GraphTest, NoSeekWithoutAPlayingRecording)
{
    click(179, 100);
    ASSERT_TRUE(openPaused(0));
    state().engine.Stop();
    click(179, 100);
    EXPECT_TRUE(player->seeks.empty());
    EXPECT_FALSE(graph->isDragging());
}

TEST_F(GraphTest, WideLayoutFloatsTogglesAndSeeksOnItsOwnScale)
{
    const QRect normal = graph->geometry();
    EXPECT_EQ(normal, QRect(mainWindow->frameGeometry().topLeft() + QPoint(421, 515), QSize(336, 200)));
    // Beside the video the toggle does nothing; neither do Escape and Alt+F4.
    sendMessage(graph.get(), msg::PanelCommand, cmd::ToggleGraph);
    QTest::keyClick(graph.get(), Qt::Key_Escape);
    EXPECT_TRUE(graph->isVisible());
    EXPECT_TRUE(graph->isShownFlag());
    EXPECT_FALSE(graph->closeButton()->isVisible());

    state().layoutMode = 1;
    graph->setLayout(1);
    EXPECT_FALSE(graph->isVisible());
    EXPECT_FALSE(graph->isShownFlag());
    EXPECT_EQ(graph->geometry(), QRect(normal.topLeft(), QSize(550, 290)));
    EXPECT_TRUE(graph->windowFlags() & Qt::WindowStaysOnTopHint);
    sendMessage(graph.get(), msg::PanelCommand, cmd::ToggleGraph);
    EXPECT_TRUE(graph->isVisible());
    EXPECT_TRUE(graph->closeButton()->isVisible());
    EXPECT_EQ(graph->closeButton()->geometry(), QRect(520, 10, 20, 20));
    // The same layout again changes nothing: the panel stays shown.
    graph->setLayout(1);
    EXPECT_TRUE(graph->isVisible());
    EXPECT_TRUE(graph->isShownFlag());

    // The floating window is dragged by its top strip.
    const QPoint before = graph->geometry().topLeft();
    const QPointF grip(100, 20);
    QMouseEvent press(QEvent::MouseButtonPress, grip, graph->mapToGlobal(grip), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(graph.get(), &press);
    QMouseEvent drag(QEvent::MouseMove, grip + QPointF(30, 12), graph->mapToGlobal(grip) + QPointF(30, 12),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(graph.get(), &drag);
    QMouseEvent release(QEvent::MouseButtonRelease, grip + QPointF(30, 12), graph->mapToGlobal(grip) + QPointF(30, 12),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(graph.get(), &release);
    EXPECT_EQ(graph->geometry().topLeft(), before + QPoint(30, 12));
    graph->move(before);

    // Seeking on the wide scale: x - 54 over 480 pixels a minute.
    ASSERT_TRUE(openPaused(0));
    click(54 + 240, 150);
    ASSERT_EQ(player->seeks.size(), 1u);
    EXPECT_GE(player->seeks[0], 29999u);
    EXPECT_LE(player->seeks[0], 30000u);

    // Close button, Escape, toggles.
    QTest::mouseClick(graph->closeButton(), Qt::LeftButton);
    pump();
    EXPECT_FALSE(graph->isVisible());
    EXPECT_FALSE(graph->isShownFlag());
    sendMessage(graph.get(), msg::PanelCommand, cmd::ToggleGraph);
    EXPECT_TRUE(graph->isVisible());
    QTest::keyClick(graph.get(), Qt::Key_Escape);
    EXPECT_FALSE(graph->isVisible());
    sendMessage(graph.get(), msg::PanelCommand, cmd::ToggleGraph);
    QTest::keyClick(graph.get(), Qt::Key_F4, Qt::AltModifier);
    EXPECT_FALSE(graph->isVisible());

    // Back beside the video: shown again, the same place, no Close button.
    state().layoutMode = 0;
    graph->setLayout(0);
    EXPECT_TRUE(graph->isVisible());
    EXPECT_EQ(graph->geometry(), normal);
    EXPECT_FALSE(graph->closeButton()->isVisible());
    EXPECT_FALSE(graph->windowFlags() & Qt::WindowStaysOnTopHint);
}

TEST_F(GraphTest, FollowsTheMainWindowOnlyBesideTheVideo)
{
    mainWindow->move(150, 120);
    graph->followMainWindow();
    EXPECT_EQ(graph->geometry().topLeft(), mainWindow->frameGeometry().topLeft() + QPoint(421, 515));
    state().layoutMode = 2;
    graph->setLayout(1);
    const QRect wide = graph->geometry();
    mainWindow->move(10, 10);
    graph->followMainWindow();
    EXPECT_EQ(graph->geometry(), wide);
}

TEST(GsensorPlot, SeekTimesOnBothScales)
{
    struct Case {
        int x;
        bool wide;
        std::uint64_t duration;
        std::optional<std::uint32_t> expected;
    };
    const Case cases[] = {
        {33, false, 40000, 0u},
        {33 + 146, false, 60000, 30000u},
        {33 + 291, false, 60000, 291u * 60000 / 292},
        {33 + 146, false, 29000, std::nullopt},
        {54, true, 1000, 0u},
        {54 + 479, true, 60000, 479u * 60000 / 480},
        {100, false, 0, std::nullopt}, // no length: no division by zero
        {20, false, 40000, std::nullopt},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.x);
        const auto t = gsensor::seekTimeAt(c.x, c.wide, c.duration);
        ASSERT_EQ(t.has_value(), c.expected.has_value());
        if (t) {
            EXPECT_GE(*t + 1, *c.expected);
            EXPECT_LE(*t, *c.expected);
        }
    }
}

} // namespace
} // namespace korvante::testing
