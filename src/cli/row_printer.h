#pragma once
// A list view that keeps the catalogue's rows and prints them as lines of six
// tab-separated columns.

#include "cli/text_escape.h"
#include "core/storage/list_view.h"

#include <array>
#include <ostream>
#include <string>
#include <vector>

namespace korvante::cli {

class RowPrinter final : public ListView {
public:
    void deleteAllRows() override { m_rows.clear(); }
    void insertRow(int row, const std::string &firstColumn) override;
    void setColumnText(int row, int column, const std::string &text) override;
    void setRedraw(bool) override {}
    void setBusyCursor(bool) override {}

    // One line per row. Control characters in a column (a tab or a newline in a
    // file name) are written as \xNN so that every row stays one line.
    void print(std::ostream &out) const;
    size_t rowCount() const { return m_rows.size(); }

private:
    std::vector<std::array<std::string, ListColumnCount>> m_rows;
};

} // namespace korvante::cli
