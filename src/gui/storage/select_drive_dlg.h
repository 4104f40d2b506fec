#pragma once
// The drive selection dialog: a modal 456 x 182 black box, centred on the main
// window, with one combo line per storage source ("(TAVO)" taken out of the
// label, so cards and plain drives look alike), "Check" and "Close".
//
// Opening it rebuilds the catalogue's source list. After exec() returns
// Accepted, selection() is the chosen position in the catalogue's sources;
// the dialog keeps nothing else.
//
// Ownership: the catalogue is not owned and must outlive the dialog. UI thread only.

#include "gui/platform/message_window.h"

class QPushButton;

namespace korvante {

class CSkinComboBox;
class RecordingCatalogue;

class CNSelectDriveDlg final : public PanelDialog {
    Q_OBJECT
public:
    static constexpr QSize kSize{456, 182};
    static constexpr int kComboId = 1000;

    CNSelectDriveDlg(QWidget *parent, RecordingCatalogue &catalogue);
    ~CNSelectDriveDlg() override;

    // The position chosen with "Check"; -1 until then.
    int selection() const { return m_selection; }

    CSkinComboBox *sourceCombo() const { return m_combo; }
    QPushButton *checkButton() const { return m_check; }
    QPushButton *closeButton() const { return m_close; }

    // The combo text of a source label: the label with "(TAVO)" removed.
    static QString lineOfLabel(const std::string &label);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void centreOnMainWindow();
    void onCheck();

    RecordingCatalogue &m_catalogue;
    CSkinComboBox *m_combo;
    QPushButton *m_check;
    QPushButton *m_close;
    int m_selection = -1;
};

} // namespace korvante
