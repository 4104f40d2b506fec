#pragma once
// The catalogue's fills written into the file list panel's skinned list: one
// QTreeWidgetItem per row, every column centred. Columns the list does not
// have (the name column of a five-column list) are dropped.
//
// At the end of each fill the number column is made wide enough for its
// widest number (1,200 recordings need four digits where the list was laid
// out for three); the width comes from the other columns' room to spare, so
// the columns still fit the list when they can. A fill of short numbers
// gives the columns back the widths the owner set.
//
// Ownership: refers to a list it does not own; the list must outlive it.
// UI thread only.

#include "core/storage/list_view.h"

#include <vector>

namespace korvante {

class CSkinListCtrl;

class SkinListView final : public ListView {
public:
    explicit SkinListView(CSkinListCtrl &list);
    ~SkinListView() override;
    SkinListView(const SkinListView &) = delete;
    SkinListView &operator=(const SkinListView &) = delete;

    void deleteAllRows() override;
    void insertRow(int row, const std::string &firstColumn) override;
    void setColumnText(int row, int column, const std::string &text) override;
    void setRedraw(bool enabled) override;
    void setBusyCursor(bool busy) override;

    int rowCount() const;
    // Widens (or restores) the number column for the rows now listed.
    void fitNumberColumn();

private:
    std::vector<int> m_ownerWidths;  // column widths as the owner (or the user) set them
    std::vector<int> m_fittedWidths; // the widths the last fit set
    CSkinListCtrl &m_list;
    bool m_busy = false; // whether this view holds an override cursor
};

} // namespace korvante
