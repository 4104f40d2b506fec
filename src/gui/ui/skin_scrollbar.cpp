#include "skin_scrollbar.h"

#include "gui/platform/skin_library.h"
#include "mem_dc.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace korvante {

namespace {
// Leading-edge bounds of the thumb: after the start arrow, before the end
// arrow; the usable run is the bar length less both arrows and the thumb (75
// with 1 pixel of overlap).
constexpr int kThumbMin = 25;
constexpr int kThumbRunLess = 75;
constexpr int kThumbMaxLess = 51;
constexpr int kGrab = 13;

void drawApp(QPainter &p, const QRect &target, int id)
{
    if (id <= 0)
        return;
    const QPixmap image = SkinLibrary::appBitmap(id);
    if (!image.isNull())
        p.drawPixmap(target, image);
}
} // namespace

SkinScrollBar::SkinScrollBar(Qt::Orientation orientation, const Images &images, QWidget *parent)
    : MessageWindow<QScrollBar>(orientation, parent), m_images(images)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
    setContextMenuPolicy(Qt::NoContextMenu);
}

SkinScrollBar::~SkinScrollBar() = default;

QSize SkinScrollBar::sizeHint() const
{
    const int length = 3 * kArrowLength;
    return orientation() == Qt::Horizontal ? QSize(length, kThickness) : QSize(kThickness, length);
}

int SkinScrollBar::barLength() const
{
    return orientation() == Qt::Horizontal ? width() : height();
}

int SkinScrollBar::along(const QPoint &point) const
{
    return orientation() == Qt::Horizontal ? point.x() : point.y();
}

int SkinScrollBar::thumbStart() const
{
    const int length = barLength();
    const int high = std::max(kThumbMin, length - kThumbMaxLess);
    if (scrollLimit() <= 0)
        return kThumbMin;
    const int start = static_cast<int>(double(length - kThumbRunLess) / scrollLimit() * scrollPosition())
                      + kThumbMin;
    return std::clamp(start, kThumbMin, high);
}

SkinScrollBar::Part SkinScrollBar::partAt(int pixel) const
{
    const int length = barLength();
    if (pixel < kArrowLength)
        return Part::StartArrow;
    if (pixel >= length - kArrowLength)
        return Part::EndArrow;
    if (hasThumb() && pixel >= thumbStart() && pixel < thumbStart() + kArrowLength)
        return Part::Thumb;
    return Part::Track;
}

void SkinScrollBar::paintEvent(QPaintEvent *)
{
    QPainter target(this);
    CListViewMemDC dc(target, rect(), fillColour());
    QPainter &p = dc.painter();
    const bool horizontal = orientation() == Qt::Horizontal;
    const int length = barLength();
    auto span = [&](int start, int extent) {
        return horizontal ? QRect(start, 0, extent, height()) : QRect(0, start, width(), extent);
    };
    drawApp(p, span(kArrowLength, length - 2 * kArrowLength), m_images.track);
    const bool startDown = m_pressed == Part::StartArrow && m_images.startArrowPressed > 0;
    const bool endDown = m_pressed == Part::EndArrow && m_images.endArrowPressed > 0;
    drawApp(p, span(0, kArrowLength), startDown ? m_images.startArrowPressed : m_images.startArrow);
    drawApp(p, span(length - kArrowLength, kArrowLength),
            endDown ? m_images.endArrowPressed : m_images.endArrow);
    if (hasThumb())
        drawApp(p, span(thumbStart(), kArrowLength), m_images.thumb);
}

void SkinScrollBar::stepLine(Part arrow)
{
    triggerAction(arrow == Part::StartArrow ? SliderSingleStepSub : SliderSingleStepAdd);
}

void SkinScrollBar::stopRepeat()
{
    killTimer(kRepeatDelayTimer);
    killTimer(kRepeatTimer);
}

void SkinScrollBar::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    m_thumbDragged = false;
    m_pressed = partAt(along(event->position().toPoint()));
    if (m_pressed == Part::StartArrow || m_pressed == Part::EndArrow)
        setTimer(kRepeatDelayTimer, kRepeatDelayMs);
    update();
}

void SkinScrollBar::mouseMoveEvent(QMouseEvent *event)
{
    if (m_pressed != Part::Thumb || scrollLimit() <= 0)
        return;
    m_thumbDragged = true;
    const int length = barLength();
    const int start = std::clamp(along(event->position().toPoint()) - kGrab, kThumbMin,
                                 std::max(kThumbMin, length - kThumbMaxLess));
    const int run = length - kThumbRunLess;
    if (run <= 0)
        return;
    const int position = static_cast<int>(double(start - kThumbMin) / run * scrollLimit());
    setValue(minimum() + std::clamp(position, 0, scrollLimit()));
    update();
}

void SkinScrollBar::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    stopRepeat();
    const int pixel = along(event->position().toPoint());
    const Part released = partAt(pixel);
    if (m_pressed != Part::None) {
        if (released == Part::StartArrow || released == Part::EndArrow)
            stepLine(released);
        else if (released == Part::Track && !m_thumbDragged)
            triggerAction(pixel < thumbStart() ? SliderPageStepSub : SliderPageStepAdd);
    }
    m_pressed = Part::None;
    m_thumbDragged = false;
    update();
}

void SkinScrollBar::onTimer(int id)
{
    if (id == kRepeatDelayTimer) {
        killTimer(kRepeatDelayTimer);
        setTimer(kRepeatTimer, kRepeatIntervalMs);
        return;
    }
    if (id == kRepeatTimer) {
        if (m_pressed == Part::StartArrow || m_pressed == Part::EndArrow)
            stepLine(m_pressed);
        else
            killTimer(kRepeatTimer);
    }
}

CSkinHorizontalScrollbar::CSkinHorizontalScrollbar(QWidget *parent)
    : SkinScrollBar(Qt::Horizontal, Images{143, 144, 145, 146, 0, 0}, parent)
{
}

CSkinVerticleScrollbar::CSkinVerticleScrollbar(QWidget *parent)
    : SkinScrollBar(Qt::Vertical, Images{147, 148, 149, 150, 151, 152}, parent)
{
}

} // namespace korvante
