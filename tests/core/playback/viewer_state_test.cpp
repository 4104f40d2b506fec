// The one shared state: made once on first use, with the configuration
// handed to the catalogue and the registry mark written.

#include "core/config/viewer_config.h"
#include "core/platform/registry.h"
#include "core/playback/viewer_state.h"
#include "core/storage/catalogue_config.h"
#include "support/temp_dir.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <cstdio>

using namespace korvante;
using korvante::testing::TempDir;

namespace {

TempDir &configHome()
{
    static TempDir dir;
    return dir;
}

// The configuration every test of this program sees: duplicates on purpose,
// and no picker caption.
void loadConfiguration()
{
    static bool loaded = false;
    if (loaded)
        return;
    loaded = true;
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(configHome().path().string()));
    TempDir files;
    const std::string path = files.write(
        "viewerconfig.cfg",
        "<r><configs><dirs><dir type=\"NOR\">NOR</dir><dir type=\"EVT\">EVT</dir></dirs>"
        "<extensions><extension>avi</extension><extension>AVI</extension><extension>tavo</extension></extensions>"
        "<recursive removal=\"yes\"/></configs>"
        "<lstrings><lstring id=\"SELDRV_COMBO_DESKTOP\"><language type=\"english\">This computer</language></lstring>"
        "<lstring id=\"COMM_SEL_FOLDER\"><language type=\"english\"></language></lstring>"
        "</lstrings></r>");
    ::testing::internal::CaptureStdout();
    ViewerConfig::instance().loadFile(path);
    ::testing::internal::GetCapturedStdout();
}

} // namespace

TEST(ViewerStateTest, MadeOnceWithTheConfigurationImported)
{
    loadConfiguration();
    EXPECT_FALSE(ViewerStateExists());
    ViewerState &first = GetViewerState();
    ViewerState &second = GetViewerState();
    EXPECT_EQ(&first, &second);
    EXPECT_TRUE(ViewerStateExists());

    const RecordingCatalogue &catalogue = first.catalogue;
    ASSERT_EQ(catalogue.folders().size(), 2u);
    EXPECT_EQ(catalogue.folders()[0].name, "NOR");
    EXPECT_EQ(catalogue.folders()[1].name, "EVT");
    // "AVI" is the same extension as "avi" once lower-cased.
    ASSERT_EQ(catalogue.extensions().size(), 2u);
    EXPECT_EQ(catalogue.extensions()[0], "avi");
    EXPECT_EQ(catalogue.extensions()[1], "tavo");
    EXPECT_EQ(catalogue.computerCaption, "This computer");
    EXPECT_EQ(catalogue.pickerCaption, "Select Folder"); // an empty text keeps the default
    EXPECT_TRUE(catalogue.recurseRemovable);
    EXPECT_FALSE(catalogue.recursePicked);

    EXPECT_EQ(first.layoutMode, 0);
    EXPECT_EQ(first.speedUnit, 0);
    EXPECT_EQ(first.engine.metadataMode, 1);
    EXPECT_EQ(first.engine.windowCount, 0);
    EXPECT_EQ(first.engine.graph, nullptr);
    EXPECT_EQ(Registry::value(Registry::machineGroup(), QStringLiteral("usingDShow")).toInt(), 1);
}

TEST(ViewerStateTest, ClearingTheFixZeroesIt)
{
    loadConfiguration();
    ViewerState &state = GetViewerState();
    state.currentFix.speed = 88.0;
    state.currentFixValid = 1;
    state.clearCurrentFix();
    EXPECT_EQ(state.currentFixValid, 0);
    EXPECT_EQ(state.currentFix.speed, 0.0);
}

TEST(ViewerStateTest, ImportingTwiceKeepsOneEntryPerFolderAndExtension)
{
    loadConfiguration();
    RecordingCatalogue catalogue;
    importConfiguration(ViewerConfig::instance(), catalogue);
    importConfiguration(ViewerConfig::instance(), catalogue);
    EXPECT_EQ(catalogue.folders().size(), 2u);
    EXPECT_EQ(catalogue.extensions().size(), 2u);
}
