#pragma once
// The file list panel (template 139): 315 x 470, docked at the main window's
// origin plus (770, 310) while the main window is in its default layout;
// hidden and kept on top in the wide layouts. Owned by the main window.
// UI thread only.

#include "gui/platform/panel_frame.h"

namespace korvante {

class CFileManagerDlg : public PanelFrame {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 139;
    static constexpr QPoint kDockOffset{770, 310};
    static constexpr QSize kSize{315, 470};

    explicit CFileManagerDlg(QWidget *mainWindow);

    void followMainWindow() override;
    void setLayout(int wide) override;

    bool isDocked() const { return m_docked; }
    bool isShownFlag() const { return m_shown; }

protected:
    bool dragsByBody() const override { return !m_docked || m_wide; }
    void paintEvent(QPaintEvent *event) override;

private:
    bool m_docked = true;
    bool m_shown = true;
    bool m_wide = false;
};

} // namespace korvante
