#include "bitmap_slider.h"

#include "gui/platform/messages.h"
#include "gui/platform/skin_library.h"
#include "mem_dc.h"

#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace korvante {

namespace {
QPixmap skinImage(int id)
{
    return id > 0 ? SkinLibrary::bitmap(id) : QPixmap();
}

// Drops the alpha channel: an opaque image covers everything beneath it.
QPixmap opaque(const QPixmap &image)
{
    if (image.isNull() || !image.hasAlphaChannel())
        return image;
    QImage flat(image.size(), QImage::Format_RGB32);
    flat.fill(Qt::black);
    QPainter p(&flat);
    p.drawPixmap(0, 0, image);
    p.end();
    return QPixmap::fromImage(flat);
}
} // namespace

CBitmapSlider::CBitmapSlider(const QString &text, int id, const QRect &rect, QWidget *parent)
    : QWidget(parent), m_id(id), m_text(text)
{
    setGeometry(rect);
    setFocusPolicy(Qt::StrongFocus);
    // Nothing is erased: parts the images leave transparent show the parent.
    setAttribute(Qt::WA_NoSystemBackground);
    setAutoFillBackground(false);
}

CBitmapSlider::~CBitmapSlider() = default;

void CBitmapSlider::setRange(int minimum, int maximum, bool redraw)
{
    if (maximum < minimum)
        std::swap(minimum, maximum);
    m_min = minimum;
    m_max = maximum;
    m_pos = clamp(m_pos);
    if (redraw)
        update();
}

void CBitmapSlider::setPos(int position)
{
    m_pos = clamp(position);
    update();
}

void CBitmapSlider::setMargin(int left, int top, int right, int bottom)
{
    m_marginLeft = left;
    m_marginTop = top;
    m_marginRight = right;
    m_marginBottom = bottom;
}

void CBitmapSlider::setVertical(bool vertical)
{
    m_vertical = vertical;
    update();
}

void CBitmapSlider::setSliderEnabled(bool enabled)
{
    m_enabled = enabled;
    if (!enabled)
        m_dragging = false;
    update();
}

void CBitmapSlider::drawFocusRect(bool draw, bool redraw)
{
    m_drawFocusRect = draw;
    if (redraw)
        update();
}

bool CBitmapSlider::setBitmapChannel(int channelId, int activeId, bool transparent)
{
    const QPixmap channel = skinImage(channelId);
    setChannelImages(channel, skinImage(activeId), transparent);
    return !channel.isNull();
}

bool CBitmapSlider::setBitmapThumb(int thumbId, int activeId, bool transparent)
{
    const QPixmap thumb = skinImage(thumbId);
    setThumbImages(thumb, skinImage(activeId), transparent);
    return !thumb.isNull();
}

void CBitmapSlider::setChannelImages(const QPixmap &channel, const QPixmap &active, bool transparent)
{
    m_channelTransparent = transparent;
    m_channel = transparent ? channel : opaque(channel);
    m_activeChannel = transparent ? active : opaque(active);
    if (!m_channel.isNull())
        resize(m_channel.deviceIndependentSize().toSize());
    update();
}

void CBitmapSlider::setThumbImages(const QPixmap &thumb, const QPixmap &active, bool transparent)
{
    m_thumbTransparent = transparent;
    m_thumb = transparent ? thumb : opaque(thumb);
    m_activeThumb = transparent ? active : opaque(active);
    update();
}

QObject *CBitmapSlider::notifyWindow() const
{
    return m_notify ? m_notify.data() : parent();
}

int CBitmapSlider::length() const
{
    return m_vertical ? height() : width();
}

int CBitmapSlider::thumbLength() const
{
    if (m_thumb.isNull())
        return 0;
    const QSize size = m_thumb.deviceIndependentSize().toSize();
    return m_vertical ? size.height() : size.width();
}

int CBitmapSlider::clamp(int value) const
{
    return std::clamp(value, m_min, m_max);
}

int CBitmapSlider::pixelOfValue(int value) const
{
    const int t = thumbLength();
    const int start = marginStart();
    if (m_max == m_min)
        return start + t / 2;
    // 64-bit: a range of milliseconds times a channel length overflows 32 bits.
    const std::int64_t span = std::int64_t(length()) - marginEnd() - t - start;
    const std::int64_t offset = span * (std::int64_t(value) - m_min) / (std::int64_t(m_max) - m_min);
    return start + static_cast<int>(offset) + t / 2;
}

int CBitmapSlider::valueOfPixel(int pixel) const
{
    const int t = thumbLength();
    const int start = marginStart();
    const int span = length() - marginEnd() - start - t;
    if (span <= 0)
        return m_min;
    const double value = m_min + double(pixel - t / 2 - start) / span * (double(m_max) - m_min);
    // Truncated toward zero, kept inside int before the conversion.
    return static_cast<int>(std::clamp(std::trunc(value), double(INT_MIN), double(INT_MAX)));
}

void CBitmapSlider::notify()
{
    if (isSeekSlider())
        postMessage(notifyWindow(), msg::Seek, 0, 1);
    else
        postMessage(notifyWindow(), msg::SliderMoved, static_cast<quintptr>(m_id), 1);
}

void CBitmapSlider::mousePressEvent(QMouseEvent *event)
{
    if (!m_enabled || event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    // Qt keeps the mouse grabbed by this widget until the button is released.
    setFocus(Qt::MouseFocusReason);
    m_dragging = true;
    const int point = along(event->position().toPoint());
    const int distance = point - thumbPixel();
    m_dragOffset = std::abs(distance) < thumbLength() / 2 ? distance : 0;
    moveTo(point);
    update();
}

void CBitmapSlider::mouseMoveEvent(QMouseEvent *event)
{
    moveTo(along(event->position().toPoint()));
}

void CBitmapSlider::moveTo(int point)
{
    if (!m_dragging || !m_enabled)
        return;
    const int t = thumbLength();
    const int low = marginStart() + t / 2;
    const int high = std::max(low, length() - marginEnd() - t / 2);
    const int target = std::clamp(point - m_dragOffset, low, high);
    if (target != thumbPixel()) {
        m_pos = clamp(valueOfPixel(target));
        notify();
    }
    repaint();
}

void CBitmapSlider::mouseReleaseEvent(QMouseEvent *event)
{
    if (!m_enabled || event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    m_dragging = false;
    update();
}

void CBitmapSlider::keyPressEvent(QKeyEvent *event)
{
    if (!m_enabled) {
        QWidget::keyPressEvent(event);
        return;
    }
    // 64-bit sums: a page step beside an extreme position must not overflow.
    std::int64_t position = m_pos;
    switch (event->key()) {
    case Qt::Key_PageUp: position -= m_page; break;
    case Qt::Key_PageDown: position += m_page; break;
    case Qt::Key_End: position = m_max; break;
    case Qt::Key_Home: position = m_min; break;
    case Qt::Key_Right:
    case Qt::Key_Down: position += 1; break;
    case Qt::Key_Left:
    case Qt::Key_Up: position -= 1; break;
    default: QWidget::keyPressEvent(event); return;
    }
    m_pos = static_cast<int>(std::clamp<std::int64_t>(position, m_min, m_max));
    update();
    notify();
}

void CBitmapSlider::focusInEvent(QFocusEvent *event)
{
    m_focused = true;
    update();
    QWidget::focusInEvent(event);
}

void CBitmapSlider::focusOutEvent(QFocusEvent *event)
{
    m_focused = false;
    update();
    QWidget::focusOutEvent(event);
}

void CBitmapSlider::paintEvent(QPaintEvent *)
{
    QPainter target(this);
    CUMemDC dc(target, rect());
    paintChannel(dc.painter());
    paintMarks(dc.painter());
    paintThumb(dc.painter());
    // The whole control is drawn afresh each time, so an earlier focus
    // rectangle needs no erasing: it is simply not drawn again.
    m_focusRectDrawn = m_focused && m_enabled && m_drawFocusRect;
    if (m_focusRectDrawn) {
        QPen pen(QColor(229, 229, 229), 1, Qt::DotLine);
        dc->setPen(pen);
        dc->setBrush(Qt::NoBrush);
        dc->drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

void CBitmapSlider::paintChannel(QPainter &p)
{
    if (m_channel.isNull())
        return;
    if (m_activeChannel.isNull() || !m_enabled) {
        p.drawPixmap(0, 0, m_channel);
        return;
    }
    const int centre = thumbPixel();
    if (m_vertical) {
        const int w = width();
        p.drawPixmap(QRect(0, centre, w, height() - centre), m_channel, QRect(0, centre, w, height() - centre));
        if (centre > 0)
            p.drawPixmap(QRect(0, 0, w, centre), m_activeChannel, QRect(0, 0, w, centre));
    } else {
        const int h = height();
        p.drawPixmap(QRect(centre, 0, width() - centre, h), m_channel, QRect(centre, 0, width() - centre, h));
        // The filled part stops short of the centre; the thumb covers the gap.
        const int filled = centre - 6;
        if (filled > 0)
            p.drawPixmap(QRect(0, 0, filled, h), m_activeChannel, QRect(0, 0, filled, h));
    }
}

void CBitmapSlider::setMarks(std::optional<int> in, std::optional<int> out)
{
    if (in == m_markIn && out == m_markOut)
        return;
    m_markIn = in;
    m_markOut = out;
    update();
}

void CBitmapSlider::paintMarks(QPainter &p)
{
    // An empty range is no recording: nothing to mark on.
    if (m_max == m_min || (!m_markIn && !m_markOut))
        return;
    const int across = m_vertical ? width() : height();
    // A band `from`..`to` along the orientation, the whole control across it.
    const auto band = [&](int from, int to) {
        return m_vertical ? QRect(0, from, across, to - from) : QRect(from, 0, to - from, across);
    };
    if (m_markIn && m_markOut && *m_markIn < *m_markOut && *m_markIn <= m_max && *m_markOut >= m_min) {
        const int from = pixelOfValue(clamp(*m_markIn));
        const int to = pixelOfValue(clamp(*m_markOut));
        if (to > from)
            p.fillRect(band(from, to).adjusted(0, across / 4, 0, -across / 4), spanColour());
    }
    const auto tick = [&](std::optional<int> value, const QColor &colour) {
        if (value && *value >= m_min && *value <= m_max) {
            const int centre = pixelOfValue(*value);
            p.fillRect(band(centre - 1, centre + 1), colour);
        }
    };
    tick(m_markIn, inMarkColour());
    tick(m_markOut, outMarkColour());
}

void CBitmapSlider::paintThumb(QPainter &p)
{
    if (m_thumb.isNull() || !m_enabled)
        return;
    const QPixmap &image = m_dragging && !m_activeThumb.isNull() ? m_activeThumb : m_thumb;
    const QSize size = image.deviceIndependentSize().toSize();
    const int centre = thumbPixel();
    if (m_vertical)
        p.drawPixmap((width() - size.width()) / 2, centre - thumbLength() / 2, image);
    else
        p.drawPixmap(centre - thumbLength() / 2, (height() - size.height()) / 2, image);
}

} // namespace korvante
