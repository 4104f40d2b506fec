// The file list as a keyboard user and a user with a copied card meet it:
// Enter on a row, a card's root picked on the computer, a card pulled out
// between two Open File commands, and texts that fit their boxes.

#include "core/playback/viewer_state.h"
#include "file_list_fixture.h"
#include "gui/platform/messages.h"
#include "gui/storage/file_manager_dlg.h"
#include "gui/ui/skin_combo_box.h"
#include "gui/ui/skin_header_ctrl.h"
#include "gui/ui/skin_list_ctrl.h"
#include "gui/ui/skin_scrollbar.h"

#include <QDateEdit>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScrollBar>
#include <QStyleOptionComboBox>
#include <QStyleOptionFrame>
#include <QTest>

using namespace korvante;
using namespace korvante::filelisttest;
namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

namespace {

using FileListKeysTest = FileListTest;

TEST_F(FileListKeysTest, EnterOnARowPlaysItAsADoubleClickDoes)
{
    const fs::path folder = dir.path() / "picked";
    record(folder, "N_20120301_080000_1CH_F.avi");
    record(folder, "N_20120302_080000_1CH_F.avi");
    record(folder, "N_20120303_080000_1CH_F.avi");
    openPicked(folder);
    ASSERT_EQ(column(0).size(), 3u);
    CSkinListCtrl *list = panel->listCtrl();
    player->messages.clear();

    list->setFocus();
    QTest::keyClick(list, Qt::Key_Down);
    pump();
    EXPECT_TRUE(player->messages.empty()); // moving is not playing
    const struct {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        bool plays;
    } keys[] = {
        {Qt::Key_Return, Qt::NoModifier, true},
        {Qt::Key_Enter, Qt::KeypadModifier, true},
        {Qt::Key_Return, Qt::ControlModifier, false},
        {Qt::Key_Space, Qt::NoModifier, false},
    };
    for (const auto &k : keys) {
        player->messages.clear();
        QTest::keyClick(list, k.key, k.modifiers);
        pump();
        EXPECT_EQ(player->commandsOf(msg::PanelCommand), k.plays ? std::vector<int>{cmd::Restart} : std::vector<int>{})
            << k.key;
        // The row played is the row focused, and it stays selected.
        EXPECT_EQ(list->focusedRow(), 1);
        EXPECT_EQ(list->selectedItems(), QList<QTreeWidgetItem *>{list->topLevelItem(1)});
    }

    // A held Return repeats, marked as such or not; the repeats must not
    // restart the open again and again. After the release it plays again.
    player->messages.clear();
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QKeyEvent marked(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString(), true);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier);
    // Repeats as a release and a press with the same time stamp.
    QKeyEvent pairedRelease(QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier);
    QKeyEvent pairedPress(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    press.setTimestamp(1000);
    marked.setTimestamp(1040);
    pairedRelease.setTimestamp(1080);
    pairedPress.setTimestamp(1080);
    release.setTimestamp(1500);
    QKeyEvent later(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    later.setTimestamp(1700);
    for (QKeyEvent *e : {&press, &marked, &press, &pairedRelease, &pairedPress, &release, &later, &release})
        QCoreApplication::sendEvent(list, e);
    pump();
    EXPECT_EQ(player->commandsOf(msg::PanelCommand), (std::vector<int>{cmd::Restart, cmd::Restart}));

    // With no rows Enter asks nothing of the player.
    fs::remove_all(folder);
    click(CFileManagerDlg::CmdSearchDate);
    ASSERT_EQ(list->topLevelItemCount(), 0);
    player->messages.clear();
    QTest::keyClick(list, Qt::Key_Return);
    pump();
    EXPECT_TRUE(player->commandsOf(msg::PanelCommand).empty());
}

TEST_F(FileListKeysTest, PickedCardRootListsItsRecordingFoldersLikeACard)
{
    const fs::path card = dir.path() / "card copy";
    record(card / "NOR", "N_20120301_080000_1CH_F.avi");
    record(card / "EVT", "E_20120302_080000_1CH_F.avi");
    record(card / "MAN", "M_20120303_080000_1CH_F.avi");
    openPicked(card);
    EXPECT_EQ(column(1), (Strings{"2012-03-01", "2012-03-02", "2012-03-03"}));
    EXPECT_EQ(column(3), (Strings{"NOR", "EVT", "MAN"}));
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(catalogue().sourceKind(), SourceRemovable);
    EXPECT_EQ(catalogue().selectedSourceRecord()->label, card.string() + "/");

    // Sorting and searching list the same card again without the picker.
    record(card / "NOR", "N_20120304_080000_1CH_F.avi");
    panel->endDatePicker()->setDate(QDate(2012, 3, 31));
    click(CFileManagerDlg::CmdSortDescending);
    EXPECT_EQ(column(1), (Strings{"2012-03-04", "2012-03-03", "2012-03-02", "2012-03-01"}));
    click(CFileManagerDlg::CmdSearchDate);
    EXPECT_EQ(column(0).size(), 4u);
    EXPECT_EQ(picker.calls, 1);

    // As a card, its recordings can be converted.
    int opened = 0;
    panel->setConversionDialog([&](QWidget *) { ++opened; });
    click(CFileManagerDlg::CmdConversion);
    EXPECT_EQ(opened, 1);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(FileListKeysTest, CardRootGivenByNameStaysChosenAcrossOpenFile)
{
    // As the command line gives it: the card's root, listed like the card.
    const fs::path card = dir.path() / "card";
    record(card / "NOR", "N_20120301_080000_1CH_F.avi");
    record(card / "EVT", "E_20120302_080000_1CH_F.avi");
    ASSERT_TRUE(panel->openFolder(QString::fromStdString(card.string())));
    EXPECT_EQ(column(3), (Strings{"NOR", "EVT"}));
    EXPECT_EQ(catalogue().sourceKind(), SourceRemovable);

    // Open File rebuilds the source list and is cancelled: the card stays the
    // source its rows play from, and a sort lists it again without asking.
    answerDriveDialog(-1);
    click(CFileManagerDlg::CmdOpenFile);
    EXPECT_EQ(column(3), (Strings{"NOR", "EVT"}));
    ASSERT_NE(catalogue().selectedSourceRecord(), nullptr);
    EXPECT_EQ(catalogue().selectedSourceRecord()->label, card.string() + "/");
    click(CFileManagerDlg::CmdSortDescending);
    EXPECT_EQ(column(3), (Strings{"EVT", "NOR"}));
    EXPECT_EQ(picker.calls, 0);
}

TEST_F(FileListKeysTest, CardPulledOutBetweenTwoOpenFilesLeavesNoRowsOfIt)
{
    machine.addDisk("sdb", true, 16384);
    const fs::path first = machine.mount("sdb", 1, "/media/first");
    record(first / "NOR", "N_20120401_080000_1CH_F.avi");
    machine.addDisk("sdc", true, 16384);
    const fs::path second = machine.mount("sdc", 1, "/media/second");
    record(second / "NOR", "N_20120501_080000_1CH_F.avi");

    // The second card is chosen; the first is pulled out before the next
    // Open File, which is cancelled: the rows still belong to the card chosen.
    answerDriveDialog(1);
    click(CFileManagerDlg::CmdOpenFile);
    ASSERT_EQ(column(1), Strings{"2012-05-01"});
    machine.unmountDisk("sdb");
    answerDriveDialog(-1);
    click(CFileManagerDlg::CmdOpenFile);
    ASSERT_EQ(seen.lines.size(), 2);
    EXPECT_EQ(column(1), Strings{"2012-05-01"});
    EXPECT_EQ(panel->sourcePosition(), 0);
    ASSERT_NE(catalogue().selectedSourceRecord(), nullptr);
    EXPECT_EQ(catalogue().selectedSourceRecord()->label, second.string() + "/");

    // Now the chosen card goes: its rows go with it, and a search scans no
    // other drive in its place.
    machine.unmountDisk("sdc");
    answerDriveDialog(-1);
    click(CFileManagerDlg::CmdOpenFile);
    EXPECT_EQ(panel->listCtrl()->topLevelItemCount(), 0);
    EXPECT_EQ(catalogue().selectedSourceRecord(), nullptr);
    EXPECT_EQ(panel->sourcePosition(), -1);
    click(CFileManagerDlg::CmdSearchDate);
    EXPECT_EQ(panel->listCtrl()->topLevelItemCount(), 0);
    EXPECT_TRUE(catalogue().entries().empty());
}

// The width the style leaves for a combo box's text.
int comboTextRoom(const QComboBox &combo)
{
    QStyleOptionComboBox option;
    option.initFrom(&combo);
    option.editable = combo.isEditable();
    option.frame = combo.hasFrame();
    option.subControls = QStyle::SC_All;
    const QRect field = combo.style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, &combo);
    return field.width() - 2; // the label is drawn one pixel in from each side
}

// The width a line edit leaves for its text, as its painting works it out.
int editTextRoom(const QLineEdit &edit)
{
    QStyleOptionFrame option;
    option.initFrom(&edit);
    option.rect = edit.contentsRect();
    option.lineWidth = edit.hasFrame() ? edit.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, &edit) : 0;
    option.midLineWidth = 0;
    option.state |= QStyle::State_Sunken;
    const QRect contents = edit.style()->subElementRect(QStyle::SE_LineEditContents, &option, &edit);
    const QMargins margins = edit.textMargins();
    return contents.width() - margins.left() - margins.right() - 4; // two pixels each side
}

TEST_F(FileListKeysTest, EveryControlTextFitsItsBoxAtTheDefaultFont)
{
    panel->show();
    pump();
    for (CSkinComboBox *combo : {panel->kindFilter(), panel->speedUnit()}) {
        const int room = comboTextRoom(*combo);
        for (int i = 0; i < combo->count(); ++i)
            EXPECT_LE(combo->fontMetrics().horizontalAdvance(combo->itemText(i)), room)
                << combo->itemText(i).toStdString() << " in " << combo->width();
    }
    // The date pickers and the threshold show their longest texts whole.
    for (QDateEdit *picker : {panel->startDatePicker(), panel->endDatePicker()}) {
        const auto *edit = picker->findChild<QLineEdit *>();
        ASSERT_NE(edit, nullptr);
        const int room = editTextRoom(*edit);
        EXPECT_LE(edit->fontMetrics().horizontalAdvance(QStringLiteral("2088-08-28")), room) << picker->width();
    }
    const int speedRoom = editTextRoom(*panel->speedEdit());
    EXPECT_LE(panel->speedEdit()->fontMetrics().horizontalAdvance(QStringLiteral("888")), speedRoom);

    // The column titles fit their columns (the header insets its text by 2).
    CSkinListCtrl *list = panel->listCtrl();
    const QFontMetrics titles(list->skinHeader()->font());
    for (int i = 0; i < list->columnCount(); ++i)
        EXPECT_LE(titles.horizontalAdvance(list->headerItem()->text(i)), list->columnWidth(i) - 4) << i;

    // The five columns fit beside the vertical bar: no horizontal bar, with
    // or without rows.
    EXPECT_FALSE(list->horizontalBar()->isVisible());
    const fs::path folder = dir.path() / "rows";
    for (int day = 1; day <= 28; ++day)
        record(folder, "N_201203" + QStringLiteral("%1").arg(day, 2, 10, QLatin1Char('0')).toStdString() +
                           "_080000_2CH_F.avi");
    openPicked(folder);
    pump();
    ASSERT_EQ(list->topLevelItemCount(), 28);
    EXPECT_TRUE(list->verticalBar()->isVisible());
    EXPECT_FALSE(list->horizontalBar()->isVisible());
    // Columns wider than the list bring the bar back.
    list->setColumnWidth(1, 200);
    pump();
    EXPECT_TRUE(list->horizontalBar()->isVisible());
}

} // namespace
