// The recording-name grammar.

#include "core/storage/recording_name.h"

#include <gtest/gtest.h>

namespace korvante {
namespace {

TEST(RecordingName, FieldsKindsAndTexts)
{
    const std::string n = "N_20120305_142233_2CH_F.avi";
    EXPECT_EQ(nameField(n, 0), "N");
    EXPECT_EQ(nameField(n, 1), "20120305");
    EXPECT_EQ(nameField(n, 4), "F.avi");
    EXPECT_EQ(nameField(n, 5), "");
    EXPECT_EQ(nameField("plain.avi", 0), "plain.avi");
    EXPECT_EQ(nameField("plain.avi", 1), "");
    EXPECT_EQ(nameField("a__b", 1), "");
    EXPECT_EQ(nameField("a__b", 2), "b");

    EXPECT_EQ(kindOfName("E_x_N"), KindNormal); // "N" is looked for first
    EXPECT_EQ(kindOfName("E_1_2_2CH_F.avi"), KindEvent);
    EXPECT_EQ(kindOfName("P_1"), KindParking);
    EXPECT_EQ(kindOfName("M_1"), KindManual);
    EXPECT_EQ(kindOfName("n_e_p_m.avi"), KindNone);
    EXPECT_STREQ(kindText(KindNone), "NONE");
    EXPECT_EQ(filterKindOf(KindNone), KindNormal);
    EXPECT_STREQ(kindText(kindOfName("P_20120305_142233_1CH_F.avi")), "MOT");

    EXPECT_TRUE(isRearName("N_20120305_142234_2CH_R.avi"));
    EXPECT_FALSE(isRearName("N_20120305_142234_2CH_R.avi.bak"));
    EXPECT_TRUE(isTwoChannelName(n));
    EXPECT_FALSE(isTwoChannelName("N_20120305_142233_1CH_F.avi"));
    EXPECT_EQ(displayName("N_1_2_2CH_F.tavo"), "N_1_2_2CH_F");
    EXPECT_EQ(displayName("a.tavo.tavo.avi"), "a.avi");
    EXPECT_EQ(sortKeyOfName(n), "20120305142233");
}

TEST(RecordingName, DatesAndTimes)
{
    const NameDateTime dt = dateTimeOfName("N_20120305_142233_2CH_F.avi");
    EXPECT_EQ(formatDate(dt.year, dt.month, dt.day), "2012-03-05");
    EXPECT_EQ(formatTime(dt.hour, dt.minute, dt.second), "14:22:33");
    EXPECT_TRUE(dt.isValid());
    ASSERT_TRUE(dt.toLocalTime());

    EXPECT_EQ(leadingInteger("12ab"), 12);
    EXPECT_EQ(leadingInteger("x12"), 0);
    EXPECT_EQ(leadingInteger("99999999999999999999"), 2147483647);

    const NameDateTime bad = dateTimeOfName("N_20121340_256199_2CH_F.avi");
    EXPECT_EQ(formatDate(bad.year, bad.month, bad.day), "2012-13-40");
    EXPECT_EQ(formatTime(bad.hour, bad.minute, bad.second), "25:61:99");
    EXPECT_FALSE(bad.isValid());
    EXPECT_FALSE(bad.toLocalTime());
    EXPECT_FALSE(dateTimeOfName("N").isValid());
    EXPECT_FALSE(dateTimeOfName("N_18991231_000000").isValid());
    EXPECT_TRUE(dateTimeOfName("N_19000101_235959").isValid());
    // Day 31 of a 30-day month is accepted and moves on, as the C library does.
    EXPECT_TRUE(dateTimeOfName("N_20120431_000000").isValid());
}

// Seconds are moved on the name's own calendar, and only the name's date and
// time fields are rewritten.
TEST(RecordingName, MovedFieldsAndRewrittenNames)
{
    struct Case {
        const char *name;
        int seconds;
        const char *expected; // empty: no valid point in time
    };
    const Case cases[] = {
        {"N_20120305_201203_2CH_R.avi", 1, "N_20120305_201204_2CH_R.avi"},
        {"N_20120305_201203_2CH_R.avi", -3, "N_20120305_201200_2CH_R.avi"},
        {"N_20121231_235958_2CH_R.avi", 3, "N_20130101_000001_2CH_R.avi"},
        {"N_20130101_000001_2CH_R.avi", -2, "N_20121231_235959_2CH_R.avi"},
        {"N_20120228_235959_2CH_R.avi", 1, "N_20120229_000000_2CH_R.avi"},
        {"N_21000228_235959_2CH_R.avi", 1, "N_21000301_000000_2CH_R.avi"},
        {"N_20120311_025959_2CH_R.avi", 1, "N_20120311_030000_2CH_R.avi"},
        {"N_20120431_120000_2CH_R.avi", 0, "N_20120501_120000_2CH_R.avi"}, // runs on, like mktime
        {"N_20120305_201203", 2, "N_20120305_201205"},
        {"N_20121340_142233_2CH_R.avi", 0, ""},
        {"N_20120305_246000_2CH_R.avi", 0, ""},
        {"N_99999999_000000_2CH_R.avi", 0, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<NameDateTime> moved = dateTimeOfName(c.name).movedBy(c.seconds);
        if (*c.expected == '\0') {
            EXPECT_FALSE(moved);
            continue;
        }
        ASSERT_TRUE(moved);
        EXPECT_EQ(withDateTimeFields(c.name, *moved), c.expected);
    }
    NameDateTime dt;
    dt.year = 2012;
    dt.month = dt.day = 1;
    EXPECT_EQ(withDateTimeFields("N_x", dt), "");
    EXPECT_EQ(withDateTimeFields("N_x_y", dt), "N_20120101_000000");
}

TEST(RecordingName, ReplaceAll)
{
    EXPECT_EQ(replaceAll("a_F_F", "_F", "_R"), "a_R_R");
    EXPECT_EQ(replaceAll("abc", "", "x"), "abc");
    EXPECT_EQ(replaceAll("aaa", "a", "aa"), "aaaaaa");
    EXPECT_EQ(fileNameOf("/x/y/z.avi"), "z.avi");
    EXPECT_EQ(fileNameOf("z.avi"), "z.avi");
}

} // namespace
} // namespace korvante
