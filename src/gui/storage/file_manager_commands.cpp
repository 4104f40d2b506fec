// What the file list panel's commands do: Open File, filling by kind, the
// search criteria, sorting and searching, and the conversion dialog.

#include "core/config/viewer_config.h"
#include "core/platform/log.h"
#include "core/playback/viewer_state.h"
#include "core/storage/recording_name.h"
#include "file_list_criteria.h"
#include "file_manager_dlg.h"
#include "gui/platform/message_box.h"
#include "gui/platform/panel_registry.h"
#include "gui/ui/skin_combo_box.h"
#include "gui/ui/skin_list_ctrl.h"
#include "select_drive_dlg.h"
#include "skin_list_view.h"

#include <QDateEdit>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <optional>

#include <unistd.h>

namespace korvante {

namespace {
// Answers the catalogue's folder picker with one folder, for as long as it
// is installed; the previous picker comes back afterwards.
class FixedFolderPicker final : public FolderPicker {
public:
    FixedFolderPicker(RecordingCatalogue &catalogue, std::string folder)
        : m_catalogue(catalogue), m_previous(catalogue.folderPicker), m_folder(std::move(folder))
    {
        m_catalogue.folderPicker = this;
    }
    ~FixedFolderPicker() override { m_catalogue.folderPicker = m_previous; }
    FixedFolderPicker(const FixedFolderPicker &) = delete;
    FixedFolderPicker &operator=(const FixedFolderPicker &) = delete;

    std::optional<std::string> pickFolder(void *, const std::string &) override { return m_folder; }

private:
    RecordingCatalogue &m_catalogue;
    FolderPicker *m_previous;
    std::string m_folder;
};

int computerEntryOf(const RecordingCatalogue &catalogue)
{
    const auto &sources = catalogue.sources();
    for (size_t i = 0; i < sources.size(); ++i)
        if (sources[i].kind == SourceComputer)
            return static_cast<int>(i);
    return -1;
}
} // namespace

void CFileManagerDlg::onCommand(int command)
{
    switch (command) {
    case CmdClose:
        m_shown = false;
        hide();
        break;
    case CmdFixedWindow:
        toggleDocking();
        break;
    case CmdOpenFile:
        openFile();
        break;
    case CmdConversion:
        openConversion();
        break;
    case CmdSortAscending:
    case CmdSortDescending:
    case CmdSearchDate:
    case CmdSearchSpeed:
        sortAndSearch(command);
        break;
    default:
        break;
    }
}

// Repaired files counted as recordings: a two-channel recording is a front
// and a rear file, the rear named with its own second (up to 3 s apart), and
// a power cut leaves both unfinished. A file whose name is not a camera's
// counts on its own.
size_t CFileManagerDlg::recordingsOf(const std::vector<std::string> &paths)
{
    struct Named {
        std::string kind; // the name's first field
        std::time_t time = 0;
    };
    std::vector<Named> fronts, rears;
    size_t others = 0;
    for (const std::string &path : paths) {
        const std::string name = QFileInfo(QString::fromStdString(path)).fileName().toStdString();
        const std::optional<std::time_t> time = dateTimeOfName(name).toLocalTime();
        if (!isTwoChannelName(name) || !time) {
            ++others;
            continue;
        }
        (isRearName(name) ? rears : fronts).push_back({std::string(nameField(name, 0)), *time});
    }
    size_t count = others + fronts.size();
    for (const Named &rear : rears) {
        const bool paired = std::any_of(fronts.begin(), fronts.end(), [&](const Named &front) {
            return front.kind == rear.kind && std::abs(std::difftime(front.time, rear.time)) <= 3;
        });
        count += paired ? 0 : 1;
    }
    return count;
}

void CFileManagerDlg::fillByKind()
{
    if (m_catalogue.entries().empty() || !listAgainIfGone())
        return;
    const int position = m_kindFilter->currentIndex();
    if (position <= 0)
        m_catalogue.listAll(*m_view);
    else
        m_catalogue.listKind(position - 1, *m_view);
    // Files changed by the listing are said in the list (each is in the log).
    const size_t repaired = recordingsOf(m_catalogue.repairedFiles());
    if (repaired > 0) {
        m_notice->setText(repaired == 1 ? QStringLiteral("1 unfinished recording was repaired")
                                        : QStringLiteral("%1 unfinished recordings were repaired").arg(repaired));
        m_notice->setToolTip(QString::fromStdString([this] {
            std::string names;
            for (const std::string &path : m_catalogue.repairedFiles())
                names += (names.empty() ? "" : "\n") + path;
            return names;
        }()));
        m_notice->show();
        m_notice->raise();
    } else {
        m_notice->hide();
    }
    emit listed();
    // A card that fails or goes while it is listed: say which recordings stay unfinished.
    const std::vector<std::string> &failed = m_catalogue.failedRepairs();
    if (!failed.empty()) {
        QString text = QStringLiteral("An unfinished recording could not be repaired:\n")
                       + QString::fromStdString(failed.front());
        if (failed.size() > 1)
            text += QStringLiteral("\n(and %1 more)").arg(failed.size() - 1);
        platform::messageBox(this, text, QString(), platform::MB_OK | platform::MB_ICONERROR);
    }
}

void CFileManagerDlg::listAllKinds()
{
    if (m_kindFilter->currentIndex() != 0)
        m_kindFilter->setCurrentIndex(0); // fills by its signal
    else
        fillByKind();
}

bool CFileManagerDlg::sourceStillThere() const
{
    // One look at the file system in the usual case: the first file found ends it.
    const std::vector<RecordingEntry> &entries = m_catalogue.entries();
    if (m_catalogue.sourceKind() == SourceTavo) {
        const StorageSource *source = m_catalogue.selectedSourceRecord();
        return !source || QFileInfo::exists(QString::fromStdString(text64(source->devicePath)));
    }
    for (const RecordingEntry &entry : entries)
        if (!entry.isCardFile() && ::access(entry.path.c_str(), F_OK) == 0)
            return true;
    return entries.empty();
}

bool CFileManagerDlg::listAgainIfGone()
{
    if (sourceStillThere())
        return true;
    // The card was pulled (or its folder removed) since it was listed: its rows
    // would name recordings that are no longer there. What a fresh scan finds
    // is listed instead, or the list is emptied with the "no files" message.
    logWarning("the listed source is gone, scanning it again");
    m_catalogue.rescanSelected();
    m_sourcePosition = m_catalogue.selectedSource();
    emit listed();
    if (!m_catalogue.entries().empty())
        return true;
    clearRows();
    platform::messageBox(this, noFilesText(), QString(), platform::MB_OK | platform::MB_ICONERROR);
    return false;
}

void CFileManagerDlg::clearRows()
{
    // The catalogue forgot its rows; rows left in the list would name
    // recordings that the player can no longer find.
    m_view->deleteAllRows();
}

QString CFileManagerDlg::noFilesText() const
{
    std::string text;
    if (ViewerConfig::instance().lookupString("MAIN_MSG_NO_FILES", text) && !text.empty())
        return QString::fromStdString(text);
    return QStringLiteral("MAIN_MSG_NO_FILES");
}

void CFileManagerDlg::beginOpen()
{
    // The main window and panels are disabled until the listing is done; the
    // player stops first, since the list it plays from is about to change.
    PostToPanel(panel::MainWindow, msg::EnableWindows, 0);
    sendMessage(FindPanel(panel::PlayerControl), msg::PanelCommand, cmd::Reset);
    m_catalogue.sortOrder = SortOrder::Ascending;
}

void CFileManagerDlg::openFile()
{
    beginOpen();
    std::optional<int> chosen;
    {
        CNSelectDriveDlg dialog(this, m_catalogue);
        if (dialog.exec() == QDialog::Accepted)
            chosen = dialog.selection();
    }
    listChosenSource(chosen);
}

bool CFileManagerDlg::openFolder(const QString &folder)
{
    beginOpen();
    int computer = computerEntryOf(m_catalogue);
    if (computer < 0)
        computer = m_catalogue.enumerateSources() - 1;
    // Rows keep the paths as scanned: a relative folder would tie them to the
    // working folder of the moment.
    const QString absolute = folder.isEmpty() ? QString() : QFileInfo(folder).absoluteFilePath();
    FixedFolderPicker picker(m_catalogue, absolute.toStdString());
    return listChosenSource(computer);
}

bool CFileManagerDlg::listChosenSource(std::optional<int> position)
{
    if (position && m_catalogue.selectSource(*position))
        fillByKind();
    // The drive dialog rebuilt the source list: the catalogue's selection
    // followed its source, or was cleared when that source is gone.
    m_sourcePosition = m_catalogue.selectedSource();
    if (m_catalogue.entries().empty() || m_sourcePosition < 0)
        clearRows();
    if (m_catalogue.shownCount() > 0) {
        setPickersFromRows();
        selectRow(0);
    }
    PostToPanel(panel::MainWindow, msg::EnableWindows, 1);
    emit listed();

    const bool rows = m_view->rowCount() > 0;
    if (!position || !rows)
        platform::messageBox(this, noFilesText(), QString(), platform::MB_OK | platform::MB_ICONERROR);
    return position && rows;
}

void CFileManagerDlg::setPickersFromRows()
{
    const RecordingEntry *first = m_catalogue.shownEntryAt(0);
    const RecordingEntry *last = m_catalogue.shownEntryAt(m_catalogue.shownCount() - 1);
    const auto apply = [](QDateEdit *picker, const RecordingEntry *entry) {
        if (!entry)
            return;
        if (const std::optional<QDate> date = pickerDateOfName(entry->name))
            picker->setDate(*date);
        else // the picker keeps its date; the search range is still the user's to set
            logWarning("recording name without a valid date, date picker left as it was: " + entry->name);
    };
    apply(m_startDate, first);
    apply(m_endDate, last);
}

std::optional<SearchCriteria> CFileManagerDlg::readCriteria()
{
    const std::optional<int64_t> start = localMidnight(m_startDate->date());
    const std::optional<int64_t> end = localMidnight(m_endDate->date());
    if (!start || !end || *start > *end) {
        platform::messageBox(this, QStringLiteral("Please check the date input again."));
        return std::nullopt;
    }
    SearchCriteria criteria;
    criteria.start = *start;
    criteria.end = *end;
    criteria.minSpeed = thresholdKmh(m_speedEdit->text(), m_speedUnit->currentIndex());
    return criteria;
}

bool CFileManagerDlg::runSearch()
{
    if (m_catalogue.entries().empty())
        return false;
    const std::optional<SearchCriteria> criteria = readCriteria();
    if (!criteria)
        return false;
    m_criteria = *criteria;
    const int position = m_kindFilter->currentIndex();
    if (position <= 0)
        m_catalogue.searchAll(*m_view, m_criteria);
    else
        m_catalogue.searchKind(*m_view, m_criteria, position - 1);
    return true;
}

void CFileManagerDlg::sortAndSearch(int command)
{
    const bool sort = command == CmdSortAscending || command == CmdSortDescending;
    if (sort && m_view->rowCount() == 0)
        return;
    // Inverted dates are refused before the re-scan, so the list and the rows
    // the catalogue knows stay the same ones.
    if (!m_catalogue.entries().empty() && !readCriteria())
        return;
    m_catalogue.sortOrder = command == CmdSortAscending ? SortOrder::Ascending : SortOrder::Descending;
    // The source chosen last, scanned afresh; a picked folder is not asked
    // for again.
    const bool hadRows = m_view->rowCount() > 0;
    m_catalogue.rescanSelected();
    m_sourcePosition = m_catalogue.selectedSource();
    emit listed();
    if (!runSearch()) {
        clearRows();
        // The rows shown came from a card or folder that is gone now.
        if (hadRows)
            platform::messageBox(this, noFilesText(), QString(), platform::MB_OK | platform::MB_ICONERROR);
    }
}

void CFileManagerDlg::openConversion()
{
    if (m_catalogue.entries().empty() || !listAgainIfGone())
        return;
    const int32_t kind = m_catalogue.sourceKind();
    if (kind != SourceRemovable && kind != SourceTavo) {
        platform::messageBox(this, QStringLiteral("No Conversion File."));
        return;
    }
    if (!m_conversionDialog) {
        logInfo("no conversion dialog in this build");
        return;
    }
    ViewerState &state = GetViewerState();
    if (state.engine.GetState() == StateRunning)
        sendMessage(FindPanel(panel::PlayerControl), msg::PanelCommand, cmd::Pause);
    m_conversionDialog(this);
    fillByKind();
}

} // namespace korvante
