#include "gui/ui/bitmap_slider.h"

#include "gui/platform/messages.h"
#include "ui_test_support.h"

#include <QMouseEvent>
#include <QPainter>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>

using namespace korvante;
using namespace korvante::uitest;

namespace {

// A 200 x 13 channel and a 10 x 13 thumb: pixel(v) = 5 + 190 * v / 100 for 0..100.
class BitmapSliderTest : public UiTest {
protected:
    RecordingPanel panel;

    std::unique_ptr<CBitmapSlider> makeSlider(const QString &text, int id)
    {
        auto slider = std::make_unique<CBitmapSlider>(text, id, QRect(10, 10, 50, 13), &panel);
        slider->setChannelImages(solid(200, 13, Qt::blue), QPixmap(), false);
        slider->setThumbImages(solid(10, 13, Qt::red), QPixmap(), false);
        return slider;
    }

    static void mouse(CBitmapSlider &s, QEvent::Type type, int x)
    {
        const QPointF local(x, 6);
        const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, local, s.mapToGlobal(local), Qt::LeftButton, held, Qt::NoModifier);
        QCoreApplication::sendEvent(&s, &event);
    }
};

TEST_F(BitmapSliderTest, DefaultsAndChannelSizesTheControl)
{
    CBitmapSlider slider(QStringLiteral("VOL"), 257, QRect(635, 1, 85, 13), &panel);
    EXPECT_EQ(slider.rangeMin(), 0);
    EXPECT_EQ(slider.rangeMax(), 100);
    EXPECT_EQ(slider.pos(), 0);
    EXPECT_EQ(slider.pageSize(), 20);
    EXPECT_TRUE(slider.isSliderEnabled());
    EXPECT_TRUE(slider.drawsFocusRect());
    EXPECT_FALSE(slider.isVertical());
    EXPECT_EQ(slider.notifyWindow(), &panel);

    // A missing image leaves the rectangle as given.
    EXPECT_FALSE(slider.setBitmapChannel(999990, 999991, true));
    EXPECT_EQ(slider.geometry(), QRect(635, 1, 85, 13));
    slider.setChannelImages(solid(120, 9, Qt::blue), QPixmap(), true);
    EXPECT_EQ(slider.geometry(), QRect(635, 1, 120, 9));

    slider.setRange(10, 50);
    EXPECT_EQ(slider.pos(), 10);
    slider.setPos(70);
    EXPECT_EQ(slider.pos(), 50);
    slider.setPos(-3);
    EXPECT_EQ(slider.pos(), 10);
}

TEST_F(BitmapSliderTest, PixelAndValueFormulas)
{
    auto s = makeSlider(QStringLiteral("VOL"), 1);
    EXPECT_EQ(s->pixelOfValue(0), 5);
    EXPECT_EQ(s->pixelOfValue(50), 100);
    EXPECT_EQ(s->pixelOfValue(100), 195);
    EXPECT_EQ(s->pixelOfValue(33), 5 + 190 * 33 / 100); // 67, truncated
    EXPECT_EQ(s->valueOfPixel(100), 50);
    EXPECT_EQ(s->valueOfPixel(150), 76); // 145 / 190 * 100 = 76.3
    EXPECT_EQ(s->valueOfPixel(5), 0);

    s->setMargin(4, 0, 6, 0);
    EXPECT_EQ(s->pixelOfValue(0), 9);
    EXPECT_EQ(s->pixelOfValue(100), 189);
    EXPECT_EQ(s->valueOfPixel(99), 50);

    // Truncation is toward zero, also below zero: -50.53 gives -50.
    s->setMargin(0, 0, 0, 0);
    s->setRange(-100, 100);
    EXPECT_EQ(s->valueOfPixel(52), -50);

    // A recording of two hours in milliseconds on the 520-pixel seek channel.
    CBitmapSlider seek(CBitmapSlider::seekText(), 256, QRect(40, 0, 520, 13), &panel);
    seek.setThumbImages(solid(13, 13, Qt::red), QPixmap(), true);
    seek.setRange(0, 7'200'000);
    EXPECT_EQ(seek.pixelOfValue(7'200'000), 520 - 13 + 6);
    EXPECT_EQ(seek.pixelOfValue(3'600'000), 253 + 6);

    // An empty range (a stopped player) neither divides by zero nor moves.
    seek.setRange(0, 0);
    EXPECT_EQ(seek.pixelOfValue(0), 6);
    EXPECT_EQ(seek.valueOfPixel(300), 0);
    QTest::keyClick(&seek, Qt::Key_End);
    QTest::keyClick(&seek, Qt::Key_PageDown);
    EXPECT_EQ(seek.pos(), 0);
}

TEST_F(BitmapSliderTest, SeekSliderAndOtherSlidersPostDifferentMessages)
{
    auto seek = makeSlider(CBitmapSlider::seekText(), 256);
    auto volume = makeSlider(QStringLiteral("VOLUME"), 257);
    QTest::keyClick(seek.get(), Qt::Key_Right);
    QTest::keyClick(volume.get(), Qt::Key_Right);
    EXPECT_TRUE(panel.messages.empty()); // posted, not sent
    pumpEvents();
    ASSERT_EQ(panel.messages.size(), 2u);
    EXPECT_EQ(panel.messages[0].message, msg::Seek);
    EXPECT_EQ(panel.messages[0].w, 0u);
    EXPECT_EQ(panel.messages[0].l, 1);
    EXPECT_EQ(panel.messages[1].message, msg::SliderMoved);
    EXPECT_EQ(panel.messages[1].w, 257u);
    EXPECT_EQ(panel.messages[1].l, 1);

    // An explicit notification window takes the messages instead of the parent.
    RecordingPanel owner;
    volume->setNotifyWindow(&owner);
    QTest::keyClick(volume.get(), Qt::Key_Left);
    pumpEvents();
    EXPECT_EQ(panel.messages.size(), 2u);
    ASSERT_EQ(owner.messages.size(), 1u);
    EXPECT_EQ(owner.messages[0].w, 257u);
}

TEST_F(BitmapSliderTest, KeysMoveClampAndAlwaysNotify)
{
    auto s = makeSlider(QStringLiteral("VOL"), 9);
    QTest::keyClick(s.get(), Qt::Key_End);
    pumpEvents();
    EXPECT_EQ(s->pos(), 100);
    EXPECT_EQ(panel.count(msg::SliderMoved), 1);
    // End again: the position stays, the notification still comes.
    QTest::keyClick(s.get(), Qt::Key_End);
    pumpEvents();
    EXPECT_EQ(s->pos(), 100);
    EXPECT_EQ(panel.count(msg::SliderMoved), 2);

    QTest::keyClick(s.get(), Qt::Key_PageUp);
    EXPECT_EQ(s->pos(), 80);
    QTest::keyClick(s.get(), Qt::Key_Up);
    EXPECT_EQ(s->pos(), 79);
    QTest::keyClick(s.get(), Qt::Key_Down);
    QTest::keyClick(s.get(), Qt::Key_Down);
    EXPECT_EQ(s->pos(), 81);
    QTest::keyClick(s.get(), Qt::Key_PageDown);
    EXPECT_EQ(s->pos(), 100);
    QTest::keyClick(s.get(), Qt::Key_Home);
    EXPECT_EQ(s->pos(), 0);
    QTest::keyClick(s.get(), Qt::Key_Left);
    EXPECT_EQ(s->pos(), 0);
    s->setPageSize(30);
    QTest::keyClick(s.get(), Qt::Key_PageDown);
    EXPECT_EQ(s->pos(), 30);
    pumpEvents();
    EXPECT_EQ(panel.count(msg::SliderMoved), 10);

    // Other keys are not the slider's and post nothing.
    QTest::keyClick(s.get(), Qt::Key_A);
    QTest::keyClick(s.get(), Qt::Key_Space);
    pumpEvents();
    EXPECT_EQ(panel.count(msg::SliderMoved), 10);
}

TEST_F(BitmapSliderTest, DragFollowsPointerWithGrabOffset)
{
    auto s = makeSlider(QStringLiteral("VOL"), 3);
    s->setPos(50); // thumb centre at 100
    mouse(*s, QEvent::MouseButtonPress, 103);
    EXPECT_TRUE(s->isDragging());
    EXPECT_EQ(s->dragOffset(), 3);
    EXPECT_EQ(s->pos(), 50); // pressing on the thumb moves nothing
    pumpEvents();
    EXPECT_TRUE(panel.messages.empty());

    mouse(*s, QEvent::MouseMove, 123); // thumb centre goes to 120
    EXPECT_EQ(s->pos(), s->valueOfPixel(120));
    EXPECT_EQ(s->pos(), 60);
    // Far beyond either end: the centre stops at the last pixel it may take.
    mouse(*s, QEvent::MouseMove, 500);
    EXPECT_EQ(s->pos(), 100);
    mouse(*s, QEvent::MouseMove, -40);
    EXPECT_EQ(s->pos(), 0);
    mouse(*s, QEvent::MouseButtonRelease, -40);
    EXPECT_FALSE(s->isDragging());
    pumpEvents();
    EXPECT_EQ(panel.count(msg::SliderMoved), 3);

    // Moves after the release do nothing.
    mouse(*s, QEvent::MouseMove, 150);
    EXPECT_EQ(s->pos(), 0);
}

TEST_F(BitmapSliderTest, DragEndingOnThumbPixelPostsNothing)
{
    auto s = makeSlider(QStringLiteral("VOL"), 3);
    s->setPos(50);
    mouse(*s, QEvent::MouseButtonPress, 98);
    mouse(*s, QEvent::MouseMove, 98);
    mouse(*s, QEvent::MouseMove, 110); // away and back again
    EXPECT_EQ(s->pos(), 56);
    mouse(*s, QEvent::MouseMove, 98);
    EXPECT_EQ(s->pos(), 50);
    mouse(*s, QEvent::MouseButtonRelease, 98);
    pumpEvents();
    EXPECT_EQ(panel.count(msg::SliderMoved), 2);
    EXPECT_EQ(s->thumbPixel(), 100);

    panel.messages.clear();
    mouse(*s, QEvent::MouseButtonPress, 101);
    mouse(*s, QEvent::MouseButtonRelease, 101);
    pumpEvents();
    EXPECT_TRUE(panel.messages.empty());
}

TEST_F(BitmapSliderTest, PressAwayFromThumbJumpsToPoint)
{
    auto s = makeSlider(CBitmapSlider::seekText(), 256);
    // Half the thumb (5) away is already outside it: no grab offset.
    mouse(*s, QEvent::MouseButtonPress, 10);
    EXPECT_EQ(s->dragOffset(), 0);
    EXPECT_EQ(s->pos(), s->valueOfPixel(10));
    mouse(*s, QEvent::MouseButtonRelease, 10);

    mouse(*s, QEvent::MouseButtonPress, 150);
    EXPECT_EQ(s->dragOffset(), 0);
    EXPECT_EQ(s->pos(), 76);
    EXPECT_LE(std::abs(s->thumbPixel() - 150), 1);
    mouse(*s, QEvent::MouseButtonRelease, 150);
    pumpEvents();
    ASSERT_EQ(panel.count(msg::Seek), 2);
    EXPECT_EQ(panel.messages[0].w, 0u);
}

TEST_F(BitmapSliderTest, DisabledSliderIgnoresMouseAndKeys)
{
    auto s = makeSlider(QStringLiteral("VOL"), 3);
    s->setPos(40);
    s->setSliderEnabled(false);
    mouse(*s, QEvent::MouseButtonPress, 180);
    mouse(*s, QEvent::MouseMove, 190);
    mouse(*s, QEvent::MouseButtonRelease, 190);
    QTest::keyClick(s.get(), Qt::Key_End);
    pumpEvents();
    EXPECT_EQ(s->pos(), 40);
    EXPECT_FALSE(s->isDragging());
    EXPECT_TRUE(panel.messages.empty());
    // Disabling during a drag ends it.
    s->setSliderEnabled(true);
    mouse(*s, QEvent::MouseButtonPress, 180);
    s->setSliderEnabled(false);
    mouse(*s, QEvent::MouseMove, 20);
    EXPECT_FALSE(s->isDragging());
}

TEST_F(BitmapSliderTest, VerticalUsesHeightAndTopBottomMargins)
{
    CBitmapSlider s(QStringLiteral("V"), 4, QRect(0, 0, 13, 100), &panel);
    s.setVertical(true);
    s.setThumbImages(solid(13, 20, Qt::red), QPixmap(), false);
    s.setMargin(50, 5, 50, 15); // left and right play no part
    EXPECT_EQ(s.pixelOfValue(0), 15);
    EXPECT_EQ(s.pixelOfValue(100), 75);
    EXPECT_EQ(s.valueOfPixel(45), 50);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(6, 45), QPointF(6, 45), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&s, &press);
    EXPECT_EQ(s.pos(), 50);
}

// Painting -----------------------------------------------------------------

TEST_F(BitmapSliderTest, ChannelActivePartAndThumbAreDrawnAroundPosition)
{
    CBitmapSlider s(QStringLiteral("P"), 5, QRect(0, 0, 10, 10), &panel);
    s.setChannelImages(solid(200, 13, Qt::blue), solid(200, 13, Qt::green), true);
    s.setPos(50); // no thumb: centre at 100
    QImage image = renderOver(s, Qt::magenta);
    EXPECT_TRUE(allPixels(image, QRect(0, 0, 94, 13), Qt::green));
    EXPECT_TRUE(allPixels(image, QRect(94, 0, 6, 13), Qt::magenta)); // left for the thumb
    EXPECT_TRUE(allPixels(image, QRect(100, 0, 100, 13), Qt::blue));

    s.setThumbImages(solid(10, 7, Qt::red), solid(10, 7, Qt::yellow), true);
    image = renderOver(s, Qt::magenta);
    // Centre 100 on 190 usable pixels: 5 + 95 = 100; thumb 95..104, rows 3..9.
    EXPECT_TRUE(allPixels(image, QRect(95, 3, 10, 7), Qt::red));
    EXPECT_EQ(image.pixelColor(95, 2), QColor(Qt::magenta));
    EXPECT_TRUE(allPixels(image, QRect(105, 0, 95, 13), Qt::blue));

    // While dragging the active thumb is drawn.
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(100, 6), QPointF(100, 6), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&s, &press);
    image = renderOver(s, Qt::magenta);
    EXPECT_TRUE(allPixels(image, QRect(95, 3, 10, 7), Qt::yellow));

    // Disabled: the plain channel over the whole control and no thumb.
    s.setSliderEnabled(false);
    image = renderOver(s, Qt::magenta);
    EXPECT_TRUE(allPixels(image, image.rect(), Qt::blue));
}

TEST_F(BitmapSliderTest, TransparentImagesShowWhatIsBeneathOpaqueOnesDoNot)
{
    QPixmap half(40, 10);
    half.fill(Qt::transparent);
    {
        QPainter p(&half);
        p.fillRect(0, 0, 20, 10, Qt::blue);
    }
    CBitmapSlider s(QStringLiteral("P"), 5, QRect(0, 0, 10, 10), &panel);
    s.setChannelImages(half, QPixmap(), true);
    QImage image = renderOver(s, Qt::magenta);
    EXPECT_TRUE(allPixels(image, QRect(0, 0, 20, 10), Qt::blue));
    EXPECT_TRUE(allPixels(image, QRect(20, 0, 20, 10), Qt::magenta));

    s.setChannelImages(half, QPixmap(), false);
    image = renderOver(s, Qt::magenta);
    EXPECT_TRUE(allPixels(image, QRect(20, 0, 20, 10), Qt::black));
}

TEST_F(BitmapSliderTest, FocusRectangleOnlyWhenFocusedAndWanted)
{
    panel.show();
    auto s = makeSlider(QStringLiteral("VOL"), 3);
    s->show();
    s->setFocus();
    QCoreApplication::processEvents();
    if (!s->hasFocus())
        GTEST_SKIP() << "no keyboard focus on this platform";
    s->repaint();
    EXPECT_TRUE(s->isFocusRectDrawn());
    s->drawFocusRect(false, true);
    s->repaint();
    EXPECT_FALSE(s->isFocusRectDrawn());
    s->drawFocusRect(true);
    s->setSliderEnabled(false);
    s->repaint();
    EXPECT_FALSE(s->isFocusRectDrawn());
    panel.hide();
}

} // namespace
