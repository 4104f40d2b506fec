// The file list panel driven by clicks, keys and posted messages: Open File
// with the drive dialog, the fills by kind, the search criteria, sorting and
// searching, the row notifications and the conversion command.

#include "catalogue_fixture.h"
#include "core/config/viewer_config.h"
#include "core/playback/viewer_state.h"
#include "file_list_fixture.h"
#include "gui/platform/messages.h"
#include "gui/storage/file_manager_dlg.h"
#include "gui/ui/skin_combo_box.h"
#include "gui/ui/skin_list_ctrl.h"

#include <QDateEdit>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

using namespace korvante;
using namespace korvante::filelisttest;
namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

namespace {

QString noFilesText()
{
    std::string text;
    EXPECT_TRUE(ViewerConfig::instance().lookupString("MAIN_MSG_NO_FILES", text));
    return QString::fromStdString(text);
}

// Moves a combo box by arrow keys, as a user with the keyboard would.
void chooseByKeys(QComboBox *combo, int position)
{
    combo->setFocus();
    while (combo->currentIndex() < position)
        QTest::keyClick(combo, Qt::Key_Down);
    while (combo->currentIndex() > position)
        QTest::keyClick(combo, Qt::Key_Up);
    pump();
}

void typeSpeed(QLineEdit *edit, const QString &text)
{
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
}

class FileManagerTest : public FileListTest {
protected:
    // Five recordings from 2012-03-01 to 2012-03-05, one of them with a rear file.
    fs::path fiveDays()
    {
        const fs::path folder = dir.path() / "picked";
        record(folder, "N_20120301_080000_1CH_F.avi");
        record(folder, "E_20120302_090000_1CH_F.avi");
        record(folder, "P_20120303_100000_1CH_F.avi");
        record(folder, "N_20120304_110000_2CH_F.avi");
        record(folder, "N_20120304_110001_2CH_R.avi");
        record(folder, "M_20120305_235959_1CH_F.avi");
        return folder;
    }
};

TEST_F(FileManagerTest, CancelledDriveDialogStillSaysNoFiles)
{
    answerDriveDialog(-1);
    click(CFileManagerDlg::CmdOpenFile);
    ASSERT_TRUE(seen.shown);
    // The main window and its panels are disabled while it runs; it is not.
    EXPECT_TRUE(seen.usable);
    EXPECT_TRUE(mainWindow->isEnabled());
    EXPECT_EQ(seen.lines, QStringList{QStringLiteral("Find in My Computer")});
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, noFilesText());
    EXPECT_EQ(boxes[0].type, platform::MB_OK | platform::MB_ICONERROR);
    // The windows were disabled around the dialog and the player reset first.
    EXPECT_EQ(mainWindow->commandsOf(msg::EnableWindows), (std::vector<int>{0, 1}));
    EXPECT_EQ(player->commandsOf(msg::PanelCommand), std::vector<int>{cmd::Reset});
    EXPECT_EQ(picker.calls, 0);
    EXPECT_EQ(panel->listCtrl()->topLevelItemCount(), 0);
}

TEST_F(FileManagerTest, OpenFileListsRowsAndSetsPickersToFirstAndLastDates)
{
    openPicked(fiveDays());
    EXPECT_TRUE(boxes.empty()) << boxes.front().text.toStdString();
    EXPECT_EQ(picker.calls, 1);
    EXPECT_EQ(column(0), (Strings{"001", "002", "003", "004", "005"}));
    EXPECT_EQ(column(1), (Strings{"2012-03-01", "2012-03-02", "2012-03-03", "2012-03-04", "2012-03-05"}));
    EXPECT_EQ(column(2), (Strings{"08:00:00", "09:00:00", "10:00:00", "11:00:00", "23:59:59"}));
    EXPECT_EQ(column(3), (Strings{"NOR", "EVT", "MOT", "NOR", "MAN"}));
    EXPECT_EQ(column(4), (Strings{"F", "F", "F", "F/R", "F"}));
    EXPECT_EQ(panel->startDatePicker()->date(), QDate(2012, 3, 1));
    EXPECT_EQ(panel->endDatePicker()->date(), QDate(2012, 3, 5));
    EXPECT_EQ(panel->listCtrl()->focusedRow(), 0);
    EXPECT_TRUE(panel->listCtrl()->topLevelItem(0)->isSelected());
    EXPECT_EQ(panel->sourcePosition(), 0);
    EXPECT_EQ(catalogue().sourceKind(), SourceComputer);
    EXPECT_EQ(mainWindow->commandsOf(msg::EnableWindows), (std::vector<int>{0, 1}));
    // The player's link: the row it opens, and its steps to another.
    EXPECT_EQ(panel->currentRow(), 0);
    ASSERT_GE(panel->rowCount(), 2);
    panel->moveToRow(1);
    EXPECT_EQ(panel->currentRow(), 1);
    EXPECT_FALSE(panel->listCtrl()->topLevelItem(0)->isSelected());
    EXPECT_TRUE(panel->listCtrl()->topLevelItem(1)->isSelected());
    panel->moveToRow(panel->rowCount()); // no such row: nothing moves
    EXPECT_EQ(panel->currentRow(), 1);
}

TEST_F(FileManagerTest, KindFilterListsOnlyThatKind)
{
    openPicked(fiveDays());
    chooseByKeys(panel->kindFilter(), 3);
    EXPECT_EQ(panel->kindFilter()->currentText(), QStringLiteral("PARKING"));
    EXPECT_EQ(column(3), Strings{"MOT"});
    EXPECT_EQ(column(0), Strings{"001"});
    chooseByKeys(panel->kindFilter(), 1);
    EXPECT_EQ(column(3), (Strings{"NOR", "NOR"}));
    chooseByKeys(panel->kindFilter(), 0);
    EXPECT_EQ(column(3).size(), 5u);
    EXPECT_EQ(catalogue().shownCount(), 5);
}

TEST_F(FileListTest, SpeedThresholdIsConvertedToKmh)
{
    const fs::path folder = dir.path() / "speeds";
    record(folder, "N_20120301_080000_1CH_F.avi", 96);
    record(folder, "N_20120302_080000_1CH_F.avi", 97);
    record(folder, "N_20120303_080000_1CH_F.avi", 40);
    record(folder, "N_20120304_080000_1CH_F.avi", std::nullopt); // no maximum-speed record
    record(folder, "N_20120305_080000_1CH_F.avi", 451);          // beyond belief
    openPicked(folder);
    ASSERT_EQ(column(0).size(), 5u);

    typeSpeed(panel->speedEdit(), QStringLiteral("60"));
    chooseByKeys(panel->speedUnit(), 1);
    EXPECT_EQ(GetViewerState().speedUnit, 1);
    click(CFileManagerDlg::CmdSearchSpeed);
    EXPECT_FLOAT_EQ(panel->criteria().minSpeed, 96.56064f);
    EXPECT_EQ(column(1), Strings{"2012-03-02"});
    EXPECT_EQ(picker.calls, 1); // searches scan the chosen folder afresh without asking again

    chooseByKeys(panel->speedUnit(), 0);
    EXPECT_EQ(GetViewerState().speedUnit, 0);
    click(CFileManagerDlg::CmdSearchSpeed);
    EXPECT_FLOAT_EQ(panel->criteria().minSpeed, 60.0f);
    EXPECT_EQ(column(1), (Strings{"2012-03-02", "2012-03-01"})); // searches list newest first

    chooseByKeys(panel->speedUnit(), 2);
    typeSpeed(panel->speedEdit(), QStringLiteral("52"));
    click(CFileManagerDlg::CmdSearchSpeed);
    EXPECT_FLOAT_EQ(panel->criteria().minSpeed, static_cast<float>(52 * 1.852));
    EXPECT_EQ(column(1), Strings{"2012-03-02"});

    // Three characters at most; text without leading digits counts as 0.
    typeSpeed(panel->speedEdit(), QStringLiteral("1234"));
    EXPECT_EQ(panel->speedEdit()->text(), QStringLiteral("123"));
    typeSpeed(panel->speedEdit(), QStringLiteral("x9"));
    click(CFileManagerDlg::CmdSearchSpeed);
    EXPECT_FLOAT_EQ(panel->criteria().minSpeed, 0.0f);
    EXPECT_EQ(column(1), (Strings{"2012-03-03", "2012-03-02", "2012-03-01"}));
    EXPECT_TRUE(boxes.empty());
}

TEST_F(FileManagerTest, DateRangeLimitsTheSearchAndInvertedDatesAreRefused)
{
    openPicked(fiveDays());
    panel->startDatePicker()->setDate(QDate(2012, 3, 2));
    panel->endDatePicker()->setDate(QDate(2012, 3, 4));
    click(CFileManagerDlg::CmdSearchDate);
    // The end day is included from its midnight on.
    EXPECT_EQ(column(1), (Strings{"2012-03-04", "2012-03-03", "2012-03-02"}));
    EXPECT_EQ(panel->criteria().end - panel->criteria().start, 2 * 86400);
    const int scans = picker.calls;

    panel->startDatePicker()->setDate(QDate(2012, 3, 5));
    click(CFileManagerDlg::CmdSearchSpeed);
    ASSERT_EQ(boxTexts(), std::vector<QString>{QStringLiteral("Please check the date input again.")});
    // The list stays as it was, and so do the rows the player can reach.
    EXPECT_EQ(column(1), (Strings{"2012-03-04", "2012-03-03", "2012-03-02"}));
    EXPECT_EQ(catalogue().shownCount(), 3);
    EXPECT_EQ(picker.calls, scans);
}

TEST_F(FileManagerTest, SortCommandsRescanAndSearchInTheirOrder)
{
    const fs::path folder = fiveDays();
    openPicked(folder);
    click(CFileManagerDlg::CmdSortDescending);
    EXPECT_EQ(column(1), (Strings{"2012-03-05", "2012-03-04", "2012-03-03", "2012-03-02", "2012-03-01"}));
    EXPECT_EQ(column(0), (Strings{"001", "002", "003", "004", "005"}));
    click(CFileManagerDlg::CmdSortAscending);
    EXPECT_EQ(column(1), (Strings{"2012-03-01", "2012-03-02", "2012-03-03", "2012-03-04", "2012-03-05"}));
    EXPECT_EQ(picker.calls, 1); // the folder chosen is scanned again, not asked for again

    // An empty list: sorting does nothing, a search rescans the source.
    chooseByKeys(panel->kindFilter(), 4);
    typeSpeed(panel->speedEdit(), QStringLiteral("999"));
    click(CFileManagerDlg::CmdSearchDate);
    EXPECT_EQ(panel->listCtrl()->topLevelItemCount(), 0);
    click(CFileManagerDlg::CmdSortAscending);
    click(CFileManagerDlg::CmdSortDescending);
    EXPECT_EQ(picker.calls, 1);

    // A rescan that fails leaves no rows behind that name nothing, and says so.
    typeSpeed(panel->speedEdit(), QStringLiteral("0"));
    chooseByKeys(panel->kindFilter(), 0);
    ASSERT_EQ(column(0).size(), 5u);
    fs::remove_all(folder);
    click(CFileManagerDlg::CmdSortDescending);
    EXPECT_EQ(panel->listCtrl()->topLevelItemCount(), 0);
    EXPECT_EQ(catalogue().shownCount(), 0);
    EXPECT_EQ(boxTexts(), std::vector<QString>{noFilesText()});
}

TEST_F(FileManagerTest, NothingRememberedMeansSearchesDoNothing)
{
    click(CFileManagerDlg::CmdSearchDate);
    click(CFileManagerDlg::CmdSearchSpeed);
    EXPECT_EQ(picker.calls, 0);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(panel->sourcePosition(), -1);
}

TEST_F(FileManagerTest, FailedSelectionEmptiesTheListAndSaysNoFiles)
{
    openPicked(fiveDays());
    ASSERT_EQ(column(0).size(), 5u);
    openPicked(dir.path() / "nothing here");
    EXPECT_EQ(panel->listCtrl()->topLevelItemCount(), 0);
    EXPECT_EQ(boxTexts(), std::vector<QString>{noFilesText()});
    // The pickers keep the dates of the last listing.
    EXPECT_EQ(panel->startDatePicker()->date(), QDate(2012, 3, 1));
}

TEST_F(FileManagerTest, ClickAndDoubleClickOnRows)
{
    openPicked(fiveDays());
    CSkinListCtrl *list = panel->listCtrl();
    player->messages.clear();
    const QPoint third = list->visualItemRect(list->topLevelItem(2)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, third);
    pump();
    EXPECT_EQ(list->focusedRow(), 2);
    EXPECT_TRUE(list->topLevelItem(2)->isSelected());
    EXPECT_TRUE(player->messages.empty());

    const QPoint fourth = list->visualItemRect(list->topLevelItem(3)).center();
    // A double click is a click followed by the double-click press.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, fourth);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, fourth);
    QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, fourth);
    pump();
    EXPECT_EQ(player->commandsOf(msg::PanelCommand), std::vector<int>{cmd::Restart});
    EXPECT_EQ(list->focusedRow(), 3);
    EXPECT_EQ(list->selectedItems(), QList<QTreeWidgetItem *>{list->topLevelItem(3)});
}

TEST_F(FileManagerTest, OpenFolderListsLikeOpenFile)
{
    EXPECT_TRUE(panel->openFolder(QString::fromStdString(fiveDays().string())));
    pump();
    EXPECT_EQ(picker.calls, 0); // answered by the folder given
    EXPECT_EQ(catalogue().folderPicker, &picker);
    EXPECT_EQ(column(1).front(), "2012-03-01");
    EXPECT_EQ(panel->endDatePicker()->date(), QDate(2012, 3, 5));
    EXPECT_EQ(mainWindow->commandsOf(msg::EnableWindows), (std::vector<int>{0, 1}));
    EXPECT_TRUE(boxes.empty());

    EXPECT_FALSE(panel->openFolder(QString::fromStdString((dir.path() / "missing").string())));
    EXPECT_EQ(boxTexts(), std::vector<QString>{noFilesText()});
    EXPECT_EQ(panel->listCtrl()->topLevelItemCount(), 0);

    // A folder named relative to the working folder lists with whole paths.
    const QString working = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(dir.path().string())));
    const bool listed = panel->openFolder(QStringLiteral("picked"));
    QDir::setCurrent(working);
    ASSERT_TRUE(listed);
    EXPECT_EQ(catalogue().shownEntryAt(0)->path, (dir.path() / "picked" / "N_20120301_080000_1CH_F.avi").string());
}

TEST_F(FileManagerTest, RepairedRecordingsAreSaidInTheList)
{
    // Two unfinished recordings (one of them a front and rear file named two
    // seconds apart) and one finished: the list says how many recordings it
    // repaired, and the log names each file.
    const fs::path folder = dir.path() / "cut";
    for (const char *name : {"N_20120301_080000_2CH_F.avi", "N_20120301_080002_2CH_R.avi", "N_20120301_090000_1CH_F.avi"})
        korvante::testing::writeRecording(folder, name, std::nullopt, true);
    record(folder, "E_20120302_090000_1CH_F.avi");
    ASSERT_TRUE(panel->openFolder(QString::fromStdString(folder.string())));
    pump();
    ASSERT_TRUE(panel->repairNotice()->isVisibleTo(panel.get()));
    EXPECT_EQ(panel->repairNotice()->text(), QStringLiteral("2 unfinished recordings were repaired"));
    EXPECT_TRUE(log.contains("repaired unfinished recording " + (folder / "N_20120301_090000_1CH_F.avi").string()));

    korvante::testing::writeRecording(folder, "N_20120303_080000_1CH_F.avi", std::nullopt, true);
    ASSERT_TRUE(panel->openFolder(QString::fromStdString(folder.string())));
    EXPECT_EQ(panel->repairNotice()->text(), QStringLiteral("1 unfinished recording was repaired"));
    ASSERT_TRUE(panel->openFolder(QString::fromStdString(folder.string())));
    EXPECT_FALSE(panel->repairNotice()->isVisibleTo(panel.get())); // nothing left to repair
}

TEST_F(FileManagerTest, ConversionCommand)
{
    int opened = 0;
    QWidget *over = nullptr;
    // Nothing listed: nothing happens.
    click(CFileManagerDlg::CmdConversion);
    EXPECT_TRUE(boxes.empty());

    openPicked(fiveDays());
    panel->setConversionDialog([&](QWidget *owner) { ++opened, over = owner; });
    click(CFileManagerDlg::CmdConversion);
    EXPECT_EQ(boxTexts(), std::vector<QString>{QStringLiteral("No Conversion File.")});
    EXPECT_EQ(opened, 0);

    // A card in a drive: the dialog opens over the panel and the list is filled again.
    machine.addDisk("sdb", true, 16384);
    const fs::path card = machine.mount("sdb", 1, "/media/card");
    record(card / "NOR", "N_20120310_080000_1CH_F.avi");
    answerDriveDialog(0);
    click(CFileManagerDlg::CmdOpenFile);
    ASSERT_EQ(catalogue().sourceKind(), SourceRemovable);
    ASSERT_EQ(column(1), Strings{"2012-03-10"});
    chooseByKeys(panel->kindFilter(), 2); // no event recordings: an empty list
    EXPECT_EQ(panel->listCtrl()->topLevelItemCount(), 0);
    chooseByKeys(panel->kindFilter(), 0);
    panel->listCtrl()->clear();
    player->messages.clear();
    click(CFileManagerDlg::CmdConversion);
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(over, panel.get());
    EXPECT_EQ(column(1), Strings{"2012-03-10"});
    EXPECT_TRUE(player->messages.empty()); // nothing was playing

    // A playing recording is paused before the dialog opens.
    MediaEngine &engine = GetViewerState().engine;
    VideoWindow *noWindows[4] = {};
    engine.graph = std::make_unique<PlaybackGraph>(0, noWindows, 1);
    engine.graph->state = StateRunning;
    std::vector<int> commandsWhenOpened;
    panel->setConversionDialog([&](QWidget *) { commandsWhenOpened = player->commandsOf(msg::PanelCommand); });
    click(CFileManagerDlg::CmdConversion);
    engine.graph.reset();
    EXPECT_EQ(commandsWhenOpened, std::vector<int>{cmd::Pause});
}

TEST_F(FileListTest, RescanFollowsTheChosenDriveWhenTheListChanges)
{
    machine.addDisk("sdc", true, 16384);
    const fs::path second = machine.mount("sdc", 1, "/media/second");
    record(second / "NOR", "N_20120401_080000_1CH_F.avi");
    record(second / "NOR", "N_20120402_080000_1CH_F.avi");
    answerDriveDialog(0);
    click(CFileManagerDlg::CmdOpenFile);
    ASSERT_EQ(column(1), (Strings{"2012-04-01", "2012-04-02"}));
    EXPECT_EQ(panel->sourcePosition(), 0);

    // Another card comes first in the rebuilt list; the dialog is cancelled.
    machine.addDisk("sdb", true, 16384);
    const fs::path first = machine.mount("sdb", 1, "/media/first");
    record(first / "NOR", "N_20120501_080000_1CH_F.avi");
    answerDriveDialog(-1);
    click(CFileManagerDlg::CmdOpenFile);
    ASSERT_EQ(seen.lines.size(), 3);
    EXPECT_EQ(column(1), (Strings{"2012-04-01", "2012-04-02"}));

    click(CFileManagerDlg::CmdSortDescending);
    EXPECT_EQ(column(1), (Strings{"2012-04-02", "2012-04-01"}));
    EXPECT_EQ(panel->sourcePosition(), 1);
}

} // namespace
