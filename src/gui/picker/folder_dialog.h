#pragma once
// The modal folder chooser used when the user picks a folder on the computer
// as a source of recordings, in the viewer's dark look. Beside the folder
// list it offers the places where cards and footage are kept (home, the
// desktop's media folders, each mounted removable drive by its volume name:
// picker_places.h). It lists folders and ".avi" files with its own icons, keeps a
// history of recent folders (CHistoryCombo) and remembers how the folder list
// was shown (icons, list, details, small icons, tiles) as a view command
// number in the registry profile ("XFolderDialog" / "ViewMode").
//
// UI thread only; one dialog per request.

#include "gui/platform/message_window.h"

#include <QString>

#include <memory>

class QFileSystemModel;
class QLabel;
class QLineEdit;
class QListView;
class QListWidget;
class QTimer;
class QModelIndex;
class QPushButton;
class QStackedWidget;
class QTreeView;

namespace korvante {

class CHistoryCombo;
class PickerIcons;

// View commands of the folder list, as stored in the registry.
namespace viewcmd {
inline constexpr int Details = 28747;
inline constexpr int Tiles = 28748;
inline constexpr int IconsLarge = 28749;
inline constexpr int Icons = 28750;
inline constexpr int IconsMedium = 28751;
inline constexpr int SmallIcons = 28752;
inline constexpr int List = 28753;
// Older commands that may still be stored by an earlier version.
inline constexpr int OldIcons = 28713;
inline constexpr int OldList = 28715;
inline constexpr int OldDetails = 28716;
inline constexpr int OldThumbnails = 28717;
inline constexpr int OldTiles = 28718;
} // namespace viewcmd

class CXFolderDialog final : public PanelDialog {
    Q_OBJECT
public:
    explicit CXFolderDialog(QWidget *parent = nullptr);
    ~CXFolderDialog() override;

    QString title;                                 // empty: "Select Folder"
    QString initialFolder = QStringLiteral("/");
    QString selectedPath;                          // the result after OK
    int style = 0;                                 // kept for callers; one look on this system
    int viewMode = 0;                              // 0: remembered, else list
    bool rememberViewMode = false;
    bool applyViewMode = false;

    // Runs the dialog modally; QDialog::Accepted after a valid choice.
    int exec() override;

    // The folder the list shows now.
    QString currentFolder() const { return m_currentFolder; }
    // Opens `path` in the list when it names an existing folder.
    bool navigateTo(const QString &path);
    // Shows the list the way command `command` says (0: list view).
    void applyView(int command);
    // The command that describes how the list is shown now.
    int capturedViewMode() const { return m_capturedView; }

    CHistoryCombo *historyCombo() const { return m_combo; }
    // The places list: each item's Qt::UserRole data is the folder it opens.
    QListWidget *places() const { return m_places; }
    // Reads the places again (drives inserted or removed).
    void refreshPlaces();
    // The OK button's action: the folder selected in the list, else the
    // typed text; validated, saved in the history, closed with OK.
    void onOk();
    // Validates `path`, saves it in the history and closes with OK; an empty
    // or missing folder is refused with a message and the dialog stays.
    void confirm(const QString &path);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void done(int result) override;

private:
    void buildUi();
    void onActivated(const QModelIndex &index);
    void onSelectionChanged();
    void navigateFromCombo(const QString &text, bool typed);
    QString selectedItemPath() const;

    std::unique_ptr<PickerIcons> m_icons; // the model's icons; the destructor deletes the model first
    QFileSystemModel *m_model = nullptr;
    QListWidget *m_places = nullptr;
    QTimer *m_placesTimer = nullptr;
    QStackedWidget *m_views = nullptr;
    QListView *m_list = nullptr;
    QTreeView *m_tree = nullptr;
    QLineEdit *m_location = nullptr;
    CHistoryCombo *m_combo = nullptr;
    QPushButton *m_ok = nullptr;
    QString m_currentFolder;
    int m_capturedView = viewcmd::List;
    bool m_viewModeRead = false;
};

} // namespace korvante
