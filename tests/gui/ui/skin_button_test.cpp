#include "gui/ui/skin_button.h"

#include "gui/platform/messages.h"
#include "gui/platform/skin_library.h"
#include "ui_test_support.h"

#include <QFileInfo>
#include <QPainter>
#include <QTest>

#include <gtest/gtest.h>

using namespace korvante;
using namespace korvante::uitest;

namespace {

class SkinButtonTest : public UiTest {
protected:
    RecordingPanel panel;
};

TEST_F(SkinButtonTest, ClickPostsButtonIdToParentOnce)
{
    CSkinButton button(QStringLiteral("Close"), 7, QRect(10, 5, 20, 20), &panel);
    EXPECT_EQ(button.geometry(), QRect(10, 5, 20, 20));
    EXPECT_EQ(button.toolTip(), QStringLiteral("Close"));

    QTest::mouseClick(&button, Qt::LeftButton);
    // Posted, not sent: nothing arrives before the event loop runs.
    EXPECT_TRUE(panel.messages.empty());
    pumpEvents();
    ASSERT_EQ(panel.messages.size(), 1u);
    EXPECT_EQ(panel.messages[0].message, msg::ButtonClick);
    EXPECT_EQ(panel.messages[0].w, 7u);
    EXPECT_EQ(panel.messages[0].l, 0);

    // A press released outside the button is no click.
    QTest::mousePress(&button, Qt::LeftButton);
    QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(60, 60));
    pumpEvents();
    EXPECT_EQ(panel.messages.size(), 1u);

    // Disabled: no click.
    button.setEnabled(false);
    QTest::mouseClick(&button, Qt::LeftButton);
    pumpEvents();
    EXPECT_EQ(panel.messages.size(), 1u);
}

TEST_F(SkinButtonTest, WithoutSkinDrawsNothingButStillClicks)
{
    CSkinButton button(QStringLiteral("Reset"), 1, QRect(0, 0, 32, 20), &panel);
    EXPECT_FALSE(button.isSkinSet());
    const QImage image = renderOver(button, Qt::magenta);
    EXPECT_TRUE(allPixels(image, image.rect(), Qt::magenta));

    QTest::mouseClick(&button, Qt::LeftButton);
    pumpEvents();
    ASSERT_EQ(panel.count(msg::ButtonClick), 1);
    EXPECT_EQ(panel.messages[0].w, 1u);
}

TEST_F(SkinButtonTest, FaceFollowsPressHoverAndEnabledState)
{
    CSkinButton button(QStringLiteral("Play"), 3, QRect(0, 0, 20, 20), &panel);
    button.setSkin(solid(20, 20, Qt::red), solid(20, 20, Qt::green), solid(20, 20, Qt::blue),
                   solid(20, 20, Qt::gray));
    ASSERT_TRUE(button.isSkinSet());

    auto centre = [&] { return renderOver(button, Qt::magenta).pixelColor(10, 10); };
    EXPECT_EQ(centre(), QColor(Qt::red));

    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QCoreApplication::sendEvent(&button, &enter);
    EXPECT_TRUE(button.isHovering());
    EXPECT_EQ(centre(), QColor(Qt::green));
    // Drawing the hover face arms the foreground timer; the next drawing kills it first.
    EXPECT_TRUE(button.isTimerActive(CSkinButton::kForegroundTimer));

    button.setDown(true);
    EXPECT_EQ(centre(), QColor(Qt::blue));
    EXPECT_FALSE(button.isTimerActive(CSkinButton::kForegroundTimer));
    button.setDown(false);

    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&button, &leave);
    EXPECT_FALSE(button.isHovering());
    EXPECT_EQ(centre(), QColor(Qt::red));

    button.setEnabled(false);
    EXPECT_EQ(centre(), QColor(Qt::gray));
}

TEST_F(SkinButtonTest, KeyboardFocusShowsAMarkAndAClickDoesNot)
{
    CSkinButton first(QStringLiteral("Open File"), 1, QRect(0, 0, 20, 20), &panel);
    CSkinButton second(QStringLiteral("Close"), 2, QRect(30, 0, 20, 20), &panel);
    for (CSkinButton *b : {&first, &second})
        b->setSkin(solid(20, 20, Qt::red), solid(20, 20, Qt::red), solid(20, 20, Qt::blue), QPixmap());
    panel.show();
    panel.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&panel));
    const QImage plain = renderOver(second, Qt::magenta);
    ASSERT_TRUE(allPixels(plain, plain.rect(), Qt::red));

    const struct {
        Qt::FocusReason reason;
        bool marked;
    } reasons[] = {{Qt::TabFocusReason, true},
                   {Qt::BacktabFocusReason, true},
                   {Qt::ShortcutFocusReason, true},
                   {Qt::MouseFocusReason, false}};
    for (const auto &r : reasons) {
        first.setFocus(Qt::OtherFocusReason);
        second.setFocus(r.reason);
        ASSERT_TRUE(second.hasFocus()) << r.reason;
        EXPECT_EQ(second.showsFocusMark(), r.marked) << r.reason;
        const QImage image = renderOver(second, Qt::magenta);
        // The mark is the frame; the face inside it is left as it was.
        EXPECT_EQ(!allPixels(image, image.rect(), Qt::red), r.marked) << r.reason;
        EXPECT_TRUE(allPixels(image, QRect(2, 2, 16, 16), Qt::red)) << r.reason;
        EXPECT_FALSE(first.showsFocusMark());
    }
    // A key used on a clicked button shows the mark from then on (Space clicks).
    QTest::keyClick(&second, Qt::Key_Space);
    EXPECT_TRUE(second.showsFocusMark());
    pumpEvents();
    EXPECT_EQ(panel.count(msg::ButtonClick), 1);
    // Losing the focus takes the mark away.
    first.setFocus(Qt::TabFocusReason);
    EXPECT_FALSE(second.showsFocusMark());
    const QImage after = renderOver(second, Qt::magenta);
    EXPECT_TRUE(allPixels(after, after.rect(), Qt::red));
    EXPECT_TRUE(first.showsFocusMark());
    panel.hide();
}

TEST_F(SkinButtonTest, ForegroundTimerRunsOnceAfterHoverFace)
{
    CSkinButton button(QStringLiteral("Map"), 10, QRect(0, 0, 20, 20), &panel);
    button.setSkin(solid(20, 20, Qt::red), solid(20, 20, Qt::green), solid(20, 20, Qt::blue),
                   QPixmap());
    panel.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QCoreApplication::sendEvent(&button, &enter);
    button.repaint();
    ASSERT_TRUE(button.isTimerActive(CSkinButton::kForegroundTimer));
    QTest::qWait(CSkinButton::kForegroundDelayMs + 150);
    // It fired once and stopped itself; the main window (here the panel) is still there.
    EXPECT_FALSE(button.isTimerActive(CSkinButton::kForegroundTimer));
    EXPECT_TRUE(panel.isVisible());
    panel.hide();
}

TEST_F(SkinButtonTest, HoverWithoutHoverImageDrawsNormal)
{
    CSkinButton button(QStringLiteral("x"), 0, QRect(0, 0, 20, 20), &panel);
    button.setSkin(solid(20, 20, Qt::red), QPixmap(), solid(20, 20, Qt::blue), QPixmap());
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QCoreApplication::sendEvent(&button, &enter);
    EXPECT_EQ(renderOver(button, Qt::magenta).pixelColor(3, 3), QColor(Qt::red));
    EXPECT_FALSE(button.isTimerActive(CSkinButton::kForegroundTimer));
    // A missing disabled image draws nothing.
    button.setEnabled(false);
    const QImage image = renderOver(button, Qt::magenta);
    EXPECT_TRUE(allPixels(image, image.rect(), Qt::magenta));
}

TEST_F(SkinButtonTest, SourceOffsetAndDrawnSizeSelectPartOfImage)
{
    // Left half red, right half green: an offset of 10 shows the green half.
    QPixmap strip(40, 20);
    strip.fill(Qt::red);
    {
        QPainter p(&strip);
        p.fillRect(20, 0, 20, 20, Qt::green);
    }
    CSkinButton button(QStringLiteral("x"), 0, QRect(0, 0, 20, 20), &panel);
    button.setSkin(strip, strip, strip, strip, QPoint(20, 0), QSize(10, 20));
    const QImage image = renderOver(button, Qt::magenta);
    EXPECT_TRUE(allPixels(image, QRect(0, 0, 10, 20), Qt::green));
    EXPECT_TRUE(allPixels(image, QRect(10, 0, 10, 20), Qt::magenta));
}

TEST_F(SkinButtonTest, SkinIdsComeFromSkinLibraryWhenPresent)
{
    // Missing images never break the button: ids that do not exist draw nothing.
    CSkinButton missing(QStringLiteral("x"), 0, QRect(0, 0, 20, 20), &panel,
                        SkinImageIds{999991, 999992, 999993, 0});
    EXPECT_TRUE(missing.isSkinSet());
    EXPECT_TRUE(missing.currentImage().isNull());
    const QImage blank = renderOver(missing, Qt::magenta);
    EXPECT_TRUE(allPixels(blank, blank.rect(), Qt::magenta));

    const QString rcc = QStringLiteral(KORVANTE_BINARY_DIR "/bin/ResourceDll.rcc");
    if (!QFileInfo::exists(rcc))
        GTEST_SKIP() << "skin library not built";
    ASSERT_TRUE(SkinLibrary::load(rcc));
    // The settings panel's Close button: normal 218, hover and pressed 219.
    CSkinButton close(QStringLiteral("Close"), 0, QRect(255, 0, 20, 20), &panel,
                      SkinImageIds{218, 219, 219, 0});
    EXPECT_FALSE(close.currentImage().isNull());
    close.setEnabled(false);
    EXPECT_EQ(close.currentImage().cacheKey(), SkinLibrary::bitmap(219).cacheKey());
}

} // namespace
