#pragma once
// The map panel (template 137): 315 x 310, docked at the main window's origin
// plus (770, 0) while the main window is in its default layout; hidden and
// kept on top in the wide layouts. Owned by the main window. UI thread only.

#include "gui/platform/panel_frame.h"

namespace korvante {

class CMapViewDlg : public PanelFrame {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 137;
    static constexpr QPoint kDockOffset{770, 0};
    static constexpr QSize kSize{315, 310};

    explicit CMapViewDlg(QWidget *mainWindow);

    void followMainWindow() override;
    void setLayout(int wide) override;

    bool isDocked() const { return m_docked; }
    bool isShownFlag() const { return m_shown; }

protected:
    bool dragsByBody() const override { return true; }
    void paintEvent(QPaintEvent *event) override;

private:
    bool m_docked = true;
    bool m_shown = true;
    bool m_wide = false;
};

} // namespace korvante
