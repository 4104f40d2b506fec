#pragma once
// The file list panel under test: a stand-in main window and player control
// panel that record the messages they get, a fake machine below a temporary
// system root, message boxes and folder picks answered by the test, and the
// drive selection dialog answered from inside its modal loop.

#include "catalogue_fixture.h"
#include "fake_machine.h"
#include "gui/platform/message_box.h"
#include "gui/platform/message_window.h"
#include "support/log_capture.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace korvante {
class CFileManagerDlg;
class CNSelectDriveDlg;
class RecordingCatalogue;
} // namespace korvante

namespace korvante::filelisttest {

// The application, with the configuration beside the sources loaded and the
// settings folder in a temporary place, before the viewer state is made.
QApplication &app();
// Runs the event loop until posted messages are delivered.
void pump();

struct Received {
    int message;
    quintptr w;
};

// A window that records the panel messages it receives. As the main window
// it disables and enables itself and its panels on msg::EnableWindows.
class RecordingWindow final : public PanelWindow {
public:
    std::vector<Received> messages;
    std::vector<QWidget *> panels; // disabled with this window
    bool actsAsMainWindow = false;
    std::vector<int> commandsOf(int message) const;

protected:
    qintptr onMessage(int message, quintptr w, qintptr l) override;
};

struct ShownBox {
    QString text;
    unsigned type;
};

// The folder picker of the catalogue, answered with `folder` (none: cancel).
class ScriptedPicker final : public FolderPicker {
public:
    std::optional<std::string> folder;
    int calls = 0;
    std::optional<std::string> pickFolder(void *, const std::string &) override
    {
        ++calls;
        return folder;
    }
};

// What the answered drive dialog showed.
struct DialogSeen {
    bool shown = false;
    bool usable = false; // the dialog and its buttons took input when answered
    QStringList lines;
    int currentLine = -1;
    QRect geometry;
};

class FileListTest : public ::testing::Test {
protected:
    FileListTest();
    ~FileListTest() override;

    RecordingCatalogue &catalogue();
    // Answers the next drive dialog: choose `line` with "Check", or "Close"
    // when `line` is negative.
    void answerDriveDialog(int line);
    // Clicks the panel's button of `command` and lets the messages run.
    void click(int command);
    // The texts of column `column` of every row.
    std::vector<std::string> column(int column) const;
    // Writes a byte-built recording into `folder` with a recorded maximum speed.
    std::filesystem::path record(const std::filesystem::path &folder, const std::string &name,
                                 std::optional<int32_t> maxSpeed = 60);
    // Open File with the computer entry and the picker answering `folder`.
    void openPicked(const std::filesystem::path &folder);
    std::vector<QString> boxTexts() const;

    testing::TempDir dir;
    testing::FakeMachine machine;
    testing::SysrootScope sysroot;
    testing::LogCapture log;
    ScriptedPicker picker;
    std::unique_ptr<RecordingWindow> mainWindow;
    std::unique_ptr<RecordingWindow> player;
    std::unique_ptr<CFileManagerDlg> panel;
    std::vector<ShownBox> boxes;
    DialogSeen seen;
};

} // namespace korvante::filelisttest
