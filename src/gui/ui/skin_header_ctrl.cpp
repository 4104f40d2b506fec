#include "skin_header_ctrl.h"

#include "gui/platform/skin_library.h"
#include "mem_dc.h"

#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>

namespace korvante {

namespace {
void drawStretched(QPainter &p, const QRect &target, int id)
{
    const QPixmap image = SkinLibrary::appBitmap(id);
    if (!image.isNull())
        p.drawPixmap(target, image);
}
} // namespace

CSkinHeaderCtrl::CSkinHeaderCtrl(QWidget *parent) : QHeaderView(Qt::Horizontal, parent)
{
    setFont(titleFont());
    setHighlightSections(false);
}

CSkinHeaderCtrl::~CSkinHeaderCtrl() = default;

QFont CSkinHeaderCtrl::titleFont()
{
    QFont font(QStringLiteral("Sevenet 7"));
    font.setPixelSize(14);
    return font;
}

QSize CSkinHeaderCtrl::sizeHint() const
{
    return QSize(QHeaderView::sizeHint().width(), kHeight);
}

void CSkinHeaderCtrl::paintEvent(QPaintEvent *)
{
    QWidget *surface = viewport();
    QPainter target(surface);
    CListViewMemDC dc(target, surface->rect(), Qt::black);
    QPainter &p = dc.painter();
    drawStretched(p, QRect(0, 0, surface->width(), kHeight), kBackgroundImage);
    if (!model())
        return;
    p.setFont(font());
    p.setPen(Qt::white);
    const QFontMetrics metrics(font());
    for (int visual = 0; visual < count(); ++visual) {
        const int logical = logicalIndex(visual);
        if (isSectionHidden(logical))
            continue;
        const int x = sectionViewportPosition(logical);
        const int w = sectionSize(logical);
        if (w <= 0 || x >= surface->width() || x + w <= 0)
            continue;
        drawStretched(p, QRect(x, 0, w, kHeight), kFaceImage);
        drawStretched(p, QRect(x + w - kEdgeWidth, 0, kEdgeWidth, kHeight), kEdgeImage);
        const QRect textRect = QRect(x, 0, w, kHeight).adjusted(kTextInset, kTextInset, -kTextInset, -kTextInset);
        const QString title = model()->headerData(logical, orientation(), Qt::DisplayRole).toString();
        // Titles are plain text: an "&" is drawn, never taken as a mnemonic.
        p.drawText(textRect, Qt::AlignCenter | Qt::TextSingleLine,
                   metrics.elidedText(title, Qt::ElideRight, textRect.width()));
    }
}

} // namespace korvante
