#pragma once
// The viewer's main window on a card that the sample-card tool wrote, for
// tests that use it as a person would: the overview cache in a folder of the
// test program's own, the shipped configuration loaded, message boxes
// collected instead of shown. For the GUI tests that link the main window
// (KORVANTE_SOURCE_DIR and KORVANTE_BINARY_DIR defined).

#include "core/config/viewer_config.h"
#include "core/playback/viewer_state.h"
#include "gui/app/trail_player_dlg.h"
#include "gui/platform/message_box.h"
#include "gui/storage/file_manager_dlg.h"
#include "support/gui_app.h"
#include "support/temp_dir.h"

#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace korvante::testing {

// The test program's application; the card's recording folders come from
// the configuration, which the viewer state imports when it is made.
inline QApplication &viewerTestApp(const char *programName, GuiAppOptions options = {})
{
    static TempDir cacheHome;
    qputenv("XDG_CACHE_HOME", QByteArray::fromStdString(cacheHome.path().string()));
    QApplication &made = guiTestApp(programName, options);
    static const bool configured = [] {
        const bool loaded = ViewerConfig::instance().loadFile(KORVANTE_SOURCE_DIR "/resources/viewerconfig.cfg");
        GetViewerState();
        return loaded;
    }();
    EXPECT_TRUE(configured);
    return made;
}

// A folder card written into `dir` by korvante-mkcard with `arguments`
// (besides --folder); its path, or empty when the tool failed.
inline std::string makeSampleCard(const TempDir &dir, const QStringList &arguments)
{
    QProcess mkcard;
    mkcard.start(QStringLiteral(KORVANTE_BINARY_DIR "/bin/korvante-mkcard"),
                 QStringList{QStringLiteral("--folder"), QString::fromStdString(dir.path().string())} + arguments);
    const bool made = mkcard.waitForFinished(300000) && mkcard.exitCode() == 0;
    return made ? dir.path().string() : std::string();
}

// The main window shown with a card listed; closed, and the message box
// hook given back, after each test.
class ViewerWindowTest : public ::testing::Test {
protected:
    // Call from SetUp once the application is made: `card` listed, `rows` rows.
    void openWindow(const std::string &card, int rows)
    {
        ASSERT_FALSE(card.empty()) << "korvante-mkcard failed";
        m_previous = platform::setMessageBoxHook([this](const QString &text, const QString &, unsigned) {
            boxes.push_back(text);
            return platform::IDOK;
        });
        window = std::make_unique<CVX_TrailPlayerDlg>();
        window->show();
        pumpEvents();
        window->openPath(QString::fromStdString(card));
        ASSERT_EQ(window->fileList()->rowCount(), rows);
    }
    void TearDown() override
    {
        window.reset();
        platform::setMessageBoxHook(std::move(m_previous));
    }

    std::unique_ptr<CVX_TrailPlayerDlg> window;
    std::vector<QString> boxes;

private:
    platform::MessageBoxHook m_previous;
};

} // namespace korvante::testing
