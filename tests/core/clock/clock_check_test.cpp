// The clock check's arithmetic, from sentences and names as recordings carry
// them: one table of cards, each a few recordings with their fixes.

#include "core/clock/card_clock.h"
#include "core/playback/sensor_records.h"

#include <gtest/gtest.h>

#include <list>

namespace korvante::clock {
namespace {

using namespace std::chrono_literals;

struct Fix {
    int offsetMs;
    const char *sentence; // "GPRMC,hhmmss.ss,A|V,...,ddmmyy" as the recording holds it
};

struct Recording {
    const char *name;
    std::vector<Fix> fixes;
};

struct Card {
    const char *what;
    std::vector<Recording> recordings;
    int zoneMinutes;
    const char *zone;
    long drift;        // seconds, positive when the camera is fast
    const char *driftWords;
    size_t agreeing;
    std::vector<const char *> apart;
    // The first row's camera and UTC time of its first valid fix.
    const char *firstCamera;
    const char *firstUtc;
};

const std::vector<Card> &cards()
{
    static const std::vector<Card> table = {
        {"east, slow",
         {{"N_20240310_120000_2CH_F.avi",
           {{0, "GPRMC,040047.00,A,0120.0,N,10350.0,E,0,0,100324"},
            {1000, "GPRMC,040048.00,A,0120.0,N,10350.0,E,0,0,100324"},
            {2000, "GPRMC,040049.00,A,0120.0,N,10350.0,E,0,0,100324"}}},
          {"E_20240310_130000_2CH_F.avi", {{500, "GPRMC,050047.00,A,0120.0,N,10350.0,E,0,0,100324"}}}},
         480, "UTC+08:00", -47, "47 s slow", 2, {}, "2024-03-10 12:00:00", "2024-03-10 04:00:47"},
        {"west, fast",
         {{"N_20240310_070012_1CH_F.avi",
           {{0, "GPRMC,120000.00,A,4042.0,N,07400.0,W,0,0,100324"},
            {1000, "GPRMC,120001.00,A,4042.0,N,07400.0,W,0,0,100324"}}}},
         -300, "UTC-05:00", 12, "12 s fast", 1, {}, "2024-03-10 07:00:12", "2024-03-10 12:00:00"},
        {"half-hour zone west of UTC, date change at UTC midnight",
         {{"N_20241231_203005_2CH_F.avi",
           {{0, "GPRMC,235958.00,A,4734.0,N,05243.0,W,0,0,311224"},
            {1000, "GPRMC,235959.00,A,4734.0,N,05243.0,W,0,0,311224"},
            {2000, "GPRMC,000000.00,A,4734.0,N,05243.0,W,0,0,010125"},
            {3000, "GPRMC,000001.00,A,4734.0,N,05243.0,W,0,0,010125"}}}},
         -210, "UTC-03:30", 7, "7 s fast", 1, {}, "2024-12-31 20:30:05", "2024-12-31 23:59:58"},
        {"Kathmandu, camera's date already the next day",
         {{"N_20250101_054454_2CH_F.avi",
           {{0, "GPRMC,235957.00,A,2742.0,N,08519.0,E,0,0,311224"},
            {1000, "GPRMC,235958.00,A,2742.0,N,08519.0,E,0,0,311224"}}}},
         345, "UTC+05:45", -3, "3 s slow", 1, {}, "2025-01-01 05:44:54", "2024-12-31 23:59:57"},
        {"invalid fixes left out: status V, no date, a date that is none",
         {{"N_20120305_142233_2CH_F.avi",
           {{0, "GPRMC,052233.00,V,,,,,,,"},
            {1000, "GPRMC,,V,,,,,,,"},
            {2000, "GPRMC,052235.00,A,3730.0,N,12700.0,E,0,0,000000"},
            {3000, "GPRMC,052236.00,A,3730.0,N,12700.0,E,0,0,310212"},
            {4000, "GPRMC,052237.00,A,3730.0,N,12700.0,E,0,0,050312"},
            {5000, "GPRMC,052238.00,A,3730.0,N,12700.0,E,0,0,050312"}}},
          {"N_20120305_142333_2CH_F.avi", {{0, "GPRMC,052333.00,V,,,,,,,"}}}},
         540, "UTC+09:00", 0, "on time", 1, {}, "2012-03-05 14:22:37", "2012-03-05 05:22:37"},
        {"one recording with a reset clock is named apart and moves nothing",
         {{"N_20240310_120000_2CH_F.avi", {{0, "GPRMC,040047.00,A,0120.0,N,10350.0,E,0,0,100324"}}},
          {"N_20160101_000012_2CH_F.avi", {{0, "GPRMC,041000.00,A,0120.0,N,10350.0,E,0,0,100324"}}},
          {"N_20240310_121000_2CH_F.avi", {{0, "GPRMC,041048.00,A,0120.0,N,10350.0,E,0,0,100324"}}},
          {"N_20240310_122000_2CH_F.avi", {{0, "GPRMC,042047.00,A,0120.0,N,10350.0,E,0,0,100324"}}}},
         480, "UTC+08:00", -47, "47 s slow", 3, {"N_20160101_000012_2CH_F.avi"}, "2024-03-10 12:00:00",
         "2024-03-10 04:00:47"},
        {"two clocks in equal numbers (recordings copied under a later day's names): one is the card's",
         {{"N_20240311_120000_2CH_F.avi", {{0, "GPRMC,040047.00,A,0120.0,N,10350.0,E,0,0,100324"}}},
          {"N_20240310_120000_2CH_F.avi", {{0, "GPRMC,040047.00,A,0120.0,N,10350.0,E,0,0,100324"}}},
          {"N_20240311_121000_2CH_F.avi", {{0, "GPRMC,041047.00,A,0120.0,N,10350.0,E,0,0,100324"}}},
          {"N_20240310_121000_2CH_F.avi", {{0, "GPRMC,041047.00,A,0120.0,N,10350.0,E,0,0,100324"}}}},
         480, "UTC+08:00", -47, "47 s slow", 2, {"N_20240311_120000_2CH_F.avi", "N_20240311_121000_2CH_F.avi"},
         "2024-03-11 12:00:00", "2024-03-10 04:00:47"},
    };
    return table;
}

TEST(ClockCheck, ZoneAndDriftOfCards)
{
    for (const Card &card : cards()) {
        SCOPED_TRACE(card.what);
        std::vector<RecordingFixes> recordings;
        for (const Recording &r : card.recordings) {
            std::list<CQDRVGPSData> records;
            for (const Fix &f : r.fixes) {
                CQDRVGPSData fix;
                ParseGpsSentence(fix, f.offsetMs, f.sentence);
                records.push_back(fix);
            }
            const auto fixes = fixesOf(r.name, records);
            ASSERT_TRUE(fixes.has_value()) << r.name;
            recordings.push_back(*fixes);
        }
        const ClockCheck check = checkClock(recordings);
        ASSERT_TRUE(check.known());
        EXPECT_EQ(check.zone, std::chrono::minutes{card.zoneMinutes});
        EXPECT_EQ(zoneText(check.zone), card.zone);
        EXPECT_EQ(check.drift, std::chrono::seconds{card.drift});
        EXPECT_EQ(driftText(check.drift), card.driftWords);
        EXPECT_EQ(check.agreeing, card.agreeing);
        std::vector<std::string> apart;
        for (const RecordingClock &r : check.recordings) {
            if (r.apart)
                apart.push_back(r.name);
            else
                EXPECT_LE(std::chrono::abs(r.drift - check.drift), 1s) << r.name;
        }
        EXPECT_EQ(apart, std::vector<std::string>(card.apart.begin(), card.apart.end()));
        ASSERT_FALSE(check.recordings.empty());
        EXPECT_EQ(civilText(std::chrono::floor<std::chrono::seconds>(check.recordings.front().firstCamera)),
                  card.firstCamera);
        EXPECT_EQ(civilText(check.recordings.front().firstUtc), card.firstUtc);
    }
}

TEST(ClockCheck, WordsForTheSettingsAndTheReport)
{
    const auto single = [](const char *name, const char *sentence) {
        std::list<CQDRVGPSData> records(1);
        ParseGpsSentence(records.back(), 0, sentence);
        return checkClock({*fixesOf(name, records)});
    };
    const ClockCheck slow = single("N_20240310_120000_2CH_F.avi", "GPRMC,040047.00,A,0120.0,N,10350.0,E,0,0,100324");
    EXPECT_EQ(clockSummary(slow), "UTC+08:00, 47 s slow (from 1 recording)");
    EXPECT_EQ(driftNote(slow), "camera clock 47 s slow");
    EXPECT_EQ(driftNote(single("N_20240310_120001_2CH_F.avi", "GPRMC,040000.00,A,0120.0,N,10350.0,E,0,0,100324")), "")
        << "a second is within what names and fixes can show";
    EXPECT_EQ(driftNote(single("N_20160101_000000_2CH_F.avi", "GPRMC,040000.00,A,0120.0,N,10350.0,E,0,0,100324")),
              "camera clock off UTC by 2991 days");

    std::vector<RecordingFixes> card;
    for (const char *name : {"N_20240310_120000_2CH_F.avi", "N_20160101_000000_2CH_F.avi", "N_20240310_120010_2CH_F.avi"}) {
        std::list<CQDRVGPSData> records(1);
        ParseGpsSentence(records.back(), 0, "GPRMC,040047.00,A,0120.0,N,10350.0,E,0,0,100324");
        card.push_back(*fixesOf(name, records));
    }
    EXPECT_EQ(clockSummary(checkClock(card)), "UTC+08:00, 42 s slow (from 2 recordings; 1 apart)");
    EXPECT_EQ(clockSummary(ClockCheck{}), "");
}

TEST(ClockCheck, NothingKnownWithoutAValidFix)
{
    std::list<CQDRVGPSData> records(1);
    ParseGpsSentence(records.back(), 0, "GPRMC,052233.00,V,,,,,,,");
    const auto fixes = fixesOf("N_20120305_142233_2CH_F.avi", records);
    ASSERT_TRUE(fixes.has_value());
    EXPECT_FALSE(checkClock({*fixes}).known());
    EXPECT_FALSE(fixesOf("N_20120231_142233_2CH_F.avi", records).has_value()) << "31 February is no camera time";
}

} // namespace
} // namespace korvante::clock
