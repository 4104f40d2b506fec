#pragma once
// The strip of sensor numbers under the video (template 136): 750 x 55 at the
// main window's origin plus (14, 725); in the wide layouts at the bottom of
// the screen. Owned by the main window. UI thread only.

#include "gui/platform/panel_frame.h"

namespace korvante {

class CUtilInfoDlg : public PanelFrame {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 136;
    static constexpr QPoint kOffset{14, 725};
    static constexpr QSize kSize{750, 55};

    explicit CUtilInfoDlg(QWidget *mainWindow);

    void followMainWindow() override;
    // Non-zero: wide placement (fit or full screen).
    void setLayout(int wide) override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    bool m_wide = false;
};

} // namespace korvante
