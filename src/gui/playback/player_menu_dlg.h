#pragma once
// The strip of playback controls under the screens (template 135): 730 x 50 at
// the main window's origin plus (24, 453); in the wide layouts at the bottom
// right of the screen. Owned by the main window. UI thread only.

#include "gui/platform/panel_frame.h"

namespace korvante {

class CPlayerMenuDlg : public PanelFrame {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 135;
    static constexpr QPoint kOffset{24, 453};
    static constexpr QSize kSize{730, 50};

    // The screens are the front and rear screen panels (not owned).
    CPlayerMenuDlg(QWidget *mainWindow, QWidget *frontScreen, QWidget *rearScreen);
    ~CPlayerMenuDlg() override;

    // Set by the main window after creation (not owned).
    void setPeerPanels(QWidget *mapView, QWidget *graph);

    void followMainWindow() override;
    void setLayout(int wide) override;
    static QRect widePlacement(QSize screen);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QWidget *m_frontScreen;
    QWidget *m_rearScreen;
    QWidget *m_mapView = nullptr;
    QWidget *m_graph = nullptr;
    bool m_wide = false;
};

} // namespace korvante
