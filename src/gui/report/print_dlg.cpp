#include "print_dlg.h"
#include "core/playback/video_renderer.h"

#include "gui/platform/message_box.h"
#include "gui/platform/skin_library.h"
#include "gui/ui/skin_button.h"

#include <QDateTime>
#include <QKeyEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QThread>

namespace korvante {

const QString CPrintDlg::kTemplateText = QStringLiteral(
    "1. Vehicle Number:xxxx \r\n \r\n2. Vehicle Type:xxx\r\n \r\n3. Accident Happen Date:xxxx\r\n \r\n");

namespace {

// Under the skin's subtitle, left of the Close button.
constexpr QRect kStatusRect{330, 52, 530, 18};

QString plainLines(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

} // namespace

CPrintDlg::CPrintDlg(QWidget *parent, QImage picture, ReportEvidence evidence)
    : PanelDialog(parent, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      m_picture(std::move(picture)), m_evidence(std::move(evidence)),
      m_cancel(std::make_shared<std::atomic<bool>>(false))
{
    setWindowTitle(QStringLiteral("Accident Report"));
    setFixedSize(kSize);
    if (parent) {
        const QRect owner = parent->window()->frameGeometry();
        move(owner.center() - QPoint(kSize.width() / 2, kSize.height() / 2));
    }

    m_edit = new QPlainTextEdit(this);
    m_edit->setObjectName(QStringLiteral("details%1").arg(kEditId));
    m_edit->setGeometry(kEditRect);
    m_edit->setPlainText(plainLines(kTemplateText));
    m_edit->installEventFilter(this);

    m_close = new CSkinButton(QStringLiteral("Close"), kCloseId, kCloseRect, this, SkinImageIds{151, 152, 150, 150});
    m_print = new CSkinButton(QStringLiteral("Print Start"), kPrintId, kPrintRect, this,
                              SkinImageIds{154, 155, 153, 153});
    m_close->installEventFilter(this);
    // The skin's magenta corners are outside the window.
    const QPixmap background = SkinLibrary::bitmap(kBackgroundImage);
    if (!background.isNull())
        setMask(background.createMaskFromColor(QColor(255, 0, 255), Qt::MaskInColor));
    m_print->installEventFilter(this);
    startHashing();
}

CPrintDlg::~CPrintDlg()
{
    m_cancel->store(true);
    if (m_worker) {
        m_worker->wait();
        delete m_worker;
    }
}

void CPrintDlg::startHashing()
{
    if (m_evidence.files.empty())
        return;
    m_hashing = true;
    setStatus(QStringLiteral("Computing the SHA-256 digests of the recording..."));
    const std::vector<EvidenceFile> files = m_evidence.files;
    const std::shared_ptr<std::atomic<bool>> cancel = m_cancel;
    // The worker reads only its own copies; the dialog waits for it when it
    // is destroyed, so posting to `this` is safe for the worker's whole life.
    m_worker = QThread::create([this, files, cancel] {
        int lastPercent = -1;
        std::vector<DigestResult> digests = hashEvidence(
            files,
            [this, &lastPercent](std::int64_t done, std::int64_t total) {
                const int percent = total > 0 ? static_cast<int>(done * 100 / total) : 100;
                if (percent == lastPercent)
                    return;
                lastPercent = percent;
                QMetaObject::invokeMethod(this, [this, done, total] { onProgress(done, total); },
                                          Qt::QueuedConnection);
            },
            cancel.get());
        QMetaObject::invokeMethod(this, [this, digests = std::move(digests)]() mutable { onHashed(std::move(digests)); },
                                  Qt::QueuedConnection);
    });
    m_worker->start(QThread::LowPriority);
}

void CPrintDlg::onProgress(qint64 done, qint64 total)
{
    if (!m_hashing)
        return;
    const int percent = total > 0 ? static_cast<int>(done * 100 / total) : 100;
    if (percent == m_lastPercent)
        return;
    m_lastPercent = percent;
    setStatus(QStringLiteral("Computing the SHA-256 digests of the recording: %1 %").arg(percent)
              + (m_printPending ? QStringLiteral(" (the report prints when done)") : QString()));
}

void CPrintDlg::onHashed(std::vector<DigestResult> digests)
{
    m_hashing = false;
    m_evidence.digests = std::move(digests);
    setStatus(QString());
    if (m_printPending) {
        m_printPending = false;
        printNow();
    }
}

void CPrintDlg::setStatus(const QString &text)
{
    m_status = text;
    update(kStatusRect);
}

void CPrintDlg::printReport()
{
    if (m_hashing) {
        // The report is evidence only with its digests: print once they
        // are known, and keep the window answering meanwhile.
        m_printPending = true;
        m_lastPercent = -1;
        setStatus(QStringLiteral("The report prints once the SHA-256 digests are computed..."));
        return;
    }
    printNow();
}

void CPrintDlg::printNow()
{
    QPrinter printer(QPrinter::HighResolution);
    // One time names the document, the file the print dialog proposes and
    // the PDF's title alike.
    const QDateTime now = QDateTime::currentDateTime();
    printer.setDocName(reportDocumentName(now));
    if (!platform::Dialogs::print(this, printer))
        return;
    ReportContent content{previewImage(), m_map, m_edit->toPlainText(), m_evidence};
    if (printReportPage(printer, content, logicalDpiX(), logicalDpiY(), now))
        ++m_printed;
}

QImage CPrintDlg::previewImage() const
{
    // The preview's area as painted: 908 x 524 of the 909-wide rectangle.
    QImage preview(kPreviewRect.width() - 1, kPreviewRect.height(), QImage::Format_RGB32);
    preview.fill(Qt::black);
    if (!m_picture.isNull()) {
        QPainter p(&preview);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(VideoRenderer::fitted(QRect(QPoint(0, 0), kPreviewRect.size()), m_picture.size()), m_picture);
    }
    return preview;
}

qintptr CPrintDlg::onMessage(int message, quintptr w, qintptr)
{
    if (message != msg::ButtonClick)
        return 0;
    if (static_cast<int>(w) == kCloseId)
        done(platform::IDOK);
    else if (static_cast<int>(w) == kPrintId)
        printReport();
    return 0;
}

void CPrintDlg::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    QPixmap background = SkinLibrary::bitmap(kBackgroundImage);
    if (!background.isNull()) {
        background.setMask(background.createMaskFromColor(QColor(255, 0, 255), Qt::MaskInColor));
        p.drawPixmap(0, 0, background);
    }
    if (!m_picture.isNull()) {
        // The picture keeps its shape: black bars where the preview's differs.
        p.fillRect(kPreviewRect, Qt::black);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(VideoRenderer::fitted(kPreviewRect, m_picture.size()), m_picture);
    }
    if (!m_status.isEmpty()) {
        QFont font(QStringLiteral("Arial"));
        font.setPixelSize(12);
        p.setFont(font);
        p.setPen(Qt::white);
        p.drawText(kStatusRect, Qt::AlignLeft | Qt::AlignVCenter, m_status);
    }
}

void CPrintDlg::insertLineBreak()
{
    // Enter never presses a button here: it starts a new line in the details.
    QTextCursor cursor = m_edit->textCursor();
    cursor.clearSelection();
    m_edit->setTextCursor(cursor);
    m_edit->ensureCursorVisible();
    m_edit->insertPlainText(QStringLiteral("\n"));
}

bool CPrintDlg::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            insertLineBreak();
            return true;
        }
    }
    return PanelDialog::eventFilter(watched, event);
}

void CPrintDlg::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        insertLineBreak();
        return;
    }
    PanelDialog::keyPressEvent(event);
}

} // namespace korvante
