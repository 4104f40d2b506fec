#include "ui_test_support.h"

#include <QCoreApplication>
#include <QPainter>

namespace korvante::uitest {

QApplication &app()
{
    static int argc = 1;
    static char name[] = "gui_ui_tests";
    static char *argv[] = {name, nullptr};
    static QApplication *instance = new QApplication(argc, argv);
    return *instance;
}

void pumpEvents()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

RecordingPanel::RecordingPanel()
{
    resize(800, 200);
}

int RecordingPanel::count(int message) const
{
    int n = 0;
    for (const auto &m : messages)
        n += m.message == message ? 1 : 0;
    return n;
}

qintptr RecordingPanel::onMessage(int message, quintptr w, qintptr l)
{
    messages.push_back({message, w, l});
    return 0;
}

QPixmap solid(int width, int height, QColor colour)
{
    QPixmap pixmap(width, height);
    pixmap.fill(colour);
    return pixmap;
}

QImage renderOver(QWidget &widget, QColor ground)
{
    QImage image(widget.size(), QImage::Format_ARGB32);
    image.fill(ground);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

bool allPixels(const QImage &image, const QRect &rect, QColor colour)
{
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            if (image.pixelColor(x, y) != colour)
                return false;
    return true;
}

} // namespace korvante::uitest
