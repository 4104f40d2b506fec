#include "gui/trip/trip_bar.h"

#include <QCheckBox>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace korvante {

namespace {

using namespace std::chrono;

// The room at the right end of the bar for the text and the check box, in pixels.
constexpr int kTextWidth = 370;
constexpr int kBoxWidth = 160;
constexpr int kMargin = 6;

} // namespace

QColor TripBar::kindColour(int kind)
{
    switch (kind) {
    case 1:
        return QColor(240, 150, 40); // event
    case 2:
        return QColor(150, 100, 220); // parking
    case 3:
        return QColor(60, 180, 110); // manual
    default:
        return QColor(60, 120, 210); // normal, and names without a kind
    }
}

TripBar::TripBar(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("TripBar"));
    setFixedHeight(kHeight);
    setCursor(Qt::PointingHandCursor);
    setToolTip(QStringLiteral("The whole trip: click or drag to play any moment of it; "
                              "Ctrl+Left / Ctrl+Right: previous / next incident"));
    m_continuous = new QCheckBox(QStringLiteral("Play trips continuously"), this);
    m_continuous->setObjectName(QStringLiteral("TripContinuous"));
    m_continuous->setFocusPolicy(Qt::NoFocus); // the viewer's keys stay the viewer's
    m_continuous->setCursor(Qt::ArrowCursor);
    m_continuous->setToolTip(QStringLiteral("At the end of a recording, go on with the next one of its trip"));
    m_continuous->setStyleSheet(QStringLiteral("QCheckBox { color: #dcdcdc; font: 8pt Arial; }"));
}

void TripBar::resizeEvent(QResizeEvent *event)
{
    m_continuous->setGeometry(width() - kBoxWidth - kMargin, 0, kBoxWidth, height());
    QWidget::resizeEvent(event);
}

void TripBar::setTrip(std::shared_ptr<const trip::TripTimeline> trip)
{
    if (trip == m_trip)
        return;
    m_trip = std::move(trip);
    m_position.reset();
    m_dragging = false;
    update();
}

void TripBar::setPosition(std::optional<overview::CameraTime> at)
{
    if (m_dragging || at == m_position)
        return; // the user's drag shows where it is, not the player
    m_position = at;
    update();
}

void TripBar::setSpan(std::optional<overview::CameraTime> in, std::optional<overview::CameraTime> out)
{
    m_spanIn = in;
    m_spanOut = out;
    update();
}

void TripBar::setMessage(const QString &text)
{
    if (text == m_message)
        return;
    m_message = text;
    update();
}

QString TripBar::durationText(milliseconds d)
{
    const auto total = std::max<std::int64_t>(0, duration_cast<seconds>(d).count());
    const std::int64_t h = total / 3600, m = total / 60 % 60, s = total % 60;
    if (h > 0)
        return QStringLiteral("%1:%2:%3").arg(h).arg(m, 2, 10, QLatin1Char('0')).arg(s, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(m, 2, 10, QLatin1Char('0')).arg(s, 2, 10, QLatin1Char('0'));
}

QString TripBar::text() const
{
    if (!m_message.isEmpty() || !m_trip || !m_position)
        return m_message;
    const milliseconds elapsed = std::clamp(*m_position - m_trip->start(), milliseconds{0}, m_trip->duration());
    return QString::fromStdString(overview::cameraTimeText(*m_position)) + QStringLiteral(" \u00b7 ") +
           durationText(elapsed) + QStringLiteral(" / ") + durationText(m_trip->duration());
}

QRect TripBar::stripRect() const
{
    return QRect(kMargin, 5, std::max(10, width() - kTextWidth - 2 * kMargin), height() - 10);
}

int TripBar::xOf(overview::CameraTime t) const
{
    const QRect strip = stripRect();
    const auto total = m_trip->duration().count();
    if (total <= 0)
        return strip.left();
    const auto at = std::clamp<std::int64_t>((t - m_trip->start()).count(), 0, total);
    return strip.left() + static_cast<int>(at * strip.width() / total);
}

std::optional<overview::CameraTime> TripBar::timeAtX(int x) const
{
    if (!m_trip)
        return std::nullopt;
    const QRect strip = stripRect();
    const std::int64_t dx = std::clamp(x - strip.left(), 0, strip.width());
    return m_trip->start() + milliseconds{m_trip->duration().count() * dx / strip.width()};
}

void TripBar::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(16, 16, 16));
    const QRect strip = stripRect();
    painter.fillRect(strip, QColor(kGapColour));
    if (m_trip) {
        for (const trip::TripRecording &r : m_trip->recordings) {
            const int x0 = xOf(r.start), x1 = std::max(xOf(r.end()), x0 + 1);
            painter.fillRect(QRect(x0, strip.top(), x1 - x0, strip.height()), kindColour(r.source.kind));
        }
        if (m_spanIn || m_spanOut) {
            const int x0 = m_spanIn ? xOf(*m_spanIn) : strip.left();
            const int x1 = m_spanOut ? xOf(*m_spanOut) : strip.right();
            painter.fillRect(QRect(x0, strip.bottom() + 2, std::max(1, x1 - x0), 2), QColor(kSpanColour));
        }
        // Incidents stand out of the strip above and below.
        for (const trip::TripIncident &incident : m_trip->incidents) {
            const int x = xOf(incident.at);
            painter.fillRect(QRect(x - 1, strip.top() - 4, 3, strip.height() + 8), QColor(kIncidentColour));
        }
        if (m_position) {
            const int x = xOf(*m_position);
            painter.fillRect(QRect(x - 1, 1, 3, height() - 2), QColor(kPositionColour));
        }
    }
    QFont font(QStringLiteral("Arial"));
    font.setPointSize(8);
    painter.setFont(font);
    painter.setPen(QColor(220, 220, 220));
    const QRect textRect(strip.right() + 1 + kMargin, 0, m_continuous->x() - strip.right() - 1 - 2 * kMargin,
                         height());
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter,
                     painter.fontMetrics().elidedText(text(), Qt::ElideRight, textRect.width()));
}

void TripBar::dragTo(int x, bool final)
{
    const std::optional<overview::CameraTime> at = timeAtX(x);
    if (!at)
        return;
    m_position = at;
    update();
    emit seekRequested(*at, final);
}

void TripBar::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !m_trip) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_dragging = true;
    m_dragMoved = false;
    dragTo(event->position().toPoint().x(), true);
}

void TripBar::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_dragging || !(event->buttons() & Qt::LeftButton))
        return;
    const std::optional<overview::CameraTime> at = timeAtX(event->position().toPoint().x());
    if (at == m_position)
        return;
    m_dragMoved = true;
    dragTo(event->position().toPoint().x(), false);
}

void TripBar::mouseReleaseEvent(QMouseEvent *event)
{
    if (!m_dragging || event->button() != Qt::LeftButton)
        return;
    m_dragging = false;
    // The moves sought within the open recording only: the end of the drag
    // is where playing goes on.
    if (m_dragMoved)
        dragTo(event->position().toPoint().x(), true);
    m_dragMoved = false;
}

} // namespace korvante
