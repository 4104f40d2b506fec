// The sensor strip: it follows the playback position of a recording played by
// the real engine, converts and formats what it shows, repaints only what
// changed, and resets to zeros.

#include "gui/display/util_info_dlg.h"
#include "gui/platform/skin_library.h"
#include "sensor_fixture.h"

#include <QPaintEvent>

#include <memory>

namespace korvante::testing {
namespace {

// Collects the regions of the paint events a widget gets.
class PaintSpy final : public QObject {
public:
    std::vector<QRegion> regions;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            regions.push_back(static_cast<QPaintEvent *>(event)->region());
        return false;
    }
};

class UtilInfoTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        panel = std::make_unique<CUtilInfoDlg>(nullptr);
    }
    void TearDown() override
    {
        panel.reset();
        EngineTest::TearDown();
    }
    void command(int code) { sendMessage(panel.get(), msg::PanelCommand, static_cast<quintptr>(code)); }
    // Opens the normal recording through the panel's start command (which
    // starts the poller), then pauses at the start.
    bool playAndPause()
    {
        MediaEngine &engine = state().engine;
        if (engine.Open(sampleRecordings().at(0), "1CH") != 1 || engine.Play() != S_OK)
            return false;
        command(cmd::Start);
        if (!waitFor([this] { return state().sensorData.sampleCount() == 400; }))
            return false;
        engine.Pause();
        return engine.GetState() == StatePaused;
    }
    std::array<std::int32_t, 3> shownRaw() const { return {panel->rawAxis(0), panel->rawAxis(1), panel->rawAxis(2)}; }

    std::unique_ptr<CUtilInfoDlg> panel;
};

TEST_F(UtilInfoTest, AxesFollowTheLastSampleBeforeThePosition)
{
    ASSERT_TRUE(playAndPause());
    EXPECT_TRUE(panel->isRefreshing());
    struct Case {
        std::uint64_t positionMs;
        std::int32_t shownSample; // the time of the sample the strip shows
    };
    const Case cases[] = {
        {1050, 1000}, // a sample 50 ms before
        {2000, 1900}, // one exactly at the position is not yet shown
        {2001, 2000},
        {12345, 12300},
        {700, 600}, // back again
        {39850, 39800},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.positionMs);
        ASSERT_TRUE(pauseAt(c.positionMs));
        panel->refresh();
        const auto sample = sampleAt(c.shownSample);
        ASSERT_TRUE(sample);
        EXPECT_EQ(shownRaw(), (std::array<std::int32_t, 3>{sample->x, sample->y, sample->z}));
        EXPECT_TRUE(panel->isRefreshing());
    }
}

TEST_F(UtilInfoTest, BeforeTheFirstSampleTheAxesStay)
{
    ASSERT_TRUE(playAndPause());
    ASSERT_TRUE(pauseAt(1050));
    panel->refresh();
    const auto before = shownRaw();
    // The first sample lies at 0: at position 0 nothing lies before it.
    ASSERT_TRUE(pauseAt(0));
    panel->refresh();
    EXPECT_EQ(shownRaw(), before);
}

TEST_F(UtilInfoTest, TimerStopsPastTheLastSampleAndAStartRestartsIt)
{
    ASSERT_TRUE(playAndPause());
    ASSERT_TRUE(pauseAt(5050));
    panel->refresh();
    const auto shown = shownRaw();
    // The last sample is at 39900 ms: past it, the real timer's next step
    // stops the timer and leaves the axes as they were.
    ASSERT_TRUE(pauseAt(39950));
    ASSERT_TRUE(waitFor([this] { return !panel->isRefreshing(); }, 3000));
    EXPECT_EQ(shownRaw(), shown);
    command(cmd::Start);
    EXPECT_TRUE(panel->isRefreshing());
    command(cmd::Pause);
    EXPECT_FALSE(panel->isRefreshing());
}

TEST_F(UtilInfoTest, NothingHappensWithoutAPlayingGraphOrWithoutSamples)
{
    ASSERT_TRUE(playAndPause());
    command(cmd::Pause); // only the steps below refresh
    ASSERT_TRUE(pauseAt(3050));
    panel->refresh();
    const auto before = shownRaw();
    const QString speedBefore = panel->valueText(CUtilInfoDlg::Speed);
    state().currentFix.speed = 50;
    state().currentFixValid = 1;

    // No samples: neither the axes nor the GPS values change.
    state().sensorData.clearSamples();
    panel->refresh();
    EXPECT_EQ(shownRaw(), before);
    EXPECT_EQ(panel->valueText(CUtilInfoDlg::Speed), speedBefore);

    // Samples, but the graph stopped, then closed.
    const std::array<std::int32_t, 3> other{before[0] + 7, before[1] + 7, before[2] + 7};
    setSamples({SensorSample{other[0], other[1], other[2], 0, 3000}, SensorSample{1, 1, 1, 0, 3100}});
    state().engine.Stop();
    panel->refresh();
    EXPECT_EQ(shownRaw(), before);
    state().engine.Close();
    panel->refresh();
    EXPECT_EQ(shownRaw(), before);
    EXPECT_EQ(panel->valueText(CUtilInfoDlg::Speed), speedBefore);
}

TEST_F(UtilInfoTest, AxisValuesInGByTheFirstSamplesKind)
{
    struct Case {
        std::int32_t firstKind;
        std::int32_t raw;
        const char *text;
    };
    const Case cases[] = {
        {2, 1000, "7.882"}, {0, 1000, "31.529"}, {1, 1000, "31.529"}, {3, 1000, "31.529"},
        {2, -511, "-4.028"}, {0, 128, "4.036"}, {2, 0, "0.000"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        panel = std::make_unique<CUtilInfoDlg>(nullptr);
        setSamples({SensorSample{1, 2, 3, c.firstKind, 0}, SensorSample{1, 2, 3, 0, 100}});
        for (int axis = 0; axis < 3; ++axis) {
            const auto kind = static_cast<CUtilInfoDlg::ValueKind>(axis);
            panel->updateValue(kind, c.raw, 0.0f);
            EXPECT_EQ(panel->valueText(kind).toStdString(), c.text);
        }
    }
    // No samples at all: no scale.
    panel = std::make_unique<CUtilInfoDlg>(nullptr);
    setSamples({});
    panel->updateValue(CUtilInfoDlg::AxisY, 1000, 0.0f);
    EXPECT_EQ(panel->valueText(CUtilInfoDlg::AxisY), QStringLiteral("0.000"));
}

TEST_F(UtilInfoTest, RepaintsOnlyTheChangedValueRectangle)
{
    setSamples({SensorSample{0, 0, 0, 2, 0}});
    panel->show();
    pump();
    PaintSpy spy;
    panel->installEventFilter(&spy);
    const QRect xValue = CUtilInfoDlg::valueRect(CUtilInfoDlg::cellOf(CUtilInfoDlg::AxisX));
    EXPECT_EQ(xValue, QRect(QPoint(410, 32), QPoint(520, 51)));

    panel->updateValue(CUtilInfoDlg::AxisX, 1000, 0.0f);
    pump();
    ASSERT_EQ(spy.regions.size(), 1u);
    EXPECT_EQ(spy.regions[0], QRegion(xValue));
    EXPECT_EQ(panel->valueText(CUtilInfoDlg::AxisX), QStringLiteral("7.882"));

    // The same raw value again, even with another kind first in the list: nothing.
    setSamples({SensorSample{0, 0, 0, 0, 0}});
    panel->updateValue(CUtilInfoDlg::AxisX, 1000, 0.0f);
    panel->updateValue(CUtilInfoDlg::Latitude, 0, 0.0f);
    pump();
    EXPECT_EQ(spy.regions.size(), 1u);
    EXPECT_EQ(panel->valueText(CUtilInfoDlg::AxisX), QStringLiteral("7.882"));

    panel->updateValue(CUtilInfoDlg::Latitude, 0, 3730.0f);
    pump();
    ASSERT_EQ(spy.regions.size(), 2u);
    EXPECT_EQ(spy.regions[1], QRegion(CUtilInfoDlg::valueRect(CUtilInfoDlg::cellOf(CUtilInfoDlg::Latitude))));
    panel->removeEventFilter(&spy);
}

TEST_F(UtilInfoTest, PositionAndSpeedOfTheCurrentFix)
{
    ASSERT_TRUE(playAndPause());
    ASSERT_TRUE(pauseAt(2050));
    struct Case {
        double latitude, longitude, speed;
        std::int32_t unit;
        const char *latText, *lonText, *speedText;
    };
    const Case cases[] = {
        {3730.0, 12700.25, 100, 0, "N37.300000", "E127.002500", "100 [km/h]"},
        {3730.0, 12700.25, 100, 1, "N37.300000", "E127.002500", "062 [mi/h]"},
        {3730.0, 12700.25, 100, 2, "N37.300000", "E127.002500", "053 [kn]"},
        {-3730.0, -12700.25, 18.52, 0, "N-37.300000", "E-127.002500", "018 [km/h]"},
        {3733.5, 12658.75, 0, 2, "N37.335000", "E126.587500", "000 [kn]"},
        // Nonsense from a broken sentence is shown pinned, never a crash.
        {1e300, std::nan(""), 1e300, 0, nullptr, "E0.000000", "2147483647 [km/h]"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.speedText);
        state().currentFix.latitude = c.latitude;
        state().currentFix.longitude = c.longitude;
        state().currentFix.speed = c.speed;
        state().currentFixValid = 1;
        state().speedUnit = c.unit;
        panel->refresh();
        if (c.latText) {
            EXPECT_EQ(panel->valueText(CUtilInfoDlg::Latitude).toStdString(), c.latText);
        }
        EXPECT_EQ(panel->valueText(CUtilInfoDlg::Longitude).toStdString(), c.lonText);
        EXPECT_EQ(panel->valueText(CUtilInfoDlg::Speed).toStdString(), c.speedText);
    }
    // Without a valid fix the shown values stay.
    state().currentFix.speed = 40;
    state().currentFixValid = 0;
    panel->refresh();
    EXPECT_EQ(panel->valueText(CUtilInfoDlg::Speed), QStringLiteral("2147483647 [km/h]"));
}

TEST_F(UtilInfoTest, ResetShowsZerosInTheChosenUnitAndEmptiesTheLists)
{
    ASSERT_TRUE(playAndPause());
    ASSERT_TRUE(pauseAt(6050));
    state().currentFix.latitude = 3730.0;
    state().currentFix.longitude = 12700.0;
    state().currentFix.speed = 0; // stands still, as shown at the start
    state().currentFixValid = 1;
    panel->refresh();
    ASSERT_NE(shownRaw(), (std::array<std::int32_t, 3>{0, 0, 0}));
    ASSERT_GT(state().sensorData.fixCount(), 0u);
    state().speedUnit = 1;
    command(cmd::Reset);
    for (auto kind : {CUtilInfoDlg::AxisX, CUtilInfoDlg::AxisY, CUtilInfoDlg::AxisZ})
        EXPECT_EQ(panel->valueText(kind), QStringLiteral("0.000"));
    EXPECT_EQ(panel->valueText(CUtilInfoDlg::Longitude), QStringLiteral("E0.000000"));
    EXPECT_EQ(panel->valueText(CUtilInfoDlg::Latitude), QStringLiteral("N0.000000"));
    EXPECT_EQ(panel->valueText(CUtilInfoDlg::Speed), QStringLiteral("000 [mi/h]"));
    EXPECT_EQ(state().sensorData.sampleCount(), 0u);
    EXPECT_EQ(state().sensorData.fixCount(), 0u);
}

TEST_F(UtilInfoTest, PaintsFramesCaptionsAndValuesInTheirColours)
{
    setSamples({SensorSample{0, 0, 0, 0, 0}});
    panel->updateValue(CUtilInfoDlg::AxisX, -100, 0.0f);
    panel->updateValue(CUtilInfoDlg::AxisY, 100, 0.0f);
    panel->updateValue(CUtilInfoDlg::AxisZ, 100, 0.0f);
    const QImage shot = panel->grab().toImage();
    ASSERT_EQ(shot.size(), QSize(750, 55));
    EXPECT_EQ(shot.pixel(745, 52), qRgb(16, 16, 16));
    // Caption frame 4 pixels above the caption, value frame 16 below it.
    EXPECT_EQ(shot.pixel(450, 8), qRgb(51, 51, 51));
    EXPECT_EQ(shot.pixel(450, 47), qRgb(51, 51, 51));
    EXPECT_EQ(shot.pixel(740, 30), qRgb(51, 51, 51));
    EXPECT_EQ(shot.pixel(741, 30), qRgb(16, 16, 16));
    // Text is drawn smoothed: count the pixels that are clearly of the colour.
    enum Hue { White, Green, Red, Blue };
    const auto isHue = [](QRgb c, Hue hue) {
        const int r = qRed(c), g = qGreen(c), b = qBlue(c);
        switch (hue) {
        case White:
            return r > 170 && g > 170 && b > 170;
        case Green:
            return g > 140 && r < 80 && b < 80;
        case Red:
            return r > 140 && g < 80 && b < 80;
        case Blue:
            return b > 110 && r < 60 && g < 60;
        }
        return false;
    };
    const auto countHue = [&](int cell, bool value, Hue hue) {
        QRect r = CUtilInfoDlg::cells()[static_cast<size_t>(cell)].captionRect;
        if (value)
            r.translate(0, 20);
        int n = 0;
        for (int y = r.top() + 1; y < r.bottom(); ++y)
            for (int x = r.left() + 1; x < r.right(); ++x)
                if (isHue(shot.pixel(x, y), hue))
                    ++n;
        return n;
    };
    const Hue hues[6] = {White, White, White, Green, Red, Blue};
    for (int cell = 0; cell < 6; ++cell) {
        SCOPED_TRACE(cell);
        EXPECT_GT(countHue(cell, false, hues[cell]), 5) << "caption";
        EXPECT_GT(countHue(cell, true, hues[cell]), 5) << "value";
        // Nothing of another axis's colour in this cell.
        for (Hue other : {Green, Red, Blue}) {
            if (other != hues[cell]) {
                EXPECT_EQ(countHue(cell, true, other), 0);
            }
        }
    }
    if (SkinLibrary::isLoaded()) {
        const QImage emblem = SkinLibrary::bitmap(254).toImage();
        ASSERT_FALSE(emblem.isNull());
        EXPECT_EQ(shot.pixel(20, 25), emblem.pixel(20, 20));
    }
}

} // namespace
} // namespace korvante::testing
