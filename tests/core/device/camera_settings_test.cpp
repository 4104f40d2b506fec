#include "core/device/camera_settings.h"

#include "support/log_capture.h"
#include "support/temp_dir.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <clocale>
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

// The desktop's locale for one scope: the C library's and Qt's default.
class LocaleScope final {
public:
    explicit LocaleScope(const char *name)
        : m_previous(std::setlocale(LC_ALL, nullptr)), m_previousQt(QLocale())
    {
        m_ok = std::setlocale(LC_ALL, name) != nullptr;
        QLocale::setDefault(QLocale(QString::fromLatin1(name).section(QLatin1Char('.'), 0, 0)));
    }
    ~LocaleScope()
    {
        std::setlocale(LC_ALL, m_previous.c_str());
        QLocale::setDefault(m_previousQt);
    }
    bool ok() const { return m_ok; }

private:
    std::string m_previous;
    QLocale m_previousQt;
    bool m_ok = false;
};

TEST_F(CameraSettingsTest, SavingWritesTheRequestsAndKeepsWhatTheCameraMarked)
{
    // The camera's firmware text, longer than a 127-character line.
    const std::string firmware = "V1.2.3-" + std::string(150, 'b');
    const std::string old = "FOO=1\r\nMANUAL_TIME=20200101_000000\r\nFW_VERSION=" + firmware + "\r\nEXIST_PARKEVT=";
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
          "FW_VERSION=" + firmware + "\r\nEXIST_PARKEVT=1\r\n"},
         {"FOO"}},
        {0, 49, false, std::nullopt, {"TIME_EXP_GMT=5.75", "RESET_WIFI_EN=0", "FW_VERSION=" + firmware + "\r\n"},
         {"MANUAL_TIME", "EXIST_PARKEVT", "FOO"}},
        {0, 62, false, ClockValue{2030, 12, 31, 0, 0, 0}, {"TIME_EXP_GMT=9.00", "MANUAL_TIME=20301231_000000"}, {}},
        {0, 25, false, std::nullopt, {"TIME_EXP_GMT=0.00\r\nTIME_GMT_IDX=25"}, {}},
    };
    // The camera reads a decimal point, whatever the desktop's locale.
    for (const char *locale : {"C.UTF-8", "de_DE.UTF-8"}) {
        LocaleScope scope(locale);
        ASSERT_TRUE(scope.ok()) << locale << " is not installed (scripts/setup generates it)";
        for (const auto &c : cases) {
            SCOPED_TRACE(std::string(locale) + " zone " + std::to_string(c.zone));
            const std::string path = card(old + std::to_string(c.parkEvent) + "\r\n");
            CameraSettings settings(path);
            settings.setUp();
            EXPECT_EQ(settings.firmwareVersion(), firmware);
            settings.selectOption(20); // Power shutdown 24.2V
            ASSERT_EQ(settings.save(c.zone, c.wifi, c.clock), CameraSettings::SaveResult::Saved)
                << settings.problem();
            const std::string written = readAll(path);
            EXPECT_EQ(written.rfind("SENSOR_GY_STV=1\r\n", 0), 0u) << written;
            EXPECT_NE(written.find("VOLTAGE_CUTOFF_LV=6\r\n"), std::string::npos);
            for (const auto &text : c.present)
                EXPECT_NE(written.find(text), std::string::npos) << text << " in\n" << written;
            for (const auto &text : c.absent)
                EXPECT_EQ(written.find(text), std::string::npos) << text << " in\n" << written;

            CameraSettings reread(path);
            reread.setUp();
            EXPECT_EQ(reread.timeZoneIndex(), c.zone);
            EXPECT_EQ(reread.selectedValue("VOLTAGE_CUTOFF_LV"), 6);
            EXPECT_EQ(reread.pendingWifiReset(), c.wifi);
            EXPECT_EQ(reread.pendingClock().has_value(), c.clock.has_value());
            EXPECT_EQ(readAll(path), written);
        }
    }
}

TEST_F(CameraSettingsTest, PendingRequestsAreReadAndOddFilesAreReportedOnce)
{
    struct Case {
        std::string ini;
        bool wifi;
        std::optional<ClockValue> clock;
        std::string problem, logLine; // expected in problem() and in the log ("" for none)
    };
    std::string unknown;
    for (int i = 0; i < 3412; ++i)
        unknown += "K" + std::to_string(i) + "=1\n";
    const Case cases[] = {
        {"RESET_WIFI_EN=1\r\nMANUAL_TIME=20240229_130509\r\n", true, ClockValue{2024, 2, 29, 13, 5, 9}, "", ""},
        {"RESET_WIFI_EN=0\r\nMANUAL_TIME=0\r\n", false, std::nullopt, "", ""},
        {"RESET_WIFI_EN=2\r\nMANUAL_TIME=2024022913050\r\n", false, std::nullopt, "", ""},
        {"MANUAL_TIME=20150230_250000\r\n", false, ClockValue{2015, 2, 30, 25, 0, 0}, "", ""}, // save will refuse it
        {unknown, false, std::nullopt, "", "setup.ini: 3412 unknown keys ignored"},
        {"RESET_WIFI_EN=1\r\n" + std::string(KeyValueFile::kMaxFileBytes, '#'), false, std::nullopt,
         "setup.ini is 65553 bytes long, and a camera's settings file is never over 64 KB", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.ini.substr(0, 40));
        testing::LogCapture log;
        const std::string path = card(c.ini);
        CameraSettings settings(path);
        ::testing::internal::CaptureStdout();
        settings.setUp();
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(settings.pendingWifiReset(), c.wifi);
        ASSERT_EQ(settings.pendingClock().has_value(), c.clock.has_value());
        if (c.clock) {
            EXPECT_EQ(formatManualTime(*settings.pendingClock()), formatManualTime(*c.clock));
        }
        EXPECT_EQ(settings.problem().empty(), c.problem.empty()) << settings.problem();
        EXPECT_NE(settings.problem().find(c.problem), std::string::npos) << settings.problem();
        EXPECT_EQ(log.lines().size(), c.logLine.empty() ? 0u : 1u);
        if (!c.logLine.empty()) {
            EXPECT_TRUE(log.contains(c.logLine));
        }
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
