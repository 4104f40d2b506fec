#pragma once
// The catalogue's fills written into the file list panel's skinned list: one
// QTreeWidgetItem per row, every column centred. Columns the list does not
// have (the name column of a five-column list) are dropped.
//
// Ownership: refers to a list it does not own; the list must outlive it.
// UI thread only.

#include "core/storage/list_view.h"

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

private:
    CSkinListCtrl &m_list;
    bool m_busy = false; // whether this view holds an override cursor
};

} // namespace korvante
