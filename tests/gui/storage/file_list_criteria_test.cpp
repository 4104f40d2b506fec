// The date that a recording name gives to the date pickers.

#include "gui/storage/file_list_criteria.h"

#include <gtest/gtest.h>

using namespace korvante;

TEST(FileListCriteria, PickerDateOfName)
{
    EXPECT_EQ(pickerDateOfName("N_20120305_142233_2CH_F.avi"), QDate(2012, 3, 5));
    EXPECT_EQ(pickerDateOfName("N_20120305x_142233_2CH_F.avi"), QDate(2012, 3, 5));
    EXPECT_EQ(pickerDateOfName("N_20200229_000000_1CH_F.avi"), QDate(2020, 2, 29));
    // Dates a picker cannot hold are left out rather than rolled over.
    EXPECT_EQ(pickerDateOfName("N_20120431_000000_1CH_F.avi"), std::nullopt);
    EXPECT_EQ(pickerDateOfName("N_20121305_000000_1CH_F.avi"), std::nullopt);
    EXPECT_EQ(pickerDateOfName("N_18991231_000000_1CH_F.avi"), std::nullopt);
    EXPECT_EQ(pickerDateOfName("N_2012_000000_1CH_F.avi"), std::nullopt);
    EXPECT_EQ(pickerDateOfName("NOTHING.avi"), std::nullopt);
}
