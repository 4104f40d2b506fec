// The player panel's finer controls, reached from the keyboard: playback
// speed and single-picture steps, and the keys named in the buttons' tooltips.

#include "player_menu_dlg.h"

#include "core/playback/viewer_state.h"
#include "gui/ui/bitmap_slider.h"
#include "gui/ui/skin_button.h"
#include "gui/ui/text_box.h"

#include <algorithm>
#include <iterator>
#include <limits>
#include <utility>

namespace korvante {

namespace {

// The stream-parse filter's index of the front file as far as it is loaded
// (a recording still walked grows), when it has front pictures at a usable
// frame rate; null otherwise.
std::shared_ptr<const RecordingIndex> frontIndex(const MediaEngine &engine)
{
    if (!engine.graph || !engine.graph->parseFilter[0])
        return nullptr;
    auto index = engine.graph->parseFilter[0]->snapshot();
    if (index->video.empty())
        return nullptr;
    const VideoStreamIndex &video = index->video.front();
    if (video.frames.empty() || video.frameRate.num <= 0 || video.frameRate.den <= 0)
        return nullptr;
    return index;
}

} // namespace

void CPlayerMenuDlg::nameKeysInTooltips()
{
    // The caption stays the label; only the tooltip names the key.
    const std::pair<int, const char *> keys[] = {
        {PreviousFile, "Page Up"}, {Rewind, "Left"},      {Play, "Space"},
        {Forward, "Right"},        {NextFile, "Page Down"}, {ScreenSwitching, "S"},
    };
    for (const auto &[id, key] : keys)
        if (CSkinButton *b = button(id))
            b->setToolTip(QStringLiteral("%1 (%2)").arg(b->caption(), QLatin1String(key)));
}

std::int64_t CPlayerMenuDlg::shownFrame() const
{
    const MediaEngine &engine = m_state.engine;
    if (!engine.graph || !engine.graph->renderer[0])
        return -1;
    return engine.graph->renderer[0]->currentFrame();
}

int CPlayerMenuDlg::stepFrame(int direction)
{
    MediaEngine &engine = m_state.engine;
    const int s = engine.GetState();
    const auto index = frontIndex(engine);
    if ((s != StateRunning && s != StatePaused) || !index || direction == 0)
        return 0;
    const VideoStreamIndex *pictures = &index->video.front();
    if (s == StateRunning)
        pausePlaying(); // shows the picture of the position where it stopped
    std::int64_t current = shownFrame();
    if (current < 0)
        current = pictures->frameAt(static_cast<std::int64_t>(engine.GetPositionMs()) * 10000);
    const auto last = static_cast<std::int64_t>(pictures->frames.size()) - 1;
    const std::int64_t target = std::clamp<std::int64_t>(current + (direction > 0 ? 1 : -1), 0, last);
    if (target == current)
        return 0;
    // Aim at the middle of the picture's time: frame times are rounded to
    // 100 ns, and the picture shown at the start of an interval could be
    // the one before it.
    const std::int64_t time = (pictures->frameTime(target) + pictures->frameTime(target + 1)) / 2;
    engine.SetPosition(time);
    showPausedPosition(static_cast<std::uint64_t>(time / 10000));
    return 1;
}

void CPlayerMenuDlg::showPausedPosition(std::uint64_t milliseconds)
{
    const auto ms = std::min<std::uint64_t>(milliseconds, std::numeric_limits<int>::max());
    m_seek->setPos(static_cast<int>(ms));
    m_seek->update();
    setGraphCursor(milliseconds);
    refreshTimeDisplay();
}

float CPlayerMenuDlg::stepSpeed(int direction)
{
    // A speed that is not in the list (none should be) counts as 1.0.
    auto at = std::find(kSpeeds.begin(), kSpeeds.end(), m_speed);
    if (at == kSpeeds.end())
        at = std::find(kSpeeds.begin(), kSpeeds.end(), 1.0f);
    const auto i = std::distance(kSpeeds.begin(), at) + (direction > 0 ? 1 : direction < 0 ? -1 : 0);
    m_speed = kSpeeds[static_cast<size_t>(std::clamp<std::ptrdiff_t>(i, 0, std::ssize(kSpeeds) - 1))];
    applySpeed();
    return m_speed;
}

void CPlayerMenuDlg::applySpeed()
{
    // Without a graph the speed waits for the next recording (see onOpened).
    if (m_state.engine.graph)
        m_state.engine.SetRate(m_speed);
    m_speedBox->setText(QStringLiteral("%1x").arg(static_cast<double>(m_speed)));
    m_speedBox->setVisible(m_speed != 1.0f);
}

} // namespace korvante
