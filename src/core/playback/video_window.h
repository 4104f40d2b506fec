#pragma once
// The window a video renderer draws into. The screens of the main window
// implement it; tests implement it with a window that records what it got.
//
// Threads: clientSize() is called on the user-interface thread.
// requestRepaint() is called from the engine's presentation thread whenever a
// new frame is shown, so it must be thread-safe and must not wait for the
// user-interface thread (for a widget: a queued call to update(); a blocking
// call would deadlock against a pause or a close waiting for that thread). The window then paints on the user-interface thread by calling
// MediaEngine::PaintVideo(this, painter), which draws the renderer's latest
// frame into the renderer's destination rectangle.
//
// Lifetime: a window stays valid while it is attached to the engine
// (AttachScreens); attach other windows (or null) before destroying it.

#include <QSize>

namespace korvante {

class VideoWindow {
public:
    virtual ~VideoWindow() = default;
    // Size of the area the video is drawn in, in device-independent pixels.
    virtual QSize clientSize() const = 0;
    // Asks for a repaint soon; any thread.
    virtual void requestRepaint() = 0;
};

} // namespace korvante
