#pragma once
// A panel of the main window: a frameless top-level tool window whose parent
// is the main window, placed by coordinates relative to the main window's
// top-left corner. The main window calls followMainWindow() when it moves and
// setLayout() when its layout changes (0 default, 1 fit screen, 2 full
// screen); each panel implements its own rule.
//
// A panel can be made draggable by any point of its body. UI thread only.

#include "body_drag.h"
#include "message_window.h"

#include <QPoint>

namespace korvante {

class PanelFrame : public PanelWindow {
public:
    explicit PanelFrame(QWidget *mainWindow);

    virtual void followMainWindow() {}
    virtual void setLayout(int mode) { (void)mode; }

    // The main window's top-left corner in screen coordinates.
    QPoint mainWindowOrigin() const;
    // Places the panel at the main window's origin plus `offset`.
    void placeAt(QPoint offset, QSize size);

protected:
    // Whether a press on the panel's body drags the panel; the default is no.
    virtual bool dragsByBody() const { return false; }
    // Shows the panel above the others, or hides it.
    void showOnTop(bool shown);

    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    BodyDrag m_drag;
};

} // namespace korvante
