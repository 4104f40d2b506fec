// The card overview panel on results made here: what its lists say and in
// which order, the threshold, what a double-click asks to play, and the
// marks it gives the G-sensor graph; the figures in each speed unit.

#include "core/overview/card_overview.h"
#include "core/playback/viewer_state.h"
#include "gui/display/gsensor_graphic_dlg.h"
#include "gui/display/gsensor_plot.h"
#include "gui/overview/overview_dlg.h"
#include "gui/overview/overview_text.h"
#include "support/gui_app.h"

#include <QDoubleSpinBox>
#include <QLabel>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

namespace korvante::testing {
namespace {

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;
using overview::OverviewResult;
using overview::RecordingItem;

QStringList cells(std::initializer_list<const char *> texts)
{
    QStringList list;
    for (const char *text : texts)
        list << QString::fromUtf8(text);
    return list;
}

QApplication &app()
{
    return guiTestApp("gui_overview_panel_tests");
}

std::chrono::local_seconds at(int hour, int minute, int second)
{
    return std::chrono::local_days{std::chrono::year{2026} / 3 / 5} + std::chrono::hours{hour} +
           std::chrono::minutes{minute} + std::chrono::seconds{second};
}

struct Spike {
    std::int32_t offsetMs;
    float g;
};

// A recording of `seconds` with samples at rest every 100 ms, the spikes
// given, and (with `kmh`) a fix a second at that speed along a meridian.
RecordingItem recording(const std::string &name, std::int32_t kind, std::chrono::local_seconds start, int seconds,
                        std::vector<Spike> spikes, std::optional<float> kmh)
{
    RecordingItem item;
    item.name = name;
    item.kind = kind;
    item.start = start;
    item.metadata.lengthMs = seconds * 1000;
    for (std::int32_t ms = 0; ms < seconds * 1000; ms += 100) {
        float g = 1.0f;
        for (const Spike &s : spikes)
            if (s.offsetMs == ms)
                g = s.g;
        item.metadata.samples.push_back({ms, g});
    }
    if (kmh)
        for (int s = 0; s < seconds; ++s)
            // The camera set to UTC+8 and 47 s slow.
            item.metadata.fixes.push_back({s * 1000, 37.5 + s * (*kmh / 3.6) / 111195.0, 127.0, *kmh,
                                           (start.time_since_epoch() - std::chrono::hours{8} +
                                            std::chrono::seconds{47 + s}).count()});
    item.summary = overview::summarize(item.metadata);
    return item;
}

// Two trips: three recordings from 10:00:00 (the event one overlapping the
// second normal one) and one at 11:00:00, more than the gap later.
std::shared_ptr<const OverviewResult> sampleResult()
{
    auto result = std::make_shared<OverviewResult>();
    result->items = {
        recording("N_20260305_100000_2CH_F.avi", 0, at(10, 0, 0), 60, {}, 50.0f),
        recording("N_20260305_100100_2CH_F.avi", 0, at(10, 1, 0), 60, {{20000, 1.8f}}, 50.0f),
        recording("E_20260305_100130_2CH_F.avi", 1, at(10, 1, 30), 30, {{10000, 2.4f}}, 50.0f),
        recording("N_20260305_110000_2CH_F.avi", 0, at(11, 0, 0), 60, {{3000, 1.6f}}, std::nullopt),
    };
    for (const RecordingItem &item : result->items)
        result->paths.push_back("/card/" + item.name);
    result->scanned = 3;
    result->cached = 1;
    return result;
}

class OverviewPanelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        app();
        GetViewerState().speedUnit = 0;
        main = std::make_unique<QWidget>(nullptr, Qt::Window | Qt::FramelessWindowHint);
        main->setGeometry(700, 100, 780, 780);
        panel = std::make_unique<COverviewDlg>(main.get());
        panel->setPlayLink([this](const COverviewDlg::PlayRequest &r) {
            requests.push_back(r);
            return refusal;
        });
        panel->setResult(sampleResult());
        panel->show();
        pumpEvents();
    }
    void TearDown() override
    {
        panel.reset();
        main.reset();
        GetViewerState().speedUnit = 0;
    }

    static QStringList row(QTreeView *list, int r)
    {
        QStringList cells;
        for (int c = 0; c < list->model()->columnCount(); ++c)
            cells << list->model()->index(r, c).data().toString();
        return cells;
    }
    void doubleClick(QTreeView *list, int r)
    {
        const QRect cell = list->visualRect(list->model()->index(r, 1));
        // A double click is a click followed by the double-click press.
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
        pumpEvents();
    }

    std::unique_ptr<QWidget> main;
    std::unique_ptr<COverviewDlg> panel;
    std::vector<COverviewDlg::PlayRequest> requests;
    QString refusal;
};

TEST_F(OverviewPanelTest, ListsTheTripsInTimeOrderAndTheIncidentsStrongestFirst)
{
    QTreeView *trips = panel->tripList();
    ASSERT_EQ(trips->model()->rowCount(), 2);
    EXPECT_EQ(row(trips, 0).mid(0, 4), (cells({"01", "2026-03-05 10:00:00", "10:02:00", "2:00"})));
    EXPECT_EQ(row(trips, 0).mid(5), (cells({"50 km/h", "2.40 g", "3"})));
    EXPECT_TRUE(row(trips, 0)[4].endsWith(QStringLiteral(" km")));
    EXPECT_EQ(row(trips, 1), (cells({"02", "2026-03-05 11:00:00", "11:01:00", "1:00", "0.0 km", "0 km/h",
                                          "1.60 g", "1"})));

    QTreeView *incidents = panel->incidentList();
    ASSERT_EQ(incidents->model()->rowCount(), 3);
    // The event recording holds the strongest; the last has no fix before it.
    EXPECT_EQ(row(incidents, 0),
              (cells({"001", "2026-03-05 10:01:40.0", "2.40 g", "E_20260305_100130_2CH_F.avi", "50 km/h"})));
    EXPECT_EQ(row(incidents, 1),
              (cells({"002", "2026-03-05 10:01:20.0", "1.80 g", "N_20260305_100100_2CH_F.avi", "50 km/h"})));
    EXPECT_EQ(row(incidents, 2),
              (cells({"003", "2026-03-05 11:00:03.0", "1.60 g", "N_20260305_110000_2CH_F.avi", "-"})));
    EXPECT_EQ(panel->statusLine()->text(),
              QStringLiteral("4 recordings, 2 trips, 3 incidents (1 from the cache); camera clock 47 s slow"));
}

TEST_F(OverviewPanelTest, TheThresholdFindsTheIncidentsAgainWithoutReading)
{
    const OverviewResult *read = panel->result();
    struct Case {
        double threshold;
        std::vector<float> forces;
    };
    const Case cases[] = {
        {1.5, {2.4f, 1.8f, 1.6f}}, {1.7, {2.4f, 1.8f}}, {2.0, {2.4f}}, {2.5, {}}, {1.6, {2.4f, 1.8f, 1.6f}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.threshold);
        panel->thresholdBox()->setValue(c.threshold);
        pumpEvents();
        std::vector<float> forces;
        for (const overview::Incident &incident : panel->incidents())
            forces.push_back(incident.g);
        EXPECT_EQ(forces, c.forces);
        EXPECT_EQ(panel->incidentList()->model()->rowCount(), static_cast<int>(c.forces.size()));
        EXPECT_EQ(panel->result(), read);
        EXPECT_FALSE(panel->isScanning());
    }
    // Outside the control's range the threshold stops at its ends.
    panel->setThreshold(0.2);
    EXPECT_DOUBLE_EQ(panel->threshold(), COverviewDlg::kMinThreshold);
    panel->setThreshold(20);
    EXPECT_DOUBLE_EQ(panel->threshold(), COverviewDlg::kMaxThreshold);
    EXPECT_TRUE(panel->incidents().empty());
}

TEST_F(OverviewPanelTest, DoubleClicksAskForTheRecordingAndTheOffset)
{
    struct Case {
        bool trip;
        int row;
        std::string name;
        std::int64_t startMs;
    };
    const Case cases[] = {
        {false, 0, "E_20260305_100130_2CH_F.avi", 5000}, // 10 s in: from 5 s
        {false, 1, "N_20260305_100100_2CH_F.avi", 15000},
        {false, 2, "N_20260305_110000_2CH_F.avi", 0}, // 3 s in: from the start
        {true, 0, "N_20260305_100000_2CH_F.avi", 0},
        {true, 1, "N_20260305_110000_2CH_F.avi", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        requests.clear();
        doubleClick(c.trip ? panel->tripList() : panel->incidentList(), c.row);
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].name, c.name);
        EXPECT_EQ(requests[0].path, "/card/" + c.name);
        EXPECT_EQ(requests[0].startMs, c.startMs);
    }
    // Enter on the current row plays it as well; a refusal is said on the panel.
    refusal = QStringLiteral("Cannot play it: gone");
    requests.clear();
    panel->incidentList()->setFocus();
    panel->incidentList()->setCurrentIndex(panel->incidentList()->model()->index(1, 0));
    QTest::keyClick(panel->incidentList(), Qt::Key_Return);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].startMs, 15000);
    EXPECT_EQ(panel->messageLine()->text(), refusal);
}

TEST_F(OverviewPanelTest, MarksAreTheIncidentsOfOneRecording)
{
    const auto marks = panel->marksFor("N_20260305_100100_2CH_F.avi", "/card/N_20260305_100100_2CH_F.avi");
    ASSERT_EQ(marks.size(), 1u);
    EXPECT_EQ(marks[0].offsetMs, 20000);
    EXPECT_FLOAT_EQ(marks[0].g, 1.8f);
    EXPECT_EQ(panel->marksFor("E_20260305_100130_2CH_F.avi", "").size(), 1u); // by name alone
    EXPECT_TRUE(panel->marksFor("N_20260305_100000_2CH_F.avi", "").empty());
    EXPECT_TRUE(panel->marksFor("X_unknown.avi", "").empty());
    // Above its force the mark goes, and the graph is told.
    int told = 0;
    QObject::connect(panel.get(), &COverviewDlg::incidentsChanged, [&told] { ++told; });
    panel->setThreshold(2.0);
    EXPECT_EQ(told, 1);
    EXPECT_TRUE(panel->marksFor("N_20260305_100100_2CH_F.avi", "").empty());
    panel->setResult(nullptr);
    EXPECT_EQ(told, 2);
    EXPECT_TRUE(panel->marksFor("E_20260305_100130_2CH_F.avi", "").empty());
    EXPECT_EQ(panel->tripList()->model()->rowCount(), 0);
}

TEST_F(OverviewPanelTest, TheViewersSpeedUnitWritesDistancesAndSpeeds)
{
    struct Case {
        int unit;
        QString speed;
        QString distanceUnit;
    };
    for (const Case &c : {Case{0, u"50 km/h"_s, u" km"_s}, Case{1, u"31 mph"_s, u" mi"_s}, Case{2, u"27 kn"_s, u" nmi"_s}}) {
        GetViewerState().speedUnit = c.unit;
        panel->refreshSpeedUnit();
        EXPECT_EQ(panel->tripList()->model()->index(0, 5).data().toString(), c.speed);
        EXPECT_TRUE(panel->tripList()->model()->index(0, 4).data().toString().endsWith(c.distanceUnit));
        EXPECT_EQ(panel->incidentList()->model()->index(0, 4).data().toString(), c.speed);
    }
}

TEST(OverviewText, FiguresAreWrittenInTheUnit)
{
    struct Case {
        QString got, want;
    };
    const Case cases[] = {
        {overview_text::duration(0ms), u"0 s"_s},
        {overview_text::duration(59'400ms), u"59 s"_s},
        {overview_text::duration(59'600ms), u"1:00"_s},
        {overview_text::duration(725'000ms), u"12:05"_s},
        {overview_text::duration(3'725'000ms), u"1:02:05"_s},
        {overview_text::distance(12'345, 0), u"12.3 km"_s},
        {overview_text::distance(1609.344 * 7.6, 1), u"7.6 mi"_s},
        {overview_text::distance(1852 * 6.6, 2), u"6.6 nmi"_s},
        {overview_text::distance(-5, 0), u"0.0 km"_s},
        {overview_text::speed(87.4f, 0), u"87 km/h"_s},
        {overview_text::speed(100.0f, 1), u"62 mph"_s},
        {overview_text::speed(100.0f, 2), u"54 kn"_s},
        {overview_text::speed(std::optional<float>{}, 0), u"-"_s},
        {overview_text::force(1.834), u"1.83 g"_s},
        {overview_text::force(2.0), u"2.00 g"_s},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.got, c.want);
}

// The graph's marks, drawn where the cursor would stand at their time.
TEST(GraphMarks, EachIncidentOfTheFirstMinuteIsAYellowLineWithItsForce)
{
    app();
    QWidget main(nullptr, Qt::Window | Qt::FramelessWindowHint);
    main.setGeometry(100, 100, 780, 780);
    CGsensorGraphicDlg graph(&main);
    graph.show();
    pumpEvents();
    const QRect cursor = gsensor::plotGeometry(false).cursor;
    const auto yellowIn = [&](const QImage &image, int x) {
        int n = 0;
        for (int y = cursor.top(); y < cursor.bottom(); ++y)
            n += image.pixel(x, y) == CGsensorGraphicDlg::kMarkColour;
        return n;
    };
    struct Case {
        std::int32_t offsetMs;
        bool drawn;
    };
    for (const Case c : {Case{10000, true}, Case{45500, true}, Case{60000, true}, Case{60001, false}, Case{-1, false}}) {
        SCOPED_TRACE(c.offsetMs);
        graph.setIncidentMarks({{c.offsetMs, 1.83f}});
        const QImage image = graph.grab().toImage();
        const std::optional<int> x = gsensor::markX(cursor, c.offsetMs);
        EXPECT_EQ(x.has_value(), c.drawn);
        if (x) {
            EXPECT_GT(yellowIn(image, *x), 20);
        }
        int columns = 0;
        for (int col = 0; col < image.width(); ++col)
            columns += yellowIn(image, col) > 20;
        EXPECT_EQ(columns, c.drawn ? 1 : 0);
    }
    graph.setIncidentMarks({});
    const QImage clear = graph.grab().toImage();
    for (int col = 0; col < clear.width(); ++col)
        ASSERT_EQ(yellowIn(clear, col), 0) << col;
}

} // namespace
} // namespace korvante::testing
