#include "file_list_fixture.h"

#include "core/config/viewer_config.h"
#include "core/playback/viewer_state.h"
#include "gui/platform/panel_registry.h"
#include "gui/platform/skin_library.h"
#include "gui/storage/file_manager_dlg.h"
#include "gui/storage/select_drive_dlg.h"
#include "gui/ui/skin_button.h"
#include "gui/ui/skin_combo_box.h"
#include "gui/ui/skin_list_ctrl.h"

#include <QFileInfo>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace korvante::filelisttest {

namespace fs = std::filesystem;

QApplication &app()
{
    static int argc = 1;
    static char name[] = "gui_storage_tests";
    static char *argv[] = {name, nullptr};
    static testing::TempDir configHome;
    static QApplication *instance = [] {
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(configHome.str()));
        auto *made = new QApplication(argc, argv);
        EXPECT_TRUE(ViewerConfig::instance().loadFile(KORVANTE_SOURCE_DIR "/resources/viewerconfig.cfg"));
        GetViewerState();
        // The drawn skin, when this build makes it.
        const QString rcc = QStringLiteral(KORVANTE_BINARY_DIR "/bin/ResourceDll.rcc");
        if (QFileInfo::exists(rcc)) {
            EXPECT_TRUE(SkinLibrary::load(rcc));
        }
        return made;
    }();
    return *instance;
}

void pump()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

std::vector<int> RecordingWindow::commandsOf(int message) const
{
    std::vector<int> out;
    for (const auto &m : messages)
        if (m.message == message)
            out.push_back(static_cast<int>(m.w));
    return out;
}

qintptr RecordingWindow::onMessage(int message, quintptr w, qintptr)
{
    messages.push_back({message, w});
    if (actsAsMainWindow && message == msg::EnableWindows) {
        setEnabled(w != 0);
        for (QWidget *p : panels)
            p->setEnabled(w != 0);
    }
    return 0;
}

FileListTest::FileListTest() : machine((app(), dir.path() / "root")), sysroot(machine.root())
{
    machine.addDisk("sda", false, 1 << 20);
    machine.mountRoot("sda", 1);

    mainWindow = std::make_unique<RecordingWindow>();
    mainWindow->setGeometry(100, 50, 780, 780);
    player = std::make_unique<RecordingWindow>();
    RegisterPanel(panel::MainWindow, mainWindow.get());
    RegisterPanel(panel::PlayerControl, player.get());

    RecordingCatalogue &c = catalogue();
    c.ownerWindow = mainWindow.get();
    c.folderPicker = &picker;
    c.sortOrder = SortOrder::Ascending;
    // Each test starts from an empty catalogue (the state outlives the
    // tests): a cancelled folder pick empties it.
    StorageSource computer;
    computer.kind = SourceComputer;
    computer.label = c.computerCaption;
    c.setSources({computer});
    c.selectSource(0);
    c.setSources({});
    picker.calls = 0;
    EXPECT_TRUE(c.entries().empty());

    platform::setMessageBoxHook([this](const QString &text, const QString &, unsigned type) {
        boxes.push_back({text, type});
        return platform::IDOK;
    });
    panel = std::make_unique<CFileManagerDlg>(mainWindow.get());
    mainWindow->actsAsMainWindow = true;
    mainWindow->panels = {panel.get()};
    panel->setLayout(0);
    pump();
}

FileListTest::~FileListTest()
{
    panel.reset();
    platform::setMessageBoxHook({});
    RecordingCatalogue &c = catalogue();
    c.folderPicker = nullptr;
    c.ownerWindow = nullptr;
}

RecordingCatalogue &FileListTest::catalogue() { return GetViewerState().catalogue; }

void FileListTest::answerDriveDialog(int line)
{
    seen = DialogSeen{};
    auto *timer = new QTimer(panel.get());
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, timer, [this, timer, line] {
        auto *dialog = qobject_cast<CNSelectDriveDlg *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        timer->stop();
        timer->deleteLater();
        seen.shown = true;
        for (int i = 0; i < dialog->sourceCombo()->count(); ++i)
            seen.lines << dialog->sourceCombo()->itemText(i);
        seen.currentLine = dialog->sourceCombo()->currentIndex();
        seen.geometry = dialog->frameGeometry();
        seen.usable = dialog->isEnabled() && dialog->checkButton()->isEnabled();
        if (line >= 0) {
            dialog->sourceCombo()->setCurrentIndex(line);
            QTest::mouseClick(dialog->checkButton(), Qt::LeftButton);
        } else {
            QTest::mouseClick(dialog->closeButton(), Qt::LeftButton);
        }
        // A dialog that ignored the click would hold the test for ever.
        if (dialog->isVisible())
            dialog->done(line >= 0 ? QDialog::Accepted : QDialog::Rejected);
    });
    timer->start();
}

void FileListTest::click(int command)
{
    CSkinButton *button = panel->button(command);
    ASSERT_NE(button, nullptr);
    QTest::mouseClick(button, Qt::LeftButton);
    pump();
}

std::vector<std::string> FileListTest::column(int col) const
{
    std::vector<std::string> out;
    const CSkinListCtrl *list = panel->listCtrl();
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        out.push_back(list->topLevelItem(i)->text(col).toStdString());
    return out;
}

fs::path FileListTest::record(const fs::path &folder, const std::string &name, std::optional<int32_t> maxSpeed)
{
    return testing::writeRecording(folder, name, maxSpeed);
}

void FileListTest::openPicked(const fs::path &folder)
{
    picker.folder = folder.string();
    answerDriveDialog(0); // the computer entry is the only line on this machine
    click(CFileManagerDlg::CmdOpenFile);
}

std::vector<QString> FileListTest::boxTexts() const
{
    std::vector<QString> out;
    for (const auto &b : boxes)
        out.push_back(b.text);
    return out;
}

} // namespace korvante::filelisttest
