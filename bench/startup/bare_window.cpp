// The reference of the start-up benchmark: the least a Qt Widgets program does
// to show one window of the viewer's size. It says so on standard error the
// way the viewer does ("main window shown at X,Y", right after show()), and
// runs until it is ended.

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.resize(780, 780);
    QTimer::singleShot(0, &window, [&window] {
        window.show();
        std::fprintf(stderr, "main window shown at %d,%d\n", window.frameGeometry().x(), window.frameGeometry().y());
        std::fflush(stderr);
    });
    return app.exec();
}
