#pragma once
// The list that the catalogue fills with one row per recording. The file list
// panel's skinned list and the command-line tool's printer implement it.
//
// Called on the thread that runs the fill (the UI thread in the viewer). Texts
// are UTF-8 (names may hold any bytes the file system gave).

#include <string>

namespace korvante {

class ListView {
public:
    virtual ~ListView() = default;

    virtual void deleteAllRows() = 0;
    // Inserts a row at `row` with the text of column 0.
    virtual void insertRow(int row, const std::string &firstColumn) = 0;
    // A view with fewer columns ignores the columns it does not have.
    virtual void setColumnText(int row, int column, const std::string &text) = 0;
    // Suspends (false) and resumes (true) redrawing around a fill.
    virtual void setRedraw(bool enabled) = 0;
    // The wait cursor while a fill runs (true), the arrow afterwards (false).
    virtual void setBusyCursor(bool busy) = 0;
};

// A list that keeps nothing, for readers that want only the catalogue's
// entries (the rows are read back from the catalogue).
class NullListView final : public ListView {
public:
    void deleteAllRows() override {}
    void insertRow(int, const std::string &) override {}
    void setColumnText(int, int, const std::string &) override {}
    void setRedraw(bool) override {}
    void setBusyCursor(bool) override {}
};

// Columns that a fill writes.
enum ListColumn : int {
    ColumnNumber = 0,
    ColumnDate = 1,
    ColumnTime = 2,
    ColumnKind = 3,
    ColumnChannels = 4,
    ColumnName = 5,
    ListColumnCount = 6,
};

} // namespace korvante
