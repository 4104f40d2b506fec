#include "mem_dc.h"

#include <QPaintDevice>
#include <QRegion>

namespace korvante {

namespace {
QRect clipBox(const QPainter &target)
{
    if (target.hasClipping()) {
        const QRect box = target.clipBoundingRect().toAlignedRect();
        if (!box.isEmpty())
            return box;
    }
    const QPaintDevice *device = target.device();
    return device ? QRect(0, 0, device->width(), device->height()) : QRect();
}
} // namespace

OffscreenDC::OffscreenDC(QPainter &target, const QRect &rect, const QColor &fill)
    : m_target(&target), m_rect(rect)
{
    const QPaintDevice *device = target.device();
    m_direct = !device || device->devType() == QInternal::Printer || rect.isEmpty();
    if (m_direct) {
        target.save();
        if (!rect.isEmpty() && fill.alpha() > 0)
            target.fillRect(rect, fill);
        return;
    }
    const qreal ratio = device->devicePixelRatioF();
    m_buffer = QPixmap(rect.size() * ratio);
    m_buffer.setDevicePixelRatio(ratio);
    m_buffer.fill(fill);
    m_painter.emplace(&m_buffer);
    m_painter->translate(-rect.topLeft());
    m_painter->setFont(target.font());
    m_painter->setPen(target.pen());
    m_painter->setBackground(target.background());
}

OffscreenDC::~OffscreenDC()
{
    finish();
}

void OffscreenDC::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    if (m_direct) {
        m_target->restore();
        return;
    }
    m_painter->end();
    m_painter.reset();
    m_target->save();
    // The buffer already holds whatever lay beneath where it was filled
    // opaquely; where it stayed transparent the target keeps its pixels.
    m_target->setCompositionMode(QPainter::CompositionMode_SourceOver);
    m_target->drawPixmap(m_rect.topLeft(), m_buffer);
    m_target->restore();
}

CQDRVMemDC::CQDRVMemDC(QPainter &target, const QRect &rect)
    : OffscreenDC(target, rect.isEmpty() ? clipBox(target) : rect, target.background().color())
{
}

CUMemDC::CUMemDC(QPainter &target, const QRect &rect)
    : OffscreenDC(target, rect, Qt::transparent),
      m_clip(target.hasClipping() ? target.clipRegion() : QRegion(rect))
{
}

bool CUMemDC::ptVisible(const QPoint &point) const
{
    return rect().contains(point) && m_clip.contains(point);
}

bool CUMemDC::rectVisible(const QRect &r) const
{
    return rect().intersects(r) && m_clip.intersects(r);
}

void CUMemDC::textOut(int x, int y, const QString &text)
{
    painter().drawText(x, y, text);
}

void CUMemDC::drawText(const QRect &r, int flags, const QString &text)
{
    painter().drawText(r, flags, text);
}

CListViewMemDC::CListViewMemDC(QPainter &target, const QRect &rect, const QColor &fill)
    : OffscreenDC(target, rect, fill)
{
}

} // namespace korvante
