// The trip bar drawn on a trip made here: each recording in its kind's
// colour where its time falls, the stretch between recordings empty, the
// incidents and the position as marks at their moments, the times beside it,
// and a press or drag on it asking for the moment under the mouse.

#include "gui/trip/trip_bar.h"
#include "support/gui_app.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>

namespace korvante::testing {
namespace {

using namespace std::chrono;
using overview::CameraTime;

CameraTime at(int hour, int minute, int second)
{
    return CameraTime{local_days{year{2024} / May / 1} + hours{hour} + minutes{minute} + seconds{second}};
}

// 08:00:00 to 08:06:00: normal 0-60 s, event 60-120 s, a gap to 180 s,
// parking 180-240 s, manual 240-360 s; incidents at 90 s and 200 s.
std::shared_ptr<trip::TripTimeline> madeTrip()
{
    auto t = std::make_shared<trip::TripTimeline>();
    const std::pair<int, int> parts[] = {{0, 0}, {60, 1}, {180, 2}, {240, 3}};
    const std::int64_t lengths[] = {60000, 60000, 60000, 120000};
    for (std::size_t i = 0; i < std::size(parts); ++i) {
        trip::TripRecording r;
        r.source.name = "R" + std::to_string(i);
        r.source.kind = parts[i].second;
        r.start = at(8, 0, 0) + seconds{parts[i].first};
        r.lengthMs = lengths[i];
        t->recordings.push_back(r);
    }
    t->incidents.push_back({at(8, 1, 30), 2.1f, {1, 30000}});
    t->incidents.push_back({at(8, 3, 20), 1.8f, {2, 20000}});
    t->settle();
    return t;
}

bool near(QRgb a, QRgb b, int tolerance = 12)
{
    return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

class TripBarTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        bar.resize(780, TripBar::kHeight);
        bar.setTrip(trip);
        bar.show();
        pumpEvents();
    }
    // The x of a moment, by the bar's own geometry.
    int xAt(CameraTime t) const
    {
        const QRect s = bar.stripRect();
        return s.left() + static_cast<int>((t - trip->start()).count() * s.width() / trip->duration().count());
    }
    QRgb pixel(int x, int y = -1)
    {
        const QImage image = bar.grab().toImage();
        return image.pixel(x, y < 0 ? bar.stripRect().center().y() : y);
    }

    QApplication &app = guiTestApp("gui_trip_bar_tests"); // before the bar
    std::shared_ptr<trip::TripTimeline> trip = madeTrip();
    TripBar bar;
};

TEST_F(TripBarTest, SegmentsByKindGapIncidentsAndPositionWhereTheirTimesFall)
{
    bar.setPosition(at(8, 4, 30));
    pumpEvents();
    const QImage image = bar.grab().toImage();
    const int y = bar.stripRect().center().y();
    struct Expect {
        CameraTime t;
        QRgb colour;
        const char *what;
    };
    const Expect cases[] = {
        {at(8, 0, 30), TripBar::kindColour(0).rgb(), "normal"},
        {at(8, 1, 10), TripBar::kindColour(1).rgb(), "event"},
        {at(8, 2, 30), TripBar::kGapColour, "gap"},
        {at(8, 3, 40), TripBar::kindColour(2).rgb(), "parking"},
        {at(8, 5, 30), TripBar::kindColour(3).rgb(), "manual"},
        {at(8, 1, 30), TripBar::kIncidentColour, "first incident"},
        {at(8, 3, 20), TripBar::kIncidentColour, "second incident"},
        {at(8, 4, 30), TripBar::kPositionColour, "position"},
    };
    for (const Expect &e : cases)
        EXPECT_TRUE(near(image.pixel(xAt(e.t), y), e.colour))
            << e.what << " at x " << xAt(e.t) << ": " << std::hex << image.pixel(xAt(e.t), y);
    // The incidents stand out of the strip; the segments do not.
    const int above = bar.stripRect().top() - 2;
    EXPECT_TRUE(near(image.pixel(xAt(at(8, 1, 30)), above), TripBar::kIncidentColour));
    EXPECT_FALSE(near(image.pixel(xAt(at(8, 0, 30)), above), TripBar::kindColour(0).rgb()));
    EXPECT_EQ(bar.text(), QStringLiteral("2024-05-01 08:04:30 \u00b7 04:30 / 06:00"));

    // Another trip (or none) never keeps the old one's position or marks.
    bar.setTrip(nullptr);
    bar.setMessage(QStringLiteral("Reading the trip of X\u2026"));
    pumpEvents();
    EXPECT_TRUE(near(pixel(xAt(at(8, 0, 30))), TripBar::kGapColour));
    EXPECT_TRUE(near(pixel(xAt(at(8, 4, 30))), TripBar::kGapColour));
    EXPECT_EQ(bar.text(), QStringLiteral("Reading the trip of X\u2026"));
    EXPECT_EQ(TripBar::durationText(hours{1} + seconds{62}), QStringLiteral("1:01:02"));
}

TEST_F(TripBarTest, PressAndDragAskForTheMomentUnderTheMouse)
{
    QSignalSpy asked(&bar, &TripBar::seekRequested);
    const int y = bar.stripRect().center().y();
    const auto time = [&](int i) { return asked.at(i).at(0).value<CameraTime>(); };
    const auto within = [&](CameraTime got, CameraTime want) {
        // One pixel of the strip is about 0.7 s of this trip.
        const auto perPixel = trip->duration() / bar.stripRect().width() + milliseconds{1};
        return got - want < perPixel && want - got < perPixel;
    };

    QTest::mousePress(&bar, Qt::LeftButton, Qt::NoModifier, QPoint(xAt(at(8, 3, 40)), y));
    ASSERT_EQ(asked.size(), 1);
    EXPECT_TRUE(within(time(0), at(8, 3, 40)));
    EXPECT_TRUE(asked.at(0).at(1).toBool());
    QTest::mouseMove(&bar, QPoint(xAt(at(8, 5, 0)), y));
    QTest::mouseRelease(&bar, Qt::LeftButton, Qt::NoModifier, QPoint(xAt(at(8, 5, 0)), y));
    ASSERT_EQ(asked.size(), 3); // the press, the move on the way, the end
    EXPECT_FALSE(asked.at(1).at(1).toBool());
    EXPECT_TRUE(asked.at(2).at(1).toBool());
    EXPECT_TRUE(within(time(2), at(8, 5, 0)));
    // While dragged, the bar shows the mouse's moment, not the player's.
    EXPECT_TRUE(within(*bar.position(), at(8, 5, 0)));

    // Past either end: the trip's own ends. Without a trip nothing is asked.
    QTest::mouseClick(&bar, Qt::LeftButton, Qt::NoModifier, QPoint(bar.stripRect().right() + 4, y));
    EXPECT_EQ(time(asked.size() - 1), trip->end());
    QTest::mouseClick(&bar, Qt::LeftButton, Qt::NoModifier, QPoint(0, y));
    EXPECT_EQ(time(asked.size() - 1), trip->start());
    bar.setTrip(nullptr);
    const auto before = asked.size();
    QTest::mouseClick(&bar, Qt::LeftButton, Qt::NoModifier, QPoint(xAt(at(8, 1, 0)), y));
    EXPECT_EQ(asked.size(), before);
}

} // namespace
} // namespace korvante::testing
