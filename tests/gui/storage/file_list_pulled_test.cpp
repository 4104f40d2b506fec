// A card or folder that goes while the file list shows it: its files or its
// folder removed, its drive unmounted with its mount folder, or its card
// image gone. Whatever the user does next in the panel (sort, change the
// kind, double-click a row, open the conversion dialog), the panel says
// "no files" and empties the list rather than offer rows that are gone, and a
// new folder lists and plays afterwards.

#include "core/config/viewer_config.h"
#include "file_list_fixture.h"
#include "gui/platform/messages.h"
#include "gui/storage/file_manager_dlg.h"
#include "gui/ui/skin_combo_box.h"
#include "gui/ui/skin_list_ctrl.h"
#include "support/small_card.h"

#include <QTest>

using namespace korvante;
using namespace korvante::filelisttest;
namespace fs = std::filesystem;

namespace {

enum class Pull { FilesRemoved, FolderRemoved, DriveGone, CardImageGone };
enum class Act { Sort, Kind, DoubleClick, Convert };

void doubleClickRow(CSkinListCtrl *list, int row)
{
    const QPoint at = list->visualItemRect(list->topLevelItem(row)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    pump();
}

TEST_F(FileListTest, APulledCardEmptiesTheListWithAMessageAndANewFolderPlaysAfterwards)
{
    std::string noFiles;
    ASSERT_TRUE(ViewerConfig::instance().lookupString("MAIN_MSG_NO_FILES", noFiles));
    const auto recording = korvante::testing::buildRecording(korvante::testing::layoutOf({{"00dc", 900}})).bytes;
    int conversions = 0;
    panel->setConversionDialog([&](QWidget *) { ++conversions; });
    int n = 0;
    for (Pull pull : {Pull::FilesRemoved, Pull::FolderRemoved, Pull::DriveGone, Pull::CardImageGone}) {
        for (Act act : {Act::Sort, Act::Kind, Act::DoubleClick, Act::Convert}) {
            SCOPED_TRACE(std::to_string(static_cast<int>(pull)) + " " + std::to_string(static_cast<int>(act)));
            const std::string disk = std::string("sd") + static_cast<char>('b' + n++), tag = std::to_string(n);
            fs::path root = dir.path() / ("card" + tag);
            const fs::path image = dir.path() / ("card" + tag + ".img");
            if (pull == Pull::CardImageGone) {
                std::string error;
                auto writer = tavo::CardWriter::createImage(image.string(), korvante::testing::smallCardLayout(), &error);
                ASSERT_TRUE(writer && writer->addDirectory("NOR") && writer->addFile("NOR", "N_20120310_080000_2CH_F.tavo",
                            1331366400, recording.data(), recording.size()) && writer->finish(&error)) << error;
                machine.addDisk(disk, true, 32768, image);
                machine.mount(disk, 1, "/media/" + disk);
            } else {
                if (pull == Pull::DriveGone) {
                    machine.addDisk(disk, true, 16384);
                    root = machine.mount(disk, 1, "/media/" + disk);
                }
                record(root / "NOR", "N_20120310_080000_1CH_F.avi");
                record(root / "EVT", "E_20120311_080000_1CH_F.avi");
            }
            if (pull == Pull::FilesRemoved || pull == Pull::FolderRemoved) {
                openPicked(root);
            } else {
                answerDriveDialog(0);
                click(CFileManagerDlg::CmdOpenFile);
            }
            ASSERT_GT(panel->listCtrl()->topLevelItemCount(), 0);
            boxes.clear();
            player->messages.clear();
            conversions = 0;

            switch (pull) {
            case Pull::FilesRemoved:
                fs::remove(root / "NOR" / "N_20120310_080000_1CH_F.avi");
                fs::remove(root / "EVT" / "E_20120311_080000_1CH_F.avi");
                break;
            case Pull::FolderRemoved: fs::remove_all(root); break;
            case Pull::DriveGone: machine.unmountDisk(disk); fs::remove_all(root); break;
            case Pull::CardImageGone: machine.unmountDisk(disk); fs::remove(image); break;
            }
            switch (act) {
            case Act::Sort: click(CFileManagerDlg::CmdSortDescending); break;
            case Act::Kind: panel->kindFilter()->setCurrentIndex(1); break;
            case Act::DoubleClick: doubleClickRow(panel->listCtrl(), 0); break;
            case Act::Convert: click(CFileManagerDlg::CmdConversion); break;
            }
            pump();
            EXPECT_EQ(panel->listCtrl()->topLevelItemCount(), 0);
            EXPECT_EQ(boxTexts(), std::vector<QString>{QString::fromStdString(noFiles)});
            EXPECT_TRUE(player->commandsOf(msg::PanelCommand).empty()) << "a row that is gone was played";
            EXPECT_EQ(conversions, 0);
            EXPECT_TRUE(mainWindow->isEnabled());

            // The next folder lists, and its row goes to the player.
            panel->kindFilter()->setCurrentIndex(0);
            record(dir.path() / ("next" + tag) / "NOR", "N_20120401_080000_1CH_F.avi");
            ASSERT_TRUE(panel->openFolder(QString::fromStdString((dir.path() / ("next" + tag)).string())));
            player->messages.clear();
            doubleClickRow(panel->listCtrl(), 0);
            EXPECT_EQ(player->commandsOf(msg::PanelCommand), std::vector<int>{cmd::Restart});
        }
    }
}

} // namespace
