#pragma once
// Making a clip in the viewer: the span's In and Out set at the playing
// position (keys I and O and the In / Out buttons), shown as marks on the
// seek slider and as one status line, cleared by a button or when another
// source is listed; "Save clip…" asks for the options and the place, plans
// the span over the source and writes the clip on a worker (a small progress
// window with Cancel; the viewer stays usable), then names the clip and its
// evidence file, or gives the writer's one-line reason.
//
// The controller reaches the player, the catalogue and the settings only
// through its links, which the main window sets where it is assembled.
//
// Ownership: a QObject child of the main window; it owns its buttons and the
// status line as children of the parents it was given, the span, the job and
// its progress window. The slider is not owned. UI thread only.

#include "clip_span.h"
#include "core/clip/clip_plan.h"
#include "core/clip/clip_writer.h"

#include <QLabel>
#include <QObject>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRect>

#include <functional>
#include <memory>
#include <optional>
#include <string>


namespace korvante {

class CBitmapSlider;
class CClipDialog;
class ClipJob;

class ClipController final : public QObject {
    Q_OBJECT
public:
    struct Links {
        // The open recording's file name, "" when none is open.
        std::function<QString()> currentName;
        // The playing position in ms from the recording's start; none while
        // nothing is playing or paused.
        std::function<std::optional<std::int64_t>()> positionMs;
        // Plans [in, out) over the listed source (UI thread), or none with a reason.
        std::function<std::optional<clip::ClipPlan>(clip::CameraTime in, clip::CameraTime out, std::string &error)>
            plan;
        // The overlay's speed unit: 0 km/h, 1 mph, 2 knots.
        std::function<int()> speedUnit;
    };
    // Where the controls go: the In / Out / Clear row and "Save clip…" (in
    // `buttons`' coordinates), the status line (in `status`' coordinates).
    struct Placement {
        QWidget *buttons = nullptr;
        QRect inOutClear;
        QRect save;
        QWidget *status = nullptr;
        QRect statusRect;
    };
    // Answers the options dialog in place of exec() (tests); returns its result.
    using DialogRunner = std::function<int(CClipDialog &dialog)>;

    ClipController(Links links, CBitmapSlider *seekSlider, const Placement &placement, QWidget *dialogParent,
                   QObject *parent = nullptr);
    ~ClipController() override;

    ClipSpan &span() { return m_span; }
    // Sets In or Out at the playing position; false (the status line says
    // why) when nothing plays or the recording's name gives no time.
    bool markIn();
    bool markOut();
    void clearSpan() { m_span.clear(); }
    // The listed source is `sourceKey` now ("" none): another one clears the span.
    void followSource(const std::string &sourceKey);
    // Redraws the slider's marks for the recording open now (call when it
    // or its length may have changed; cheap when nothing did).
    void refreshMarks();

    // Opens "Save clip…" and, when accepted, starts the clip. False when no
    // clip was started (no complete span, a clip still being written, the
    // dialog cancelled, a plan refused).
    bool saveClip();
    // Plans the span and starts writing `request` (the dialog's answer).
    bool startClip(const std::string &path, const clip::ClipOptions &options);
    // Cancels the clip being written (as the progress window's Cancel).
    void cancelClip();

    void setDialogRunner(DialogRunner runner) { m_dialogRunner = std::move(runner); }
    // The writer the jobs run (tests); writeClip when empty.
    void setWriter(std::function<clip::ClipOutcome(const clip::ClipPlan &, const clip::ClipOptions &,
                                                   const std::string &, const clip::ClipProgress &,
                                                   const std::atomic<bool> *)>
                       writer)
    {
        m_writer = std::move(writer);
    }

    bool isWriting() const;
    QString statusText() const;
    QPushButton *inButton() const { return m_in; }
    QPushButton *outButton() const { return m_out; }
    QPushButton *clearButton() const { return m_clear; }
    QPushButton *saveButton() const { return m_save; }
    QLabel *statusLabel() const { return m_status; }
    // The progress window while a clip is written, else null.
    QWidget *progressWindow() const { return m_progressWindow; }
    QProgressBar *progressBar() const { return m_progressBar; }

signals:
    // The span's marks changed (the trip bar may draw them too).
    void spanChanged(std::optional<clip::CameraTime> in, std::optional<clip::CameraTime> out);
    // A clip ended: written, failed or cancelled (after its message box).
    void clipFinished(const korvante::clip::ClipOutcome &outcome);

private:
    // Sets In (or Out) at the playing moment; false with a note when there is none.
    bool mark(bool in);
    std::optional<clip::CameraTime> playingTime(QString &why) const;
    void createControls(const Placement &placement);
    void onSpanChanged();
    void showNote(const QString &note);
    void openProgressWindow(const QString &name);
    void onFinished(const clip::ClipOutcome &outcome);
    void updateSaveButton();

    Links m_links;
    QPointer<CBitmapSlider> m_slider;
    QPointer<QWidget> m_dialogParent;
    ClipSpan m_span;
    QString m_note; // why the last mark was not set; shown until the span changes
    QPointer<QPushButton> m_in, m_out, m_clear, m_save;
    QPointer<QLabel> m_status;
    std::unique_ptr<ClipJob> m_job;
    QPointer<QWidget> m_progressWindow;
    QPointer<QProgressBar> m_progressBar;
    DialogRunner m_dialogRunner;
    std::function<clip::ClipOutcome(const clip::ClipPlan &, const clip::ClipOptions &, const std::string &,
                                    const clip::ClipProgress &, const std::atomic<bool> *)>
        m_writer;
};

} // namespace korvante
