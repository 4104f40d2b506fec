#pragma once
// The player control panel among stand-ins for its peers: a main window and
// the other panels that record the messages they receive, the real screens,
// and a skinned list filled by the catalogue from a folder card of sample
// recordings. Offscreen; UI thread.

#include "core/playback/viewer_state.h"
#include "core/storage/list_view.h"
#include "gui/display/screen_dlg.h"
#include "gui/platform/message_window.h"
#include "gui/platform/messages.h"
#include "gui/platform/panel_registry.h"
#include "gui/platform/skin_library.h"
#include "gui/playback/player_menu_dlg.h"
#include "gui/ui/bitmap_slider.h"
#include "gui/ui/skin_button.h"
#include "gui/ui/skin_list_ctrl.h"
#include "gui/ui/skin_static.h"
#include "gui/ui/text_box.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace korvante::testing {

// A panel that records every panel message it gets, and (for the G-sensor
// graph's place) the cursor times it is given.
class RecorderPanel final : public PanelWindow {
    Q_OBJECT
public:
    using PanelWindow::PanelWindow;

    std::vector<std::pair<int, int>> messages; // (message, first parameter)
    std::vector<quint32> cursorTimes;

    void setCursorTime(quint32 milliseconds) { cursorTimes.push_back(milliseconds); }

    std::vector<int> commands() const
    {
        std::vector<int> out;
        for (const auto &[m, w] : messages)
            if (m == msg::PanelCommand)
                out.push_back(w);
        return out;
    }
    bool got(int command) const
    {
        for (int c : commands())
            if (c == command)
                return true;
        return false;
    }

protected:
    qintptr onMessage(int message, quintptr w, qintptr) override
    {
        messages.emplace_back(message, static_cast<int>(w));
        return 0;
    }
};

// Rows of the skinned list, written by the catalogue's fills.
class TreeListView final : public ListView {
public:
    explicit TreeListView(QTreeWidget &tree) : m_tree(tree) {}
    void deleteAllRows() override { m_tree.clear(); }
    void insertRow(int row, const std::string &text) override
    {
        auto *item = new QTreeWidgetItem;
        item->setText(0, QString::fromStdString(text));
        m_tree.insertTopLevelItem(row, item);
    }
    void setColumnText(int row, int column, const std::string &text) override
    {
        if (QTreeWidgetItem *item = m_tree.topLevelItem(row); item && column < m_tree.columnCount())
            item->setText(column, QString::fromStdString(text));
    }
    void setRedraw(bool) override {}
    void setBusyCursor(bool) override {}

private:
    QTreeWidget &m_tree;
};

QApplication &testApp();
void pump();
// Runs the event loop until `done` holds or `ms` pass; returns `done()`.
bool waitFor(const std::function<bool()> &done, int ms = 5000);

// The sample card: NOR holds, in row order,
//   0  N_20120305_142233_2CH_F.avi  rear one second later   (F/R)
//   1  N_20120305_143000_1CH_F.avi  front only
//   2  N_20120305_144000_2CH_F.avi  rear four seconds later (not found)
//   3  N_20120305_145000_2CH_F.avi  rear in the same second (F/R)
//   4  N_20120305_150000_1CH_F.avi  not a recording (the open fails)
// Every recording is 8 s of 320 x 240 video without sound.
const std::filesystem::path &sampleCard();
inline constexpr int kSampleRows = 5;
inline constexpr std::uint64_t kSampleLengthMs = 8000;

class PlayerTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Gives row `row` the focus and selection, as a click in the list does.
    void focusRow(int row);
    // Focuses `row` and sends the restart command the list's double click posts
    // (command 5); true when it plays.
    bool openRow(int row);
    void click(int action) { sendMessage(player.get(), msg::ButtonClick, static_cast<quintptr>(action)); }
    int state() const { return GetViewerState().engine.GetState(); }
    RecorderPanel &peer(int id) { return *peers.at(id); }
    void clearMessages();

    LogCapture log;
    std::unique_ptr<RecorderPanel> mainWindow;
    std::unique_ptr<CScreen1Dlg> front;
    std::unique_ptr<CScreen2Dlg> rear;
    std::map<int, std::unique_ptr<RecorderPanel>> peers; // 136, 137, 139, 155, 159
    std::unique_ptr<CSkinListCtrl> list;
    std::unique_ptr<CPlayerMenuDlg> player;
    std::vector<QString> boxes;
};

} // namespace korvante::testing
