#pragma once
// The card overview panel: the trips of the listed card or folder and its
// incidents (moments of high G-force), strongest first, with the incident
// threshold. It reads the catalogue's source in the background (an
// OverviewTask: the cache first, the recordings' metadata otherwise) while a
// progress bar counts the recordings, and stays usable meanwhile. A changed
// threshold recomputes the incidents from the result already read.
//
// Double-click (or Enter) on a trip plays its first recording, on an incident
// its recording from 5 s before the peak: through the play link the main
// window connects (the panel knows neither the file list nor the player).
//
// A floating tool window of the main window (660 x 500), first shown left of
// the main window, hidden until toggled (key T, the title bar's Card overview
// button), dragged by its body.
// Owned by the main window. UI thread only.

#include "core/overview/card_overview.h"
#include "core/overview/source_overview.h"
#include "gui/platform/panel_frame.h"

#include <QPointer>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QAbstractItemModel;
class QDoubleSpinBox;
class QLabel;
class QModelIndex;
class QProgressBar;
class QTreeView;

namespace korvante {

namespace overview {
class OverviewTask;
}
class CSkinButton;
class IncidentListModel;
class TripListModel;

class COverviewDlg final : public PanelFrame {
    Q_OBJECT
public:
    static constexpr QSize kSize{660, 500};
    static constexpr int kCloseButtonId = 0;
    static constexpr double kMinThreshold = 1.0;
    static constexpr double kMaxThreshold = 8.0;

    // What a double-click asks to play: the recording (as the result names
    // it: the front file's name and its path, or "/DIR/NAME" on a card) from
    // `startMs` milliseconds into it.
    struct PlayRequest {
        std::string name;
        std::string path;
        std::int64_t startMs = 0;
    };
    // Plays the request; returns why it cannot be played ("" when it plays).
    using PlayLink = std::function<QString(const PlayRequest &request)>;

    // One incident of a recording, for the marks on its G-sensor graph.
    struct Mark {
        std::int32_t offsetMs = 0; // of the peak, from the start of the recording
        float g = 0;
    };

    explicit COverviewDlg(QWidget *mainWindow);
    ~COverviewDlg() override;

    void setPlayLink(PlayLink link) { m_playLink = std::move(link); }
    // The SQLite cache's folder; empty (the default) is the user's cache folder.
    void setCacheDirectory(std::string directory) { m_cacheDirectory = std::move(directory); }

    // Shown: brought up above the viewer, its overview made current for the
    // catalogue's source. Hidden: a scan under way goes on.
    void toggleShown();
    void showPanel();
    // The catalogue listed its source again (or another one): a scan is
    // started when its recordings differ from those of the result shown, if
    // the panel is shown or already scanning; otherwise the old result is
    // dropped and the panel scans when it is next shown.
    void sourceListed();
    // Reads `recordings` in the background (what sourceListed does with the
    // catalogue's), dropping the result shown.
    void start(std::vector<overview::SourceRecording> recordings);
    // Shows `result` (the task's, or a test's): trips, then incidents at the
    // threshold. Null clears the lists.
    void setResult(std::shared_ptr<const overview::OverviewResult> result);

    // In g, clamped to [kMinThreshold, kMaxThreshold]; the incidents are
    // found again in the result already read.
    void setThreshold(double g);
    double threshold() const;
    // Re-reads the viewer's speed unit for the lists' distances and speeds.
    void refreshSpeedUnit();

    bool isScanning() const;
    const overview::OverviewResult *result() const { return m_result.get(); }
    const std::vector<overview::Trip> &trips() const;
    const std::vector<overview::Incident> &incidents() const;
    // The incidents of the recording `name` at `path` (empty path: by name
    // alone), for its graph; none without a result.
    std::vector<Mark> marksFor(const std::string &name, const std::string &path) const;

    // Double-click of trip `row` / incident `row`; false when it could not be played
    // (the reason is shown on the panel's message line).
    bool playTrip(int row);
    bool playIncident(int row);

    // The controls, for the main window and tests.
    QTreeView *tripList() const { return m_trips; }
    QTreeView *incidentList() const { return m_incidents; }
    QProgressBar *progressBar() const { return m_progress; }
    QDoubleSpinBox *thresholdBox() const { return m_threshold; }
    QLabel *statusLine() const { return m_status; }
    QLabel *messageLine() const { return m_message; }
    CSkinButton *closeButton() const { return m_close; }

signals:
    // A result was shown, dropped, or the threshold changed: each
    // recording's incidents may have changed.
    void incidentsChanged();

protected:
    qintptr onMessage(int message, quintptr w, qintptr l) override;
    bool dragsByBody() const override { return true; }
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void createControls();
    void placeFirst();
    QTreeView *makeList(QAbstractItemModel *model, const QRect &rect, const std::vector<int> &widths);
    void onProgress(int done, int total);
    void onFinished(std::shared_ptr<const overview::OverviewResult> result);
    void showIncidents();
    void showStatus();
    bool play(const PlayRequest &request);
    void say(const QString &message);
    // Identity of a recording list: its keys (path, size, time) hashed.
    static std::size_t signatureOf(const std::vector<overview::SourceRecording> &recordings);

    TripListModel *m_tripModel = nullptr;
    IncidentListModel *m_incidentModel = nullptr;
    QTreeView *m_trips = nullptr;
    QTreeView *m_incidents = nullptr;
    QProgressBar *m_progress = nullptr;
    QDoubleSpinBox *m_threshold = nullptr;
    QLabel *m_status = nullptr;
    QLabel *m_message = nullptr;
    CSkinButton *m_close = nullptr;

    // A task per build: a new source's build never hears an old one's signals.
    std::unique_ptr<overview::OverviewTask> m_task;
    std::shared_ptr<const overview::OverviewResult> m_result;
    std::size_t m_signature = 0; // of the recordings scanned or being scanned
    std::size_t m_recordingCount = 0;
    bool m_placed = false;
    bool m_shown = false;
    std::string m_cacheDirectory;
    PlayLink m_playLink;
};

} // namespace korvante
