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

TEST_F(UtilInfoTest, FollowsSeeksWhilePausedUntilAReset)
{
    ASSERT_TRUE(playAndPause());
    command(cmd::Pause);
    // Paused, the strip's own timer still follows a seek or a step: the
    // numbers of the new position show without a refresh from outside.
    struct Case {
        std::uint64_t positionMs;
        std::int32_t shownSample; // -1: before the first sample, the axes read 0
    };
    for (const Case c : {Case{10350, 10300}, Case{5050, 5000}, Case{0, -1}, Case{39950, 39900}}) {
        SCOPED_TRACE(c.positionMs);
        ASSERT_TRUE(pauseAt(c.positionMs));
        std::array<std::int32_t, 3> want{0, 0, 0};
        if (c.shownSample >= 0) {
            const auto sample = sampleAt(c.shownSample);
            ASSERT_TRUE(sample);
            want = {sample->x, sample->y, sample->z};
        }
        EXPECT_TRUE(waitFor([&] { return shownRaw() == want; }, 3000));
        EXPECT_TRUE(panel->isRefreshing());
    }
    command(cmd::Reset);
    EXPECT_FALSE(panel->isRefreshing());
    command(cmd::Start);
    EXPECT_TRUE(panel->isRefreshing());
}

TEST_F(UtilInfoTest, NothingHappensWithoutAPlayingGraph)
{
    ASSERT_TRUE(playAndPause());
    ASSERT_TRUE(pauseAt(3050));
    panel->refresh();
    const auto before = shownRaw();
    const QString speedBefore = panel->valueText(CUtilInfoDlg::Speed);
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

TEST_F(UtilInfoTest, PositionAndSpeedOfTheFixAtThePosition)
{
    ASSERT_TRUE(playAndPause());
    ASSERT_TRUE(pauseAt(2050));
    struct Case {
        double latitude, longitude, speed;
        std::int32_t unit;
        const char *latText, *lonText, *speedText;
    };
    const Case cases[] = {
        // Decimal degrees after the hemisphere's letter: 52°31.2163' is 52.520272°.
        {5231.2163, 1323.0000, 100, 0, "N52.520272", "E13.383333", "100 [km/h]"},
        {5231.2163, 1323.0000, 100, 1, "N52.520272", "E13.383333", "062 [mi/h]"},
        {5231.2163, 1323.0000, 100, 2, "N52.520272", "E13.383333", "053 [kn]"},
        {-3352.1292, 15112.5084, 18.52, 0, "S33.868820", "E151.208473", "018 [km/h]"},
        {5130.0000, -7.66548, 0, 2, "N51.500000", "W0.127758", "000 [kn]"},
        // Nonsense from a broken sentence is shown pinned, never a crash.
        {1e300, std::nan(""), 1e300, 0, nullptr, "E0.000000", "2147483647 [km/h]"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.speedText);
        state().speedUnit = c.unit;
        CQDRVGPSData fix;
        fix.latitude = c.latitude;
        fix.longitude = c.longitude;
        fix.speed = c.speed;
        fix.valid = 1;
        fix.timestamp = 2500; // the first fix after the position is the one shown
        CQDRVGPSData later = fix;
        later.timestamp = 3500;
        later.speed = 1;
        state().sensorData.clearFixes();
        state().sensorData.appendFix(fix);
        state().sensorData.appendFix(later);
        panel->refresh();
        if (c.latText) {
            EXPECT_EQ(panel->valueText(CUtilInfoDlg::Latitude).toStdString(), c.latText);
        }
        EXPECT_EQ(panel->valueText(CUtilInfoDlg::Longitude).toStdString(), c.lonText);
        EXPECT_EQ(panel->valueText(CUtilInfoDlg::Speed).toStdString(), c.speedText);
    }
    // An invalid fix at the position leaves the shown values as they are.
    CQDRVGPSData invalid;
    invalid.timestamp = 2500;
    invalid.speed = 40;
    state().sensorData.clearFixes();
    state().sensorData.appendFix(invalid);
    panel->refresh();
    EXPECT_EQ(panel->valueText(CUtilInfoDlg::Speed), QStringLiteral("2147483647 [km/h]"));
}

TEST_F(UtilInfoTest, ResetShowsZerosInTheChosenUnitAndEmptiesTheLists)
{
    ASSERT_TRUE(playAndPause());
    ASSERT_TRUE(pauseAt(6050));
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
