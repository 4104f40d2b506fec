#pragma once
// The file list panel (template 139): the recordings of the chosen card or
// folder in a skinned list, a kind filter, a search by date range and recorded
// maximum speed, sorting, and the Open File command that picks the source.
// Every row comes from the catalogue of the viewer state; the panel keeps no
// recordings of its own. The player control panel opens and steps through
// its rows by the calls below, linked by the main window.
//
// 315 x 470, docked at the main window's origin plus (770, 310) while the
// main window is in its default layout; hidden and kept on top in the wide
// layouts. Owned by the main window. UI thread only.

#include "core/storage/recording_entry.h"
#include "gui/platform/panel_frame.h"

#include <array>
#include <functional>
#include <optional>

class QDateEdit;
class QLabel;
class QLineEdit;

namespace korvante {

class CSkinButton;
class CSkinComboBox;
class CSkinListCtrl;
class RecordingCatalogue;
class SkinListView;

class CFileManagerDlg : public PanelFrame {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 139;
    static constexpr QPoint kDockOffset{770, 310};
    static constexpr QSize kSize{315, 470};

    // Control ids.
    static constexpr int kListId = 1013;
    static constexpr int kKindFilterId = 1008;
    static constexpr int kStartDateId = 1009;
    static constexpr int kEndDateId = 1010;
    static constexpr int kSpeedEditId = 1031;
    static constexpr int kSpeedUnitId = 1032;

    // Command numbers, carried by the buttons' clicks (msg::ButtonClick).
    enum Command : int {
        CmdClose = 0,
        CmdFixedWindow = 1,
        CmdOpenFile = 2,
        CmdConversion = 3,
        CmdSortAscending = 4,
        CmdSortDescending = 5,
        CmdSearchDate = 6,
        CmdSearchSpeed = 7,
        CommandCount = 8,
    };

    // Skin images of the "Fixed window" toggle: docked, floating.
    static constexpr int kDockedImage = 244;
    static constexpr int kFloatingImage = 243;

    explicit CFileManagerDlg(QWidget *mainWindow);
    ~CFileManagerDlg() override;

    void followMainWindow() override;
    void setLayout(int wide) override;

    // Lists `folder` as a folder picked on the computer, exactly as Open File
    // does when the folder picker answers with it (the "no files" message
    // included): a card's root (it holds the recording folders) like the card
    // in a reader, any other folder as itself. Returns whether rows are shown.
    bool openFolder(const QString &folder);
    // Gives the row that lists the file at `path` the focus and selection, as
    // a click does. False when no row lists that file.
    bool selectRecording(const QString &path);

    // The list's current row (the one the player opens), -1 when none; the
    // number of rows shown.
    int currentRow() const;
    int rowCount() const;
    // Makes `row` current and the only one selected, gives the list the focus
    // and scrolls the row into view (the player's Previous and Next File).
    void moveToRow(int row);
    // Scrolls the current row into view.
    void revealCurrentRow();
    // Lists every recording of the source (the kind filter set to ALL, a
    // search's selection dropped), as choosing ALL does.
    void listAllKinds();

    // The conversion dialog, run modally over the panel by command 3. Until
    // one is set, command 3 on a card or drive does nothing.
    using ConversionDialog = std::function<void(QWidget *panel)>;
    void setConversionDialog(ConversionDialog dialog) { m_conversionDialog = std::move(dialog); }

    bool isDocked() const { return m_docked; }
    bool isShownFlag() const { return m_shown; }
    int sourcePosition() const { return m_sourcePosition; }
    const SearchCriteria &criteria() const { return m_criteria; }

    // The controls, for the main window's checks and for tests.
    CSkinListCtrl *listCtrl() const { return m_list; }
    CSkinComboBox *kindFilter() const { return m_kindFilter; }
    CSkinComboBox *speedUnit() const { return m_speedUnit; }
    QDateEdit *startDatePicker() const { return m_startDate; }
    QDateEdit *endDatePicker() const { return m_endDate; }
    QLineEdit *speedEdit() const { return m_speedEdit; }
    // The line at the foot of the list that says what the last fill
    // repaired; hidden when it repaired nothing.
    QLabel *repairNotice() const { return m_notice; }
    CSkinButton *button(int command) const;

signals:
    // The catalogue's recordings may have changed: a source was listed,
    // scanned again or emptied (the card overview follows it).
    void listed();

protected:
    qintptr onMessage(int message, quintptr w, qintptr l) override;
    bool dragsByBody() const override { return !m_docked || m_wide; }
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Layout and controls (file_manager_dlg.cpp).
    void createControls();
    void createButtons();
    void toggleDocking();
    void toggleShown();
    void selectRow(int row);
    void onRowClicked();
    void onRowDoubleClicked();

    // Behaviour (file_manager_commands.cpp).
    void onCommand(int command);
    void fillByKind();
    // How many recordings the repaired files make (a front and its rear are one).
    static size_t recordingsOf(const std::vector<std::string> &paths);
    // Whether the listed card or folder is still there: its card device, or
    // any one of its files.
    bool sourceStillThere() const;
    // When it is not, scans it again; false (list emptied, "no files" said)
    // when nothing is left to list.
    bool listAgainIfGone();
    void beginOpen();
    void openFile();
    bool listChosenSource(std::optional<int> position);
    void setPickersFromRows();
    std::optional<SearchCriteria> readCriteria();
    void sortAndSearch(int command);
    bool runSearch();
    void clearRows();
    void openConversion();
    QString noFilesText() const;

    RecordingCatalogue &m_catalogue;
    CSkinListCtrl *m_list = nullptr;
    SkinListView *m_view = nullptr; // owned
    CSkinComboBox *m_kindFilter = nullptr;
    QDateEdit *m_startDate = nullptr;
    QDateEdit *m_endDate = nullptr;
    QLineEdit *m_speedEdit = nullptr;
    CSkinComboBox *m_speedUnit = nullptr;
    QLabel *m_notice = nullptr;
    std::array<CSkinButton *, CommandCount> m_buttons{};

    bool m_docked = true;
    bool m_shown = true;
    bool m_wide = false;
    // Return or Enter is down on the list: a held key plays its row once.
    bool m_enterDown = false;
    quint64 m_enterReleasedAt = 0; // event time of its last release, ms
    // The position of the source chosen last in the catalogue's sources (the
    // catalogue keeps it in step when the list is rebuilt); -1: none.
    int m_sourcePosition = -1;
    SearchCriteria m_criteria;
    ConversionDialog m_conversionDialog;
};

} // namespace korvante
