#include "core/device/camera_settings.h"

#include "core/platform/log.h"

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace korvante {

namespace {

struct KeySpec {
    const char *name;
    int defaultValue;
    int upperBound;
};

// Registration order is also the order of the lines in a written file.
constexpr KeySpec kKeys[] = {
    {"SENSOR_GY_STV", 1, 2},   {"VOICE_GUIDE_ON", 1, 1},  {"VOICE_REC_ON", 1, 1},
    {"VOLTAGE_CUTOFF_LV", 2, 3}, {"LED_PARKING_ON", 1, 1}, {"TIME_EXP_GMT", 8, 13},
    {"TIME_GMT_IDX", 57, 74},  {"PARK_ON", 1, 1},         {"AUDIO_VOLUME_LV", 1, 2},
    {"PARK_STORAGE", 1, 2},    {"RESET_WIFI_EN", 0, 1},   {"RESET_TIME", 0, 1},
    {"MANUAL_TIME", 0, 0},     {"FW_VERSION", 0, 0},      {"EXIST_PARKEVT", 0, 1},
};

constexpr std::array<SettingOption, kSettingOptionCount> kOptions{{
    {0, "G Sensor Sensitivity high", 70, 110, "SENSOR_GY_STV", 0},
    {1, "G Sensor Sensitivity middle", 200, 110, "SENSOR_GY_STV", 1},
    {2, "G Sensor Sensitivity low", 330, 110, "SENSOR_GY_STV", 2},
    {3, "Voice Guide OFF", 200, 311, "VOICE_GUIDE_ON", 0},
    {4, "Voice Guide ON", 70, 311, "VOICE_GUIDE_ON", 1},
    {5, "Vioce Recording OFF", 485, 311, "VOICE_REC_ON", 0},
    {6, "Vioce Recording ON", 355, 311, "VOICE_REC_ON", 1},
    {7, "Parking LED OFF", 775, 311, "LED_PARKING_ON", 0},
    {8, "Parking LED ON", 645, 311, "LED_PARKING_ON", 1},
    {9, "Parking Mode OFF", 485, 403, "PARK_ON", 0},
    {10, "Parking Mode ON", 355, 403, "PARK_ON", 1},
    {11, "Park storage 15 percent", 70, 214, "PARK_STORAGE", 0},
    {12, "Park storage 30 percent", 200, 214, "PARK_STORAGE", 1},
    {13, "Park storage 50 percent", 330, 214, "PARK_STORAGE", 2},
    {14, "Power shutdown 11.8V", 70, 507, "VOLTAGE_CUTOFF_LV", 0},
    {15, "Power shutdown 12.0", 202, 507, "VOLTAGE_CUTOFF_LV", 1},
    {16, "Power shutdown 12.2", 342, 507, "VOLTAGE_CUTOFF_LV", 2},
    {17, "Power shutdown 12.5", 484, 507, "VOLTAGE_CUTOFF_LV", 3},
    {18, "Power shutdown 23.8V", 70, 552, "VOLTAGE_CUTOFF_LV", 4},
    {19, "Power shutdown 24.0V", 202, 552, "VOLTAGE_CUTOFF_LV", 5},
    {20, "Power shutdown 24.2V", 342, 552, "VOLTAGE_CUTOFF_LV", 6},
    {21, "Power shutdown 24.5V", 484, 552, "VOLTAGE_CUTOFF_LV", 7},
    {22, "Audio volume high", 498, 110, "AUDIO_VOLUME_LV", 2},
    {23, "Audio volume middle", 627, 110, "AUDIO_VOLUME_LV", 1},
    {24, "Audio volume low", 757, 110, "AUDIO_VOLUME_LV", 0},
    {25, "Auto Reset OFF", 200, 403, "RESET_TIME", 0},
    {26, "Auto Reset ON", 70, 403, "RESET_TIME", 1},
}};

constexpr std::array<const char *, kTimeZoneCount> kTimeZones{{
    "(GMT-12:00) International Date Line West",
    "(GMT-11:00) Midway Island, Samoa",
    "(GMT-10:00) Hawaii",
    "(GMT-09:00) Alaska",
    "(GMT-08:00) Pacific Time (US and Canada), Tijuana",
    "(GMT-07:00) Mountain Time (US and Canada)",
    "(GMT-07:00) Chihuahua, La Paz, Mazatlan",
    "(GMT-07:00) Arizona",
    "(GMT-06:00) Central Time (US and Canada",
    "(GMT-06:00) Saskatchewan",
    "(GMT-06:00) Guadalajara, Mexico City, Monterrey",
    "(GMT-06:00) Central America",
    "(GMT-05:00) Eastern Time (US and Canada)",
    "(GMT-05:00) Indiana (East)",
    "(GMT-05:00) Bogota, Lima, Quito",
    "(GMT-04:00) Atlantic Time (Canada)",
    "(GMT-04:00) Caracas, La Paz",
    "(GMT-04:00) Santiago",
    "(GMT-03:30) Newfoundland and Labrador",
    "(GMT-03:00) Brasilia",
    "(GMT-03:00) Buenos Aires, Georgetown",
    "(GMT-03:00) Greenland",
    "(GMT-02:00) Mid-Atlantic",
    "(GMT-01:00) Azores",
    "(GMT-01:00) Cape Verde Islands",
    "(GMT) Greenwich Mean Time: Dublin, Edinburgh, Lisbon, London",
    "(GMT) Casablanca, Monrovia",
    "(GMT+01:00) Belgrade, Bratislava, Budapest, Ljubljana, Prague",
    "(GMT+01:00) Sarajevo, Skopje, Warsaw, Zagreb",
    "(GMT+01:00) Brussels, Copenhagen, Madrid, Paris",
    "(GMT+01:00) Amsterdam, Berlin, Bern, Rome, Stockholm, Vienna",
    "(GMT+01:00) West Central Africa",
    "(GMT+02:00) Bucharest",
    "(GMT+02:00) Cairo",
    "(GMT+02:00) Helsinki, Kiev, Riga, Sofia, Tallinn, Vilnius",
    "(GMT+02:00) Athens, Istanbul, Minsk",
    "(GMT+02:00) Jerusalem",
    "(GMT+02:00) Harare, Pretoria",
    "(GMT+03:00) Moscow, St. Petersburg, Volgograd",
    "(GMT+03:00) Kuwait, Riyadh",
    "(GMT+03:00) Nairobi",
    "(GMT+03:00) Baghdad",
    "(GMT+03:30) Tehran",
    "(GMT+04:00) Abu Dhabi, Muscat",
    "(GMT+04:00) Baku, Tbilisi, Yerevan",
    "(GMT+04:30) Kabul",
    "(GMT+05:00) Ekaterinburg",
    "(GMT+05:00) Islamabad, Karachi, Tashkent",
    "(GMT+05:30) Chennai, Kolkata, Mumbai, New Delhi",
    "(GMT+05:45) Kathmandu",
    "(GMT+06:00) Astana, Dhaka",
    "(GMT+06:00) Sri Jayawardenepura",
    "(GMT+06:00) Almaty, Novosibirsk",
    "(GMT+06:30) Yangon Rangoon",
    "(GMT+07:00) Bangkok, Hanoi, Jakarta",
    "(GMT+07:00) Krasnoyarsk",
    "(GMT+08:00) Beijing, Chongqing, Hong Kong SAR, Urumqi",
    "(GMT+08:00) Kuala Lumpur, Singapore",
    "(GMT+08:00) Taipei",
    "(GMT+08:00) Perth",
    "(GMT+08:00) Irkutsk, Ulaanbaatar",
    "(GMT+09:00) Seoul",
    "(GMT+09:00) Osaka, Sapporo, Tokyo",
    "(GMT+09:00) Yakutsk",
    "(GMT+09:30) Darwin",
    "(GMT+09:30) Adelaide",
    "(GMT+10:00) Canberra, Melbourne, Sydney",
    "(GMT+10:00) Brisbane",
    "(GMT+10:00) Hobart",
    "(GMT+10:00) Vladivostok",
    "(GMT+10:00) Guam, Port Moresby",
    "(GMT+11:00) Magadan, Solomon Islands, New Caledonia",
    "(GMT+12:00) Fiji Islands, Kamchatka, Marshall Islands",
    "(GMT+12:00) Auckland, Wellington",
    "(GMT+13:00) Nuku'alofa",
}};

// The option values a group offers: 0 to the largest value of its options.
int largestValueOf(const char *key)
{
    int largest = 0;
    for (const auto &option : kOptions)
        if (std::strcmp(option.key, key) == 0)
            largest = std::max(largest, option.value);
    return largest;
}

int optionNumberFor(const char *key, int value)
{
    for (const auto &option : kOptions)
        if (std::strcmp(option.key, key) == 0 && option.value == value)
            return option.number;
    return -1;
}

bool isLink(const std::string &path, bool *exists, mode_t *mode)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        *exists = false;
        return false;
    }
    *exists = true;
    *mode = st.st_mode;
    return S_ISLNK(st.st_mode);
}

} // namespace

const std::array<SettingOption, kSettingOptionCount> &settingOptions() { return kOptions; }

const std::array<const char *, kTimeZoneCount> &timeZoneNames() { return kTimeZones; }

double timeZoneOffsetHours(const std::string &entry)
{
    int hours = 0, minutes = 0;
    char sign = 0;
    if (std::sscanf(entry.c_str(), "(GMT%c%d:%d)", &sign, &hours, &minutes) != 3 || (sign != '+' && sign != '-'))
        return 0.0;
    const double offset = hours + minutes / 60.0;
    return sign == '-' ? -offset : offset;
}

std::string formatTimeZoneOffset(double hours)
{
    // The camera reads a decimal point: the desktop's locale (a decimal comma
    // under de_DE) must not reach this number, which printf's "%.2f" lets it.
    char text[32];
    const auto [end, error] = std::to_chars(text, text + sizeof text, hours, std::chars_format::fixed, 2);
    if (error != std::errc())
        return "0.00"; // not reached: every offset is a few hours
    return std::string(text, end);
}

bool isValidClock(const ClockValue &c)
{
    if (c.year < 2016 || c.year > 2099 || c.month < 1 || c.month > 12)
        return false;
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (c.year % 4 == 0 && c.year % 100 != 0) || c.year % 400 == 0;
    const int days = c.month == 2 && leap ? 29 : kDays[c.month - 1];
    return c.day >= 1 && c.day <= days && c.hour >= 0 && c.hour <= 23 && c.minute >= 0 && c.minute <= 59
           && c.second >= 0 && c.second <= 59;
}

std::string formatManualTime(const ClockValue &c)
{
    char text[64];
    std::snprintf(text, sizeof text, "%04d%02d%02d_%02d%02d%02d", c.year, c.month, c.day, c.hour, c.minute,
                  c.second);
    return text;
}

std::optional<ClockValue> parseManualTime(const std::string &text)
{
    if (text.size() != 15 || text[8] != '_')
        return std::nullopt;
    for (size_t i = 0; i < text.size(); ++i)
        if (i != 8 && (text[i] < '0' || text[i] > '9'))
            return std::nullopt;
    const auto field = [&text](size_t at, size_t length) {
        int value = 0;
        for (size_t i = at; i < at + length; ++i)
            value = value * 10 + (text[i] - '0');
        return value;
    };
    return ClockValue{field(0, 4), field(4, 2), field(6, 2), field(9, 2), field(11, 2), field(13, 2)};
}

std::string settingsPathOfRoot(const std::string &rootIn)
{
    std::string root = rootIn;
    static const std::string tavoMark = " (TAVO)";
    if (root.size() >= tavoMark.size() && root.compare(root.size() - tavoMark.size(), tavoMark.size(), tavoMark) == 0)
        root.erase(root.size() - tavoMark.size());
    if (root.empty())
        return {};
    if (root.back() != '/')
        root += '/';
    return root + "SETUP/setup.ini";
}

CameraSettings::CameraSettings(std::string path) : m_path(std::move(path))
{
    for (const auto &key : kKeys)
        m_file.registerInteger(key.name, key.defaultValue, key.upperBound);
}

std::string CameraSettings::unsafeReason() const
{
    if (m_path.empty())
        return "no card is selected";
    // The editor writes the camera's file on its card and nowhere else: a
    // link could take the write (or the read) to any file of the computer.
    const std::string folder = m_path.substr(0, m_path.rfind('/'));
    bool exists = false;
    mode_t mode = 0;
    if (isLink(folder, &exists, &mode))
        return folder + " is a symbolic link; the settings are only kept on the card itself";
    if (exists && !S_ISDIR(mode))
        return folder + " is not a folder";
    if (isLink(m_path, &exists, &mode))
        return m_path + " is a symbolic link; the settings are only kept on the card itself";
    if (exists && !S_ISREG(mode))
        return m_path + " is not a regular file";
    return {};
}

void CameraSettings::setUp()
{
    m_problem = unsafeReason();
    bool readOk = false;
    if (m_problem.empty()) {
        struct stat st {};
        m_existed = ::stat(m_path.c_str(), &st) == 0;
        readOk = m_file.read(m_path);
        if (!readOk && m_existed) {
            m_problem = errno == EFBIG ? m_path + " is " + std::to_string(st.st_size)
                                             + " bytes long, and a camera's settings file is never over 64 KB"
                                       : "cannot read " + m_path + ": " + std::strerror(errno);
        }
        if (readOk && m_file.unknownKeys() > 0)
            logInfo(m_path + ": " + std::to_string(m_file.unknownKeys())
                    + (m_file.unknownKeys() == 1 ? " unknown key ignored" : " unknown keys ignored"));
    }
    if (!readOk) {
        // Nothing read: the working values would all be empty (option 0 of
        // every group); the camera's own defaults are the truer picture.
        for (size_t i = 0; i < m_file.items().size(); ++i)
            m_file.setTextAt(i, m_file.items()[i].storedValue);
    }

    for (const char *key : {"SENSOR_GY_STV", "VOICE_GUIDE_ON", "VOICE_REC_ON", "LED_PARKING_ON", "PARK_ON",
                            "PARK_STORAGE"})
        selectOption(optionNumberFor(key, std::clamp(selectedValue(key), 0, largestValueOf(key))));
    int32_t zone = 0;
    m_file.getInteger("TIME_GMT_IDX", zone);
    m_timeZoneIndex = std::clamp(zone, 0, kTimeZoneCount - 1);
    for (const char *key : {"VOLTAGE_CUTOFF_LV", "AUDIO_VOLUME_LV", "RESET_TIME"})
        selectOption(optionNumberFor(key, std::clamp(selectedValue(key), 0, largestValueOf(key))));

    // One-shot requests a save left for the camera, not applied yet: shown as
    // asked, so that saving again keeps them.
    m_pendingWifiReset = readOk && selectedValue("RESET_WIFI_EN") == 1;
    std::string manualTime;
    if (readOk && m_file.getText("MANUAL_TIME", manualTime))
        m_pendingClock = parseManualTime(manualTime);

    m_file.getText("FW_VERSION", m_firmware);
    int32_t parkEvent = 0;
    m_file.getInteger("EXIST_PARKEVT", parkEvent);
    m_existParkEvent = parkEvent;

    // A card without the file gets one with every key at its default. A file
    // that exists but cannot be read is left alone.
    // A card without a SETUP folder (freshly formatted) gets both when the
    // user saves.
    struct stat folder {};
    const bool hasFolder = ::stat(m_path.substr(0, m_path.rfind('/')).c_str(), &folder) == 0;
    if (m_problem.empty() && !m_existed && hasFolder) {
        if (!m_file.write(m_path)) {
            m_problem = "cannot create " + m_path + ": " + std::strerror(errno);
            logWarning(m_problem);
        }
    }
}

int CameraSettings::selectedValue(const char *key) const
{
    int32_t value = 0;
    m_file.getInteger(key, value);
    return value;
}

void CameraSettings::selectOption(int number)
{
    if (number < 0 || number >= kSettingOptionCount)
        return;
    const SettingOption &chosen = kOptions[static_cast<size_t>(number)];
    const bool voltage = std::strcmp(chosen.key, "VOLTAGE_CUTOFF_LV") == 0;
    for (const auto &option : kOptions) {
        if (std::strcmp(option.key, chosen.key) != 0)
            continue;
        // The 12-volt and 24-volt rows show the same place selected together.
        const bool same = voltage ? option.value % 4 == chosen.value % 4 : option.number == chosen.number;
        m_shown[static_cast<size_t>(option.number)] = same ? 1 : 0;
    }
    size_t position = 0;
    if (m_file.find(chosen.key, &position))
        m_file.setIntegerAt(position, chosen.value);
}

bool CameraSettings::isSelected(int number) const
{
    return number >= 0 && number < kSettingOptionCount && m_shown[static_cast<size_t>(number)] != 0;
}

bool CameraSettings::setText(const char *key, const std::string &text)
{
    size_t position = 0;
    return m_file.find(key, &position) && m_file.setTextAt(position, text);
}

CameraSettings::SaveResult CameraSettings::save(int timeZoneIndex, bool resetWifi,
                                                const std::optional<ClockValue> &clock)
{
    const int zone = std::clamp(timeZoneIndex, 0, kTimeZoneCount - 1);
    setText("TIME_EXP_GMT", formatTimeZoneOffset(timeZoneOffsetHours(kTimeZones[static_cast<size_t>(zone)])));
    setText("TIME_GMT_IDX", std::to_string(zone));
    setText("RESET_WIFI_EN", resetWifi ? "1" : "0");
    if (clock) {
        if (!isValidClock(*clock))
            return SaveResult::BadClock;
        setText("MANUAL_TIME", formatManualTime(*clock));
    } else {
        m_file.remove("MANUAL_TIME");
    }
    setText("FW_VERSION", m_firmware);
    if (m_existParkEvent == 1)
        setText("EXIST_PARKEVT", "1");
    else
        m_file.remove("EXIST_PARKEVT");

    m_problem = unsafeReason();
    if (!m_problem.empty())
        return SaveResult::WriteFailed;
    // The camera keeps the file in SETUP; a card without that folder gets it
    // now that the user asked for the settings to be saved.
    const std::string folder = m_path.substr(0, m_path.rfind('/'));
    if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
        m_problem = "cannot create " + folder + ": " + std::strerror(errno);
        return SaveResult::WriteFailed;
    }
    errno = 0;
    if (!m_file.write(m_path)) {
        const int error = errno;
        m_problem = "cannot write " + m_path + (error ? ": " + std::string(std::strerror(error)) : std::string());
        return SaveResult::WriteFailed;
    }
    return SaveResult::Saved;
}

} // namespace korvante
