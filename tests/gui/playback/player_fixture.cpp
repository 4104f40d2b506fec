#include "player_fixture.h"

#include "gui/platform/message_box.h"
#include "support/gui_app.h"
#include "tavo/tavo.h"

#include <QFile>

namespace korvante::testing {

namespace {

// The names in row order; the rear files carry their own seconds.
struct SampleFile {
    const char *front;
    const char *rear; // null: none
};
constexpr SampleFile kSampleFiles[kSampleRows] = {
    {"N_20120305_142233_2CH_F.avi", "N_20120305_142234_2CH_R.avi"},
    {"N_20120305_143000_1CH_F.avi", nullptr},
    {"N_20120305_144000_2CH_F.avi", "N_20120305_144004_2CH_R.avi"},
    {"N_20120305_145000_2CH_F.avi", "N_20120305_145000_2CH_R.avi"},
    {"N_20120305_150000_1CH_F.avi", nullptr},
};

} // namespace

QApplication &testApp()
{
    return guiTestApp("gui_playback_tests");
}

void pump()
{
    pumpEvents();
}

bool waitFor(const std::function<bool()> &done, int ms)
{
    return waitUntil(done, ms);
}

const std::filesystem::path &sampleCard()
{
    static TempDir dir;
    static std::filesystem::path card;
    if (!card.empty())
        return card;
    namespace fs = std::filesystem;
    const fs::path made = dir.path() / "made";
    QProcess mkcard;
    mkcard.start(QString::fromUtf8(KORVANTE_BINARY_DIR "/bin/korvante-mkcard"),
                 {QStringLiteral("--folder"), QString::fromStdString(made.string()), QStringLiteral("--per-kind"),
                  QStringLiteral("1"), QStringLiteral("--seconds"), QStringLiteral("8"), QStringLiteral("--size"),
                  QStringLiteral("320x240"), QStringLiteral("--audio"), QStringLiteral("none"),
                  QStringLiteral("--channels"), QStringLiteral("2")});
    if (!mkcard.waitForFinished(300000) || mkcard.exitCode() != 0) {
        ADD_FAILURE() << "korvante-mkcard failed: " << mkcard.readAllStandardError().toStdString();
        return card;
    }
    fs::path sampleFront, sampleRear;
    for (const auto &e : fs::directory_iterator(made / "NOR")) {
        const std::string name = e.path().filename().string();
        if (name.find("_F.avi") != std::string::npos)
            sampleFront = e.path();
        else if (name.find("_R.avi") != std::string::npos)
            sampleRear = e.path();
    }
    if (sampleFront.empty() || sampleRear.empty()) {
        ADD_FAILURE() << "no two-channel sample recording";
        return card;
    }
    const fs::path root = dir.path() / "card";
    fs::create_directories(root / "NOR");
    for (int i = 0; i < kSampleRows; ++i) {
        const fs::path frontPath = root / "NOR" / kSampleFiles[i].front;
        if (i == kSampleRows - 1)
            dir.write("card/NOR/" + std::string(kSampleFiles[i].front), "not a recording at all");
        else
            fs::copy_file(sampleFront, frontPath);
        if (kSampleFiles[i].rear)
            fs::copy_file(sampleRear, root / "NOR" / kSampleFiles[i].rear);
    }
    card = root;
    return card;
}

void PlayerTest::SetUp()
{
    testApp();
    platform::setMessageBoxHook([this](const QString &text, const QString &, unsigned) {
        boxes.push_back(text);
        return platform::IDOK;
    });
    const std::filesystem::path &card = sampleCard();
    ASSERT_FALSE(card.empty());

    ViewerState &state = GetViewerState();
    mainWindow = std::make_unique<RecorderPanel>(nullptr, Qt::Window | Qt::FramelessWindowHint);
    mainWindow->setGeometry(100, 100, 780, 780);
    RegisterPanel(panel::MainWindow, mainWindow.get());
    front = std::make_unique<CScreen1Dlg>(mainWindow.get());
    RegisterPanel(panel::FrontScreen, front.get());
    rear = std::make_unique<CScreen2Dlg>(mainWindow.get());
    RegisterPanel(panel::RearScreen, rear.get());
    state.engine.AttachScreens(front->videoArea(), rear->videoArea());
    for (int id : {panel::SensorInfo, panel::MapView, panel::FileList, panel::GsensorGraph, panel::ScreenSettings}) {
        peers[id] = std::make_unique<RecorderPanel>();
        RegisterPanel(id, peers[id].get());
    }

    list = std::make_unique<CSkinListCtrl>(1013, QRect(0, 0, 307, 387), nullptr);
    list->setColumnCount(ListColumnCount);
    RecordingCatalogue &catalogue = state.catalogue;
    catalogue.addFolder("NOR");
    catalogue.addExtension("avi");
    catalogue.sortOrder = SortOrder::Ascending;
    StorageSource source;
    source.label = card.string() + "/";
    source.kind = SourceRemovable;
    catalogue.setSources({source});
    ASSERT_TRUE(catalogue.selectSource(0));
    TreeListView view(*list);
    ASSERT_EQ(catalogue.listAllWithoutRepair(view), kSampleRows);
    for (int row = 0; row < kSampleRows; ++row)
        ASSERT_EQ(list->topLevelItem(row)->text(ColumnName).toStdString(), kSampleFiles[row].front);

    player = std::make_unique<CPlayerMenuDlg>(mainWindow.get(), front.get(), rear.get());
    RegisterPanel(panel::PlayerControl, player.get());
    player->setPeerPanels(peers[panel::MapView].get());
    CSkinListCtrl *rows = list.get();
    player->setFileListLink({[rows] { return rows->focusedRow(); }, [rows] { return rows->topLevelItemCount(); },
                             [rows](int row) { rows->moveToRow(row); },
                             [rows] { rows->ensureRowVisible(rows->focusedRow()); }});
    QObject::connect(player.get(), &CPlayerMenuDlg::graphCursorMoved, peers[panel::GsensorGraph].get(),
                     &RecorderPanel::setCursorTime);
    mainWindow->show();
    player->show();
    pump();
    clearMessages();
}

void PlayerTest::TearDown()
{
    // The panel closes the engine as it goes, before the screens.
    player.reset();
    ViewerState &state = GetViewerState();
    state.layoutMode = 0;
    list.reset();
    peers.clear();
    state.engine.AttachScreens(nullptr, nullptr);
    state.engine.Close();
    front.reset();
    rear.reset();
    mainWindow.reset();
    platform::setMessageBoxHook({});
}

void PlayerTest::focusRow(int row)
{
    QTreeWidgetItem *item = list->topLevelItem(row);
    ASSERT_NE(item, nullptr);
    list->clearSelection();
    list->setCurrentItem(item);
}

bool PlayerTest::openRow(int row)
{
    focusRow(row);
    sendMessage(player.get(), msg::PanelCommand, cmd::Restart);
    // The files are read on the engine's worker; the panel plays once they are.
    waitFor([this] { return !player->isOpening(); });
    return state() == StateRunning && player->currentIndex() == row;
}

void PlayerTest::clearMessages()
{
    mainWindow->messages.clear();
    for (auto &[id, p] : peers) {
        p->messages.clear();
        p->cursorTimes.clear();
    }
}

} // namespace korvante::testing
