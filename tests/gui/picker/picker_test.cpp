#include "core/platform/registry.h"
#include "gui/picker/folder_dialog.h"
#include "gui/picker/history_combo.h"
#include "gui/picker/picker_places.h"
#include "gui/platform/message_box.h"
#include "support/file_writes.h"
#include "support/temp_dir.h"

#include <QApplication>
#include <QDir>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace korvante;
using korvante::testing::FileWrites;
using korvante::testing::TempDir;

namespace {

QApplication &app()
{
    static int argc = 1;
    static char name[] = "gui_picker_tests";
    static char *argv[] = {name, nullptr};
    static QApplication *instance = new QApplication(argc, argv);
    return *instance;
}

// A registry of its own and recorded message boxes for each test.
class PickerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        app();
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(m_config.path().string()));
        m_previous = platform::setMessageBoxHook([this](const QString &text, const QString &, unsigned) {
            boxes.push_back(text);
            return platform::IDOK;
        });
    }
    void TearDown() override
    {
        platform::setMessageBoxHook(std::move(m_previous));
        qunsetenv("XDG_CONFIG_HOME");
    }
    QString folder(const std::string &name)
    {
        std::filesystem::create_directories(m_files.path() / name);
        return QString::fromStdString((m_files.path() / name).string());
    }
    static QString history(int n)
    {
        return Registry::value(Registry::profileGroup(QStringLiteral("FolderHistory")),
                               QStringLiteral("Folder%1").arg(n, 4, 10, QLatin1Char('0')))
            .toString();
    }

    std::vector<QString> boxes;
    TempDir m_config;
    TempDir m_files;
    platform::MessageBoxHook m_previous;
};

} // namespace

TEST_F(PickerTest, ChoosingTheSameFolderTwiceKeepsOneEntryAtTheTop)
{
    const QString a = folder("a"), b = folder("b");
    for (const QString &choice : {a, b, a}) {
        CHistoryCombo combo;
        combo.setMaximum(50);
        combo.loadHistory();
        combo.setEditText(choice);
        combo.saveHistory();
    }
    EXPECT_EQ(history(0), a);
    EXPECT_EQ(history(1), b);
    EXPECT_TRUE(history(2).isEmpty());
    EXPECT_EQ(Registry::value(Registry::profileGroup(QStringLiteral("FolderHistory")), QStringLiteral("Folder"))
                  .toString(),
              a);

    // The last choice is pre-selected next time.
    CHistoryCombo next;
    next.setMaximum(50);
    next.loadHistory();
    EXPECT_EQ(next.count(), 2);
    EXPECT_EQ(next.currentText(), a);
}

TEST_F(PickerTest, FiftyEntriesPushTheOldestOutAndDeleteItsKey)
{
    const QString group = Registry::profileGroup(QStringLiteral("FolderHistory"));
    for (int i = 0; i < 50; ++i)
        Registry::setValue(group, QStringLiteral("Folder%1").arg(i, 4, 10, QLatin1Char('0')),
                           QStringLiteral("/old/%1").arg(i));
    // A stale key beyond the list, as an older version with a larger history left it.
    Registry::setValue(group, QStringLiteral("Folder0050"), QStringLiteral("/stale/50"));
    Registry::setValue(group, QStringLiteral("Folder0051"), QStringLiteral("/stale/51"));

    CHistoryCombo combo;
    combo.setMaximum(50);
    combo.loadHistory();
    ASSERT_EQ(combo.count(), 50);
    combo.setEditText(QStringLiteral("/new"));
    combo.saveHistory();
    EXPECT_EQ(history(0), QStringLiteral("/new"));
    EXPECT_EQ(history(1), QStringLiteral("/old/0"));
    EXPECT_EQ(history(49), QStringLiteral("/old/48"));
    EXPECT_FALSE(Registry::contains(group, QStringLiteral("Folder0050")));
    EXPECT_FALSE(Registry::contains(group, QStringLiteral("Folder0051")));
}

// Saving a full history is one write of the settings file, whatever the
// number of entries and stale keys.
TEST_F(PickerTest, SavingTheHistoryWritesTheSettingsFileOnce)
{
    const QString group = Registry::profileGroup(QStringLiteral("FolderHistory"));
    {
        Registry::Batch seed;
        for (int i = 0; i < 52; ++i)
            seed.setValue(group, QStringLiteral("Folder%1").arg(i, 4, 10, QLatin1Char('0')), QStringLiteral("/old/%1").arg(i));
    }
    CHistoryCombo combo;
    combo.setMaximum(50);
    combo.loadHistory();
    FileWrites writes(Registry::filePath().toStdString());
    ASSERT_TRUE(writes.watching());
    combo.setEditText(QStringLiteral("/new"));
    combo.saveHistory();
    EXPECT_EQ(writes.take(), 1);
    EXPECT_EQ(history(0), QStringLiteral("/new"));
    EXPECT_EQ(history(49), QStringLiteral("/old/48"));
    EXPECT_FALSE(Registry::contains(group, QStringLiteral("Folder0051")));
}

TEST_F(PickerTest, OkRefusesEmptyAndMissingFoldersAndAcceptsAnExistingOne)
{
    const QString good = folder("card");
    CXFolderDialog dialog;
    dialog.navigateTo(folder("start"));
    dialog.historyCombo()->setEditText(QString());
    dialog.onOk();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], QStringLiteral("Please select a folder."));
    EXPECT_NE(dialog.result(), QDialog::Accepted);

    const QString gone = good + QStringLiteral("/vanished");
    dialog.historyCombo()->setEditText(gone);
    dialog.onOk();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1], QStringLiteral("The folder '%1' isn't accessible.").arg(gone));
    EXPECT_NE(dialog.result(), QDialog::Accepted);

    dialog.historyCombo()->setEditText(good);
    dialog.onOk();
    EXPECT_EQ(boxes.size(), 2u);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.selectedPath, good);
    EXPECT_EQ(history(0), good);
}

TEST_F(PickerTest, TypingAFolderAndLeavingTheFieldOpensIt)
{
    const QString start = folder("start"), target = folder("target");
    CXFolderDialog dialog;
    dialog.navigateTo(start);
    dialog.show();
    QLineEdit *edit = dialog.historyCombo()->lineEdit();
    edit->setFocus();
    edit->setText(target);
    QFocusEvent out(QEvent::FocusOut);
    QApplication::sendEvent(edit, &out);
    EXPECT_EQ(dialog.currentFolder(), target);
    EXPECT_EQ(dialog.selectedPath, target);

    // A path that is not a folder does not move the list.
    edit->setText(target + QStringLiteral("/nope"));
    QApplication::sendEvent(edit, &out);
    EXPECT_EQ(dialog.currentFolder(), target);

    // Keys reach the combo box, which keeps the focus: Return on a typed
    // folder opens it, and the dialog stays open.
    const QString inner = folder("target/inner");
    edit->setText(inner);
    QTest::keyClick(dialog.historyCombo(), Qt::Key_Return);
    EXPECT_EQ(dialog.currentFolder(), inner);
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    // Return on the folder shown confirms it.
    QTest::keyClick(dialog.historyCombo(), Qt::Key_Return);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.selectedPath, inner);
    // Leaving the combo box (not only its line edit) also opens a typed folder.
    CXFolderDialog other;
    other.navigateTo(start);
    other.historyCombo()->lineEdit()->setText(target);
    QApplication::sendEvent(other.historyCombo(), &out);
    EXPECT_EQ(other.currentFolder(), target);
}

TEST_F(PickerTest, EnterInThePathFieldGoesToTheTypedPathNotTheListSelection)
{
    const QString start = folder("start"), sub = folder("start/sub"), other = folder("other");
    CXFolderDialog dialog;
    dialog.navigateTo(start);
    dialog.show();
    auto *list = dialog.findChild<QListView *>(QStringLiteral("folderList"));
    ASSERT_NE(list, nullptr);
    auto *model = qobject_cast<QFileSystemModel *>(list->model());
    ASSERT_NE(model, nullptr);
    // A folder selected in the list, then a path typed over it.
    const auto selectSub = [&] {
        const QModelIndex index = model->index(sub);
        ASSERT_TRUE(index.isValid());
        list->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
        ASSERT_EQ(dialog.historyCombo()->currentText(), sub);
    };
    selectSub();
    QLineEdit *edit = dialog.historyCombo()->lineEdit();
    edit->setText(other);
    QTest::keyClick(dialog.historyCombo(), Qt::Key_Return);
    EXPECT_EQ(dialog.currentFolder(), other);
    EXPECT_NE(dialog.result(), QDialog::Accepted);

    // Back in the first folder with its subfolder selected, Enter on the
    // folder shown confirms the typed folder, not the selected one.
    dialog.navigateTo(start);
    selectSub();
    edit->setText(start);
    QTest::keyClick(dialog.historyCombo(), Qt::Key_Return);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.selectedPath, start);
    EXPECT_EQ(history(0), start);

    // A typed path that is no folder is refused, whatever the list holds.
    CXFolderDialog again;
    again.navigateTo(start);
    again.historyCombo()->lineEdit()->setText(start + QStringLiteral("/missing"));
    QTest::keyClick(again.historyCombo(), Qt::Key_Return);
    EXPECT_NE(again.result(), QDialog::Accepted);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], QStringLiteral("The folder '%1' isn't accessible.").arg(start + QStringLiteral("/missing")));
}

TEST_F(PickerTest, ViewModeIsRememberedAsACommandNumber)
{
    {
        CXFolderDialog dialog;
        dialog.rememberViewMode = true;
        dialog.applyViewMode = true;
        dialog.navigateTo(folder("x"));
        EXPECT_EQ(dialog.capturedViewMode(), viewcmd::List); // nothing stored: the list view
        dialog.applyView(viewcmd::Details);
        dialog.reject();
    }
    EXPECT_EQ(Registry::value(Registry::profileGroup(QStringLiteral("XFolderDialog")), QStringLiteral("ViewMode"))
                  .toInt(),
              viewcmd::Details);
    CXFolderDialog again;
    again.rememberViewMode = true;
    again.applyViewMode = true;
    again.navigateTo(folder("y"));
    EXPECT_EQ(again.capturedViewMode(), viewcmd::Details);
    again.applyView(viewcmd::Tiles);
    EXPECT_EQ(again.capturedViewMode(), viewcmd::Tiles);
    again.reject();
    EXPECT_EQ(again.viewMode, viewcmd::Tiles);
}

namespace {
void writeLine(const std::filesystem::path &file, const std::string &text)
{
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file) << text << "\n";
}
} // namespace

// The places: home, the user's media folder, and a card mounted below a fake
// system root by its volume name; the system's own disk is not one of them;
// a click opens the place.
TEST_F(PickerTest, PlacesOfferHomeMediaAndEachRemovableDriveByName)
{
    TempDir machine;
    const std::filesystem::path root = machine.path();
    const std::string user = currentUserName().toStdString();
    ASSERT_FALSE(user.empty());
    writeLine(root / "sys/block/sda/removable", "0");
    writeLine(root / "sys/block/sda/size", "1000000");
    writeLine(root / "sys/block/sda/dev", "8:0");
    writeLine(root / "sys/block/sda/sda1/partition", "1");
    writeLine(root / "sys/block/sda/sda1/dev", "8:1");
    writeLine(root / "sys/block/sdb/removable", "1");
    writeLine(root / "sys/block/sdb/size", "131072");
    writeLine(root / "sys/block/sdb/dev", "8:16");
    writeLine(root / "sys/block/sdb/sdb1/partition", "1");
    writeLine(root / "sys/block/sdb/sdb1/dev", "8:17");
    writeLine(root / "dev/sda", "");
    writeLine(root / "dev/sdb", "");
    const std::string point = "/media/" + user + "/MY CARD";
    std::filesystem::create_directories(root / ("media/" + user + "/MY CARD/NOR"));
    writeLine(root / "proc/self/mountinfo", "21 1 0:20 / /proc rw - proc proc rw\n"
                                            "30 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
                                            "31 30 8:17 / /media/" + user + "/MY\\040CARD rw - vfat /dev/sdb1 rw");
    qputenv("KORVANTE_SYSROOT", QByteArray::fromStdString(root.string()));

    CXFolderDialog dialog;
    dialog.refreshPlaces();
    QListWidget *places = dialog.places();
    std::vector<std::pair<QString, QString>> seen;
    for (int i = 0; i < places->count(); ++i)
        seen.emplace_back(places->item(i)->text(), places->item(i)->data(Qt::UserRole).toString());
    qunsetenv("KORVANTE_SYSROOT");
    const QString rootText = QString::fromStdString(root.string());
    const QString media = QDir::cleanPath(rootText + QStringLiteral("/media/") + QString::fromStdString(user));
    const QString card = QDir::cleanPath(rootText + QString::fromStdString(point));
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].second, QDir::homePath());
    EXPECT_EQ(QDir::cleanPath(seen[1].second), media);
    EXPECT_EQ(seen[2].first, QStringLiteral("MY CARD"));
    EXPECT_EQ(QDir::cleanPath(seen[2].second), card);
    // Every place has an icon, drawn here whatever the desktop's theme.
    for (int i = 0; i < places->count(); ++i)
        EXPECT_FALSE(places->item(i)->icon().isNull()) << i;

    // A click on the card opens it.
    places->scrollToItem(places->item(2));
    dialog.show();
    const QRect row = places->visualItemRect(places->item(2));
    QTest::mouseClick(places->viewport(), Qt::LeftButton, {}, row.center());
    EXPECT_EQ(QDir::cleanPath(dialog.currentFolder()), card);
}
