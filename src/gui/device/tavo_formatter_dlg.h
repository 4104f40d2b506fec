#pragma once
// "STORAGE INFORMATION": the card formatter. Lists the removable drives
// (never the system's disk), shows the chosen drive's capacity and, for the
// four recording folders, their shares, an estimate of their use and how long
// each keeps recordings before the camera overwrites them; formats the
// drive's FAT file system as FAT32 after a confirmation.
//
// The list is loaded 10 ms after the dialog opens and again when the mount
// table (polled once a second) shows a drive coming or going: a new drive
// asks before reloading, the loss of the selected one reloads with a notice.
// Changes are ignored while a format runs or the dialog is hidden.
//
// The format runs on a worker thread that only posts stages (message 1025)
// to the dialog; the dialog joins it before it goes. Close during a format is
// deferred until the format ends. Keys that would close or confirm the
// dialog (Enter, Escape, Space, Alt+F4) are swallowed: only Close ends it.
//
// Ownership: owns its controls and the worker. UI thread only.

#include "core/device/card_usage.h"
#include "core/device/mount_watcher.h"
#include "gui/platform/body_drag.h"
#include "gui/platform/message_window.h"

#include <QPointer>

#include <array>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace korvante {

class CSkinComboBox;

class CTAVOFormatterDlg final : public PanelDialog {
    Q_OBJECT
public:
    static constexpr QSize kSize{560, 540};
    static constexpr int kLoadTimer = 100;
    static constexpr int kPollTimer = 101;
    static constexpr int kPollMs = 1000;
    // Events of message 1026 (second parameter).
    static constexpr int kMediaInserted = 0x20;
    static constexpr int kMediaRemoved = 0x40;

    explicit CTAVOFormatterDlg(QWidget *owner);
    ~CTAVOFormatterDlg() override;

    // Reloads the drive list now (what the 10 ms timer does).
    void reload();
    // Compares the mount table with the last poll and posts the changes.
    void pollMounts();
    // The question asked before a format: what will be erased, the drive
    // named by its volume name, mount point, device and size.
    static QString confirmationText(const FormatterDrive &drive, uint32_t capacityMB);
    // The Format and Close buttons' actions.
    void startFormat();
    void requestClose();

    const std::vector<FormatterDrive> &drives() const { return m_drives; }
    bool isFormatting() const { return m_formatting; }
    CSkinComboBox *driveList() const { return m_driveList; }
    QLabel *capacityLine() const { return m_capacity; }
    QLabel *statusLine() const { return m_status; }
    QLabel *usageText(int folder) const { return m_rows[static_cast<size_t>(folder)].usage; }
    QLabel *percentText(int folder) const { return m_rows[static_cast<size_t>(folder)].percent; }
    QLabel *retentionText(int folder) const { return m_rows[static_cast<size_t>(folder)].retention; }
    QLineEdit *folderLabel(int folder) const { return m_rows[static_cast<size_t>(folder)].label; }
    QProgressBar *folderBar(int folder) const { return m_rows[static_cast<size_t>(folder)].bar; }
    QPushButton *formatButton() const { return m_format; }
    QPushButton *closeButton() const { return m_close; }

    void reject() override;

protected:
    qintptr onMessage(int message, quintptr w, qintptr l) override;
    void onTimer(int id) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    struct FolderRow {
        QLineEdit *label = nullptr;
        QProgressBar *bar = nullptr;
        QLabel *usage = nullptr;
        QLabel *percent = nullptr;
        QLabel *retention = nullptr;
    };
    void selectDrive();
    // The capacity line of `drive`, on one line when it fits, else on two
    // (the mount point, then the size and "storage selected").
    void showCapacity(const FormatterDrive &drive);
    void refreshFigures();
    void setControlsEnabled(bool enabled);
    void onMountChange(const std::string &root, int event);
    void onStage(int stage, int detail);
    void finishClose();
    void joinWorker();

    QPointer<QWidget> m_owner;
    std::string m_sysRoot;
    std::vector<FormatterDrive> m_drives;
    int m_selected = 0;
    uint32_t m_capacityMB = 0;
    CSkinComboBox *m_driveList = nullptr;
    QLabel *m_capacity = nullptr;
    std::array<FolderRow, 4> m_rows{};
    QPushButton *m_format = nullptr;
    QPushButton *m_close = nullptr;
    QLabel *m_status = nullptr;
    QLabel *m_note = nullptr;
    MountWatcher m_watcher;
    std::map<quintptr, std::string> m_changedRoots; // first parameter of message 1026
    quintptr m_nextChange = 0;
    bool m_formatting = false;
    bool m_closeRequested = false;
    bool m_closing = false;
    bool m_asking = false; // a question about a mount change is on screen
    std::thread m_worker;
    std::mutex m_reasonMutex;
    std::string m_failureReason; // written by the worker before it posts stage 7
    BodyDrag m_drag;
};

} // namespace korvante
