#pragma once
// The G-sensor graph panel (template 155): 336 x 200 at the main window's
// origin plus (421, 515); in the wide layouts 550 x 290, hidden and kept on
// top. Owned by the main window. UI thread only.

#include "gui/platform/panel_frame.h"

namespace korvante {

class CGsensorGraphicDlg : public PanelFrame {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 155;
    static constexpr QPoint kOffset{421, 515};
    static constexpr QSize kNormalSize{336, 200};
    static constexpr QSize kWideSize{550, 290};

    explicit CGsensorGraphicDlg(QWidget *mainWindow);

    void followMainWindow() override;
    void setLayout(int wide) override;
    bool isWide() const { return m_wide; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    bool m_wide = false;
    bool m_shown = true;
};

} // namespace korvante
