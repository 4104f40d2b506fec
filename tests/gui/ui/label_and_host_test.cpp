#include "gui/ui/mem_dc.h"
#include "gui/ui/skin_combo_box.h"
#include "gui/ui/skin_static.h"
#include "gui/ui/text_box.h"

#include "ui_test_support.h"

#include <QAbstractItemView>
#include <QMouseEvent>
#include <QPainter>
#include <QFileInfo>
#include <QPrinter>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

using namespace korvante;
using namespace korvante::uitest;

namespace {

// Counts the paint events a widget receives.
class PaintCounter final : public QObject {
public:
    explicit PaintCounter(QWidget *w) { w->installEventFilter(this); }
    int paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

class LabelTest : public UiTest {
protected:
    RecordingPanel panel;
};

TEST_F(LabelTest, TextBoxRepaintsOnlyForDifferentText)
{
    CTextBox box(1003, QRect(0, 0, 40, 20), &panel);
    EXPECT_EQ(box.text(), QStringLiteral("00:00"));
    EXPECT_EQ(box.textColour(), QColor(92, 102, 127));
    panel.show();
    QCoreApplication::processEvents();
    PaintCounter counter(&box);

    box.setText(QStringLiteral("00:00"));
    QCoreApplication::processEvents();
    EXPECT_EQ(counter.paints, 0);

    box.setText(QStringLiteral("01:07"));
    EXPECT_EQ(counter.paints, 1); // at once, before the event loop runs
    box.setText(QStringLiteral("01:07"));
    QCoreApplication::processEvents();
    EXPECT_EQ(counter.paints, 1);
    EXPECT_EQ(box.text(), QStringLiteral("01:07"));
    panel.hide();
}

TEST_F(LabelTest, TextBoxDrawsTextOverDarkBackground)
{
    CTextBox box(1006, QRect(0, 0, 40, 20), &panel);
    box.setTextColour(Qt::white);
    box.setText(QStringLiteral("88:88"));
    const QImage image = renderOver(box, Qt::magenta);
    int dark = 0;
    int white = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            dark += c == QColor(16, 16, 16);
            white += c == QColor(Qt::white);
            EXPECT_NE(c, QColor(Qt::magenta));
        }
    EXPECT_GT(dark, 400);
    EXPECT_GT(white, 5);
    // Vertically centred: the top and bottom rows stay background.
    EXPECT_TRUE(allPixels(image, QRect(0, 0, 40, 2), QColor(16, 16, 16)));
    EXPECT_TRUE(allPixels(image, QRect(0, 18, 40, 2), QColor(16, 16, 16)));
}

TEST_F(LabelTest, SkinStaticPaintsThePictureAndTheBackgroundAroundIt)
{
    CSkinStatic host(1000, QRect(2, 2, 741, 415), &panel);
    EXPECT_EQ(host.clientSize(), QSize(741, 415));
    host.setBackground(QColor(28, 31, 40));
    // With no picture the whole area is its background, every pixel of it.
    QImage image = renderOver(host, Qt::magenta);
    EXPECT_TRUE(allPixels(image, image.rect(), QColor(28, 31, 40)));

    // The picture paints what it covers and the rest is background: a frame
    // is never drawn over what an earlier, larger picture left behind.
    QRect asked;
    host.setVideoPainter([&](CSkinStatic &window, QPainter &p) {
        asked = QRect(QPoint(), window.clientSize());
        p.fillRect(10, 10, 20, 20, Qt::green);
        return QRect(10, 10, 20, 20);
    });
    image = renderOver(host, Qt::magenta);
    EXPECT_EQ(asked, QRect(0, 0, 741, 415));
    EXPECT_TRUE(allPixels(image, QRect(10, 10, 20, 20), Qt::green));
    EXPECT_EQ(image.pixelColor(5, 5), QColor(28, 31, 40));
    EXPECT_EQ(image.pixelColor(700, 400), QColor(28, 31, 40));
}

TEST_F(LabelTest, SkinStaticRepaintRequestFromAnotherThread)
{
    panel.show();
    auto *host = new CSkinStatic(1001, QRect(2, 2, 100, 50), &panel);
    host->show();
    QCoreApplication::processEvents();
    int painted = 0;
    host->setVideoPainter([&](CSkinStatic &, QPainter &) {
        ++painted;
        return QRect();
    });
    QThread *thread = QThread::create([host] { host->requestRepaint(); });
    thread->start();
    thread->wait();
    delete thread;
    for (int i = 0; i < 20 && painted == 0; ++i)
        QTest::qWait(10);
    EXPECT_GE(painted, 1);

    // A request still queued when the window goes away is dropped.
    host->requestRepaint();
    delete host;
    QCoreApplication::processEvents();
    panel.hide();
}

TEST_F(LabelTest, SkinStaticToggleAndClickFallThrough)
{
    CSkinStatic host(1000, QRect(2, 2, 100, 50), &panel);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&host, &press);
    EXPECT_FALSE(press.isAccepted()); // left for the screen panel
    EXPECT_FALSE(host.isToggled());

    host.enableToggle(true);
    QCoreApplication::sendEvent(&host, &press);
    EXPECT_TRUE(host.isToggled());
    QCoreApplication::sendEvent(&host, &press);
    EXPECT_FALSE(host.isToggled());
}

TEST_F(LabelTest, ComboBoxIsWhiteFieldWithASkinListAndNoEntryCut)
{
    CSkinComboBox combo(1008, QRect(195, 5, 60, 0), &panel);
    combo.addItems({QStringLiteral("ALL"), QStringLiteral("NORMAL")});
    EXPECT_EQ(combo.geometry().topLeft(), QPoint(195, 5));
    EXPECT_GT(combo.height(), 0);
    EXPECT_EQ(combo.palette().color(QPalette::Base), QColor(Qt::white));
    // The open list: the skin's list colours, no alarm red anywhere.
    const QPalette list = combo.view()->palette();
    EXPECT_EQ(list.color(QPalette::Base), CSkinComboBox::listColour());
    EXPECT_EQ(list.color(QPalette::Text), CSkinComboBox::listTextColour());
    EXPECT_EQ(list.color(QPalette::Highlight), CSkinComboBox::chosenColour());
    for (const QPalette &p : {combo.palette(), list, combo.view()->parentWidget()->palette()})
        for (auto role : {QPalette::Window, QPalette::Base, QPalette::Button})
            EXPECT_NE(p.color(role), QColor(255, 16, 16));

    // The settings editor's time-zone list: 600 pixels at 18 pixels, its
    // longest entry whole.
    CSkinComboBox zones(1032, QRect(230, 641, 600, 0), &panel);
    QFont font(QStringLiteral("Verdana"));
    font.setPixelSize(18);
    zones.setFont(font);
    zones.setFixedHeight(30);
    const QString longest = QStringLiteral("(GMT+01:00) Amsterdam, Berlin, Bern, Rome, Stockholm, Vienna");
    zones.addItems({QStringLiteral("(GMT) Casablanca"), longest, QStringLiteral("(GMT+09:00) Seoul")});
    EXPECT_TRUE(zones.fits(longest)) << zones.font().pixelSize() << " px leaves " << zones.textRoom();
    EXPECT_GE(zones.font().pixelSize(), 9);
    // A short list keeps the owner's font.
    CSkinComboBox shortList(1033, QRect(0, 0, 600, 0), &panel);
    shortList.setFont(font);
    shortList.addItem(QStringLiteral("(GMT+09:00) Seoul"));
    EXPECT_EQ(shortList.font().pixelSize(), 18);
}

// Memory device contexts --------------------------------------------------

TEST_F(LabelTest, MemoryDcCopiesOnceAtTheEnd)
{
    QImage target(50, 30, QImage::Format_ARGB32);
    target.fill(Qt::magenta);
    {
        QPainter p(&target);
        CListViewMemDC dc(p, QRect(10, 5, 20, 10), QColor(76, 85, 118));
        EXPECT_TRUE(dc.isBuffering());
        // Target coordinates; whatever falls outside the rectangle is lost.
        dc->fillRect(0, 0, 50, 30, Qt::green);
        dc->fillRect(10, 5, 20, 10, QColor(76, 85, 118));
        dc->fillRect(12, 6, 3, 3, Qt::red);
        // Nothing reaches the target before the end.
        EXPECT_EQ(target.pixelColor(12, 6), QColor(Qt::magenta));
    }
    EXPECT_TRUE(allPixels(target, QRect(0, 0, 50, 5), Qt::magenta));
    EXPECT_TRUE(allPixels(target, QRect(0, 5, 10, 10), Qt::magenta));
    EXPECT_TRUE(allPixels(target, QRect(12, 6, 3, 3), Qt::red));
    EXPECT_EQ(target.pixelColor(20, 10), QColor(76, 85, 118));
    EXPECT_TRUE(allPixels(target, QRect(30, 5, 20, 10), Qt::magenta));
}

TEST_F(LabelTest, SliderDcStartsTransparentGraphDcUsesBackground)
{
    QImage target(20, 20, QImage::Format_ARGB32);
    target.fill(Qt::magenta);
    {
        QPainter p(&target);
        CUMemDC dc(p, QRect(0, 0, 20, 20));
        EXPECT_TRUE(dc.ptVisible(QPoint(3, 3)));
        EXPECT_FALSE(dc.ptVisible(QPoint(25, 3)));
        EXPECT_TRUE(dc.rectVisible(QRect(15, 15, 10, 10)));
        EXPECT_FALSE(dc.rectVisible(QRect(21, 0, 5, 5)));
        dc->fillRect(0, 0, 5, 5, Qt::blue);
    }
    EXPECT_TRUE(allPixels(target, QRect(0, 0, 5, 5), Qt::blue));
    EXPECT_TRUE(allPixels(target, QRect(5, 5, 15, 15), Qt::magenta));

    target.fill(Qt::magenta);
    {
        QPainter p(&target);
        p.setBackground(QColor(28, 31, 40));
        p.setClipRect(QRect(4, 4, 8, 8));
        CQDRVMemDC dc(p); // the clip box
        EXPECT_EQ(dc.rect(), QRect(4, 4, 8, 8));
    }
    EXPECT_TRUE(allPixels(target, QRect(4, 4, 8, 8), QColor(28, 31, 40)));
    EXPECT_EQ(target.pixelColor(3, 3), QColor(Qt::magenta));
}

TEST_F(LabelTest, PrinterTargetIsDrawnDirectly)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("report.pdf"));
    {
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(path);
        QPainter p(&printer);
        CQDRVMemDC dc(p, QRect(0, 0, 100, 100));
        EXPECT_FALSE(dc.isBuffering());
        dc->fillRect(10, 10, 50, 50, Qt::black);
        dc.finish();
        // The painter's state is the caller's again afterwards.
        EXPECT_TRUE(p.isActive());
    }
    EXPECT_GT(QFileInfo(path).size(), 0);
}

} // namespace
