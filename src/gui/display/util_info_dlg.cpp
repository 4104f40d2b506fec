#include "util_info_dlg.h"

#include "core/playback/metadata_poller.h"
#include "core/playback/viewer_state.h"
#include "gui/display/map_script.h"
#include "gui/platform/screen_metrics.h"
#include "gui/platform/skin_library.h"

#include <QPainter>

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>

namespace korvante {

namespace {

constexpr QRect ltrb(int left, int top, int right, int bottom)
{
    return QRect(left, top, right - left, bottom - top);
}

const QColor kWhite(255, 255, 255);
const QColor kBackground(16, 16, 16);
const QColor kFrame(51, 51, 51);

// The value kind each cell shows, in cell order.
constexpr CUtilInfoDlg::ValueKind kCellKinds[6] = {CUtilInfoDlg::Latitude, CUtilInfoDlg::Longitude,
                                                   CUtilInfoDlg::Speed,    CUtilInfoDlg::AxisX,
                                                   CUtilInfoDlg::AxisY,    CUtilInfoDlg::AxisZ};

struct Icon {
    int id;
    QRect rect;
};
constexpr Icon kIcons[4] = {{239, QRect(75, 11, 15, 14)},
                            {240, QRect(179, 11, 15, 14)},
                            {241, QRect(300, 11, 15, 14)},
                            {254, QRect(0, 5, 55, 44)}};

// A fix's value narrowed to a float; a value no float can hold is pinned to
// the largest one, and a value that is not a number reads as 0.
float narrow(double v)
{
    if (std::isnan(v))
        return 0.0f;
    return static_cast<float>(std::clamp(v, -static_cast<double>(FLT_MAX), static_cast<double>(FLT_MAX)));
}

// Truncated toward zero, pinned into the range of int.
int truncated(double v)
{
    if (std::isnan(v))
        return 0;
    return static_cast<int>(std::clamp(v, static_cast<double>(INT_MIN), static_cast<double>(INT_MAX)));
}

bool isPlaying(std::int32_t state)
{
    return state == StateRunning || state == StatePaused;
}

// A GDI-style frame: the outline covers the rectangle's own pixels only.
void drawFrame(QPainter &p, const QRect &r)
{
    p.drawRect(QRect(r.left(), r.top(), r.width() - 1, r.height() - 1));
}

} // namespace

const std::array<CUtilInfoDlg::Cell, 6> &CUtilInfoDlg::cells()
{
    static const std::array<Cell, 6> table{{
        {"Latitude", ltrb(60, 12, 171, 32), kWhite},
        {"Longitude", ltrb(170, 12, 281, 32), kWhite},
        {"Speed", ltrb(280, 12, 391, 32), kWhite},
        {"Horizental (X axis)", ltrb(410, 12, 521, 32), QColor(0, 255, 0)},
        {"Vertical (Y axis)", ltrb(520, 12, 631, 32), QColor(255, 0, 0)},
        {"Depth (Z axis)", ltrb(630, 12, 741, 32), QColor(0, 0, 255)},
    }};
    return table;
}

int CUtilInfoDlg::cellOf(ValueKind kind)
{
    for (int i = 0; i < 6; ++i)
        if (kCellKinds[i] == kind)
            return i;
    return 0;
}

float CUtilInfoDlg::toG(std::int32_t raw, bool haveSamples, std::int32_t firstKind)
{
    const double k = !haveSamples ? 0.0 : firstKind == 2 ? 0.1103515625 : 0.44140625;
    return static_cast<float>(raw * k / 7.0 * 0.5);
}

QString CUtilInfoDlg::speedText(double kmh, std::int32_t unit)
{
    switch (unit) {
    case 0:
        return QString::asprintf("%03d [km/h]", truncated(kmh));
    case 1:
        return QString::asprintf("%03d [mi/h]", truncated(kmh * 0.621371));
    case 2:
        return QString::asprintf("%03d [kn]", truncated(kmh * 0.539957));
    default:
        return {};
    }
}

QString CUtilInfoDlg::positionText(double nmea, bool latitude)
{
    const double degrees = std::isfinite(nmea) ? nmeaToDegrees(nmea) : 0.0;
    const bool negative = degrees < 0;
    const QChar letter = latitude ? QChar(negative ? u'S' : u'N') : QChar(negative ? u'W' : u'E');
    // QString::number formats with '.' whatever the desktop's locale.
    return letter + QString::number(std::fabs(degrees), 'f', 6);
}

CUtilInfoDlg::CUtilInfoDlg(QWidget *mainWindow)
    : PanelFrame(mainWindow), m_state(GetViewerState()),
      m_longitudeText(positionText(0.0, false)), m_latitudeText(positionText(0.0, true)),
      m_speedText(speedText(0.0, 0))
{
    setObjectName(QStringLiteral("CUtilInfoDlg"));
    placeAt(kOffset, kSize);
}

void CUtilInfoDlg::followMainWindow()
{
    if (!m_wide)
        placeAt(kOffset, kSize);
}

void CUtilInfoDlg::setLayout(int wide)
{
    m_wide = wide != 0;
    if (m_wide) {
        const QSize screen = screenSize();
        setGeometry(QRect(QPoint((screen.width() - 1580) / 2, screen.height() - 70), kSize));
    } else {
        placeAt(kOffset, kSize);
    }
    show();
}

qintptr CUtilInfoDlg::onMessage(int message, quintptr w, qintptr)
{
    if (message != msg::PanelCommand)
        return 0;
    switch (w) {
    case cmd::Start:
        killTimer(kRefreshTimer);
        setTimer(kRefreshTimer, kRefreshMs);
        m_seen.reset();
        // The poller ends on its own when the graph stops or the packets run
        // out; the engine waits for it before it goes.
        StartMetadataPoller(m_state.engine, m_state.sensorData);
        break;
    case cmd::Pause:
        // The timer goes on: a seek or a step while paused changes the
        // position, and the numbers must follow it. An unchanged position
        // costs one comparison per tick.
        break;
    case cmd::Reset:
        killTimer(kRefreshTimer);
        reset();
        break;
    default:
        break;
    }
    return 0;
}

void CUtilInfoDlg::onTimer(int id)
{
    if (id == kRefreshTimer)
        refresh();
}

void CUtilInfoDlg::reset()
{
    for (ValueKind axis : {AxisX, AxisY, AxisZ})
        updateValue(axis, 0, 0.0f);
    updateValue(Longitude, 0, 0.0f);
    updateValue(Latitude, 0, 0.0f);
    updateValue(Speed, 0, 0.0f);
    m_state.sensorData.clearFixes();
    m_state.sensorData.clearSamples();
}

void CUtilInfoDlg::refresh()
{
    MediaEngine &engine = m_state.engine;
    if (!engine.graph || !isPlaying(engine.GetState()))
        return;
    Seen now;
    now.positionMs = engine.GetPositionMs();
    now.listChanges = m_state.sensorData.changes();
    now.speedUnit = m_state.speedUnit;
    if (m_seen == now)
        return;
    m_seen = now;

    // Walk under the list's lock, only picking; the values are shown after.
    bool picked = false;
    SensorSample last;
    m_state.sensorData.withSamples([&](const std::list<SensorSample> &samples) {
        for (const SensorSample &s : samples) {
            if (static_cast<std::uint32_t>(s.timestamp) >= now.positionMs)
                break;
            last = s;
            picked = true;
        }
    });
    // Before the first sample the axes read 0, also after a seek back.
    updateValue(AxisX, picked ? last.x : 0, 0.0);
    updateValue(AxisY, picked ? last.y : 0, 0.0);
    updateValue(AxisZ, picked ? last.z : 0, 0.0);
    if (const std::optional<CQDRVGPSData> fix = fixAt(m_state.sensorData, static_cast<std::uint32_t>(now.positionMs))) {
        updateValue(Longitude, 0, fix->longitude);
        updateValue(Latitude, 0, fix->latitude);
        updateValue(Speed, 0, fix->speed);
    }
    if (!m_pending.isEmpty()) {
        repaint(m_pending);
        m_pending = QRegion();
    }
}

void CUtilInfoDlg::updateValue(ValueKind kind, std::int32_t raw, double value)
{
    switch (kind) {
    case AxisX:
    case AxisY:
    case AxisZ: {
        const auto axis = static_cast<size_t>(kind);
        if (raw == m_raw[axis])
            return;
        m_raw[axis] = raw;
        bool have = false;
        std::int32_t firstKind = 0;
        m_state.sensorData.withSamples([&](const std::list<SensorSample> &samples) {
            have = !samples.empty();
            if (have)
                firstKind = samples.front().kind;
        });
        m_g[axis] = toG(raw, have, firstKind);
        break;
    }
    case Longitude:
        if (narrow(value) == m_longitude)
            return;
        m_longitude = narrow(value);
        m_longitudeText = positionText(value, false);
        break;
    case Latitude:
        if (narrow(value) == m_latitude)
            return;
        m_latitude = narrow(value);
        m_latitudeText = positionText(value, true);
        break;
    case Speed: {
        // A change of unit alone also redraws, so zeros after a reset read
        // in the unit chosen now.
        const std::int32_t unit = m_state.speedUnit;
        const double speed = narrow(value);
        if (speed == m_speed && unit == m_speedUnitShown)
            return;
        m_speed = speed;
        const QString text = speedText(m_speed, unit);
        if (!text.isEmpty()) {
            m_speedText = text;
            m_speedUnitShown = unit;
        }
        break;
    }
    default:
        return;
    }
    invalidate(valueRect(cellOf(kind)));
}

void CUtilInfoDlg::invalidate(const QRect &rect)
{
    m_pending += rect;
    update(rect);
}

QString CUtilInfoDlg::valueText(ValueKind kind) const
{
    switch (kind) {
    case AxisX:
    case AxisY:
    case AxisZ:
        return QString::asprintf("%0.03f", static_cast<double>(m_g[static_cast<size_t>(kind)]));
    case Longitude:
        return m_longitudeText;
    case Latitude:
        return m_latitudeText;
    case Speed:
        return m_speedText;
    }
    return {};
}

void CUtilInfoDlg::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), kBackground);
    p.setPen(QPen(kFrame, 1));
    p.setBrush(Qt::NoBrush);
    for (const Cell &cell : cells()) {
        drawFrame(p, cell.captionRect.translated(0, -4));
        drawFrame(p, cell.captionRect.translated(0, 16));
    }

    // An 8-point sans-serif face at the screen's resolution.
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setWeight(QFont::Normal);
    font.setPixelSize(std::max(1, qRound(8.0 * logicalDpiY() / 72.0)));
    p.setFont(font);
    for (int i = 0; i < 6; ++i) {
        const Cell &cell = cells()[static_cast<size_t>(i)];
        p.setPen(cell.colour);
        p.drawText(cell.captionRect, Qt::AlignCenter, QString::fromLatin1(cell.caption));
        p.drawText(valueRect(i), Qt::AlignCenter, valueText(kCellKinds[i]));
    }
    for (const Icon &icon : kIcons) {
        const QPixmap image = SkinLibrary::bitmap(icon.id);
        if (!image.isNull())
            p.drawPixmap(icon.rect.topLeft(), image, QRect(QPoint(0, 0), icon.rect.size()));
    }
}

} // namespace korvante
