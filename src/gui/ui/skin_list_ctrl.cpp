#include "skin_list_ctrl.h"

#include "mem_dc.h"
#include "skin_header_ctrl.h"
#include "skin_scrollbar.h"

#include <QPaintEvent>
#include <QPainter>
#include <QStyledItemDelegate>

namespace korvante {

namespace {
// Draws a selected cell in the list's own selection colours, whatever the
// style would make of the highlight: the cell is painted as unselected text
// of the selected colour over the selected background.
class SelectionDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        // No focus frame: the styles draw it in a tint of the highlight.
        QStyleOptionViewItem plain(option);
        plain.state &= ~QStyle::State_HasFocus;
        if (!(option.state & QStyle::State_Selected)) {
            QStyledItemDelegate::paint(painter, plain, index);
            return;
        }
        painter->fillRect(option.rect, CSkinListCtrl::selectedBackground());
        plain.state &= ~QStyle::State_Selected;
        for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
            plain.palette.setColor(group, QPalette::Text, CSkinListCtrl::selectedTextColour());
        QStyledItemDelegate::paint(painter, plain, index);
    }
};
} // namespace

CSkinListCtrl::CSkinListCtrl(int id, const QRect &rect, QWidget *parent)
    : QTreeWidget(parent), m_id(id), m_header(new CSkinHeaderCtrl(this)),
      m_vertical(new CSkinVerticleScrollbar(this)), m_horizontal(new CSkinHorizontalScrollbar(this))
{
    setGeometry(rect);
    setFrameShape(QFrame::NoFrame);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setHeader(m_header);
    setItemDelegate(new SelectionDelegate(this));

    QPalette palette = this->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Base, Qt::black);
        palette.setColor(group, QPalette::AlternateBase, Qt::black);
        palette.setColor(group, QPalette::Window, Qt::black);
        palette.setColor(group, QPalette::Text, textColour());
        palette.setColor(group, QPalette::Highlight, selectedBackground());
        palette.setColor(group, QPalette::HighlightedText, selectedTextColour());
    }
    setPalette(palette);

    // The skinned bars take the places of the list's own: they follow every
    // scroll by wheel, key or program and keep the rows clear of them.
    setVerticalScrollBar(m_vertical);
    setHorizontalScrollBar(m_horizontal);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // The horizontal bar shows only while the columns are wider than the rows.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

CSkinListCtrl::~CSkinListCtrl() = default;

int CSkinListCtrl::focusedRow() const
{
    const QModelIndex index = currentIndex();
    return index.isValid() ? index.row() : -1;
}

void CSkinListCtrl::ensureRowVisible(int row)
{
    if (QTreeWidgetItem *item = topLevelItem(row))
        scrollToItem(item);
}

void CSkinListCtrl::moveToRow(int row)
{
    QTreeWidgetItem *item = topLevelItem(row);
    if (!item)
        return;
    clearSelection();
    setCurrentItem(item);
    item->setSelected(true);
    setFocus();
    scrollToItem(item);
}

void CSkinListCtrl::paintEvent(QPaintEvent *event)
{
    QPainter target(viewport());
    CListViewMemDC dc(target, event->rect(), Qt::black);
    drawTree(&dc.painter(), event->region());
}

} // namespace korvante
