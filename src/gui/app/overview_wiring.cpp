// The card overview panel's links, made where the main window is assembled:
// the panel follows what the file list lists, its double-clicks select a row
// of the file list and have the player play it (from an offset), and the
// incidents of the recording the player has open are marked on the G-sensor
// graph. UI thread only.

#include "trail_player_dlg.h"

#include "core/playback/viewer_state.h"
#include "gui/display/gsensor_graphic_dlg.h"
#include "gui/overview/overview_dlg.h"
#include "gui/platform/messages.h"
#include "gui/platform/panel_registry.h"
#include "gui/playback/player_menu_dlg.h"
#include "gui/storage/file_manager_dlg.h"
#include "gui/ui/skin_combo_box.h"

#include <QBasicTimer>
#include <QPointer>
#include <QTimerEvent>

namespace korvante {

namespace {

// Seeks the player to a position once the open it began for a recording has
// read its files. The open runs on the engine's worker and ends on this
// thread; the first look is queued behind the player's Restart, so by then
// the open has begun (or failed at once). Gives up when another recording
// is open then, the open failed, or after kPatienceMs. Deletes itself.
class SeekAfterOpen final : public QObject {
public:
    static constexpr int kLookMs = 40;
    static constexpr int kPatienceMs = 30000;

    SeekAfterOpen(CPlayerMenuDlg *player, QString name, std::int64_t positionMs, QObject *parent)
        : QObject(parent), m_player(player), m_name(std::move(name)), m_positionMs(positionMs)
    {
        QMetaObject::invokeMethod(this, [this] { look(); }, Qt::QueuedConnection);
    }

protected:
    void timerEvent(QTimerEvent *event) override
    {
        if (event->timerId() == m_timer.timerId())
            look();
    }

private:
    void look()
    {
        if (m_player && m_player->isOpening() && (m_waitedMs += kLookMs) < kPatienceMs) {
            if (!m_timer.isActive())
                m_timer.start(kLookMs, this);
            return;
        }
        m_timer.stop();
        if (m_player && !m_player->isOpening() && m_player->currentName() == m_name && ViewerStateExists()) {
            const int state = GetViewerState().engine.GetState();
            // A seek message of 0 would mean "the slider's own position".
            if ((state == StateRunning || state == StatePaused) && m_positionMs > 0)
                PostToPanel(panel::PlayerControl, msg::Seek, static_cast<quintptr>(m_positionMs));
        }
        deleteLater();
    }

    QPointer<CPlayerMenuDlg> m_player;
    QString m_name;
    std::int64_t m_positionMs;
    int m_waitedMs = 0;
    QBasicTimer m_timer;
};

QPointer<SeekAfterOpen> &pendingSeek()
{
    static QPointer<SeekAfterOpen> seek;
    return seek;
}

} // namespace

void CVX_TrailPlayerDlg::wireOverview()
{
    m_overview = new COverviewDlg(this);
    m_overview->setPlayLink([this](const COverviewDlg::PlayRequest &request) { return playFromOverview(request); });
    // What the file list lists is what the overview reads.
    connect(m_fileManager, &CFileManagerDlg::listed, m_overview, &COverviewDlg::sourceListed);
    // The file list's unit box sets the viewer's speed unit first (its own
    // connection is older), then the overview writes its figures in it.
    connect(m_fileManager->speedUnit(), &QComboBox::currentIndexChanged, m_overview,
            [this] { m_overview->refreshSpeedUnit(); });
    connect(m_overview, &COverviewDlg::incidentsChanged, this, [this] { updateGraphMarks(true); });
    // The player moves the graph's cursor at every tick and seek: a new
    // recording shows up there first.
    connect(m_player, &CPlayerMenuDlg::graphCursorMoved, this, [this] { updateGraphMarks(false); });
}

QString CVX_TrailPlayerDlg::playFromOverview(const COverviewDlg::PlayRequest &request)
{
    const QString name = QString::fromStdString(request.name);
    RecordingCatalogue &catalogue = GetViewerState().catalogue;
    int row = catalogue.shownRowOf(request.name, request.path);
    // The list may show one kind, or a search's selection: every recording
    // of the source is listed again, as choosing ALL does.
    if (row < 0 && !catalogue.entries().empty() &&
        (m_fileManager->kindFilter()->currentIndex() != 0 ||
         static_cast<std::size_t>(catalogue.shownCount()) < catalogue.entries().size())) {
        m_fileManager->listAllKinds();
        row = catalogue.shownRowOf(request.name, request.path);
    }
    if (row < 0)
        return QStringLiteral("Cannot play %1: the file list does not list it (was the card or folder changed?).")
            .arg(name);
    m_fileManager->moveToRow(row);
    // Played as a double click on the row plays it.
    PostToPanel(panel::PlayerControl, msg::PanelCommand, cmd::Restart);
    if (SeekAfterOpen *old = pendingSeek())
        old->deleteLater();
    if (request.startMs > 0)
        pendingSeek() = new SeekAfterOpen(m_player, name, request.startMs, this);
    return {};
}

void CVX_TrailPlayerDlg::updateGraphMarks(bool force)
{
    if (!m_overview || !m_graph || !m_player)
        return;
    const QString name = m_player->currentName();
    if (!force && name == m_markedName)
        return;
    m_markedName = name;
    m_markedPath.clear();
    const RecordingCatalogue &catalogue = GetViewerState().catalogue;
    if (const RecordingEntry *entry = catalogue.shownEntryAt(m_player->currentIndex());
        entry && QString::fromStdString(entry->name) == name)
        m_markedPath = entry->isCardFile() ? catalogue.cardPathOf(*entry) : entry->path;
    std::vector<CGsensorGraphicDlg::IncidentMark> marks;
    for (const COverviewDlg::Mark &mark : m_overview->marksFor(name.toStdString(), m_markedPath))
        marks.push_back({mark.offsetMs, mark.g});
    m_graph->setIncidentMarks(std::move(marks));
}

} // namespace korvante
