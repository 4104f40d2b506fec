#pragma once
// The camera's settings file SETUP/setup.ini as the device settings editor
// shows it: the fifteen registered keys, the option groups that set them,
// the time-zone list and the one-shot clock and Wi-Fi requests.
//
// The file belongs to the camera and lives on its card: it is written only
// inside the card (a SETUP folder or settings file that is a symbolic link
// is refused), atomically (KeyValueFile::write), and a failed write is
// reported to the caller instead of being taken for success.
//
// Not thread-safe: one owner on the UI thread.

#include "core/config/key_value_file.h"

#include <array>
#include <optional>
#include <string>

namespace korvante {

// One option of a group: a 20 x 20 button at (x, y) whose caption is the
// option's text; selecting it sets `key` to `value`.
struct SettingOption {
    int number;
    const char *caption;
    int x, y;
    const char *key;
    int value;
};

inline constexpr int kSettingOptionCount = 27; // options 0 to 26
inline constexpr int kSettingSave = 27;
inline constexpr int kSettingClose = 28;
const std::array<SettingOption, kSettingOptionCount> &settingOptions();

// The 75 time-zone entries; an entry's position is its TIME_GMT_IDX.
inline constexpr int kTimeZoneCount = 75;
const std::array<const char *, kTimeZoneCount> &timeZoneNames();
// Hours east of GMT from the entry's leading "(GMT+hh:mm)", 0 for "(GMT)".
double timeZoneOffsetHours(const std::string &entry);
// "%.02f" of the offset: 5.75, -3.50, 9.00.
std::string formatTimeZoneOffset(double hours);

struct ClockValue {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
// Year 2016 to 2099, a real calendar day (leap years included), 00:00:00 to 23:59:59.
bool isValidClock(const ClockValue &clock);
// "%04d%02d%02d_%02d%02d%02d".
std::string formatManualTime(const ClockValue &clock);
// The six fields of a MANUAL_TIME value of that exact shape (whether or not
// they make a real date); nothing for any other text, such as the "0" of a
// file without a request.
std::optional<ClockValue> parseManualTime(const std::string &text);

// The settings file of the card whose root folder is `root` (a mount point,
// with or without a trailing "/"; a " (TAVO)" mark after it is ignored):
// <root>/SETUP/setup.ini. Empty for an empty root.
std::string settingsPathOfRoot(const std::string &root);

class CameraSettings final {
public:
    enum class SaveResult {
        Saved,
        BadClock,    // the clock request holds an impossible date or time; nothing written
        WriteFailed, // the file could not be written; the old one is as it was
    };

    // Registers the fifteen keys in their order. `path` may be empty (no card).
    explicit CameraSettings(std::string path);

    // Reads the file, creating it with every key at its default when it does
    // not exist, and selects the options of the values read. Values outside
    // a group's options, and a time-zone position outside the list, are
    // brought to the nearest end of the range. A file larger than
    // KeyValueFile::kMaxFileBytes is not read; unknown keys cost one
    // information line in the log. When the file can be neither read nor
    // created, the defaults are shown and problem() says why.
    void setUp();

    // A click on option `number` (0 to 26): its group's key takes its value.
    void selectOption(int number);
    // Whether option `number` is shown selected. The two power-shutdown rows
    // show the same place in both rows selected together.
    bool isSelected(int number) const;
    // The value `key` holds now (0 when it holds no number).
    int selectedValue(const char *key) const;

    int timeZoneIndex() const { return m_timeZoneIndex; }
    bool fileExisted() const { return m_existed; }
    const std::string &firmwareVersion() const { return m_firmware; }
    int existParkEvent() const { return m_existParkEvent; }
    // The requests the file held when read, which the camera has not carried
    // out yet: RESET_WIFI_EN=1, and a MANUAL_TIME clock value.
    bool pendingWifiReset() const { return m_pendingWifiReset; }
    const std::optional<ClockValue> &pendingClock() const { return m_pendingClock; }
    // Why the file could not be read or created at set-up, or why the last
    // save failed; empty otherwise.
    const std::string &problem() const { return m_problem; }
    const std::string &path() const { return m_path; }
    const KeyValueFile &file() const { return m_file; }

    // Sets the time zone, the Wi-Fi request, the clock request (when given),
    // keeps FW_VERSION and EXIST_PARKEVT as read, and writes the file.
    SaveResult save(int timeZoneIndex, bool resetWifi, const std::optional<ClockValue> &clock);

private:
    bool setText(const char *key, const std::string &text);
    // An empty reason when the file may be read and written here.
    std::string unsafeReason() const;

    std::string m_path;
    KeyValueFile m_file;
    std::array<int, kSettingOptionCount> m_shown{}; // 1: drawn selected
    int m_timeZoneIndex = 0;
    bool m_existed = false;
    std::string m_firmware;
    int m_existParkEvent = 0;
    bool m_pendingWifiReset = false;
    std::optional<ClockValue> m_pendingClock;
    std::string m_problem;
};

} // namespace korvante
