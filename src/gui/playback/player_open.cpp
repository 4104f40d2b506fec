// Opening the focused recording, the screen assignment that follows it, and
// the position display: seek slider, time boxes, graph cursor and volume.

#include "player_menu_dlg.h"

#include "core/playback/viewer_state.h"
#include "core/storage/recording_name.h"
#include "gui/display/screen_dlg.h"
#include "gui/ui/bitmap_slider.h"
#include "gui/ui/text_box.h"

#include <QGuiApplication>
#include <QMetaMethod>

#include <algorithm>
#include <limits>
#include <string>
#include <vector>

namespace korvante {

namespace {

int clampToInt(std::uint64_t value)
{
    return static_cast<int>(std::min<std::uint64_t>(value, std::numeric_limits<int>::max()));
}

} // namespace

int CPlayerMenuDlg::openFocusedRecording()
{
    const int row = fileListRow();
    if (row < 0)
        return 0;
    RecordingCatalogue &catalogue = m_state.catalogue;
    m_pauseAt.reset(); // a step into a neighbour sets it again after this
    const RecordingEntry *entry = catalogue.shownEntryAt(row);
    if (!entry)
        return 0; // a row the catalogue did not fill
    MediaEngine &engine = m_state.engine;
    engine.metadataMode = 0;
    if (engine.graph)
        engine.graph->metadataMode = 0;
    if (!catalogue.selectedSourceRecord() || catalogue.sourceKind() == SourceNone)
        return 0;

    // The entry may go with the next scan: keep copies.
    const OpenArguments args = openArgumentsOf(*entry);
    const std::string &name = args.name;

    // The files are read on the engine's worker; this thread goes on
    // answering the user, who may stop, step on or close meanwhile.
    const QString shownName = QString::fromStdString(name);
    const std::uint64_t request = ++m_openRequest;
    setBusy(true);
    showScreenMessage(QStringLiteral("Opening %1").arg(shownName));
    engine.BeginOpen(args.front, args.rear, args.device, args.recording,
                     [this, request, row, shownName](const MediaEngine::OpenOutcome &outcome) {
                         if (request == m_openRequest)
                             onOpened(outcome, row, shownName);
                     });
    return 1;
}

CPlayerMenuDlg::OpenArguments CPlayerMenuDlg::openArgumentsOf(const RecordingEntry &entry) const
{
    const RecordingCatalogue &catalogue = m_state.catalogue;
    OpenArguments args;
    args.name = entry.name;
    if (catalogue.sourceKind() == SourceTavo) {
        // Through the folder the entry was listed in, whatever it is called.
        args.front = catalogue.cardPathOf(entry);
        args.device = reinterpret_cast<std::intptr_t>(catalogue.cardDevice());
        args.recording = entry.cardFileId;
        return args;
    }
    args.front = entry.path;
    args.rear = "1CH";
    if (isTwoChannelName(entry.name)) {
        const std::string rear = catalogue.rearFileOf(args.front, entry.name);
        args.rear = rear.empty() ? "NULL" : rear;
    }
    return args;
}

bool CPlayerMenuDlg::isOpening() const
{
    return m_state.engine.IsOpening();
}

void CPlayerMenuDlg::cancelOpening()
{
    ++m_openRequest; // whatever the cancelled load reports is old news
    m_state.engine.CancelOpen();
    if (m_busy)
        showScreenMessage(QString());
    setBusy(false);
}

void CPlayerMenuDlg::onOpened(const MediaEngine::OpenOutcome &outcome, int row, const QString &name)
{
    setBusy(false);
    if (outcome.cancelled) {
        showScreenMessage(QString());
        return;
    }
    if (outcome.opened != 1) {
        // Said once, in the screen, without a box in the way of Next File;
        // the engine has logged the detail.
        const QString reason = QString::fromStdString(outcome.reason.empty() ? "not a recording" : outcome.reason);
        showScreenMessage(QStringLiteral("Cannot play %1: %2").arg(name, reason));
        m_currentName.clear();
        m_currentIndex = -1;
        return;
    }
    showScreenMessage(QString());
    m_walkMessage = false;
    MediaEngine &engine = m_state.engine;
    m_state.sensorData.clearFixes();
    m_state.sensorData.clearSamples();
    m_seek->setRange(0, clampToInt(engine.GetDurationMs()));
    m_currentName = name;
    m_currentIndex = row;
    m_prerollDone.clear();
    m_tripAsked.clear();
    m_preparedName.clear();
    m_preparedPath.clear();
    engine.SetRearFlip(m_rearFlip ? 1 : 0);
    engine.SetRate(m_speed); // the speed the user chose stays with the next recordings
    startPlaying();
    assignScreens();
    pauseWhereStepped();
}

void CPlayerMenuDlg::showScreenMessage(const QString &text)
{
    if (m_frontScreen)
        m_frontScreen->setMessage(text);
}

QString CPlayerMenuDlg::screenMessage() const
{
    return m_frontScreen ? m_frontScreen->message() : QString();
}

void CPlayerMenuDlg::setBusy(bool busy)
{
    if (busy == m_busy)
        return;
    m_busy = busy;
    if (busy)
        QGuiApplication::setOverrideCursor(Qt::BusyCursor);
    else
        QGuiApplication::restoreOverrideCursor();
}

void CPlayerMenuDlg::assignScreens()
{
    MediaEngine &engine = m_state.engine;
    if (!engine.graph)
        return;
    if (engine.graph->channelCount >= 2) {
        bool swapped = m_frontShowsRear;
        if (m_restoreSwap) {
            m_restoreSwap = false;
            swapped = true;
        }
        swapToFront(!swapped);
        if (m_state.layoutMode == 1 && m_frontScreen)
            m_frontScreen->setLayout(1);
    } else if (m_frontShowsRear) {
        // A front-only recording shows in the front screen; the user's swap
        // comes back with the next two-channel recording.
        swapToFront(true);
        m_restoreSwap = true;
    }
}

void CPlayerMenuDlg::onSeek(quintptr position)
{
    int target = 0;
    if (position != 0) {
        m_seek->setPos(clampToInt(position));
        m_seek->update();
    }
    target = m_seek->pos(); // clamped into the slider's range
    MediaEngine &engine = m_state.engine;
    engine.SetPosition(static_cast<std::int64_t>(target) * 10000);
    if (engine.GetState() == StatePaused) {
        setGraphCursor(static_cast<std::uint64_t>(target));
        refreshTimeDisplay();
    }
    if (followWalk())
        setTimer(kProgressTimer, kProgressIntervalMs); // paused too, until the pictures come
}

bool CPlayerMenuDlg::followWalk()
{
    MediaEngine &engine = m_state.engine;
    const int s = engine.GetState();
    if (s != StateRunning && s != StatePaused)
        return false;
    const int length = clampToInt(engine.GetDurationMs());
    if (length != m_seek->rangeMax())
        m_seek->setRangeMax(length, true);
    const bool waiting = engine.SeekWaiting();
    if (waiting) {
        // The position is already the one asked for; its pictures come when
        // the walk of the file gets there.
        showScreenMessage(QStringLiteral("Reading %1 up to %2 (at %3)")
                              .arg(m_currentName, formatTime(engine.GetPositionMs()), formatTime(engine.WalkedMs())));
        m_walkMessage = true;
    } else if (m_walkMessage) {
        showScreenMessage(QString());
        m_walkMessage = false;
    }
    return waiting || engine.IsWalking();
}

void CPlayerMenuDlg::applyVolume()
{
    // The slider's top tenth would overdrive the output: it acts as 90. The
    // engine's volume is the sound output's own, so no system mixer changes.
    const int percent = std::min(m_volume->pos(), kMaxVolume);
    m_state.engine.SetVolume(percent);
}

void CPlayerMenuDlg::onProgressTick()
{
    MediaEngine &engine = m_state.engine;
    const int s = engine.GetState();
    const std::uint64_t pos = engine.GetPositionMs();
    const bool following = followWalk();
    const std::uint64_t length = engine.GetDurationMs();
    if (s == StateRunning || s == StatePaused) {
        // The thumb stays under the user's pointer while it is dragged.
        if (!m_seek->isDragging()) {
            m_seek->setPos(clampToInt(pos));
            m_seek->update();
        }
        setGraphCursor(pos);
        refreshTimeDisplay();
    }
    // A recording whose card was pulled out (or whose file was cut short)
    // stops where its pictures end, and says why; Next File still works.
    if ((s == StateRunning || s == StatePaused) && engine.ReadFailed()) {
        const QString name = m_currentName;
        runAction(Stop);
        showScreenMessage(QStringLiteral("Cannot play %1: cannot be read any more").arg(name));
        return;
    }
    maybePreroll();
    // A length that cannot be read (0) is no end, nor is one still
    // estimated while the file is walked: the recording plays on.
    if (s == StateRunning && length > 0 && engine.LengthKnown() && pos >= length) {
        // The next recording of the trip takes over in the engine (at once
        // when it is prepared, as soon as it is when it is still read).
        if (m_continuous && engine.IsPreparing())
            return;
        if (runAction(NextFile) == 1)
            killTimer(kProgressTimer);
        else
            runAction(Stop);
        return;
    }
    if (s == StatePaused && !following)
        killTimer(kProgressTimer); // started by a seek that waited for the walk
}

QString CPlayerMenuDlg::formatTime(std::uint64_t milliseconds)
{
    const std::uint64_t seconds = milliseconds / 1000;
    return QString::asprintf("%02llu:%02llu", static_cast<unsigned long long>(seconds / 60),
                             static_cast<unsigned long long>(seconds % 60));
}

void CPlayerMenuDlg::refreshTimeDisplay()
{
    MediaEngine &engine = m_state.engine;
    const int s = engine.GetState();
    if (s == StateStopped || s == StateCreated || s < 0) {
        m_currentTime->setText(formatTime(0));
        m_length->setText(formatTime(0));
        return;
    }
    m_currentTime->setText(formatTime(engine.GetPositionMs()));
    m_length->setText(formatTime(engine.GetDurationMs()));
}

void CPlayerMenuDlg::setGraphCursor(std::uint64_t milliseconds)
{
    emit graphCursorMoved(
        static_cast<quint32>(std::min<std::uint64_t>(milliseconds, std::numeric_limits<quint32>::max())));
}

} // namespace korvante
