#pragma once
// The report-style list of the dark panels (the recording list): black
// background, rows in RGB(158,177,187), the selected row in RGB(229,229,229)
// on RGB(115,123,165), the skinned header and the two skinned scroll bars.
// Painting goes through a CListViewMemDC.
//
// Rows are QTreeWidgetItems without children; each row's data stays with its
// owner (Qt::UserRole).
//
// Ownership: a child widget of its parent; owns its header and scroll bars.
// UI thread only.

#include <QTreeWidget>

namespace korvante {

class CSkinHeaderCtrl;
class CSkinHorizontalScrollbar;
class CSkinVerticleScrollbar;

class CSkinListCtrl final : public QTreeWidget {
    Q_OBJECT
public:
    static QColor textColour() { return QColor(158, 177, 187); }
    static QColor selectedTextColour() { return QColor(229, 229, 229); }
    static QColor selectedBackground() { return QColor(115, 123, 165); }

    // `rect` is in parent coordinates and includes the scroll bars.
    CSkinListCtrl(int id, const QRect &rect, QWidget *parent);
    ~CSkinListCtrl() override;

    int id() const { return m_id; }
    CSkinHeaderCtrl *skinHeader() const { return m_header; }
    CSkinVerticleScrollbar *verticalBar() const { return m_vertical; }
    CSkinHorizontalScrollbar *horizontalBar() const { return m_horizontal; }

    // The row that has the focus (-1: none), and making a row visible.
    int focusedRow() const;
    void ensureRowVisible(int row);
    // Makes `row` current and the only one selected, takes the focus and
    // scrolls the row into view; nothing when there is no such row.
    void moveToRow(int row);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_id;
    CSkinHeaderCtrl *m_header;
    CSkinVerticleScrollbar *m_vertical;
    CSkinHorizontalScrollbar *m_horizontal;
};

} // namespace korvante
