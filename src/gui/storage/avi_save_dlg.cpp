#include "avi_save_dlg.h"

#include "core/platform/log.h"
#include "core/storage/export_entry.h"
#include "core/storage/list_view.h"
#include "core/storage/recording_catalogue.h"
#include "core/storage/save_folder_memory.h"
#include "gui/platform/message_box.h"
#include "gui/platform/panel_registry.h"
#include "gui/ui/skin_combo_box.h"

#include <QApplication>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QWindow>

namespace korvante {

namespace {

const char *const kStyle =
    "QDialog { background: rgb(28,31,40); border: 1px solid rgb(76,85,118); }"
    "QLabel { color: white; }"
    "QPushButton { color: white; background: rgb(28,31,40); border: 1px solid rgb(76,85,118); }"
    "QPushButton:hover { background: rgb(76,85,118); }"
    "QPushButton:pressed { background: rgb(115,123,165); }"
    "QPushButton:disabled { color: rgb(110,110,110); border-color: rgb(50,55,70); }"
    "QLineEdit { color: white; background: rgb(16,16,16); border: 1px solid rgb(76,85,118); }"
    "QTreeWidget { color: white; background: rgb(16,16,16); alternate-background-color: rgb(22,24,30);"
    " selection-background-color: rgb(76,85,118); border: 1px solid rgb(76,85,118); }"
    "QTreeWidget::indicator { width: 11px; height: 11px; border: 1px solid rgb(160,168,205);"
    " background: rgb(16,16,16); }"
    "QTreeWidget::indicator:checked { background: rgb(160,168,205); }"
    "QTreeWidget::indicator:disabled { border-color: rgb(90,95,115); }"
    "QHeaderView::section { color: white; background: rgb(40,44,58); border: 0px;"
    " border-right: 1px solid rgb(28,31,40); padding-left: 4px; }"
    "QProgressBar { color: white; background: rgb(16,16,16); border: 1px solid rgb(76,85,118);"
    " text-align: center; }"
    "QProgressBar::chunk { background: rgb(76,85,118); }";

// The dialog's list as the catalogue fills it: the catalogue's columns 0 to 3
// and its name column (5) become the five columns NO., DATA, TIME, TYPE and
// NAME; its channel column is not shown. Every row gets a check box.
class CheckListView final : public ListView {
public:
    explicit CheckListView(QTreeWidget *list) : m_list(list) {}

    void deleteAllRows() override { m_list->clear(); }
    void insertRow(int row, const std::string &firstColumn) override
    {
        auto *item = new QTreeWidgetItem;
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(0, Qt::Unchecked);
        item->setText(0, QString::fromStdString(firstColumn));
        m_list->insertTopLevelItem(row, item);
    }
    void setColumnText(int row, int column, const std::string &text) override
    {
        const int shown = column == ColumnName ? 4 : column < ColumnChannels ? column : -1;
        if (QTreeWidgetItem *item = m_list->topLevelItem(row); item && shown >= 0)
            item->setText(shown, QString::fromStdString(text));
    }
    void setRedraw(bool enabled) override { m_list->setUpdatesEnabled(enabled); }
    void setBusyCursor(bool busy) override
    {
        if (busy)
            QApplication::setOverrideCursor(Qt::WaitCursor);
        else
            QApplication::restoreOverrideCursor();
    }

private:
    QTreeWidget *m_list;
};

QLabel *makeLabel(const QString &text, const QRect &rect, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setGeometry(rect);
    return label;
}

} // namespace

CAviSaveDlg::CAviSaveDlg(QWidget *owner, RecordingCatalogue &catalogue, const QString &configPath)
    : PanelDialog(nullptr, Qt::Dialog), m_catalogue(catalogue), m_owner(owner),
      m_configPath(configPath.isEmpty() ? SaveFolderMemory::defaultPath() : configPath)
{
    setObjectName(QStringLiteral("CAviSaveDlg"));
    setWindowTitle(QStringLiteral("AVI Saving"));
    setWindowModality(Qt::ApplicationModal);
    setFixedSize(kSize);
    setStyleSheet(QLatin1String(kStyle));
    m_exporter = [this](int row, const std::string &folder) {
        const EntryExportResult r = exportEntry(m_catalogue, row, folder);
        if (!r.ok()) {
            // Every failure is logged and its reason shown at the end.
            logWarning("conversion of row " + std::to_string(row + 1) + " failed: " + r.message);
            m_lastFailure = r.message; // read by the UI thread after the join
        }
        return r.ok();
    };
    createControls();
    fill();
    m_savePath = SaveFolderMemory(m_configPath).read();
    m_saveEdit->setText(m_savePath);
    // Centred on the main window (the file list that opens it is a window of
    // its own at the main window's edge).
    QWidget *main = FindPanel(panel::MainWindow);
    if (!main && m_owner)
        main = m_owner->window();
    if (main)
        move(main->frameGeometry().center() - QPoint(kSize.width() / 2, kSize.height() / 2));
}

CAviSaveDlg::~CAviSaveDlg()
{
    m_running.store(false);
    if (m_worker.joinable())
        m_worker.join();
}

void CAviSaveDlg::createControls()
{
    makeLabel(QStringLiteral("Video Choice:"), QRect(12, 12, 96, 20), this);
    m_kindFilter = new CSkinComboBox(kKindFilterId, QRect(110, 10, 120, 22), this);
    m_kindFilter->addItems({QStringLiteral("ALL"), QStringLiteral("NORMAL"), QStringLiteral("EVENT"),
                            QStringLiteral("PARKING"), QStringLiteral("MANUAL")});
    m_kindFilter->setCurrentIndex(0);
    connect(m_kindFilter, &QComboBox::currentIndexChanged, this, [this] { fill(); });

    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("list%1").arg(kListId));
    m_list->setGeometry(12, 42, 516, 300);
    m_list->setRootIsDecorated(false);
    m_list->setAlternatingRowColors(true);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    QFont font(QStringLiteral("Verdana"));
    font.setPixelSize(13);
    m_list->setFont(font);
    m_list->setHeaderLabels({QStringLiteral("NO."), QStringLiteral("DATA"), QStringLiteral("TIME"),
                             QStringLiteral("TYPE"), QStringLiteral("NAME")});
    m_list->header()->setSectionsMovable(true);
    m_list->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // The check box shares the first column: wider than the number alone needs.
    const int widths[] = {64, 90, 72, 50, 230};
    for (int c = 0; c < 5; ++c)
        m_list->setColumnWidth(c, widths[c]);

    auto makeButton = [this](int id, const QString &text, const QRect &rect, auto action) {
        auto *b = new QPushButton(text, this);
        b->setObjectName(QStringLiteral("button%1").arg(id));
        b->setGeometry(rect);
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, action);
        m_buttons.push_back(b);
        return b;
    };
    makeButton(kSelectAllId, QStringLiteral("Select All"), QRect(12, 352, 100, 26), [this] { setAllTicked(true); });
    makeButton(kDeselectAllId, QStringLiteral("Deselect All"), QRect(120, 352, 100, 26),
               [this] { setAllTicked(false); });
    m_progress = new QProgressBar(this);
    m_progress->setGeometry(232, 354, 296, 22);
    m_progress->setRange(0, 1);
    m_progress->setValue(0);
    m_progress->setFormat(QStringLiteral("%v / %m"));
    m_progress->setTextVisible(false);

    makeLabel(QStringLiteral("Save Location:"), QRect(12, 394, 96, 20), this);
    m_saveEdit = new QLineEdit(this);
    m_saveEdit->setGeometry(110, 392, 360, 24);
    // A folder may be typed as well as chosen with "...".
    makeButton(kBrowseId, QStringLiteral("..."), QRect(476, 392, 52, 24), [this] { chooseFolder(); });
    makeButton(kConversionId, QStringLiteral("Conversion"), QRect(318, 432, 100, 28), [this] { startConversion(); });
    makeButton(0, QStringLiteral("Close"), QRect(428, 432, 100, 28), [this] { reject(); });
}

QPushButton *CAviSaveDlg::button(int id) const
{
    const QString name = QStringLiteral("button%1").arg(id);
    for (QPushButton *b : m_buttons)
        if (b->objectName() == name)
            return b;
    return nullptr;
}

void CAviSaveDlg::showEvent(QShowEvent *event)
{
    // Kept above the viewer by the window manager.
    if (m_owner && windowHandle() && m_owner->window()->windowHandle())
        windowHandle()->setTransientParent(m_owner->window()->windowHandle());
    PanelDialog::showEvent(event);
}

void CAviSaveDlg::fill()
{
    // These fills set the catalogue's shown rows, which the export reads.
    // Nothing is repaired here: the file list's own fill did that.
    CheckListView view(m_list);
    const int position = m_kindFilter->currentIndex();
    if (position <= 0)
        m_catalogue.listAllWithoutRepair(view);
    else
        m_catalogue.listKind(position - 1, view);
}

void CAviSaveDlg::setAllTicked(bool ticked)
{
    for (int i = 0; i < m_list->topLevelItemCount(); ++i)
        m_list->topLevelItem(i)->setCheckState(0, ticked ? Qt::Checked : Qt::Unchecked);
}

void CAviSaveDlg::chooseFolder()
{
    const QString folder =
        platform::Dialogs::getExistingDirectory(this, QStringLiteral("Choose a directory."), m_savePath);
    if (folder.isEmpty())
        return;
    m_savePath = folder;
    m_saveEdit->setText(folder);
    if (!SaveFolderMemory(m_configPath).write(folder))
        logWarning("cannot keep the save folder in " + m_configPath.toStdString());
}

void CAviSaveDlg::startConversion()
{
    std::vector<int> rows;
    for (int i = 0; i < m_list->topLevelItemCount(); ++i)
        if (m_list->topLevelItem(i)->checkState(0) == Qt::Checked)
            rows.push_back(i);
    if (rows.empty()) {
        platform::messageBox(this, QStringLiteral("Please select one or more files to convert."));
        return;
    }
    const QString typed = m_saveEdit->text().trimmed();
    if (typed.isEmpty()) {
        platform::messageBox(this, QStringLiteral("Please enter the save path."));
        return;
    }
    const int32_t kind = m_catalogue.sourceKind();
    if ((kind != SourceRemovable && kind != SourceTavo) || m_worker.joinable())
        return;
    if (typed != m_savePath) {
        m_savePath = typed;
        if (!SaveFolderMemory(m_configPath).write(typed))
            logWarning("cannot keep the save folder in " + m_configPath.toStdString());
    }
    // A folder that went away, cannot be written or that others could
    // redirect writes in would fail every row: said once, before the run.
    const std::string problem = outputFolderRefusal(m_savePath.toStdString());
    if (!problem.empty()) {
        logWarning("conversion refused: " + m_savePath.toStdString() + ": " + problem);
        platform::messageBox(this, QStringLiteral("The save location cannot be used: ") + m_savePath
                                       + QStringLiteral("\n") + QString::fromStdString(problem),
                             QString(), platform::MB_OK | platform::MB_ICONERROR);
        return;
    }
    // Recordings that would be written to one file would overwrite each other.
    const auto shared = sharedOutputNames(m_catalogue, rows);
    if (!shared.empty()) {
        QString text = QStringLiteral("These recordings would be saved under one name; tick only one of them:");
        for (const auto &[file, sameRows] : shared) {
            text += QStringLiteral("\n") + QString::fromStdString(file) + QStringLiteral(":");
            for (int row : sameRows)
                text += QStringLiteral(" ") + QString::number(row + 1);
        }
        logWarning("conversion refused: " + std::to_string(shared.size()) + " output name(s) shared by several recordings");
        platform::messageBox(this, text, QString(), platform::MB_OK | platform::MB_ICONERROR);
        return;
    }
    m_progress->setRange(0, static_cast<int>(rows.size()));
    m_progress->setValue(0);
    m_progress->setTextVisible(true);
    setControlsEnabled(false);
    m_running.store(true);
    m_failed = 0;
    m_lastFailure.clear();
    m_worker = std::thread([this, rows = std::move(rows), path = m_savePath.toStdString()]() mutable {
        runWorker(std::move(rows), std::move(path));
    });
}

void CAviSaveDlg::runWorker(std::vector<int> rows, std::string folder)
{
    for (int row : rows) {
        if (!m_exporter(row, folder))
            ++m_failed;
        QMetaObject::invokeMethod(this, [this] { m_progress->setValue(m_progress->value() + 1); },
                                  Qt::QueuedConnection);
        if (!m_running.load())
            break;
    }
    QMetaObject::invokeMethod(this, [this] { workerFinished(); }, Qt::QueuedConnection);
}

void CAviSaveDlg::workerFinished()
{
    if (m_worker.joinable())
        m_worker.join();
    // A card pulled during the run fails the rest: never report that as done.
    if (m_failed == 0) {
        platform::messageBox(this, QStringLiteral("Conversion Completed."));
    } else {
        QString text = QStringLiteral("%1 of the %2 recordings could not be converted.")
                           .arg(m_failed)
                           .arg(m_progress->maximum());
        if (!m_lastFailure.empty())
            text += QLatin1Char('\n') + QString::fromStdString(m_lastFailure);
        platform::messageBox(this, text, QString(), platform::MB_OK | platform::MB_ICONERROR);
    }
    m_running.store(false);
    setControlsEnabled(true);
    m_progress->setValue(0);
    m_progress->setTextVisible(false);
}

void CAviSaveDlg::setControlsEnabled(bool enabled)
{
    m_kindFilter->setEnabled(enabled);
    m_list->setEnabled(enabled);
    for (int id : {kBrowseId, kConversionId, kSelectAllId, kDeselectAllId})
        button(id)->setEnabled(enabled);
}

void CAviSaveDlg::done(int result)
{
    if (m_worker.joinable()) {
        m_running.store(false);
        platform::messageBox(this, QStringLiteral("During the conversion."));
        return;
    }
    PanelDialog::done(result);
}

} // namespace korvante
