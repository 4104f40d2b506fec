#pragma once
// A list view that keeps the rows a fill writes, for checking them whole.

#include "core/storage/list_view.h"

#include <string>
#include <vector>

namespace korvante::testing {

class RowsView final : public ListView {
public:
    using Row = std::vector<std::string>;

    void deleteAllRows() override
    {
        rows.clear();
        ++deletes;
    }
    void insertRow(int row, const std::string &firstColumn) override
    {
        rows.insert(rows.begin() + row, Row(ListColumnCount));
        rows.at(static_cast<size_t>(row))[0] = firstColumn;
    }
    void setColumnText(int row, int column, const std::string &text) override
    {
        rows.at(static_cast<size_t>(row)).at(static_cast<size_t>(column)) = text;
    }
    void setRedraw(bool enabled) override { redraw = enabled; ++redrawCalls; }
    void setBusyCursor(bool on) override { busy = on; ++busyCalls; }

    std::vector<std::string> column(int c) const
    {
        std::vector<std::string> out;
        for (const auto &r : rows)
            out.push_back(r.at(static_cast<size_t>(c)));
        return out;
    }

    std::vector<Row> rows;
    int deletes = 0;
    int redrawCalls = 0;
    int busyCalls = 0;
    bool redraw = true;
    bool busy = false;
};

} // namespace korvante::testing
