// The conversion dialog on a card image of ten recordings: its list and
// refusals, the save folder kept in config.clm, the progress of a run, and a
// close asked for during a run.

#include "catalogue_fixture.h"
#include "gui/platform/message_box.h"
#include "gui/storage/avi_save_dlg.h"
#include "gui/ui/skin_combo_box.h"
#include "file_list_fixture.h"
#include "support/log_capture.h"
#include "support/small_card.h"
#include "tavo/tavo_writer.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

namespace korvante {
namespace {

namespace fs = std::filesystem;
using namespace korvante::testing;

QStringList strings(std::initializer_list<const char *> texts)
{
    QStringList list;
    for (const char *t : texts)
        list << QString::fromUtf8(t);
    return list;
}

bool waitUntil(const std::function<bool()> &done)
{
    for (int i = 0; i < 1000 && !done(); ++i)
        QTest::qWait(10);
    return done();
}

class AviSaveTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        filelisttest::app();
        const fs::path image = dir.path() / "card.img";
        const tavo::CardLayout layout = korvante::testing::smallCardLayout();
        std::string error;
        auto writer = tavo::CardWriter::createImage(image.string(), layout, &error);
        ASSERT_TRUE(writer) << error;
        const std::pair<const char *, const char *> kinds[] = {{"NOR", "N"}, {"EVT", "E"}, {"MOT", "P"}, {"MAN", "M"}};
        for (const auto &k : kinds)
            ASSERT_TRUE(writer->addDirectory(k.first));
        recording = buildRecording(layoutOf(typicalChunks(6))).bytes;
        for (int i = 0; i < 10; ++i) { // 4 normal, 3 event, 2 parking, 1 manual
            const auto &k = kinds[i < 4 ? 0 : i < 7 ? 1 : i < 9 ? 2 : 3];
            const std::string name = std::string(k.second) + "_20120305_1422" + std::to_string(10 + i) + "_2CH_F.tavo";
            ASSERT_NE(writer->addFile(k.first, name, 1330957330 + i, recording.data(), recording.size()), 0u);
        }
        ASSERT_TRUE(writer->finish(&error)) << error;
        configureCameraFolders(catalogue);
        StorageSource s;
        s.kind = SourceTavo;
        setText64(s.devicePath, image.string());
        catalogue.setSources({s});
        ASSERT_TRUE(catalogue.selectSource(0));
        fs::create_directories(out);
        previousBoxes = platform::setMessageBoxHook([this](const QString &text, const QString &, unsigned) {
            boxes.push_back(text);
            return platform::IDOK;
        });
    }
    void TearDown() override { platform::setMessageBoxHook(previousBoxes); }

    // "..." answered with `folder`; returns the browser's caption.
    static QString pickFolder(CAviSaveDlg &dialog, const QString &folder)
    {
        QString caption;
        platform::DialogHooks hooks;
        hooks.folder = [&](const QString &c, const QString &) {
            caption = c;
            return folder;
        };
        const platform::DialogHooks previous = platform::Dialogs::setHooks(hooks);
        dialog.chooseFolder();
        platform::Dialogs::setHooks(previous);
        return caption;
    }

    bool completed() const { return boxes.contains(QStringLiteral("Conversion Completed.")); }

    TempDir dir;
    LogCapture log;
    RecordingCatalogue catalogue;
    Bytes recording;
    fs::path out = dir.path() / "out";
    QString config = QString::fromStdString((dir.path() / "cfg" / "config.clm").string());
    QStringList boxes;
    platform::MessageBoxHook previousBoxes;
};

TEST_F(AviSaveTest, ListRefusalsAndTheKeptFolder)
{
    CAviSaveDlg dialog(nullptr, catalogue, config);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("AVI Saving"));
    QTreeWidget *list = dialog.list();
    ASSERT_EQ(list->topLevelItemCount(), 10);
    QStringList headers;
    for (int c = 0; c < list->columnCount(); ++c)
        headers << list->headerItem()->text(c);
    EXPECT_EQ(headers, strings({"NO.", "DATA", "TIME", "TYPE", "NAME"}));
    const QTreeWidgetItem *first = list->topLevelItem(0);
    EXPECT_EQ(QStringList({first->text(0), first->text(1), first->text(2), first->text(3), first->text(4)}),
              strings({"001", "2012-03-05", "14:22:10", "NOR", "N_20120305_142210_2CH_F"}));
    dialog.kindFilter()->setCurrentIndex(2); // EVENT
    EXPECT_EQ(list->topLevelItemCount(), 3);
    EXPECT_EQ(catalogue.shownCount(), 3);
    EXPECT_EQ(dialog.saveEdit()->text(), QString());

    dialog.startConversion();
    list->topLevelItem(1)->setCheckState(0, Qt::Checked);
    dialog.startConversion();
    EXPECT_EQ(boxes, strings({"Please select one or more files to convert.", "Please enter the save path."}));

    // "..." keeps the folder as UTF-16LE text with a NUL; the next dialog shows it.
    const QString folder = QString::fromStdString(out.string()) + QStringLiteral("/é");
    EXPECT_EQ(pickFolder(dialog, folder), QStringLiteral("Choose a directory."));
    EXPECT_EQ(dialog.saveEdit()->text(), folder);
    Bytes expected;
    for (QChar c : folder)
        expected.insert(expected.end(), {static_cast<unsigned char>(c.unicode()), static_cast<unsigned char>(c.unicode() >> 8)});
    expected.insert(expected.end(), {0, 0});
    EXPECT_EQ(readAll(config.toStdString()), expected);
    expected.insert(expected.end(), {'x', 0, 'y', 0}); // an old, longer name's tail after the NUL
    writeAll(config.toStdString(), expected);
    EXPECT_EQ(CAviSaveDlg(nullptr, catalogue, config).saveEdit()->text(), folder);
}

TEST_F(AviSaveTest, ThreeTickedRowsOfTenMoveTheProgressToThree)
{
    CAviSaveDlg dialog(nullptr, catalogue, config);
    dialog.show();
    pickFolder(dialog, QString::fromStdString(out.string()));
    for (int row : {1, 4, 7})
        dialog.list()->topLevelItem(row)->setCheckState(0, Qt::Checked);
    std::vector<int> progress;
    QObject::connect(dialog.progressBar(), &QProgressBar::valueChanged, [&](int v) { progress.push_back(v); });
    dialog.startConversion();
    EXPECT_FALSE(dialog.list()->isEnabled());
    EXPECT_FALSE(dialog.button(CAviSaveDlg::kConversionId)->isEnabled());
    EXPECT_EQ(dialog.progressBar()->maximum(), 3);
    ASSERT_TRUE(waitUntil([&] { return completed(); }));
    EXPECT_EQ(progress, (std::vector<int>{1, 2, 3, 0}));
    EXPECT_TRUE(dialog.list()->isEnabled());
    EXPECT_TRUE(dialog.button(CAviSaveDlg::kConversionId)->isEnabled());
    std::vector<std::string> written;
    for (const auto &e : fs::directory_iterator(out)) {
        written.push_back(e.path().filename().string());
        EXPECT_EQ(readAll(e.path()), recording);
    }
    std::sort(written.begin(), written.end());
    EXPECT_EQ(written, (std::vector<std::string>{"E_20120305_142214_2CH_F.avi", "N_20120305_142211_2CH_F.avi",
                                                 "P_20120305_142217_2CH_F.avi"}));
    dialog.reject();
    EXPECT_FALSE(dialog.isVisible());
}

TEST_F(AviSaveTest, ClosingDuringARunStopsAfterTheCurrentRecording)
{
    CAviSaveDlg dialog(nullptr, catalogue, config);
    dialog.show();
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false, released = false;
    std::vector<int> exported;
    dialog.setExporter([&](int row, const std::string &) {
        std::unique_lock lock(mutex);
        exported.push_back(row);
        entered = true;
        changed.notify_all();
        changed.wait(lock, [&] { return released; });
        return true;
    });
    dialog.setAllTicked(true);
    pickFolder(dialog, QString::fromStdString(out.string()));
    dialog.startConversion();
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(10), [&] { return entered; }));
    }
    dialog.reject();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(boxes, strings({"During the conversion."}));
    {
        std::lock_guard lock(mutex);
        released = true;
    }
    changed.notify_all();
    ASSERT_TRUE(waitUntil([&] { return completed(); }));
    EXPECT_EQ(exported, std::vector<int>{0});
    dialog.reject();
    EXPECT_FALSE(dialog.isVisible());
}

// The card goes before a run (its image cut to nothing under the open
// device): every export fails, and the end says so with the reason instead
// of "Conversion Completed.".
TEST_F(AviSaveTest, ARunOnAPulledCardReportsItsFailures)
{
    CAviSaveDlg dialog(nullptr, catalogue, config);
    dialog.show();
    pickFolder(dialog, QString::fromStdString(out.string()));
    dialog.setAllTicked(true);
    fs::resize_file(dir.path() / "card.img", 0);
    dialog.startConversion();
    ASSERT_TRUE(waitUntil([&] { return !boxes.isEmpty() && !dialog.isConverting(); }));
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_TRUE(boxes[0].startsWith(QStringLiteral("10 of the 10 recordings could not be converted.\n"))) << boxes[0].toStdString();
    EXPECT_TRUE(fs::is_empty(out));
}

// A card in a reader: its folders' recordings (with a rear file) are written
// into a typed folder; a run that cannot write says why, in the box and the log.
TEST_F(AviSaveTest, ACardFolderExportsIntoATypedPathAndFailuresSayWhy)
{
    const fs::path root = dir.path() / "reader";
    writeRecording(root / "NOR", "N_20120305_142233_2CH_F.avi");
    writeRecording(root / "NOR", "N_20120305_142234_2CH_R.avi");
    writeRecording(root / "EVT", "E_20120305_150000_1CH_F.avi");
    RecordingCatalogue drive;
    configureCameraFolders(drive);
    ASSERT_TRUE(selectDrive(drive, root));

    CAviSaveDlg dialog(nullptr, drive, config);
    ASSERT_EQ(dialog.list()->topLevelItemCount(), 2);
    dialog.setAllTicked(true);
    dialog.saveEdit()->setText(QString::fromStdString(out.string()));
    dialog.startConversion();
    ASSERT_TRUE(waitUntil([&] { return !boxes.isEmpty() && !dialog.isConverting(); }));
    EXPECT_EQ(boxes, strings({"Conversion Completed."}));
    EXPECT_EQ(dialog.savePath().toStdString(), out.string());
    for (const char *name : {"N_20120305_142233_2CH_F.avi", "N_20120305_142234_2CH_R.avi", "E_20120305_150000_1CH_F.avi"})
        EXPECT_EQ(readAll(out / name), readAll(root / (name[0] == 'N' ? "NOR" : "EVT") / name)) << name;

    // Into the card's own folder: the recording itself is never the output.
    boxes.clear();
    const Bytes before = readAll(root / "EVT" / "E_20120305_150000_1CH_F.avi");
    dialog.saveEdit()->setText(QString::fromStdString((root / "EVT").string()));
    dialog.startConversion();
    ASSERT_TRUE(waitUntil([&] { return !boxes.isEmpty() && !dialog.isConverting(); }));
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_TRUE(boxes[0].startsWith(QStringLiteral("1 of the 2 recordings could not be converted.\n")));
    EXPECT_TRUE(boxes[0].contains(QStringLiteral("is the recording itself"))) << boxes[0].toStdString();
    EXPECT_TRUE(log.contains("is the recording itself"));
    EXPECT_EQ(readAll(root / "EVT" / "E_20120305_150000_1CH_F.avi"), before);
}

} // namespace
} // namespace korvante
