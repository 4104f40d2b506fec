#include "skin_list_view.h"

#include "gui/ui/skin_list_ctrl.h"

#include <QApplication>
#include <QTreeWidgetItem>

namespace korvante {

SkinListView::SkinListView(CSkinListCtrl &list) : m_list(list) {}

SkinListView::~SkinListView()
{
    // A fill never leaves the wait cursor behind, even if the view goes first.
    setBusyCursor(false);
}

void SkinListView::deleteAllRows() { m_list.clear(); }

void SkinListView::insertRow(int row, const std::string &firstColumn)
{
    auto *item = new QTreeWidgetItem;
    for (int column = 0; column < m_list.columnCount(); ++column)
        item->setTextAlignment(column, Qt::AlignCenter);
    item->setText(0, QString::fromStdString(firstColumn));
    const int count = m_list.topLevelItemCount();
    m_list.insertTopLevelItem(row < 0 || row > count ? count : row, item);
}

void SkinListView::setColumnText(int row, int column, const std::string &text)
{
    if (column < 0 || column >= m_list.columnCount())
        return;
    if (QTreeWidgetItem *item = m_list.topLevelItem(row))
        item->setText(column, QString::fromStdString(text));
}

void SkinListView::setRedraw(bool enabled) { m_list.setUpdatesEnabled(enabled); }

void SkinListView::setBusyCursor(bool busy)
{
    if (busy == m_busy)
        return;
    m_busy = busy;
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

int SkinListView::rowCount() const { return m_list.topLevelItemCount(); }

} // namespace korvante
