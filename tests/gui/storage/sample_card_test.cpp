// A card written by the camera stand-in, in a removable drive of the fake
// machine, listed through Open File; the panel drawn with it.

#include "file_list_fixture.h"
#include "gui/storage/file_manager_dlg.h"
#include "gui/ui/skin_list_ctrl.h"

#include <QDateEdit>
#include <QProcess>

using namespace korvante;
using namespace korvante::filelisttest;
namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

namespace {

bool makeCard(const fs::path &folder)
{
    QProcess mkcard;
    mkcard.start(QStringLiteral(KORVANTE_BINARY_DIR "/bin/korvante-mkcard"),
                 {QStringLiteral("--folder"), QString::fromStdString(folder.string()), QStringLiteral("--per-kind"),
                  QStringLiteral("2"), QStringLiteral("--seconds"), QStringLiteral("1"), QStringLiteral("--size"),
                  QStringLiteral("160x120"), QStringLiteral("--audio"), QStringLiteral("none"),
                  QStringLiteral("--start"), QStringLiteral("2012-03-01 10:00:00")});
    if (!mkcard.waitForFinished(180000))
        return false;
    return mkcard.exitStatus() == QProcess::NormalExit && mkcard.exitCode() == 0;
}

int countPixels(const QImage &image, const QRect &rect, const std::function<bool(QColor)> &test)
{
    int n = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            n += test(image.pixelColor(x, y)) ? 1 : 0;
    return n;
}

using SampleCardTest = FileListTest;

TEST_F(SampleCardTest, CardInADriveListsEveryKindAndDrawsThePanel)
{
    machine.addDisk("sdb", true, 1 << 16);
    const fs::path card = machine.mount("sdb", 1, "/media/card");
    ASSERT_TRUE(makeCard(card));

    answerDriveDialog(0);
    click(CFileManagerDlg::CmdOpenFile);
    ASSERT_TRUE(seen.shown);
    EXPECT_EQ(seen.lines, (QStringList{QString::fromStdString(machine.root().string() + "/media/card/"),
                                       QStringLiteral("Find in My Computer")}));
    EXPECT_TRUE(boxes.empty());
    const Strings kinds = column(3);
    ASSERT_EQ(kinds.size(), 8u);
    for (const char *k : {"NOR", "EVT", "MOT", "MAN"})
        EXPECT_EQ(std::count(kinds.begin(), kinds.end(), k), 2) << k;
    for (const std::string &ch : column(4))
        EXPECT_EQ(ch, "F/R"); // two-channel recordings whose rear files lie beside them
    const Strings dates = column(1);
    EXPECT_TRUE(std::is_sorted(dates.begin(), dates.end()));
    EXPECT_EQ(panel->startDatePicker()->date().toString(Qt::ISODate), QString::fromStdString(dates.front()));
    EXPECT_EQ(panel->endDatePicker()->date().toString(Qt::ISODate), QString::fromStdString(dates.back()));

    const QImage image = panel->grab().toImage();
    ASSERT_EQ(image.size(), QSize(315, 470));
    if (const QByteArray out = qgetenv("KORVANTE_RENDER_DIR"); !out.isEmpty())
        image.save(QString::fromLocal8Bit(out) + QStringLiteral("/file_list.png"));
    EXPECT_EQ(image.pixelColor(140, 15), QColor(16, 16, 16));   // title bar
    EXPECT_EQ(image.pixelColor(0, 200), QColor(32, 33, 38));    // frame
    EXPECT_EQ(image.pixelColor(150, 380), QColor(Qt::black));   // list below the rows
    const auto white = [](QColor c) { return c.red() > 200 && c.green() > 200 && c.blue() > 200; };
    EXPECT_GT(countPixels(image, QRect(10, 7, 60, 16), white), 15); // "File List"
    EXPECT_GT(countPixels(image, QRect(115, 421, 14, 19), white), 2); // "~"
    // Row text in the list colour, the first row in the selection colours.
    const auto rowText = [](QColor c) { return c == CSkinListCtrl::textColour(); };
    EXPECT_GT(countPixels(image, QRect(4, 70, 300, 60), rowText), 20);
    const QRect first = panel->listCtrl()->visualItemRect(panel->listCtrl()->topLevelItem(0));
    const QPoint origin = panel->listCtrl()->viewport()->mapTo(panel.get(), first.topLeft());
    EXPECT_EQ(image.pixelColor(origin + QPoint(2, 2)), CSkinListCtrl::selectedBackground());

    // Every recording has a maximum speed: a search from 0 km/h finds them all.
    click(CFileManagerDlg::CmdSearchSpeed);
    EXPECT_EQ(column(0).size(), 8u);
}

} // namespace
