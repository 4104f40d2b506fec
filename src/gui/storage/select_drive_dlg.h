#pragma once
// The drive selection dialog: a modal 456 x 182 black box, centred on the main
// window, with one combo line per storage source ("(TAVO)" taken out of the
// label, so cards and plain drives look alike), "Check" and "Close".
//
// Opening it rebuilds the catalogue's source list. After exec() returns
// Accepted, selection() is the chosen position in the catalogue's sources;
// the dialog keeps nothing else.
//
// The dialog is a window of its own rather than a child of `owner`: the
// main window disables itself and its panels (and with them every window
// below them) while a modal dialog runs, and this one must still take input.
// It stays above `owner`'s window and blocks the whole application.
//
// Ownership: the catalogue is not owned and must outlive the dialog. UI thread only.

#include "gui/platform/message_window.h"

#include <QPointer>

class QPushButton;

namespace korvante {

class CSkinComboBox;
class RecordingCatalogue;

class CNSelectDriveDlg final : public PanelDialog {
    Q_OBJECT
public:
    static constexpr QSize kSize{456, 182};
    static constexpr int kComboId = 1000;

    CNSelectDriveDlg(QWidget *owner, RecordingCatalogue &catalogue);
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
    void showEvent(QShowEvent *event) override;

private:
    void centreOnMainWindow();
    void onCheck();

    QPointer<QWidget> m_owner;
    RecordingCatalogue &m_catalogue;
    CSkinComboBox *m_combo;
    QPushButton *m_check;
    QPushButton *m_close;
    int m_selection = -1;
};

} // namespace korvante
