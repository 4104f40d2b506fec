#include "gui/platform/skin_library.h"
#include "gui/ui/skin_header_ctrl.h"
#include "gui/ui/skin_list_ctrl.h"
#include "gui/ui/skin_scrollbar.h"

#include "ui_test_support.h"

#include <QMouseEvent>
#include <QTest>

#include <gtest/gtest.h>

using namespace korvante;
using namespace korvante::uitest;

namespace {

class SkinListTest : public UiTest {
protected:
    RecordingPanel panel;

    // The recording list of the file list panel, with `rows` rows.
    std::unique_ptr<CSkinListCtrl> makeList(int rows)
    {
        auto list = std::make_unique<CSkinListCtrl>(1013, QRect(4, 32, 307, 387), &panel);
        list->setHeaderLabels({QStringLiteral("NO."), QStringLiteral("DATA"), QStringLiteral("TIME"),
                               QStringLiteral("TYPE"), QStringLiteral("CH")});
        const int widths[] = {35, 88, 72, 50, 45};
        for (int c = 0; c < 5; ++c)
            list->setColumnWidth(c, widths[c]);
        for (int r = 0; r < rows; ++r)
            list->addTopLevelItem(new QTreeWidgetItem(
                {QString::number(r + 1), QStringLiteral("2012-03-01"), QStringLiteral("10:00:00"),
                 QStringLiteral("NOR"), QStringLiteral("2CH")}));
        panel.show();
        QCoreApplication::processEvents();
        return list;
    }

    static void mouse(QWidget &w, QEvent::Type type, QPoint at)
    {
        const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, QPointF(at), w.mapToGlobal(QPointF(at)), Qt::LeftButton, held,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(&w, &event);
    }

    void TearDown() override { panel.hide(); }
};

TEST_F(SkinListTest, BarsAndHeaderTakeTheirPlaces)
{
    auto list = makeList(3);
    EXPECT_EQ(list->verticalScrollBar(), list->verticalBar());
    EXPECT_EQ(list->horizontalScrollBar(), list->horizontalBar());
    EXPECT_EQ(list->header(), list->skinHeader());
    EXPECT_EQ(list->verticalBar()->width(), 12);
    EXPECT_EQ(list->skinHeader()->height(), 20);
    // The rows are not covered by the bars; the horizontal bar is there only
    // while the columns are wider than the rows.
    const struct {
        int dataWidth;
        bool horizontal;
    } cases[] = {{88, false}, {300, true}, {88, false}};
    for (const auto &c : cases) {
        list->setColumnWidth(1, c.dataWidth);
        // The scroll area lays its bars out on a later turn of the event loop.
        EXPECT_TRUE(QTest::qWaitFor([&] { return list->horizontalBar()->isVisible() == c.horizontal; }, 2000))
            << c.dataWidth;
        if (c.horizontal) {
            EXPECT_EQ(list->horizontalBar()->height(), 12);
        }
        const QRect viewport = list->viewport()->geometry();
        EXPECT_LE(viewport.right(), list->width() - 12 - 1) << c.dataWidth;
        EXPECT_LE(viewport.bottom(), list->height() - (c.horizontal ? 12 : 0) - 1) << c.dataWidth;
    }
    // Nothing to scroll: no thumb.
    EXPECT_FALSE(list->verticalBar()->hasThumb());
}

TEST_F(SkinListTest, SelectedRowUsesSelectionColours)
{
    auto list = makeList(3);
    list->setCurrentItem(list->topLevelItem(1));
    EXPECT_EQ(list->focusedRow(), 1);
    list->viewport()->repaint();
    const QImage image = list->viewport()->grab().toImage();
    const QRect row = list->visualItemRect(list->topLevelItem(1));
    const QRect other = list->visualItemRect(list->topLevelItem(0));
    // Count background pixels: most of the selected row is the selection colour,
    // the others stay black; below the last row the list is black too.
    auto share = [&](const QRect &r, QColor c) {
        int n = 0;
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                n += image.pixelColor(x, y) == c;
        return double(n) / (r.width() * r.height());
    };
    EXPECT_GT(share(row, CSkinListCtrl::selectedBackground()), 0.5);
    EXPECT_GT(share(row, CSkinListCtrl::selectedTextColour()), 0.0);
    EXPECT_EQ(share(other, CSkinListCtrl::selectedTextColour()), 0.0);
    EXPECT_GT(share(other, Qt::black), 0.5);
    const QRect below(0, row.bottom() + row.height() + 4, image.width(), 10);
    EXPECT_TRUE(allPixels(image, below, Qt::black));
}

TEST_F(SkinListTest, ThumbFollowsScrollPositionWithinBounds)
{
    auto list = makeList(200);
    CSkinVerticleScrollbar *bar = list->verticalBar();
    ASSERT_GT(bar->scrollLimit(), 0);
    const int h = bar->height();
    EXPECT_EQ(bar->thumbStart(), 25);
    bar->setValue(bar->maximum());
    EXPECT_EQ(bar->thumbStart(), h - 51); // kept short of the end arrow
    bar->setValue(bar->scrollLimit() / 2);
    EXPECT_EQ(bar->thumbStart(),
              static_cast<int>(double(h - 75) / bar->scrollLimit() * (bar->scrollLimit() / 2)) + 25);

    // Keys move the list, and the bar with it.
    bar->setValue(0);
    list->setFocus();
    list->setCurrentItem(list->topLevelItem(0));
    QTest::keyClick(list.get(), Qt::Key_End);
    EXPECT_EQ(bar->value(), bar->maximum());
}

TEST_F(SkinListTest, ArrowsTrackAndThumbScrollTheList)
{
    auto list = makeList(200);
    CSkinVerticleScrollbar *bar = list->verticalBar();
    const int h = bar->height();
    const int step = bar->singleStep();
    const int page = bar->pageStep();

    // A click on the down arrow: one line on release.
    mouse(*bar, QEvent::MouseButtonPress, QPoint(6, h - 5));
    EXPECT_EQ(bar->value(), 0);
    EXPECT_TRUE(bar->isTimerActive(SkinScrollBar::kRepeatDelayTimer));
    mouse(*bar, QEvent::MouseButtonRelease, QPoint(6, h - 5));
    EXPECT_EQ(bar->value(), step);
    EXPECT_FALSE(bar->isTimerActive(SkinScrollBar::kRepeatDelayTimer));

    // Held: after the delay the repeat scrolls a line every tick.
    mouse(*bar, QEvent::MouseButtonPress, QPoint(6, h - 5));
    QTest::qWait(SkinScrollBar::kRepeatDelayMs + 6 * SkinScrollBar::kRepeatIntervalMs);
    EXPECT_TRUE(bar->isTimerActive(SkinScrollBar::kRepeatTimer));
    const int held = bar->value();
    EXPECT_GE(held, 3 * step);
    mouse(*bar, QEvent::MouseButtonRelease, QPoint(6, h - 5));
    EXPECT_EQ(bar->value(), held + step);
    EXPECT_FALSE(bar->isTimerActive(SkinScrollBar::kRepeatTimer));

    // Up arrow, one line back.
    const int before = bar->value();
    mouse(*bar, QEvent::MouseButtonPress, QPoint(6, 3));
    mouse(*bar, QEvent::MouseButtonRelease, QPoint(6, 3));
    EXPECT_EQ(bar->value(), before - step);

    // Track below the thumb: one page down; above it: one page up.
    bar->setValue(0);
    const int below = bar->thumbStart() + 40;
    mouse(*bar, QEvent::MouseButtonPress, QPoint(6, below));
    mouse(*bar, QEvent::MouseButtonRelease, QPoint(6, below));
    EXPECT_EQ(bar->value(), page);
    const int above = bar->thumbStart() - 2;
    ASSERT_GT(above, 26);
    mouse(*bar, QEvent::MouseButtonPress, QPoint(6, above));
    mouse(*bar, QEvent::MouseButtonRelease, QPoint(6, above));
    EXPECT_EQ(bar->value(), 0);

    // Thumb drag: its top goes to the pointer - 13, the list follows; the
    // release on the track after a drag does not page.
    ASSERT_EQ(bar->thumbStart(), 25);
    const int grab = bar->thumbStart() + 13;
    mouse(*bar, QEvent::MouseButtonPress, QPoint(6, grab));
    mouse(*bar, QEvent::MouseMove, QPoint(6, grab + 100));
    // Pixel to value and back again each truncate: within one value's worth of pixels.
    EXPECT_NEAR(bar->thumbStart(), 125, double(h - 75) / bar->scrollLimit() + 1);
    const int expected = static_cast<int>(100.0 / (h - 75) * bar->scrollLimit());
    EXPECT_EQ(bar->value(), expected);
    mouse(*bar, QEvent::MouseButtonRelease, QPoint(6, grab + 100));
    EXPECT_EQ(bar->value(), expected);
    EXPECT_EQ(list->verticalScrollBar()->value(), expected);
}

TEST_F(SkinListTest, HeaderIsTwentyPixelsWithTitles)
{
    auto list = makeList(1);
    CSkinHeaderCtrl *header = list->skinHeader();
    EXPECT_EQ(header->sizeHint().height(), 20);
    header->repaint();
    const QImage image = header->viewport()->grab().toImage();
    // White title text in the first column.
    int white = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < 35; ++x)
            white += image.pixelColor(x, y) == QColor(Qt::white);
    EXPECT_GT(white, 3);
    // Past the last column (290 pixels in all): the background strip, or the
    // black fill when the executable's bitmaps are not there.
    ASSERT_GT(image.width(), 292);
    const QPixmap strip = SkinLibrary::appBitmap(CSkinHeaderCtrl::kBackgroundImage);
    const QColor expected = strip.isNull() ? QColor(Qt::black) : strip.toImage().pixelColor(0, 1);
    EXPECT_EQ(image.pixelColor(292, 1), expected);
}

} // namespace
