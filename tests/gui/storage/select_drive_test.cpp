// The drive selection dialog on a fake machine whose disks are files.

#include "file_list_fixture.h"
#include "gui/storage/file_manager_dlg.h"
#include "gui/storage/select_drive_dlg.h"
#include "gui/ui/skin_combo_box.h"
#include "support/small_card.h"
#include "tavo/tavo_writer.h"

#include <QPushButton>
#include <QTest>

using namespace korvante;
using namespace korvante::filelisttest;
namespace fs = std::filesystem;

namespace {

fs::path tavoImage(const fs::path &path)
{
    tavo::CardLayout layout = korvante::testing::smallCardLayout();
    layout.totalBytes = 8u << 20;
    std::string error;
    auto writer = tavo::CardWriter::createImage(path.string(), layout, &error);
    EXPECT_TRUE(writer && writer->addDirectory("NOR")) << error;
    const std::vector<unsigned char> data(1000, 1);
    EXPECT_NE(writer->addFile("NOR", "N_20120305_142233_2CH_F.tavo", 1330957353, data.data(), data.size()), 0u);
    EXPECT_TRUE(writer->finish(&error)) << error;
    return path;
}

QStringList linesOf(const CNSelectDriveDlg &dialog)
{
    QStringList lines;
    for (int i = 0; i < dialog.sourceCombo()->count(); ++i)
        lines << dialog.sourceCombo()->itemText(i);
    return lines;
}

class SelectDriveTest : public FileListTest {
protected:
    QString rooted(const std::string &path) const { return QString::fromStdString(machine.root().string() + path); }
};

TEST_F(SelectDriveTest, WithoutRemovableDrivesOnlyTheComputerIsOffered)
{
    machine.addDisk("sdc", false, 4096); // a fixed disk is never offered
    machine.mount("sdc", 1, "/data");
    CNSelectDriveDlg dialog(panel.get(), catalogue());
    EXPECT_EQ(linesOf(dialog), QStringList{QStringLiteral("Find in My Computer")});
    EXPECT_EQ(dialog.sourceCombo()->currentIndex(), 0);
    EXPECT_EQ(dialog.size(), QSize(456, 182));
    EXPECT_EQ(dialog.checkButton()->text(), QStringLiteral("Check"));
    EXPECT_EQ(dialog.closeButton()->text(), QStringLiteral("Close"));
    // Centred on the main window.
    const QPoint offCentre = dialog.frameGeometry().center() - mainWindow->frameGeometry().center();
    EXPECT_LE(offCentre.manhattanLength(), 2);
    // Black inside.
    const QImage image = dialog.grab().toImage();
    EXPECT_EQ(image.pixelColor(20, 170), QColor(Qt::black));

    QTest::mouseClick(dialog.checkButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.selection(), 0);
}

TEST_F(SelectDriveTest, TavoCardsLookLikePlainDrives)
{
    machine.addDisk("sdb", true, 16384);
    machine.mount("sdb", 1, "/media/plain");
    machine.addDisk("sdd", true, 16384, tavoImage(dir.path() / "tavo.img"));
    machine.mount("sdd", 1, "/media/tavo");
    CNSelectDriveDlg dialog(panel.get(), catalogue());
    EXPECT_EQ(linesOf(dialog), (QStringList{rooted("/media/plain/"), rooted("/media/tavo/ "),
                                            QStringLiteral("Find in My Computer")}));
    ASSERT_NE(catalogue().sourceAt(1), nullptr);
    EXPECT_EQ(catalogue().sourceAt(1)->kind, SourceTavo);
    EXPECT_EQ(catalogue().sourceAt(1)->label, rooted("/media/tavo/ (TAVO)").toStdString());

    dialog.sourceCombo()->setCurrentIndex(1);
    QTest::mouseClick(dialog.closeButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(dialog.selection(), -1);
}

TEST_F(SelectDriveTest, ReopeningSeesACardInsertedSince)
{
    {
        CNSelectDriveDlg dialog(panel.get(), catalogue());
        EXPECT_EQ(dialog.sourceCombo()->count(), 1);
    }
    machine.addDisk("sdb", true, 16384);
    machine.mount("sdb", 1, "/media/card");
    CNSelectDriveDlg dialog(panel.get(), catalogue());
    EXPECT_EQ(linesOf(dialog), (QStringList{rooted("/media/card/"), QStringLiteral("Find in My Computer")}));
    dialog.sourceCombo()->setCurrentIndex(1);
    dialog.show();
    QTest::keyClick(&dialog, Qt::Key_Return); // "Check" is the default button
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.selection(), 1);
}

TEST(SelectDriveLine, OnlyTheTavoMarkIsTakenOut)
{
    EXPECT_EQ(CNSelectDriveDlg::lineOfLabel("/media/card/ (TAVO)"), QStringLiteral("/media/card/ "));
    EXPECT_EQ(CNSelectDriveDlg::lineOfLabel("/media/card/"), QStringLiteral("/media/card/"));
    EXPECT_EQ(CNSelectDriveDlg::lineOfLabel("Find in My Computer"), QStringLiteral("Find in My Computer"));
}

} // namespace
