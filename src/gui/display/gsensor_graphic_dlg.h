#pragma once
// The G-sensor graph panel (template 155): the three axes of the open
// recording's first minute as curves (X green, Y red, Z blue) over the skin's
// background 242, and an orange cursor at the playback position. A click or a
// drag in the plot asks the player control panel to seek there. Incidents of
// the open recording (from the card overview) are marked as yellow lines with
// their force, set by the main window.
//
// Normal layout: 336 x 200 at the main window's origin plus (421, 515), shown,
// following the main window. Wide layouts (fit and full screen): 550 x 290 at
// the same point, a floating topmost window, hidden until toggled (command 12)
// and dragged by its top strip; the Close button, Escape and Alt+F4 hide it.
//
// The sample list is read through its guarded walk and copied out; painting
// never holds the list's lock. Owned by the main window. UI thread only.

#include "gui/platform/body_drag.h"
#include "gui/platform/panel_frame.h"

#include <cstdint>
#include <vector>

class QPainter;

namespace korvante {

class CQDRVTextData;
class CSkinButton;
struct ViewerState;

class CGsensorGraphicDlg : public PanelFrame {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 155;
    static constexpr QPoint kOffset{421, 515};
    static constexpr QSize kNormalSize{336, 200};
    static constexpr QSize kWideSize{550, 290};
    static constexpr int kCloseButtonId = 0;
    // Height of the strip at the top of the floating window that drags it.
    static constexpr int kDragStripHeight = 40;

    explicit CGsensorGraphicDlg(QWidget *mainWindow);

    void followMainWindow() override;
    // Non-zero: the wide (floating) layout. The same layout again does nothing.
    void setLayout(int wide) override;
    bool isWide() const { return m_wide; }
    // Whether the panel counts as shown (the toggle's and the Close button's flag).
    bool isShownFlag() const { return m_shown; }
    bool isDragging() const { return m_dragging; }

    // Moves the cursor to `milliseconds` from the start of the recording (0:
    // no cursor). The main window connects the player control panel's
    // graphCursorMoved here.
    void setCursorTime(quint32 milliseconds);
    quint32 cursorTime() const { return m_cursorMs; }

    // One incident of the open recording: its peak, in milliseconds from the
    // start, and its force in g.
    struct IncidentMark {
        std::int32_t offsetMs = 0;
        float g = 0;
    };
    // Replaces the marks (empty: none). Marks after the first minute are
    // off the plot and not drawn.
    void setIncidentMarks(std::vector<IncidentMark> marks);
    const std::vector<IncidentMark> &incidentMarks() const { return m_marks; }
    static constexpr QRgb kMarkColour = 0xffffdc00; // yellow: apart from the axes and the cursor

    CSkinButton *closeButton() const { return m_close; }

protected:
    qintptr onMessage(int message, quintptr w, qintptr l) override;
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void seekAt(QPoint point);
    void hideByUser();
    void toggle();
    void paintMarks(QPainter &painter);

    ViewerState &m_state;
    // Taken the first time the cursor is set: until then no curves are drawn.
    const CQDRVTextData *m_sensorData = nullptr;
    CSkinButton *m_close = nullptr;
    BodyDrag m_stripDrag;
    quint32 m_cursorMs = 0;
    std::vector<IncidentMark> m_marks;
    bool m_wide = false;
    bool m_shown = true;
    bool m_dragging = false;
};

} // namespace korvante
