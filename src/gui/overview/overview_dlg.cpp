#include "overview_dlg.h"

#include "core/overview/overview_task.h"
#include "core/playback/viewer_state.h"
#include "gui/platform/messages.h"
#include "gui/ui/skin_button.h"
#include "overview_models.h"
#include "overview_text.h"

#include <QDoubleSpinBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QScreen>
#include <QTreeView>

#include <algorithm>
#include <functional>
#include <optional>

namespace korvante {

namespace {

const char *const kStyle =
    "QLabel { color: white; }"
    "QLabel#overviewMessage { color: rgb(255,170,90); }"
    "QTreeView { color: white; background: rgb(16,16,16); alternate-background-color: rgb(22,24,30);"
    " selection-background-color: rgb(76,85,118); selection-color: white; border: 1px solid rgb(76,85,118); }"
    "QHeaderView::section { color: white; background: rgb(40,44,58); border: 0px;"
    " border-right: 1px solid rgb(28,31,40); padding-left: 4px; padding-right: 4px; }"
    "QProgressBar { color: white; background: rgb(16,16,16); border: 1px solid rgb(76,85,118);"
    " text-align: center; }"
    "QProgressBar::chunk { background: rgb(76,85,118); }"
    "QScrollBar:vertical { background: rgb(16,16,16); width: 12px; }"
    "QScrollBar::handle:vertical { background: rgb(76,85,118); min-height: 20px; }"
    "QScrollBar:horizontal { background: rgb(16,16,16); height: 12px; }"
    "QScrollBar::handle:horizontal { background: rgb(76,85,118); min-width: 20px; }";

const QColor kBackground(28, 31, 40);
const QColor kFrame(76, 85, 118);

constexpr int kMargin = 10;
constexpr std::int64_t kLeadInMs = 5000; // an incident plays from this long before its peak

QLabel *makeLabel(const QString &text, const QRect &rect, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setGeometry(rect);
    return label;
}

QString plural(std::size_t n, const char *one, const char *many)
{
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}

} // namespace

COverviewDlg::COverviewDlg(QWidget *mainWindow) : PanelFrame(mainWindow)
{
    setObjectName(QStringLiteral("COverviewDlg"));
    setWindowTitle(QStringLiteral("Card overview"));
    setStyleSheet(QLatin1String(kStyle));
    resize(kSize);
    createControls();
    refreshSpeedUnit();
    showStatus();
}

COverviewDlg::~COverviewDlg() = default; // the task cancels and waits for its worker

void COverviewDlg::createControls()
{
    const int width = kSize.width();
    m_close = new CSkinButton(QStringLiteral("Close (T)"), kCloseButtonId, QRect(width - 26, 4, 20, 20), this,
                              {218, 219, 219, 219});

    m_status = makeLabel(QString(), QRect(kMargin, 32, 400, 20), this);
    m_status->setObjectName(QStringLiteral("overviewStatus"));
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("overviewProgress"));
    m_progress->setGeometry(width - kMargin - 220, 32, 220, 20);
    m_progress->setRange(0, 1);
    m_progress->setValue(0);
    m_progress->setFormat(QStringLiteral("%v / %m"));
    m_progress->setTextVisible(false); // until there is something to count

    m_tripModel = new TripListModel(this);
    makeLabel(QStringLiteral("Trips"), QRect(kMargin, 60, 200, 18), this);
    m_trips = makeList(m_tripModel, QRect(kMargin, 80, width - 2 * kMargin, 160), {34, 136, 68, 74, 74, 82, 60, 40});
    m_trips->setObjectName(QStringLiteral("overviewTrips"));

    m_incidentModel = new IncidentListModel(this);
    makeLabel(QStringLiteral("Incidents, strongest first"), QRect(kMargin, 252, 220, 20), this);
    auto *thresholdLabel = makeLabel(QStringLiteral("At least"), QRect(width - kMargin - 150, 252, 60, 20), this);
    thresholdLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_threshold = new QDoubleSpinBox(this);
    m_threshold->setObjectName(QStringLiteral("overviewThreshold"));
    m_threshold->setGeometry(width - kMargin - 84, 250, 84, 24);
    m_threshold->setRange(kMinThreshold, kMaxThreshold);
    m_threshold->setDecimals(2);
    m_threshold->setSingleStep(0.1);
    m_threshold->setSuffix(QStringLiteral(" g"));
    m_threshold->setValue(overview::kDefaultIncidentG);
    m_threshold->setKeyboardTracking(false); // typed digits count once the value is whole
    m_threshold->setToolTip(QStringLiteral("Total G an incident reaches at least"));
    // Dark by its palette, not a style sheet: the style keeps drawing its arrows.
    QPalette palette = m_threshold->palette();
    palette.setColor(QPalette::Base, QColor(16, 16, 16));
    palette.setColor(QPalette::Text, Qt::white);
    palette.setColor(QPalette::Button, QColor(40, 44, 58));
    palette.setColor(QPalette::ButtonText, Qt::white);
    palette.setColor(QPalette::WindowText, Qt::white);
    palette.setColor(QPalette::Window, kBackground);
    m_threshold->setPalette(palette);
    connect(m_threshold, &QDoubleSpinBox::valueChanged, this, [this] { showIncidents(); });
    m_incidents = makeList(m_incidentModel, QRect(kMargin, 280, width - 2 * kMargin, 180), {40, 166, 64, 244, 100});
    m_incidents->setObjectName(QStringLiteral("overviewIncidents"));

    m_message = makeLabel(QString(), QRect(kMargin, 468, width - 2 * kMargin, 22), this);
    m_message->setObjectName(QStringLiteral("overviewMessage"));

    connect(m_trips, &QTreeView::doubleClicked, this, [this](const QModelIndex &index) { playTrip(index.row()); });
    connect(m_incidents, &QTreeView::doubleClicked, this,
            [this](const QModelIndex &index) { playIncident(index.row()); });
}

QTreeView *COverviewDlg::makeList(QAbstractItemModel *model, const QRect &rect, const std::vector<int> &widths)
{
    auto *list = new QTreeView(this);
    list->setGeometry(rect);
    list->setModel(model);
    list->setRootIsDecorated(false);
    list->setItemsExpandable(false);
    list->setUniformRowHeights(true);
    list->setAlternatingRowColors(true);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setAllColumnsShowFocus(true);
    QFont font(QStringLiteral("Verdana"));
    font.setPixelSize(12);
    list->setFont(font);
    list->header()->setStretchLastSection(true);
    list->header()->setSectionsMovable(false);
    for (size_t c = 0; c < widths.size(); ++c)
        list->setColumnWidth(static_cast<int>(c), widths[c]);
    // Enter plays the current row as a double-click does.
    list->installEventFilter(this);
    return list;
}

bool COverviewDlg::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress && (watched == m_trips || watched == m_incidents)) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && !key->isAutoRepeat()) {
            const int row = static_cast<QTreeView *>(watched)->currentIndex().row();
            if (row >= 0) {
                if (watched == m_trips)
                    playTrip(row);
                else
                    playIncident(row);
            }
            return true;
        }
    }
    return PanelFrame::eventFilter(watched, event);
}

void COverviewDlg::toggleShown()
{
    if (m_shown) {
        m_shown = false;
        hide();
    } else {
        showPanel();
    }
}

void COverviewDlg::showPanel()
{
    if (!m_placed) {
        placeFirst();
        m_placed = true;
    }
    m_shown = true;
    showOnTop(true);
    activateWindow();
    refreshSpeedUnit();
    sourceListed();
}

void COverviewDlg::placeFirst()
{
    // Left of the main window, level with its top, as far as the screen
    // allows: the G-sensor graph and the file list, which its double-clicks
    // act on, stay in sight. Where the user leaves it afterwards.
    QWidget *main = parentWidget();
    if (!main)
        return;
    const QRect frame = main->frameGeometry();
    QPoint at(frame.left() - kSize.width() - 4, frame.top());
    if (const QScreen *screen = main->screen()) {
        const QRect area = screen->availableGeometry();
        at.setX(std::clamp(at.x(), area.left(), std::max(area.left(), area.right() + 1 - kSize.width())));
        at.setY(std::clamp(at.y(), area.top(), std::max(area.top(), area.bottom() + 1 - kSize.height())));
    }
    move(at);
}

void COverviewDlg::sourceListed()
{
    // Never looked at (or already dropped): nothing to follow, and no file to
    // look at for it.
    if (!m_shown && !isScanning() && !m_result)
        return;
    std::vector<overview::SourceRecording> recordings = overview::recordingsOf(GetViewerState().catalogue);
    const std::size_t signature = signatureOf(recordings);
    const bool current = signature == m_signature && (m_result || isScanning());
    if (current)
        return;
    if (m_shown || isScanning()) {
        start(std::move(recordings));
        return;
    }
    // Not looked at: the result of another source is dropped (its marks with
    // it), and the new one is read when the panel is shown.
    m_task.reset();
    m_signature = 0;
    m_recordingCount = recordings.size();
    setResult(nullptr);
}

std::size_t COverviewDlg::signatureOf(const std::vector<overview::SourceRecording> &recordings)
{
    std::size_t seed = recordings.size() + 1;
    const auto mix = [&seed](std::size_t value) { seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2); };
    for (const overview::SourceRecording &r : recordings) {
        mix(std::hash<std::string>{}(r.key.identity));
        mix(std::hash<std::int64_t>{}(r.key.size));
        mix(std::hash<std::int64_t>{}(r.key.modified));
    }
    return seed;
}

void COverviewDlg::start(std::vector<overview::SourceRecording> recordings)
{
    m_task.reset(); // cancels a build of the source shown before
    m_signature = signatureOf(recordings);
    m_recordingCount = recordings.size();
    setResult(nullptr);
    say(QString());
    if (recordings.empty()) {
        m_progress->setRange(0, 1);
        m_progress->setValue(0);
        m_progress->setTextVisible(false);
        showStatus();
        return;
    }
    m_task = std::make_unique<overview::OverviewTask>();
    connect(m_task.get(), &overview::OverviewTask::progress, this, &COverviewDlg::onProgress);
    connect(m_task.get(), &overview::OverviewTask::finished, this, &COverviewDlg::onFinished);
    m_progress->setRange(0, static_cast<int>(recordings.size()));
    m_progress->setValue(0);
    m_progress->setTextVisible(true);
    m_task->start(std::move(recordings), m_cacheDirectory);
    showStatus();
}

bool COverviewDlg::isScanning() const
{
    return m_task && m_task->running();
}

void COverviewDlg::onProgress(int done, int total)
{
    m_progress->setRange(0, std::max(total, 1));
    m_progress->setValue(std::clamp(done, 0, std::max(total, 1)));
    showStatus();
}

void COverviewDlg::onFinished(std::shared_ptr<const overview::OverviewResult> result)
{
    m_progress->setValue(m_progress->maximum());
    setResult(std::move(result));
}

void COverviewDlg::setResult(std::shared_ptr<const overview::OverviewResult> result)
{
    m_result = std::move(result);
    std::vector<overview::Trip> trips;
    if (m_result)
        trips = overview::buildTrips(m_result->items);
    m_tripModel->setTrips(m_result, std::move(trips));
    showIncidents(); // says incidentsChanged and the status
}

const std::vector<overview::Trip> &COverviewDlg::trips() const
{
    return m_tripModel->trips();
}

const std::vector<overview::Incident> &COverviewDlg::incidents() const
{
    return m_incidentModel->incidents();
}

void COverviewDlg::setThreshold(double g)
{
    m_threshold->setValue(std::clamp(g, kMinThreshold, kMaxThreshold)); // valueChanged shows the incidents
}

double COverviewDlg::threshold() const
{
    return m_threshold->value();
}

void COverviewDlg::showIncidents()
{
    std::vector<overview::Incident> incidents;
    if (m_result)
        incidents = overview::findIncidents(m_result->items, m_tripModel->trips(), threshold());
    m_incidentModel->setIncidents(m_result, std::move(incidents));
    showStatus();
    emit incidentsChanged();
}

void COverviewDlg::refreshSpeedUnit()
{
    const int unit = ViewerStateExists() ? GetViewerState().speedUnit : 0;
    m_tripModel->setSpeedUnit(unit);
    m_incidentModel->setSpeedUnit(unit);
}

void COverviewDlg::showStatus()
{
    QString text;
    QString tip;
    if (isScanning()) {
        text = QStringLiteral("Reading %1 of %2 recordings…").arg(m_progress->value()).arg(m_recordingCount);
    } else if (m_result) {
        const overview::OverviewResult &r = *m_result;
        text = plural(r.items.size(), "recording", "recordings") + QStringLiteral(", ") +
               plural(trips().size(), "trip", "trips") + QStringLiteral(", ") +
               plural(incidents().size(), "incident", "incidents");
        if (r.cached > 0 && r.scanned == 0)
            text += QStringLiteral(" (all from the cache)");
        else if (r.cached > 0)
            text += QStringLiteral(" (%1 from the cache)").arg(r.cached);
        // Camera time is what every time of the overview is: a clock known
        // to be off is said where those times are read.
        if (const std::string note = clock::driftNote(overview::clockOf(r.items)); !note.empty())
            text += QStringLiteral("; ") + QString::fromStdString(note);
        if (!r.skipped.empty()) {
            text += QStringLiteral("; %1 skipped").arg(r.skipped.size());
            for (const std::string &line : r.skipped)
                tip += (tip.isEmpty() ? QString() : QStringLiteral("\n")) + QString::fromStdString(line);
        }
    } else if (m_recordingCount == 0) {
        text = QStringLiteral("No recordings are listed: open a card or a folder in the file list.");
    }
    // The progress bar shares the line while a read runs; then the status
    // has the whole line, and what still does not fit is in its tooltip.
    const int width = kSize.width();
    const bool scanning = isScanning();
    m_progress->setVisible(scanning);
    m_status->setGeometry(kMargin, 32, width - 2 * kMargin - (scanning ? m_progress->width() + 8 : 0), 20);
    const QString shown = m_status->fontMetrics().elidedText(text, Qt::ElideRight, m_status->width());
    if (shown != text)
        tip = text + (tip.isEmpty() ? QString() : QStringLiteral("\n") + tip);
    m_status->setText(shown);
    m_status->setToolTip(tip);
}

std::vector<COverviewDlg::Mark> COverviewDlg::marksFor(const std::string &name, const std::string &path) const
{
    std::vector<Mark> marks;
    if (!m_result || name.empty())
        return marks;
    const overview::OverviewResult &r = *m_result;
    // By path where the caller knows it (the same name may lie in two folders
    // of a picked folder), else by the name alone.
    std::optional<std::size_t> found;
    for (std::size_t i = 0; i < r.items.size(); ++i) {
        if (r.items[i].name != name)
            continue;
        if (!path.empty() && i < r.paths.size() && r.paths[i] == path) {
            found = i;
            break;
        }
        if (!found)
            found = i;
    }
    if (!found)
        return marks;
    for (const overview::Incident *incident : overview::incidentsOf(incidents(), *found))
        marks.push_back({incident->offsetMs, incident->g});
    return marks;
}

bool COverviewDlg::playTrip(int row)
{
    const std::vector<overview::Trip> &list = trips();
    if (!m_result || row < 0 || static_cast<std::size_t>(row) >= list.size() ||
        list[static_cast<std::size_t>(row)].recordings.empty())
        return false;
    const std::size_t item = list[static_cast<std::size_t>(row)].recordings.front();
    if (item >= m_result->items.size())
        return false;
    return play({m_result->items[item].name, item < m_result->paths.size() ? m_result->paths[item] : std::string(), 0});
}

bool COverviewDlg::playIncident(int row)
{
    const std::vector<overview::Incident> &list = incidents();
    if (!m_result || row < 0 || static_cast<std::size_t>(row) >= list.size())
        return false;
    const overview::Incident &incident = list[static_cast<std::size_t>(row)];
    if (incident.recording >= m_result->items.size())
        return false;
    const std::size_t item = incident.recording;
    return play({m_result->items[item].name, item < m_result->paths.size() ? m_result->paths[item] : std::string(),
                 std::max<std::int64_t>(0, std::int64_t{incident.offsetMs} - kLeadInMs)});
}

bool COverviewDlg::play(const PlayRequest &request)
{
    if (!m_playLink) {
        say(QStringLiteral("Cannot play %1: there is no player.").arg(QString::fromStdString(request.name)));
        return false;
    }
    const QString problem = m_playLink(request);
    say(problem);
    return problem.isEmpty();
}

void COverviewDlg::say(const QString &message)
{
    m_message->setText(message);
}

qintptr COverviewDlg::onMessage(int message, quintptr w, qintptr)
{
    if (message == msg::ButtonClick && w == kCloseButtonId) {
        m_shown = false;
        hide();
    }
    return 0;
}

void COverviewDlg::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), kBackground);
    painter.setPen(kFrame);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    painter.fillRect(QRect(1, 1, width() - 2, 26), QColor(40, 44, 58));
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(9);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(QColor(220, 220, 220));
    painter.drawText(QRect(kMargin, 1, width() - 60, 26), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                     QStringLiteral("CARD OVERVIEW"));
}

} // namespace korvante
