#include "cli/row_printer.h"

#include <cstdio>

namespace korvante::cli {

void RowPrinter::insertRow(int row, const std::string &firstColumn)
{
    if (row < 0 || static_cast<size_t>(row) > m_rows.size())
        row = static_cast<int>(m_rows.size());
    auto it = m_rows.insert(m_rows.begin() + row, std::array<std::string, ListColumnCount>{});
    (*it)[0] = firstColumn;
}

void RowPrinter::setColumnText(int row, int column, const std::string &text)
{
    if (row < 0 || static_cast<size_t>(row) >= m_rows.size() || column < 0 || column >= ListColumnCount)
        return;
    m_rows[static_cast<size_t>(row)][static_cast<size_t>(column)] = text;
}

void RowPrinter::print(std::ostream &out) const
{
    for (const auto &row : m_rows) {
        for (int c = 0; c < ListColumnCount; ++c) {
            if (c)
                out << '\t';
            out << escapeControls(row[static_cast<size_t>(c)]);
        }
        out << '\n';
    }
}

} // namespace korvante::cli
