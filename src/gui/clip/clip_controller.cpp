#include "clip_controller.h"

#include "clip_dialog.h"
#include "clip_job.h"
#include "gui/platform/message_box.h"
#include "gui/ui/bitmap_slider.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace korvante {

namespace {

const QString kCaption = QStringLiteral("Save clip");

// Small flat buttons that sit among the player's skinned ones.
const QString kButtonStyle = QStringLiteral(
    "QPushButton { color: #dcdcdc; background: #2a2d33; border: 1px solid #555a63; border-radius: 2px;"
    " font-size: 8pt; padding: 0px; }"
    "QPushButton:hover { background: #3b404a; }"
    "QPushButton:pressed { background: #4b5260; }"
    "QPushButton:disabled { color: #6c6c6c; border-color: #3a3d42; }");

// The progress window: closing it is Cancel.
class ProgressWindow final : public QWidget {
public:
    ProgressWindow(QWidget *parent, std::function<void()> onClose)
        : QWidget(parent, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint), m_onClose(std::move(onClose))
    {
    }

protected:
    void closeEvent(QCloseEvent *event) override
    {
        if (m_onClose)
            m_onClose();
        event->ignore(); // it goes when the writer has ended
    }

private:
    std::function<void()> m_onClose;
};

QPushButton *makeButton(const QString &text, const QString &tip, QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    button->setStyleSheet(kButtonStyle);
    button->setToolTip(tip);
    // The viewer's keys work wherever the focus is; a button never takes Space from them.
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

} // namespace

ClipController::ClipController(Links links, CBitmapSlider *seekSlider, const Placement &placement,
                               QWidget *dialogParent, QObject *parent)
    : QObject(parent), m_links(std::move(links)), m_slider(seekSlider), m_dialogParent(dialogParent)
{
    createControls(placement);
    connect(&m_span, &ClipSpan::spanChanged, this, [this] { onSpanChanged(); });
    onSpanChanged();
}

ClipController::~ClipController()
{
    // The job's destructor cancels and waits for its worker; the clip is abandoned.
    m_job.reset();
    delete m_progressWindow;
    delete m_in;
    delete m_out;
    delete m_clear;
    delete m_save;
    delete m_status;
}

void ClipController::createControls(const Placement &placement)
{
    if (QWidget *row = placement.buttons) {
        const QRect r = placement.inOutClear;
        // In, Out and Clear (a cross) share the row in the ratio of their words.
        const int gap = 2;
        const int room = r.width() - 2 * gap;
        const int inWidth = room * 5 / 17, outWidth = room * 7 / 17;
        m_in = makeButton(QStringLiteral("In"), QStringLiteral("Set the clip's In at the playing position (I)"), row);
        m_in->setGeometry(r.x(), r.y(), inWidth, r.height());
        m_out = makeButton(QStringLiteral("Out"), QStringLiteral("Set the clip's Out at the playing position (O)"), row);
        m_out->setGeometry(r.x() + inWidth + gap, r.y(), outWidth, r.height());
        m_clear = makeButton(QStringLiteral("✕"), QStringLiteral("Clear the clip's In and Out"), row);
        m_clear->setGeometry(r.x() + inWidth + outWidth + 2 * gap, r.y(), room - inWidth - outWidth, r.height());
        m_save = makeButton(QStringLiteral("Save clip…"), QString(), row);
        m_save->setGeometry(placement.save);
        connect(m_in, &QPushButton::clicked, this, [this] { markIn(); });
        connect(m_out, &QPushButton::clicked, this, [this] { markOut(); });
        connect(m_clear, &QPushButton::clicked, this, [this] { clearSpan(); });
        connect(m_save, &QPushButton::clicked, this, [this] { saveClip(); });
        for (QPushButton *b : {m_in.data(), m_out.data(), m_clear.data(), m_save.data()})
            b->show();
    }
    if (placement.status) {
        m_status = new QLabel(placement.status);
        m_status->setGeometry(placement.statusRect);
        m_status->setTextFormat(Qt::PlainText);
        m_status->setStyleSheet(QStringLiteral("QLabel { color: #f0d060; background: transparent; font-size: 8pt; }"));
        m_status->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        m_status->show();
    }
}

std::optional<clip::CameraTime> ClipController::playingTime(QString &why) const
{
    const QString name = m_links.currentName ? m_links.currentName() : QString();
    const std::optional<std::int64_t> position = m_links.positionMs ? m_links.positionMs() : std::nullopt;
    if (name.isEmpty() || !position) {
        why = QStringLiteral("Clip: play or pause a recording to set In and Out");
        return std::nullopt;
    }
    const std::optional<clip::CameraTime> start = cameraTimeOfName(name);
    if (!start) {
        why = QStringLiteral("Clip: the name %1 gives no camera time").arg(name);
        return std::nullopt;
    }
    return *start + std::chrono::milliseconds{*position};
}

bool ClipController::markIn() { return mark(true); }

bool ClipController::markOut() { return mark(false); }

bool ClipController::mark(bool in)
{
    QString why;
    const auto time = playingTime(why);
    if (!time) {
        showNote(why);
        return false;
    }
    m_note.clear();
    if (in) // each signals when it moved
        m_span.setIn(*time);
    else
        m_span.setOut(*time);
    if (m_status)
        m_status->setText(statusText());
    return true;
}

void ClipController::followSource(const std::string &sourceKey)
{
    m_span.followSource(sourceKey);
}

void ClipController::showNote(const QString &note)
{
    m_note = note;
    if (m_status)
        m_status->setText(statusText());
}

QString ClipController::statusText() const
{
    return m_note.isEmpty() ? m_span.statusText() : m_note;
}

void ClipController::onSpanChanged()
{
    if (m_status)
        m_status->setText(statusText());
    refreshMarks();
    updateSaveButton();
    emit spanChanged(m_span.in(), m_span.out());
}

void ClipController::refreshMarks()
{
    if (!m_slider)
        return;
    const QString name = m_links.currentName ? m_links.currentName() : QString();
    const std::optional<clip::CameraTime> start = name.isEmpty() ? std::nullopt : cameraTimeOfName(name);
    if (!start) {
        m_slider->setMarks(std::nullopt, std::nullopt);
        return;
    }
    const auto [in, out] = m_span.sliderMarks(*start, m_slider->rangeMax());
    m_slider->setMarks(in, out);
}

bool ClipController::isWriting() const
{
    return m_job && m_job->isRunning();
}

void ClipController::updateSaveButton()
{
    if (!m_save)
        return;
    m_save->setEnabled(m_span.isComplete() && !isWriting());
    m_save->setToolTip(isWriting() ? QStringLiteral("A clip is being written")
                       : m_span.isComplete()
                           ? QStringLiteral("Save the span as an MP4 clip: %1").arg(m_span.statusText())
                           : QStringLiteral("Save clip…: set In (I) and Out (O) first"));
}

bool ClipController::saveClip()
{
    if (!m_span.isComplete() || isWriting())
        return false;
    CClipDialog dialog(*m_span.in(), m_span.statusText(), m_dialogParent);
    const int result = m_dialogRunner ? m_dialogRunner(dialog) : dialog.exec();
    if (result != QDialog::Accepted || dialog.accepted().path.empty())
        return false;
    return startClip(dialog.accepted().path, dialog.accepted().options);
}

bool ClipController::startClip(const std::string &path, const clip::ClipOptions &chosen)
{
    if (!m_span.isComplete() || isWriting() || !m_links.plan)
        return false;
    std::string error;
    std::optional<clip::ClipPlan> plan;
    {
        // Planning reads recordings the overview has not seen yet.
        QApplication::setOverrideCursor(Qt::WaitCursor);
        plan = m_links.plan(*m_span.in(), *m_span.out(), error);
        QApplication::restoreOverrideCursor();
    }
    if (!plan) {
        platform::messageBox(m_dialogParent,
                             QStringLiteral("Cannot make the clip: %1.\nNothing was written.")
                                 .arg(QString::fromStdString(error)),
                             kCaption, platform::MB_OK | platform::MB_ICONWARNING);
        return false;
    }
    clip::ClipOptions options = chosen;
    if (m_links.speedUnit)
        options.speedUnit = m_links.speedUnit();
    m_job = std::make_unique<ClipJob>(std::move(*plan), options, path, nullptr, m_writer);
    connect(m_job.get(), &ClipJob::finished, this, &ClipController::onFinished);
    openProgressWindow(QFileInfo(QString::fromStdString(path)).fileName());
    connect(m_job.get(), &ClipJob::progressed, m_progressBar.data(),
            [bar = m_progressBar](double f) { bar->setValue(static_cast<int>(f * 1000)); });
    m_job->start();
    updateSaveButton();
    return true;
}

void ClipController::openProgressWindow(const QString &name)
{
    auto *window = new ProgressWindow(m_dialogParent, [this] { cancelClip(); });
    window->setWindowTitle(QStringLiteral("Writing clip"));
    auto *label = new QLabel(QStringLiteral("Writing %1").arg(name), window);
    label->setTextFormat(Qt::PlainText);
    m_progressBar = new QProgressBar(window);
    m_progressBar->setRange(0, 1000);
    m_progressBar->setValue(0);
    m_progressBar->setFormat(QStringLiteral("%p%"));
    auto *cancel = new QPushButton(QStringLiteral("Cancel"), window);
    connect(cancel, &QPushButton::clicked, this, [this] { cancelClip(); });
    auto *row = new QHBoxLayout;
    row->addWidget(m_progressBar, 1);
    row->addWidget(cancel);
    auto *column = new QVBoxLayout(window);
    column->addWidget(label);
    column->addLayout(row);
    window->setMinimumWidth(380);
    window->adjustSize();
    // Over the middle of the viewer, where the eye is (a window manager may move it).
    if (m_dialogParent) {
        const QRect over = m_dialogParent->frameGeometry();
        window->move(over.center() - QPoint(window->width() / 2, window->height() / 2));
    }
    m_progressWindow = window;
    window->show();
}

void ClipController::cancelClip()
{
    if (m_job)
        m_job->cancel();
}

void ClipController::onFinished(const clip::ClipOutcome &outcome)
{
    delete m_progressWindow;
    // The job has ended; it goes once this signal returns.
    if (ClipJob *job = m_job.release())
        job->deleteLater();
    updateSaveButton();
    const QString path = QString::fromStdString(outcome.clipPath);
    switch (outcome.status) {
    case clip::ClipStatus::Written: {
        QString text = QStringLiteral("Clip saved:\n%1\n\nEvidence file:\n%2")
                           .arg(path, QString::fromStdString(outcome.evidencePath));
        if (!outcome.message.empty())
            text += QStringLiteral("\n\n") + QString::fromStdString(outcome.message);
        platform::messageBox(m_dialogParent, text, kCaption, platform::MB_OK | platform::MB_ICONINFORMATION);
        break;
    }
    case clip::ClipStatus::Cancelled:
        showNote(QStringLiteral("Clip cancelled; nothing was written"));
        break;
    case clip::ClipStatus::Refused:
    case clip::ClipStatus::Failed:
        platform::messageBox(m_dialogParent,
                             QStringLiteral("The clip was not saved: %1\nNothing was written.")
                                 .arg(QString::fromStdString(outcome.message)),
                             kCaption, platform::MB_OK | platform::MB_ICONERROR);
        break;
    }
    emit clipFinished(outcome);
}

} // namespace korvante
