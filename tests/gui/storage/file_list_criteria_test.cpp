// The search pieces without widgets: threshold units, picker dates from names,
// local midnights.

#include "gui/storage/file_list_criteria.h"

#include <gtest/gtest.h>

#include <ctime>

using namespace korvante;

TEST(FileListCriteria, ThresholdUnits)
{
    EXPECT_FLOAT_EQ(thresholdKmh(QStringLiteral("60"), UnitKmh), 60.0f);
    EXPECT_FLOAT_EQ(thresholdKmh(QStringLiteral("60"), UnitMileH), 96.56064f);
    EXPECT_FLOAT_EQ(thresholdKmh(QStringLiteral("60"), UnitKnot), 111.12f);
    EXPECT_FLOAT_EQ(thresholdKmh(QStringLiteral("12a"), UnitKmh), 12.0f);
    EXPECT_FLOAT_EQ(thresholdKmh(QStringLiteral("a12"), UnitMileH), 0.0f);
    EXPECT_FLOAT_EQ(thresholdKmh(QString(), UnitKnot), 0.0f);
    EXPECT_FLOAT_EQ(thresholdKmh(QStringLiteral("-5"), UnitKmh), 0.0f);
}

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

TEST(FileListCriteria, LocalMidnight)
{
    const auto t = localMidnight(QDate(2012, 3, 5));
    ASSERT_TRUE(t.has_value());
    std::time_t when = static_cast<std::time_t>(*t);
    std::tm local{};
    ASSERT_NE(localtime_r(&when, &local), nullptr);
    EXPECT_EQ(local.tm_year, 112);
    EXPECT_EQ(local.tm_mon, 2);
    EXPECT_EQ(local.tm_mday, 5);
    EXPECT_EQ(local.tm_hour, 0);
    EXPECT_EQ(local.tm_min, 0);
    EXPECT_EQ(local.tm_sec, 0);
    EXPECT_EQ(localMidnight(QDate()), std::nullopt);
}
