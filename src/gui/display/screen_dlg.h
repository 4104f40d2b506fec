#pragma once
// The two video screens: CScreen1Dlg shows the front channel (0), CScreen2Dlg
// the rear channel (1). Each hosts a video area (CSkinStatic) that the media
// engine draws into, marks whether it is the selected screen, zooms with the
// mouse wheel and pans a zoomed picture by dragging. In the wide layouts the
// selected screen takes the whole screen (full) or the video's own size
// centred (fit).
//
// Owned by the main window. UI thread only.

#include "gui/platform/panel_frame.h"

#include <QPoint>
#include <QSize>
#include <QString>

namespace korvante {

class CSkinStatic;
struct ViewerState;

class CScreenDlg : public PanelFrame {
    Q_OBJECT
public:
    struct Geometry {
        int templateId;
        int videoAreaId;
        int channel;
        QPoint offset;
        QSize size;
        QSize videoArea;
        bool selected;
    };

    CScreenDlg(QWidget *mainWindow, const Geometry &geometry);
    ~CScreenDlg() override;

    int channel() const { return m_geometry.channel; }
    // The renderer slot drawing into this screen now (its channel unless the
    // screens are swapped).
    int slot() const;
    int templateId() const { return m_geometry.templateId; }
    CSkinStatic *videoArea() const { return m_videoArea; }

    // A line shown in the video area instead of the picture ("Opening …",
    // "Cannot play …"); empty shows the picture again.
    void setMessage(const QString &text);
    QString message() const;

    bool isSelected() const { return m_selected; }
    // Changes the mark; a change repaints the panel.
    void setSelected(bool selected);

    QPoint pan() const { return m_pan; }
    bool isDragging() const { return m_dragging; }

    void followMainWindow() override;
    void setLayout(int mode) override;

    // Placement of the selected screen in the wide layouts, in screen
    // coordinates: panel rectangle and video area rectangle (panel-relative).
    static void widePlacement(int mode, QSize screen, QSize native, QRect &panel, QRect &area);

protected:
    // The front screen ends a drag when the pointer nears its top or left edge.
    virtual bool endsDragNearEdge() const { return false; }
    // The front screen clears the pan when asked to zoom out below 1.
    virtual bool clearsPanWhenUnzoomed() const { return false; }

    qintptr onMessage(int message, quintptr w, qintptr l) override;
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    bool hasRenderer() const;
    bool isPlayingOrPaused() const;
    int zoom() const;
    void clampPan();
    void zoomIn();
    // Returns false when the zoom was below 1 and nothing changed.
    bool zoomOut();
    void repaintAll();
    void placePicture();

    ViewerState &m_state;
    Geometry m_geometry;
    CSkinStatic *m_videoArea = nullptr;
    bool m_selected;
    bool m_dragging = false;
    QPoint m_last;
    QPoint m_pan;
};

class CScreen1Dlg final : public CScreenDlg {
    Q_OBJECT
public:
    explicit CScreen1Dlg(QWidget *mainWindow);

protected:
    bool endsDragNearEdge() const override { return true; }
    bool clearsPanWhenUnzoomed() const override { return true; }
};

class CScreen2Dlg final : public CScreenDlg {
    Q_OBJECT
public:
    explicit CScreen2Dlg(QWidget *mainWindow);
};

} // namespace korvante
