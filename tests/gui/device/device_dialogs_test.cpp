// The device settings editor and the card formatter as the user drives them:
// clicks, the list, the buttons, message boxes answered by the test, drives
// of a fake machine coming and going, and a real format of a card image.

#include "gui/device/setting_dlg.h"
#include "gui/device/tavo_formatter_dlg.h"

#include "core/config/viewer_config.h"
#include "core/storage/recording_name.h"
#include "fake_machine.h"
#include "gui/platform/message_box.h"
#include "gui/platform/skin_library.h"
#include "gui/ui/skin_button.h"
#include "gui/ui/skin_combo_box.h"
#include "support/gui_app.h"
#include "support/temp_dir.h"
#include "tavo/tavo_writer.h"
#include "unwritable.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QSignalSpy>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

namespace korvante {
namespace {

namespace fs = std::filesystem;
using testing::FakeMachine;
using testing::TempDir;

std::string readAll(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

class DeviceDialogs : public ::testing::Test {
protected:
    DeviceDialogs()
    {
        testing::guiTestApp("gui_device_tests");
        machine.addDisk("sda", false, 1000);
        machine.mountRoot("sda", 1);
        platform::setMessageBoxHook([this](const QString &text, const QString &, unsigned type) {
            boxes.push_back(text);
            boxTypes.push_back(type);
            const int answer = answers.empty() ? platform::IDOK : answers.front();
            if (!answers.empty())
                answers.erase(answers.begin());
            return answer;
        });
    }
    ~DeviceDialogs() override { platform::setMessageBoxHook({}); }

    void click(CSkinButton *button)
    {
        QTest::mouseClick(button, Qt::LeftButton);
        testing::pumpEvents();
    }
    // A card image with an empty FAT partition and a TAVO partition, as disk `disk`.
    fs::path addImageCard(const std::string &disk)
    {
        const fs::path image = dir.path() / (disk + ".img");
        tavo::CardLayout layout{};
        layout.totalBytes = 64ull << 20;
        layout.fatBytes = 48ull << 20;
        std::string why;
        auto writer = tavo::CardWriter::createImage(image.string(), layout, &why);
        EXPECT_TRUE(writer && writer->addDirectory("NOR") && writer->finish(&why)) << why;
        writer.reset();
        machine.addDisk(disk, true, layout.totalBytes / 512, image);
        return image;
    }
    static bool waitForFormat(CTAVOFormatterDlg &dlg)
    {
        return testing::waitUntil([&dlg] { return !dlg.isFormatting() && dlg.formatButton()->isEnabled(); }, 60000);
    }

    TempDir dir;
    FakeMachine machine{dir.path() / "root"};
    testing::SysrootScope sysroot{dir.path() / "root"};
    std::vector<QString> boxes;
    std::vector<unsigned> boxTypes;
    std::vector<int> answers;
};

TEST_F(DeviceDialogs, SettingsShowTheCardsValuesAndSaveOnlyAPossibleClock)
{
    const fs::path card = dir.path() / "card";
    fs::create_directories(card / "SETUP");
    std::ofstream(card / "SETUP/setup.ini", std::ios::binary)
        << "VOLTAGE_CUTOFF_LV=6\r\nTIME_GMT_IDX=18\r\nFW_VERSION=V1.2.3\r\nEXIST_PARKEVT=1\r\n";
    CSettingDlg dlg(nullptr, card.string() + "/ (TAVO)");
    dlg.show();
    testing::pumpEvents();
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(dlg.timeZoneList()->count(), 75);
    EXPECT_EQ(dlg.timeZoneList()->currentText(), QStringLiteral("(GMT-03:30) Newfoundland and Labrador"));
    EXPECT_FALSE(dlg.clockCheck()->isChecked());
    EXPECT_FALSE(dlg.wifiCheck()->isChecked());
    const QPixmap selected = SkinLibrary::bitmap(165);
    if (!selected.isNull()) {
        EXPECT_EQ(dlg.optionButton(16)->currentImage().toImage(), selected.toImage());
        EXPECT_EQ(dlg.optionButton(20)->currentImage().toImage(), selected.toImage());
        EXPECT_NE(dlg.optionButton(17)->currentImage().toImage(), selected.toImage());
    }

    click(dlg.optionButton(24)); // Audio volume low
    click(dlg.optionButton(14)); // Power shutdown 11.8V, shown with 23.8V
    EXPECT_TRUE(dlg.settings().isSelected(24));
    EXPECT_TRUE(dlg.settings().isSelected(18));
    EXPECT_FALSE(dlg.settings().isSelected(20));

    dlg.clockCheck()->setChecked(true);
    const char *clock[] = {"2023", "2", "29", "13", "5", "9"};
    for (int i = 0; i < 6; ++i)
        dlg.clockEdit(i)->setText(QString::fromLatin1(clock[i]));
    const std::string before = readAll(card / "SETUP/setup.ini");
    QTest::mouseClick(dlg.findChildren<CSkinButton *>().at(kSettingOptionCount), Qt::LeftButton); // Save
    testing::pumpEvents();
    ASSERT_EQ(boxes, std::vector<QString>{QStringLiteral("Check the input value of time again.")});
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(readAll(card / "SETUP/setup.ini"), before);

    dlg.clockEdit(0)->setText(QStringLiteral("2024"));
    dlg.timeZoneList()->setCurrentIndex(49);
    sendMessage(&dlg, msg::ButtonClick, kSettingSave);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1], QStringLiteral("Save done"));
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(readAll(card / "SETUP/setup.ini"),
              "SENSOR_GY_STV=1\r\nVOICE_GUIDE_ON=1\r\nVOICE_REC_ON=1\r\nVOLTAGE_CUTOFF_LV=0\r\nLED_PARKING_ON=1\r\n"
              "TIME_EXP_GMT=5.75\r\nTIME_GMT_IDX=49\r\nPARK_ON=1\r\nAUDIO_VOLUME_LV=0\r\nPARK_STORAGE=1\r\n"
              "RESET_WIFI_EN=0\r\nRESET_TIME=0\r\nMANUAL_TIME=20240229_130509\r\nFW_VERSION=V1.2.3\r\n"
              "EXIST_PARKEVT=1\r\n");
}

// A card from a camera set to UTC-03:30 whose clock runs 47 s slow: the
// sample card (camera 9 hours ahead of UTC, on time) with every recording
// renamed 12 h 30 min 47 s earlier. The editor reads it in the background,
// says so, and "Set from GPS" picks that zone and the present time there.
TEST_F(DeviceDialogs, CameraClockFromGpsAndSetFromIt)
{
    ASSERT_TRUE(ViewerConfig::instance().loadFile(std::string(KORVANTE_SOURCE_DIR) + "/resources/viewerconfig.cfg"));
    const fs::path card = dir.path() / "gps-card";
    const std::string make = std::string(KORVANTE_BINARY_DIR) + "/bin/korvante-mkcard --folder '" + card.string()
                             + "' --per-kind 1 --seconds 2 --size 160x120 --fps 10 >/dev/null 2>&1";
    ASSERT_EQ(std::system(make.c_str()), 0) << make;
    for (const char *folder : {"NOR", "EVT", "MOT", "MAN"})
        for (const auto &e : fs::directory_iterator(card / folder)) {
            const std::string name = e.path().filename().string();
            const auto moved = dateTimeOfName(name).movedBy(-(12 * 3600 + 30 * 60 + 47));
            ASSERT_TRUE(moved.has_value()) << name;
            fs::rename(e.path(), e.path().parent_path() / withDateTimeFields(name, *moved));
        }

    StorageSource source;
    source.label = card.string() + "/";
    source.kind = SourceRemovable;
    CSettingDlg dlg(nullptr, source);
    QSignalSpy checked(&dlg, &CSettingDlg::clockChecked);
    dlg.show();
    testing::pumpEvents();
    EXPECT_EQ(dlg.timeZoneList()->currentIndex(), 57); // the sample card's setting, UTC+08:00
    ASSERT_TRUE(checked.count() > 0 || checked.wait(60000));
    EXPECT_EQ(dlg.clockLine()->text(), QStringLiteral("Camera clock: UTC-03:30, 47 s slow (from 4 recordings)"));
    EXPECT_TRUE(dlg.clockLine()->isVisible());
    ASSERT_TRUE(dlg.setFromGpsButton()->isEnabled());

    QTest::mouseClick(dlg.setFromGpsButton(), Qt::LeftButton);
    const QDateTime expected = QDateTime::currentDateTimeUtc().addSecs(-(3 * 3600 + 30 * 60));
    EXPECT_EQ(dlg.timeZoneList()->currentText(), QStringLiteral("(GMT-03:30) Newfoundland and Labrador"));
    EXPECT_TRUE(dlg.clockCheck()->isChecked());
    const QDateTime filled(QDate(dlg.clockEdit(0)->text().toInt(), dlg.clockEdit(1)->text().toInt(),
                                 dlg.clockEdit(2)->text().toInt()),
                           QTime(dlg.clockEdit(3)->text().toInt(), dlg.clockEdit(4)->text().toInt(),
                                 dlg.clockEdit(5)->text().toInt()),
                           Qt::UTC);
    ASSERT_TRUE(filled.isValid());
    EXPECT_LE(std::abs(filled.secsTo(expected)), 5);

    // Saving is the editor's as ever: the zone, its offset and the clock request.
    sendMessage(&dlg, msg::ButtonClick, kSettingSave);
    ASSERT_EQ(boxes, std::vector<QString>{QStringLiteral("Save done")});
    const std::string written = readAll(card / "SETUP/setup.ini");
    EXPECT_NE(written.find("TIME_EXP_GMT=-3.50\r\nTIME_GMT_IDX=18\r\n"), std::string::npos) << written;
    const std::string manual = "MANUAL_TIME=" + filled.toString(QStringLiteral("yyyyMMdd_HHmmss")).toStdString() + "\r\n";
    EXPECT_NE(written.find(manual), std::string::npos) << written;
}

// A card without GPS time shows no clock line.
TEST_F(DeviceDialogs, NoClockLineWithoutGpsRecordings)
{
    const fs::path card = dir.path() / "plain";
    fs::create_directories(card / "SETUP");
    fs::create_directories(card / "NOR");
    StorageSource source;
    source.label = card.string() + "/";
    CSettingDlg dlg(nullptr, source);
    QSignalSpy checked(&dlg, &CSettingDlg::clockChecked);
    dlg.show();
    ASSERT_TRUE(checked.count() > 0 || checked.wait(20000));
    EXPECT_FALSE(dlg.clockLine()->isVisible());
    EXPECT_FALSE(dlg.setFromGpsButton()->isVisible());
}

TEST_F(DeviceDialogs, PendingRequestsStayTickedAndAreKeptOnSave)
{
    const fs::path card = dir.path() / "card";
    fs::create_directories(card / "SETUP");
    const fs::path ini = card / "SETUP/setup.ini";
    std::ofstream(ini, std::ios::binary) << "RESET_WIFI_EN=1\r\nMANUAL_TIME=20240229_130509\r\n";
    {
        CSettingDlg dlg(nullptr, card.string() + "/");
        EXPECT_TRUE(dlg.wifiCheck()->isChecked());
        EXPECT_TRUE(dlg.clockCheck()->isChecked());
        const char *asked[] = {"2024", "2", "29", "13", "5", "9"};
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(dlg.clockEdit(i)->text(), QString::fromLatin1(asked[i])) << i;
        sendMessage(&dlg, msg::ButtonClick, kSettingSave);
        EXPECT_EQ(boxes, std::vector<QString>{QStringLiteral("Save done")});
    }
    const std::string kept = readAll(ini);
    EXPECT_NE(kept.find("RESET_WIFI_EN=1\r\n"), std::string::npos) << kept;
    EXPECT_NE(kept.find("MANUAL_TIME=20240229_130509\r\n"), std::string::npos) << kept;

    // Cleared by the user, both requests go.
    CSettingDlg dlg(nullptr, card.string() + "/");
    dlg.wifiCheck()->setChecked(false);
    dlg.clockCheck()->setChecked(false);
    sendMessage(&dlg, msg::ButtonClick, kSettingSave);
    const std::string cleared = readAll(ini);
    EXPECT_NE(cleared.find("RESET_WIFI_EN=0\r\n"), std::string::npos) << cleared;
    EXPECT_EQ(cleared.find("MANUAL_TIME"), std::string::npos) << cleared;
}

TEST_F(DeviceDialogs, ASettingsFileThatCannotBeWrittenIsReportedAndKept)
{
    const fs::path card = dir.path() / "card";
    fs::create_directories(card / "SETUP");
    const std::string original = "SENSOR_GY_STV=2\r\n";
    std::ofstream(card / "SETUP/setup.ini", std::ios::binary) << original;
    CSettingDlg dlg(nullptr, card.string() + "/");
    testing::Unwritable guard(card / "SETUP");
    if (!guard.holds())
        GTEST_SKIP() << "this machine cannot make a folder unwritable for this user";
    dlg.show();
    sendMessage(&dlg, msg::ButtonClick, kSettingSave);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].startsWith(QStringLiteral("The settings were not saved: cannot write "))) << boxes[0].toStdString();
    EXPECT_NE(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(readAll(card / "SETUP/setup.ini"), original);
}

TEST_F(DeviceDialogs, TheFormatterFollowsCardsComingAndGoing)
{
    {
        CTAVOFormatterDlg empty(nullptr);
        empty.show();
        empty.reload();
        EXPECT_EQ(empty.driveList()->currentText(), QStringLiteral("Insert SD-CARD then reload..."));
        EXPECT_EQ(empty.capacityLine()->text(), QStringLiteral("No Selected storage"));
        EXPECT_EQ(empty.percentText(0)->text(), QStringLiteral("0.0% used"));
        empty.startFormat();
        EXPECT_TRUE(boxes.empty()) << "no confirmation without a drive";
        EXPECT_TRUE(empty.formatButton()->isEnabled());
    }

    const fs::path image = dir.path() / "card32.img";
    std::ofstream(image).close();
    fs::resize_file(image, 62521344ull * 512);
    machine.addDisk("sdb", true, 62521344, image);
    const fs::path card = machine.mount("sdb", 1, "/media/card");
    fs::create_directories(card / "NOR");
    for (int i = 0; i < 10; ++i)
        for (const char *side : {"F", "R"})
            std::ofstream(card / "NOR" / ("N_20240101_1000" + std::to_string(10 + i) + "_2CH_" + side + ".avi"));
    std::ofstream(card / "NOR" / "N_20240101_F.avi");

    CTAVOFormatterDlg dlg(nullptr);
    dlg.show();
    // The list loads 10 ms after opening.
    ASSERT_TRUE(testing::waitUntil([&dlg] { return !dlg.drives().empty(); }));
    ASSERT_EQ(dlg.drives().size(), 1u);
    const QString root = QString::fromStdString(machine.root().string() + "/media/card/");
    EXPECT_EQ(dlg.driveList()->currentText(), root);
    // A long mount point puts the size and "storage selected" on a line of their own.
    EXPECT_EQ(dlg.capacityLine()->toolTip(), root + QStringLiteral(" (29.81 GB) storage selected"));
    EXPECT_EQ(dlg.capacityLine()->text().replace(QLatin1Char('\n'), QLatin1Char(' ')), dlg.capacityLine()->toolTip());
    EXPECT_EQ(dlg.usageText(0)->text(), QStringLiteral("Total: 12211 MB / Used: 1200 MB"));
    EXPECT_EQ(dlg.percentText(0)->text(), QStringLiteral("9.8% used"));
    EXPECT_EQ(dlg.folderBar(0)->maximum(), 12211);
    EXPECT_EQ(dlg.folderBar(0)->value(), 1200);
    EXPECT_EQ(dlg.usageText(1)->text(), QStringLiteral("Total: 6105 MB / Used: 0 MB"));
    EXPECT_EQ(dlg.usageText(3)->text(), QStringLiteral("Total: 3052 MB / Used: 0 MB"));
    EXPECT_TRUE(dlg.retentionText(0)->text().startsWith(QStringLiteral("keeps \u2248 "))) << dlg.retentionText(0)->text().toStdString();
    EXPECT_EQ(dlg.folderLabel(2)->text(), QStringLiteral("PARKING"));

    // Keys that would close the dialog do nothing.
    for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Space})
        QTest::keyClick(&dlg, key);
    dlg.close();
    EXPECT_TRUE(dlg.isVisible());

    // Cancelling the confirmation leaves every control as it was.
    answers = {platform::IDCANCEL};
    dlg.startFormat();
    // The question names the drive and defaults to Cancel.
    const QString dev = QString::fromStdString(machine.root().string() + "/dev/");
    ASSERT_EQ(boxes.back(), QStringLiteral("All data will be erased. Do you want to continue?\n\nDrive: card\n"
                                           "Mounted at: %1\nDevice: %2sdb1 on the disk %2sdb\nSize: 29.81 GB")
                                .arg(root, dev));
    EXPECT_TRUE(boxTypes.back() & platform::MB_DEFBUTTON2);
    EXPECT_EQ(boxTypes.back() & 0xF, platform::MB_OKCANCEL);
    EXPECT_TRUE(dlg.formatButton()->isEnabled() && dlg.driveList()->isEnabled() && dlg.folderLabel(0)->isEnabled());
    EXPECT_FALSE(dlg.isFormatting());

    // A second card: the question, and No keeps the list; the next one is taken.
    machine.addDisk("sdc", true, 2048);
    machine.mount("sdc", 1, "/media/other");
    boxes.clear();
    answers = {platform::IDNO};
    dlg.pollMounts();
    testing::pumpEvents();
    ASSERT_EQ(boxes, std::vector<QString>{QStringLiteral("NEW MEDIA or DRIVE detected.\nReload ?")});
    EXPECT_EQ(dlg.drives().size(), 1u);
    machine.unmountDisk("sdc");
    dlg.pollMounts(); // another card than the selected one goes: nothing happens
    testing::pumpEvents();
    EXPECT_EQ(boxes.size(), 1u);
    machine.mount("sdc", 1, "/media/other");
    answers = {platform::IDYES};
    dlg.pollMounts();
    testing::pumpEvents();
    EXPECT_EQ(dlg.drives().size(), 2u);

    // The selected card goes: the notice, then the list without it.
    boxes.clear();
    machine.unmountDisk("sdb");
    dlg.pollMounts();
    testing::pumpEvents();
    ASSERT_EQ(boxes, std::vector<QString>{QStringLiteral("Selected drive has been removed. Reload drive list")});
    ASSERT_EQ(dlg.drives().size(), 1u);
    EXPECT_EQ(dlg.drives()[0].disk, "sdc");
}

TEST_F(DeviceDialogs, FormattingAnImageCardReportsItsOutcome)
{
    const fs::path image = addImageCard("sdb");
    const fs::path card = machine.mount("sdb", 1, "/media/card");
    std::ofstream(card / "old.txt") << "old";

    for (bool readOnly : {true, false}) {
        std::optional<testing::Unwritable> guard;
        if (readOnly) {
            guard.emplace(image);
            if (!guard->holds())
                continue;
        }
        CTAVOFormatterDlg dlg(nullptr);
        dlg.show();
        dlg.reload();
        ASSERT_EQ(dlg.drives().size(), 1u);
        EXPECT_EQ(dlg.drives()[0].kind, 1);
        EXPECT_EQ(dlg.driveList()->currentText(), QString::fromStdString(dlg.drives()[0].root) + QLatin1Char(' '));
        answers = {platform::IDOK};
        dlg.startFormat();
        EXPECT_FALSE(dlg.formatButton()->isEnabled());
        dlg.requestClose(); // deferred until the format ends
        ASSERT_TRUE(waitForFormat(dlg));
        if (readOnly) {
            EXPECT_TRUE(dlg.statusLine()->text().startsWith(
                QStringLiteral("[ERROR] Format canceled while finding disk information.\ncannot open")))
                << dlg.statusLine()->text().toStdString();
            EXPECT_TRUE(dlg.isVisible()) << "a failure stays on screen";
            EXPECT_TRUE(fs::exists(card / "old.txt"));
        } else {
            EXPECT_EQ(dlg.statusLine()->text(), QStringLiteral("Format Completed. Please reload drive list."));
            EXPECT_FALSE(dlg.isVisible()) << "the deferred Close ends the dialog";
            EXPECT_FALSE(fs::exists(card / "old.txt"));
        }
    }
}

} // namespace
} // namespace korvante
