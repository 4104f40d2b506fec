#include "core/device/camera_settings.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace korvante {
namespace {

using testing::TempDir;
namespace fs = std::filesystem;

std::string readAll(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

class CameraSettingsTest : public ::testing::Test {
protected:
    std::string card(const std::string &ini)
    {
        fs::create_directories(dir.path() / "SETUP");
        if (!ini.empty())
            dir.write("SETUP/setup.ini", ini);
        return settingsPathOfRoot(dir.path().string() + " (TAVO)");
    }
    TempDir dir;
};

TEST_F(CameraSettingsTest, CardWithoutTheFileGetsEveryKeyAtItsDefault)
{
    const std::string path = card("");
    CameraSettings settings(path);
    settings.setUp();
    EXPECT_FALSE(settings.fileExisted());
    EXPECT_EQ(readAll(path), "SENSOR_GY_STV=1\r\nVOICE_GUIDE_ON=1\r\nVOICE_REC_ON=1\r\nVOLTAGE_CUTOFF_LV=2\r\n"
                             "LED_PARKING_ON=1\r\nTIME_EXP_GMT=8\r\nTIME_GMT_IDX=57\r\nPARK_ON=1\r\n"
                             "AUDIO_VOLUME_LV=1\r\nPARK_STORAGE=1\r\nRESET_WIFI_EN=0\r\nRESET_TIME=0\r\n"
                             "MANUAL_TIME=0\r\nFW_VERSION=0\r\nEXIST_PARKEVT=0\r\n");
    EXPECT_STREQ(timeZoneNames()[static_cast<size_t>(settings.timeZoneIndex())],
                 "(GMT+08:00) Kuala Lumpur, Singapore");
    for (int option : {1, 4, 6, 8, 10, 12, 16, 20, 23, 25})
        EXPECT_TRUE(settings.isSelected(option)) << option;
    EXPECT_TRUE(settings.problem().empty());

    // A freshly formatted card has no SETUP folder: nothing is made until Save.
    fs::remove_all(dir.path() / "SETUP");
    CameraSettings fresh(path);
    fresh.setUp();
    EXPECT_TRUE(fresh.problem().empty());
    EXPECT_FALSE(fs::exists(dir.path() / "SETUP"));
    ASSERT_EQ(fresh.save(57, false, std::nullopt), CameraSettings::SaveResult::Saved) << fresh.problem();
    EXPECT_EQ(readAll(path).rfind("SENSOR_GY_STV=1\r\n", 0), 0u);
}

TEST_F(CameraSettingsTest, ValuesSelectTheirOptionsAndOutOfRangeValuesAreBroughtIntoRange)
{
    struct Case {
        const char *line;
        std::vector<int> selected;   // shown selected in the value's group
        const char *key;
        int value;                   // the working value after set-up
        int timeZone;
    };
    const Case cases[] = {
        {"SENSOR_GY_STV=7", {2}, "SENSOR_GY_STV", 2, 57},
        {"SENSOR_GY_STV=-3", {0}, "SENSOR_GY_STV", 0, 57},
        {"VOLTAGE_CUTOFF_LV=6", {16, 20}, "VOLTAGE_CUTOFF_LV", 6, 57},
        {"VOLTAGE_CUTOFF_LV=1", {15, 19}, "VOLTAGE_CUTOFF_LV", 1, 57},
        {"VOLTAGE_CUTOFF_LV=12", {17, 21}, "VOLTAGE_CUTOFF_LV", 7, 57},
        {"AUDIO_VOLUME_LV=0", {24}, "AUDIO_VOLUME_LV", 0, 57},
        {"PARK_STORAGE=2", {13}, "PARK_STORAGE", 2, 57},
        {"TIME_GMT_IDX=80", {}, "TIME_GMT_IDX", 80, 74},
        {"TIME_GMT_IDX=-1", {}, "TIME_GMT_IDX", -1, 0},
        {"TIME_GMT_IDX=49", {}, "TIME_GMT_IDX", 49, 49},
    };
    for (const auto &c : cases) {
        CameraSettings settings(card(std::string(c.line) + "\r\n"));
        settings.setUp();
        EXPECT_TRUE(settings.fileExisted());
        int shown = 0;
        for (int number = 0; number < kSettingOptionCount; ++number)
            if (std::string(settingOptions()[static_cast<size_t>(number)].key) == c.key && settings.isSelected(number))
                ++shown;
        for (int number : c.selected)
            EXPECT_TRUE(settings.isSelected(number)) << c.line << " option " << number;
        EXPECT_EQ(shown, static_cast<int>(c.selected.size())) << c.line;
        EXPECT_EQ(settings.selectedValue(c.key), c.value) << c.line;
        EXPECT_EQ(settings.timeZoneIndex(), c.timeZone) << c.line;
    }
}

TEST_F(CameraSettingsTest, SavingWritesTheRequestsAndKeepsWhatTheCameraMarked)
{
    const std::string old = "FOO=1\r\nMANUAL_TIME=20200101_000000\r\nFW_VERSION=V1.2.3\r\nEXIST_PARKEVT=%d\r\n";
    struct Case {
        int parkEvent;
        int zone;
        bool wifi;
        std::optional<ClockValue> clock;
        std::vector<std::string> present, absent;
    };
    const Case cases[] = {
        {1, 18, true, ClockValue{2024, 2, 29, 13, 5, 9},
         {"TIME_EXP_GMT=-3.50\r\nTIME_GMT_IDX=18\r\n", "RESET_WIFI_EN=1", "MANUAL_TIME=20240229_130509\r\n",
          "FW_VERSION=V1.2.3\r\nEXIST_PARKEVT=1\r\n"},
         {"FOO"}},
        {0, 49, false, std::nullopt, {"TIME_EXP_GMT=5.75", "RESET_WIFI_EN=0", "FW_VERSION=V1.2.3\r\n"},
         {"MANUAL_TIME", "EXIST_PARKEVT", "FOO"}},
        {0, 62, false, ClockValue{2030, 12, 31, 0, 0, 0}, {"TIME_EXP_GMT=9.00", "MANUAL_TIME=20301231_000000"}, {}},
        {0, 25, false, std::nullopt, {"TIME_EXP_GMT=0.00\r\nTIME_GMT_IDX=25"}, {}},
    };
    for (const auto &c : cases) {
        char text[128];
        std::snprintf(text, sizeof text, old.c_str(), c.parkEvent);
        const std::string path = card(text);
        CameraSettings settings(path);
        settings.setUp();
        settings.selectOption(20); // Power shutdown 24.2V
        ASSERT_EQ(settings.save(c.zone, c.wifi, c.clock), CameraSettings::SaveResult::Saved) << settings.problem();
        const std::string written = readAll(path);
        EXPECT_EQ(written.rfind("SENSOR_GY_STV=1\r\n", 0), 0u) << written;
        EXPECT_NE(written.find("VOLTAGE_CUTOFF_LV=6\r\n"), std::string::npos);
        for (const auto &text : c.present)
            EXPECT_NE(written.find(text), std::string::npos) << text << " in\n" << written;
        for (const auto &text : c.absent)
            EXPECT_EQ(written.find(text), std::string::npos) << text << " in\n" << written;
    }
}

TEST_F(CameraSettingsTest, AnImpossibleClockLeavesTheFileAsItWas)
{
    const std::string original = "SENSOR_GY_STV=0\r\nMANUAL_TIME=20200101_000000\r\n";
    struct Case {
        ClockValue clock;
        CameraSettings::SaveResult result;
    };
    const Case cases[] = {
        {{2023, 2, 29, 13, 5, 9}, CameraSettings::SaveResult::BadClock},
        {{2100, 1, 1, 0, 0, 0}, CameraSettings::SaveResult::BadClock},
        {{2024, 4, 31, 0, 0, 0}, CameraSettings::SaveResult::BadClock},
        {{2024, 1, 1, 24, 0, 0}, CameraSettings::SaveResult::BadClock},
        {{2024, 1, 1, 23, 60, 0}, CameraSettings::SaveResult::BadClock},
        {{2000, 2, 29, 0, 0, 0}, CameraSettings::SaveResult::BadClock},
    };
    for (const auto &c : cases) {
        const std::string path = card(original);
        CameraSettings settings(path);
        settings.setUp();
        EXPECT_EQ(settings.save(3, true, c.clock), c.result) << formatManualTime(c.clock);
        EXPECT_EQ(readAll(path), original);
    }
    EXPECT_TRUE(isValidClock({2016, 1, 1, 0, 0, 0}));
    EXPECT_TRUE(isValidClock({2096, 2, 29, 23, 59, 59}));
}

TEST_F(CameraSettingsTest, LinksOutOfTheCardAreNeitherReadNorWritten)
{
    TempDir outside;
    const std::string secret = outside.write("setup.ini", "SENSOR_GY_STV=2\r\n");
    for (bool linkFolder : {true, false}) {
        fs::remove_all(dir.path() / "SETUP");
        if (linkFolder) {
            fs::create_directory_symlink(outside.path(), dir.path() / "SETUP");
        } else {
            fs::create_directories(dir.path() / "SETUP");
            fs::create_symlink(secret, dir.path() / "SETUP/setup.ini");
        }
        CameraSettings settings(settingsPathOfRoot(dir.path().string()));
        settings.setUp();
        EXPECT_NE(settings.problem().find("symbolic link"), std::string::npos);
        EXPECT_EQ(settings.selectedValue("SENSOR_GY_STV"), 1) << "the defaults are shown";
        EXPECT_EQ(settings.save(0, false, std::nullopt), CameraSettings::SaveResult::WriteFailed);
        EXPECT_EQ(readAll(secret), "SENSOR_GY_STV=2\r\n");
        EXPECT_EQ(std::distance(fs::directory_iterator(outside.path()), fs::directory_iterator()), 1);
    }
}

TEST(TimeZones, OffsetsComeFromTheEntriesBracket)
{
    const std::pair<int, const char *> cases[] = {{0, "-12.00"}, {18, "-3.50"}, {25, "0.00"}, {26, "0.00"},
                                                  {42, "3.50"},  {49, "5.75"},  {74, "13.00"}};
    for (const auto &[index, text] : cases)
        EXPECT_EQ(formatTimeZoneOffset(timeZoneOffsetHours(timeZoneNames()[static_cast<size_t>(index)])), text)
            << index;
}

} // namespace
} // namespace korvante
