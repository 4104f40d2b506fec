#include "skin_list_view.h"

#include "gui/ui/skin_list_ctrl.h"

#include <QApplication>
#include <QFontMetrics>
#include <QHeaderView>
#include <QTreeWidgetItem>

#include <algorithm>

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

void SkinListView::setRedraw(bool enabled)
{
    if (enabled)
        fitNumberColumn();
    m_list.setUpdatesEnabled(enabled);
}

namespace {
// Pixels a cell's text needs beside it: the view's text margins on both
// sides and a pixel each of the grid.
constexpr int kCellPadding = 10;
} // namespace

void SkinListView::fitNumberColumn()
{
    const int columns = m_list.columnCount();
    if (columns == 0)
        return;
    // Widths other than the ones this fit set last (the owner's first ones,
    // or a column the user dragged wider) are the ones to keep from now on.
    std::vector<int> current;
    for (int c = 0; c < columns; ++c)
        current.push_back(m_list.columnWidth(c));
    if (current != m_fittedWidths)
        m_ownerWidths = current;
    // What every column needs: its widest cell, and its title in the header's font.
    const QFontMetrics cells(m_list.font());
    const QFontMetrics titles(m_list.header()->font());
    std::vector<int> need(static_cast<size_t>(columns), 0);
    for (int c = 0; c < columns; ++c)
        need[static_cast<size_t>(c)] = titles.horizontalAdvance(m_list.headerItem()->text(c)) + kCellPadding;
    const int rows = m_list.topLevelItemCount();
    for (int r = 0; r < rows; ++r) {
        const QTreeWidgetItem *item = m_list.topLevelItem(r);
        for (int c = 0; c < columns; ++c) {
            int &n = need[static_cast<size_t>(c)];
            n = std::max(n, cells.horizontalAdvance(item->text(c)) + kCellPadding);
        }
    }
    std::vector<int> widths = m_ownerWidths;
    int extra = need[0] - widths[0];
    if (extra > 0) {
        widths[0] = need[0];
        // Room to spare in the list beyond the owner's columns comes first,
        // then the other columns' room beyond their own needs, widest first.
        int total = 0;
        for (int w : m_ownerWidths)
            total += w;
        extra -= std::max(0, std::min(extra, m_list.viewport()->width() - total));
        while (extra > 0) {
            int best = -1, bestSpare = 0;
            for (int c = 1; c < columns; ++c) {
                const int spare = widths[static_cast<size_t>(c)] - need[static_cast<size_t>(c)];
                if (spare > bestSpare) {
                    best = c;
                    bestSpare = spare;
                }
            }
            if (best < 0)
                break; // nothing left to give: the list scrolls sideways
            --widths[static_cast<size_t>(best)];
            --extra;
        }
    }
    for (int c = 0; c < columns; ++c)
        if (m_list.columnWidth(c) != widths[static_cast<size_t>(c)])
            m_list.setColumnWidth(c, widths[static_cast<size_t>(c)]);
    m_fittedWidths = std::move(widths);
}

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
