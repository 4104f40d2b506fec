// The backgrounds against the controls the panels place on them: no static
// label may run under a control, the G-sensor grid must sit where the curves
// are drawn, and slider pieces must line up with each other.

#include "packed_skin.h"

#include <gtest/gtest.h>

#include <QRect>

#include <vector>

namespace korvante::skin {
namespace {

using packed::isUniform;
using packed::packedImage;

QImage skin(int id)
{
    const QImage image = packedImage(ImageSet::Skin, id);
    EXPECT_FALSE(image.isNull()) << id;
    return image;
}

void expectFreeUnder(const QImage &background, const std::vector<QRect> &controls, int id)
{
    for (const QRect &r : controls) {
        ASSERT_TRUE(background.rect().contains(r)) << id << ": control outside the background";
        EXPECT_TRUE(isUniform(background, r))
            << id << ": something is drawn under the control at (" << r.x() << ", " << r.y() << ") " << r.width()
            << " x " << r.height();
    }
}

TEST(SkinLayout, DeviceSettingsBackgroundLeavesEveryControlFree)
{
    const QImage image = skin(157);
    ASSERT_FALSE(image.isNull());
    std::vector<QRect> controls;
    // The 27 option buttons, 20 x 20.
    const QPoint options[] = {{70, 110}, {200, 110}, {330, 110}, {200, 311}, {70, 311},  {485, 311}, {355, 311},
                              {775, 311}, {645, 311}, {485, 403}, {355, 403}, {70, 214},  {200, 214}, {330, 214},
                              {70, 507},  {202, 507}, {342, 507}, {484, 507}, {70, 552},  {202, 552}, {342, 552},
                              {484, 552}, {498, 110}, {627, 110}, {757, 110}, {200, 403}, {70, 403}};
    for (const QPoint &o : options)
        controls.emplace_back(o, QSize(20, 20));
    // Clock edits, the two check boxes and the time-zone list.
    for (int x : {66, 185, 326, 445, 570, 687})
        controls.emplace_back(x, 682, 60, 30);
    controls.emplace_back(805, 684, 17, 30);
    controls.emplace_back(710, 519, 17, 30);
    controls.emplace_back(230, 641, 600, 30);
    expectFreeUnder(image, controls, 157);

    // Save and Close carry their faces in the background.
    EXPECT_FALSE(isUniform(image, QRect(374, 739, 158, 36)));
    EXPECT_FALSE(isUniform(image, QRect(833, 10, 65, 28)));
}

TEST(SkinLayout, ReportBackgroundLeavesPreviewEditAndButtonsFree)
{
    const QImage image = skin(149);
    ASSERT_FALSE(image.isNull());
    expectFreeUnder(image,
                    {QRect(15, 74, 909, 524), QRect(20, 605, 790, 88), QRect(874, 20, 41, 41), QRect(820, 606, 91, 87)},
                    149);
}

TEST(SkinLayout, PictureSettingsBackgroundLabelsSitBesideTheSliders)
{
    const QImage image = skin(249);
    ASSERT_FALSE(image.isNull());
    const QRect sliders[] = {{152, 40, 85, 13}, {28, 40, 85, 13}, {152, 75, 85, 13}, {28, 75, 85, 13}};
    // Close at (255, 0) lies on the 2-pixel frame; check below it.
    expectFreeUnder(image, {sliders[0], sliders[1], sliders[2], sliders[3], QRect(255, 2, 20, 18), QRect(242, 80, 32, 20)},
                    249);
    // Each slider has its label in the band just above it.
    for (const QRect &s : sliders)
        EXPECT_FALSE(isUniform(image, QRect(s.left(), s.top() - 15, s.width(), 14))) << "no label above " << s.x();
}

TEST(SkinLayout, GraphGridMatchesThePlotArea)
{
    const QImage image = skin(242);
    ASSERT_FALSE(image.isNull());
    // Curves: left 31, width 301, top 55, height 118, centre line 55 + 59.
    const int centre = 114;
    for (int x : {40, 120, 200, 300}) {
        EXPECT_GT(qGray(image.pixel(x, centre)), qGray(image.pixel(x, centre - 3)) + 20) << x;
        EXPECT_GT(qGray(image.pixel(x, centre)), qGray(image.pixel(x, centre + 3)) + 20) << x;
    }
    // Ten-second grid lines at the sixths of the plot width.
    for (int k = 1; k < 6; ++k) {
        const int x = 31 + k * 301 / 6;
        EXPECT_NE(image.pixel(x, 70), image.pixel(x + 3, 70)) << "no grid line at " << x;
    }
    // Time labels under the plot, and nothing but plot fill well inside it.
    EXPECT_FALSE(isUniform(image, QRect(31, 176, 301, 14)));
    EXPECT_TRUE(isUniform(image, QRect(35, 60, 40, 20)));
}

// Rows that hold visible pixels in column x.
std::vector<int> visibleRows(const QImage &image, int x)
{
    std::vector<int> rows;
    for (int y = 0; y < image.height(); ++y)
        if (qAlpha(image.pixel(x, y)) > 0)
            rows.push_back(y);
    return rows;
}

TEST(SkinLayout, SliderPiecesLineUp)
{
    const struct { int channel, active, thumb, activeThumb; } sliders[] = {{105, 106, 104, 103}, {117, 118, 116, 115}};
    for (const auto &s : sliders) {
        const QImage channel = skin(s.channel);
        const QImage active = skin(s.active);
        ASSERT_EQ(channel.size(), active.size());
        const std::vector<int> grooveRows = visibleRows(channel, channel.width() / 2);
        ASSERT_FALSE(grooveRows.empty());
        EXPECT_EQ(grooveRows, visibleRows(active, active.width() / 2)) << s.channel << " and " << s.active;
        const double grooveMiddle = (grooveRows.front() + grooveRows.back()) / 2.0;
        for (int thumbId : {s.thumb, s.activeThumb}) {
            const QImage thumb = skin(thumbId);
            const std::vector<int> rows = visibleRows(thumb, thumb.width() / 2);
            ASSERT_FALSE(rows.empty());
            // The thumb is centred across the control, which has the channel's height.
            const double thumbMiddle = (rows.front() + rows.back()) / 2.0 + (channel.height() - thumb.height()) / 2.0;
            EXPECT_NEAR(thumbMiddle, grooveMiddle, 0.5) << thumbId;
            EXPECT_LE(thumb.height(), channel.height()) << thumbId;
        }
    }
}

} // namespace
} // namespace korvante::skin
