#pragma once
// Size of the screen the viewer runs on, in pixels (the wide layouts place
// panels by it). UI thread only.

#include <QGuiApplication>
#include <QScreen>
#include <QSize>

namespace korvante {

inline QSize screenSize()
{
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        return screen->geometry().size();
    return {1280, 1024};
}

} // namespace korvante
