#pragma once
// The accident report dialog (template 154): 936 x 701 over skin image 149,
// the grabbed picture previewed at (15, 74), 909 x 524, the details edit
// (control 1006) with its template text, and the skinned Close (2384) and
// "Print Start" (2385) buttons. Print Start shows the print dialog (a
// printer, or "Print to File" for a PDF) and prints the one-page report; the
// dialog stays open and can print again with the details as they read then.
//
// While it is open, the SHA-256 digests of the recording's files are
// computed on a worker thread (started with the dialog), with the progress
// shown in the dialog; a print asked for before they are known waits for
// them without holding up the window. Closing the dialog cancels the worker.
//
// Ownership: owns the picture, the map picture, its controls and the worker.
// UI thread only, apart from the worker, which touches only its own copies
// of the file descriptions and posts its results back.

#include "gui/platform/message_window.h"
#include "gui/report/report_page.h"

#include <QDialog>
#include <QImage>

#include <atomic>
#include <memory>

class QPlainTextEdit;
class QThread;

namespace korvante {

class CSkinButton;

class CPrintDlg final : public PanelDialog {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 154;
    static constexpr QSize kSize{936, 701};
    static constexpr QRect kPreviewRect{15, 74, 909, 524};
    static constexpr QRect kEditRect{20, 605, 790, 88};
    static constexpr int kEditId = 1006;
    static constexpr int kCloseId = 2384;
    static constexpr int kPrintId = 2385;
    static constexpr QRect kCloseRect{874, 20, 41, 41};
    static constexpr QRect kPrintRect{820, 606, 91, 87};
    static constexpr int kBackgroundImage = 149;
    static const QString kTemplateText;

    // `picture` is the grabbed frame (the dialog keeps it); `evidence` names
    // the recording's files and the impact summary; its digests are filled here.
    CPrintDlg(QWidget *parent, QImage picture, ReportEvidence evidence);
    ~CPrintDlg() override;

    // The map picture printed beside the evidence (set by the opener).
    void setMapPicture(const QImage &map) { m_map = map; }
    const QImage &mapPicture() const { return m_map; }

    // Prints the report as Print Start does (waiting for the digests first).
    void printReport();
    // The preview as the dialog paints it: 908 x 524.
    QImage previewImage() const;
    QPlainTextEdit *detailsEdit() const { return m_edit; }
    CSkinButton *closeButton() const { return m_close; }
    CSkinButton *printButton() const { return m_print; }
    // The digests are being computed.
    bool isHashing() const { return m_hashing; }
    // The line that tells the user about the digests ("" when done).
    QString statusText() const { return m_status; }
    const ReportEvidence &evidence() const { return m_evidence; }
    // Pages printed so far (each Print Start that reached a printer).
    int printedCount() const { return m_printed; }

protected:
    qintptr onMessage(int message, quintptr w, qintptr l) override;
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void startHashing();
    void onProgress(qint64 done, qint64 total);
    void onHashed(std::vector<DigestResult> digests);
    void printNow();
    void insertLineBreak();
    void setStatus(const QString &text);

    QImage m_picture;
    QImage m_map;
    ReportEvidence m_evidence;
    QPlainTextEdit *m_edit = nullptr;
    CSkinButton *m_close = nullptr;
    CSkinButton *m_print = nullptr;
    QString m_status;
    bool m_hashing = false;
    bool m_printPending = false;
    int m_printed = 0;
    int m_lastPercent = -1;
    std::shared_ptr<std::atomic<bool>> m_cancel;
    QThread *m_worker = nullptr;
};

} // namespace korvante
