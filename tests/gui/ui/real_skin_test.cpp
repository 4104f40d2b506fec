// The controls with the images the build draws: the skin library file and
// the executable's own bitmaps, when this build has them.

#include "gui/platform/skin_library.h"
#include "gui/ui/bitmap_slider.h"
#include "gui/ui/skin_button.h"
#include "gui/ui/skin_header_ctrl.h"
#include "gui/ui/skin_list_ctrl.h"
#include "gui/ui/skin_scrollbar.h"

#include "ui_test_support.h"

#include <QFileInfo>

#include <gtest/gtest.h>

static void initAppBitmaps()
{
    Q_INIT_RESOURCE(app_bitmaps);
}

using namespace korvante;
using namespace korvante::uitest;

namespace {

class RealSkinTest : public UiTest {
protected:
    void SetUp() override
    {
        const QString rcc = QStringLiteral(KORVANTE_BINARY_DIR "/bin/ResourceDll.rcc");
        if (!QFileInfo::exists(rcc))
            GTEST_SKIP() << "skin library not built";
        ASSERT_TRUE(SkinLibrary::load(rcc));
    }
    RecordingPanel panel;
};

TEST_F(RealSkinTest, SeekSliderTakesChannelSizeAndDrawsThumb)
{
    CBitmapSlider seek(CBitmapSlider::seekText(), 256, QRect(40, 0, 100, 10), &panel);
    ASSERT_TRUE(seek.setBitmapChannel(105, 106, true));
    ASSERT_TRUE(seek.setBitmapThumb(104, 103, true));
    EXPECT_EQ(seek.geometry(), QRect(40, 0, 520, 13));
    seek.setRange(0, 60'000);
    seek.setPos(30'000);
    const QImage image = renderOver(seek, Qt::magenta);
    // The thumb (13 wide, round) covers its centre pixel; some of the
    // channel's corners stay transparent.
    EXPECT_NE(image.pixelColor(seek.thumbPixel(), 6), QColor(Qt::magenta));
    EXPECT_EQ(image.pixelColor(0, 0), QColor(Qt::magenta));
}

TEST_F(RealSkinTest, ButtonFacesComeFromLibrary)
{
    CSkinButton close(QStringLiteral("Close"), 0, QRect(255, 0, 20, 20), &panel,
                      SkinImageIds{218, 219, 219, 0});
    EXPECT_EQ(close.currentImage().cacheKey(), SkinLibrary::bitmap(218).cacheKey());
    close.setEnabled(false);
    EXPECT_EQ(close.currentImage().cacheKey(), SkinLibrary::bitmap(219).cacheKey());
    const QImage image = renderOver(close, Qt::magenta);
    int drawn = 0;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x)
            drawn += image.pixelColor(x, y) != QColor(Qt::magenta);
    EXPECT_GT(drawn, 100);
}

TEST_F(RealSkinTest, ListHeaderAndBarsUseExecutableBitmaps)
{
    initAppBitmaps();
    ASSERT_FALSE(SkinLibrary::appBitmap(CSkinHeaderCtrl::kFaceImage).isNull());
    CSkinListCtrl list(1013, QRect(4, 32, 307, 387), &panel);
    list.setHeaderLabels({QStringLiteral("NO."), QStringLiteral("DATA")});
    list.setColumnWidth(0, 35);
    list.setColumnWidth(1, 88);
    for (int r = 0; r < 100; ++r)
        list.addTopLevelItem(new QTreeWidgetItem({QString::number(r + 1), QStringLiteral("x")}));
    panel.show();
    QCoreApplication::processEvents();

    const QImage header = list.skinHeader()->viewport()->grab().toImage();
    EXPECT_NE(header.pixelColor(1, 1), QColor(Qt::black));
    const QImage bar = list.verticalBar()->grab().toImage();
    // Thumb at the top of the track, right after the 26-pixel arrow.
    ASSERT_TRUE(list.verticalBar()->hasThumb());
    EXPECT_NE(bar.pixelColor(6, 30), SkinScrollBar::fillColour());
    panel.hide();
}

} // namespace
