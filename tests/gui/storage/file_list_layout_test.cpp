// The panel as a window: its controls' places, docking and dragging, the
// layouts of the main window, Close and the show toggle.

#include "core/playback/viewer_state.h"
#include "file_list_fixture.h"
#include "gui/platform/messages.h"
#include "gui/platform/skin_library.h"
#include "gui/storage/file_manager_dlg.h"
#include "gui/storage/skin_list_view.h"
#include "gui/ui/skin_button.h"
#include "gui/ui/skin_combo_box.h"
#include "gui/ui/skin_header_ctrl.h"
#include "gui/ui/skin_list_ctrl.h"

#include <QDateEdit>
#include <QFontMetrics>
#include <QTreeWidgetItem>
#include <QLineEdit>
#include <QMouseEvent>

using namespace korvante;
using namespace korvante::filelisttest;

namespace {

void drag(QWidget *widget, QPoint from, QPoint by)
{
    const QPoint global = widget->mapToGlobal(from);
    QMouseEvent press(QEvent::MouseButtonPress, from, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QMouseEvent move(QEvent::MouseMove, from + by, global + by, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
    QMouseEvent release(QEvent::MouseButtonRelease, from + by, global + by, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(widget, &release);
}

QImage imageOf(const QPixmap &pixmap) { return pixmap.toImage().convertToFormat(QImage::Format_ARGB32); }

using FileListLayoutTest = FileListTest;

TEST_F(FileListLayoutTest, ButtonsFitBesideTheOtherControls)
{
    CSkinListCtrl *list = panel->listCtrl();
    std::vector<QRect> taken = {list->geometry(), panel->kindFilter()->geometry(),
                                panel->startDatePicker()->geometry(), panel->endDatePicker()->geometry(),
                                panel->speedEdit()->geometry(), panel->speedUnit()->geometry()};
    for (const QRect &r : taken)
        EXPECT_TRUE(QRect(QPoint(3, 3), QSize(309, 464)).contains(r)) << r.x() << "," << r.y();
    // Every command has a button inside the frame, clear of every other control.
    for (int command = 0; command < CFileManagerDlg::CommandCount; ++command) {
        CSkinButton *b = panel->button(command);
        ASSERT_NE(b, nullptr) << command;
        EXPECT_EQ(b->id(), command);
        EXPECT_TRUE(QRect(QPoint(3, 3), QSize(309, 464)).contains(b->geometry())) << command;
        for (const QRect &r : taken)
            EXPECT_FALSE(r.intersects(b->geometry())) << command;
        taken.push_back(b->geometry());
    }
}

TEST_F(FileListLayoutTest, DockedPanelFollowsAndFloatingPanelDrags)
{
    const QPoint dock = mainWindow->frameGeometry().topLeft() + QPoint(770, 310);
    EXPECT_EQ(panel->pos(), dock);
    EXPECT_TRUE(panel->isDocked());

    // Docked in the default layout the body does not drag.
    drag(panel.get(), QPoint(150, 10), QPoint(40, 30));
    EXPECT_EQ(panel->pos(), dock);
    mainWindow->move(mainWindow->pos() + QPoint(10, 20));
    panel->followMainWindow();
    EXPECT_EQ(panel->pos(), dock + QPoint(10, 20));

    CSkinButton *pin = panel->button(CFileManagerDlg::CmdFixedWindow);
    const QImage docked = imageOf(pin->currentImage());
    click(CFileManagerDlg::CmdFixedWindow);
    EXPECT_FALSE(panel->isDocked());
    drag(panel.get(), QPoint(150, 10), QPoint(40, 30));
    EXPECT_EQ(panel->pos(), dock + QPoint(50, 50));
    mainWindow->move(mainWindow->pos() + QPoint(5, 5));
    panel->followMainWindow();
    EXPECT_EQ(panel->pos(), dock + QPoint(50, 50));

    if (SkinLibrary::isLoaded()) {
        EXPECT_EQ(docked, imageOf(SkinLibrary::bitmap(CFileManagerDlg::kDockedImage)));
        EXPECT_EQ(imageOf(pin->currentImage()), imageOf(SkinLibrary::bitmap(CFileManagerDlg::kFloatingImage)));
    }
    // Docking again moves the panel at once.
    click(CFileManagerDlg::CmdFixedWindow);
    EXPECT_TRUE(panel->isDocked());
    EXPECT_EQ(panel->pos(), mainWindow->frameGeometry().topLeft() + QPoint(770, 310));
    if (SkinLibrary::isLoaded()) {
        EXPECT_EQ(imageOf(pin->currentImage()), docked);
    }
}

TEST_F(FileListLayoutTest, WideLayoutsHideThePanelAndLetItDrag)
{
    CSkinButton *pin = panel->button(CFileManagerDlg::CmdFixedWindow);
    panel->setLayout(1);
    EXPECT_FALSE(panel->isVisible());
    EXPECT_FALSE(panel->isShownFlag());
    EXPECT_TRUE(panel->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(pin->isHidden());
    EXPECT_EQ(panel->size(), QSize(315, 470));

    // Shown by the toggle in the wide layout, it drags even though docked.
    postMessage(panel.get(), msg::PanelCommand, cmd::ToggleFileList);
    pump();
    EXPECT_TRUE(panel->isVisible());
    const QPoint before = panel->pos();
    drag(panel.get(), QPoint(150, 10), QPoint(-30, 12));
    EXPECT_EQ(panel->pos(), before + QPoint(-30, 12));

    panel->setLayout(0);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_TRUE(panel->isShownFlag());
    EXPECT_FALSE(panel->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(pin->isHidden());
    EXPECT_EQ(panel->pos(), mainWindow->frameGeometry().topLeft() + QPoint(770, 310));
}

TEST_F(FileListLayoutTest, CloseAndTheShowToggle)
{
    click(CFileManagerDlg::CmdClose);
    EXPECT_FALSE(panel->isVisible());
    EXPECT_FALSE(panel->isShownFlag());
    postMessage(panel.get(), msg::PanelCommand, cmd::ToggleFileList);
    pump();
    EXPECT_TRUE(panel->isVisible());
    EXPECT_TRUE(panel->isShownFlag());
    // Other panel commands are not the file list's.
    for (int code : {cmd::Reset, cmd::Start, cmd::Pause, cmd::Restart, cmd::ToggleMap})
        postMessage(panel.get(), msg::PanelCommand, static_cast<quintptr>(code));
    pump();
    EXPECT_TRUE(panel->isVisible());
    postMessage(panel.get(), msg::PanelCommand, cmd::ToggleFileList);
    pump();
    EXPECT_FALSE(panel->isVisible());
    EXPECT_FALSE(panel->isShownFlag());
    // Unknown button ids change nothing.
    postMessage(panel.get(), msg::ButtonClick, 99);
    pump();
    EXPECT_TRUE(boxes.empty());
}

} // namespace

TEST_F(FileListLayoutTest, NumberColumnFitsFourDigitNumbersWithinTheList)
{
    CSkinListCtrl *list = panel->listCtrl();
    std::vector<int> owner;
    for (int c = 0; c < list->columnCount(); ++c)
        owner.push_back(list->columnWidth(c));
    SkinListView view(*list);
    const auto fill = [&view](int rows) {
        view.setRedraw(false);
        view.deleteAllRows();
        for (int i = 0; i < rows; ++i) {
            view.insertRow(i, std::to_string(i + 1));
            view.setColumnText(i, ColumnDate, "2012-03-05");
            view.setColumnText(i, ColumnTime, "14:22:33");
            view.setColumnText(i, ColumnKind, "NOR");
            view.setColumnText(i, ColumnChannels, "F/R");
        }
        view.setRedraw(true);
    };
    // A card of 1,200 recordings: "1200" whole, every other cell whole, and
    // the columns still within the list (no sideways scrolling).
    fill(1200);
    const QFontMetrics cells(list->font());
    const QTreeWidgetItem *last = list->topLevelItem(1199);
    int total = 0;
    for (int c = 0; c < list->columnCount(); ++c) {
        EXPECT_GE(list->columnWidth(c), cells.horizontalAdvance(last->text(c)) + 6) << "column " << c;
        total += list->columnWidth(c);
    }
    EXPECT_GT(list->columnWidth(0), owner[0]);
    EXPECT_LE(total, list->viewport()->width());
    // A short list gives the columns their first widths back.
    fill(12);
    for (int c = 0; c < list->columnCount(); ++c)
        EXPECT_EQ(list->columnWidth(c), owner[static_cast<size_t>(c)]) << "column " << c;
}
