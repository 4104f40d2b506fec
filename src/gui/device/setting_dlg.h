#pragma once
// The device settings editor: a modal 907 x 803 dialog over skin image 157
// (magenta keyed out) that shows the camera's SETUP/setup.ini of the chosen
// card as option groups, a time-zone list, the clock edits and the two
// one-shot requests (set the clock, reset Wi-Fi), and writes the file back on
// Save. Every option is a skinned button whose click reaches the dialog as
// message 2024 with its number (27 Save, 28 Close).
//
// A save that cannot write the file says so (the old file stays as it was)
// and the dialog closes; an impossible clock keeps it open.
//
// The dialog is a window of its own above the viewer (the main window and
// its panels are disabled while it runs), centred on `owner`'s window and
// dragged by any point of its body.
//
// Ownership: owns its controls and its settings model. UI thread only.

#include "core/clock/clock_check.h"
#include "core/device/camera_settings.h"
#include "core/storage/recording_entry.h"
#include "gui/platform/body_drag.h"
#include "gui/platform/message_window.h"

#include <QPointer>

#include <array>
#include <optional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace korvante {

class CSkinButton;
class CSkinComboBox;
namespace clock {
class CardClockTask;
}

class CSettingDlg final : public PanelDialog {
    Q_OBJECT
public:
    static constexpr QSize kSize{907, 803};
    static constexpr int kBackgroundImage = 157;
    static constexpr int kFirstClockEdit = 1019; // 1019 ... 1024: year ... second
    static constexpr int kClockCheck = 1025;
    static constexpr int kWifiCheck = 1028;
    static constexpr int kTimeZoneList = 1032;

    // `cardRoot` is the chosen source's label (its root folder, possibly
    // marked " (TAVO)"); empty when there is no card: nothing is read or written.
    CSettingDlg(QWidget *owner, const std::string &cardRoot);
    // The dialog for the chosen storage source; it also checks the camera's
    // clock against the GPS time of the card's recordings, in the background
    // (clock::CardClockTask reads the newest ones), and offers "Set from GPS".
    CSettingDlg(QWidget *owner, const StorageSource &source);
    ~CSettingDlg() override;

    CameraSettings &settings() { return m_settings; }
    CSkinButton *optionButton(int number) const;
    QLineEdit *clockEdit(int index) const { return m_clock[static_cast<size_t>(index)]; }
    QCheckBox *clockCheck() const { return m_setClock; }
    QCheckBox *wifiCheck() const { return m_resetWifi; }
    CSkinComboBox *timeZoneList() const { return m_timeZones; }
    // "Camera clock: UTC+08:00, 47 s slow (from 37 recordings)"; hidden
    // while nothing is known of the clock.
    QLabel *clockLine() const { return m_clockLine; }
    QPushButton *setFromGpsButton() const { return m_setFromGps; }
    // The clock check of the card, once its background read has finished.
    const std::optional<clock::ClockCheck> &cameraClock() const { return m_clockCheck; }

signals:
    // The background read of the card's clock has finished (`check` may be
    // not known(): no recording with GPS).
    void clockChecked(const korvante::clock::ClockCheck &check);

protected:
    qintptr onMessage(int message, quintptr w, qintptr l) override;
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void showSelection();
    void save();
    void makeClockControls();
    void showClockCheck(const clock::ClockCheck &check);
    // Selects the time zone of the card's camera and fills the clock edits
    // with the present time in that zone; the user still saves.
    void setFromGps();

    QPointer<QWidget> m_owner;
    CameraSettings m_settings;
    std::array<CSkinButton *, kSettingOptionCount> m_options{};
    std::array<QLineEdit *, 6> m_clock{};
    QCheckBox *m_setClock = nullptr;
    QCheckBox *m_resetWifi = nullptr;
    CSkinComboBox *m_timeZones = nullptr;
    QLabel *m_clockLine = nullptr;
    QPushButton *m_setFromGps = nullptr;
    clock::CardClockTask *m_clockTask = nullptr; // child; cancelled and joined with the dialog
    std::optional<clock::ClockCheck> m_clockCheck;
    BodyDrag m_drag;
    bool m_problemShown = false;
};

} // namespace korvante
