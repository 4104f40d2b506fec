#pragma once
// Shared pieces of the skinned-control tests: the application object, a
// panel that records the messages it receives, and solid test images.

#include "gui/platform/message_window.h"

#include <QApplication>
#include <QColor>
#include <QImage>
#include <QPixmap>

#include <gtest/gtest.h>

#include <vector>

namespace korvante::uitest {

QApplication &app();

// Base of every fixture here: the application exists before any member widget.
class UiTest : public ::testing::Test {
protected:
    UiTest() { app(); }
};

// Runs the event loop until posted events are delivered.
void pumpEvents();

struct Received {
    int message;
    quintptr w;
    qintptr l;
};

class RecordingPanel final : public PanelWindow {
public:
    RecordingPanel();
    std::vector<Received> messages;
    int count(int message) const;

protected:
    qintptr onMessage(int message, quintptr w, qintptr l) override;
};

QPixmap solid(int width, int height, QColor colour);
// The widget drawn into an image of its size filled with `ground` first; the
// widget's own background is left out, so untouched pixels keep `ground`.
QImage renderOver(QWidget &widget, QColor ground);
// True when every pixel of `image` inside `rect` has colour `colour`.
bool allPixels(const QImage &image, const QRect &rect, QColor colour);

} // namespace korvante::uitest
