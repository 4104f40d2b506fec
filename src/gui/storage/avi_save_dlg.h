#pragma once
// The conversion dialog (template 161, "AVI Saving"): the recordings of the
// selected card in a list with check boxes, filtered by kind, and a save
// folder; "Conversion" writes each ticked recording into that folder as an
// ".avi" file (exportEntry) on a worker thread while the dialog shows the
// progress. The last save folder is kept in "config.clm" (SaveFolderMemory).
//
// The dialog fills the list through the catalogue, which sets the
// catalogue's shown rows; the file list panel fills its own rows again when
// the dialog closes.
//
// Threads: the dialog lives on the UI thread. One worker at a time exports
// the rows ticked when "Conversion" was pressed; it shares with the UI thread
// only `m_running` (cleared by the UI thread to stop after the current
// recording) and reports progress and its end by queued calls. While it runs
// the dialog is modal and its list controls are disabled, so the catalogue's
// rows, folders and card device stay as they are. The destructor stops and
// waits for the worker.
//
// Ownership: the catalogue is not owned and must outlive the dialog.

#include "gui/platform/message_window.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

class QLineEdit;
class QProgressBar;
class QPushButton;
class QTreeWidget;

namespace korvante {

class CSkinComboBox;
class RecordingCatalogue;

class CAviSaveDlg final : public PanelDialog {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 161;
    static constexpr QSize kSize{540, 470};

    // Control ids.
    static constexpr int kListId = 1012;
    static constexpr int kSaveEditId = 1013;
    static constexpr int kKindFilterId = 1014;
    static constexpr int kConversionId = 1015;
    static constexpr int kProgressId = 1016;
    static constexpr int kBrowseId = 1017;
    static constexpr int kSelectAllId = 1018;
    static constexpr int kDeselectAllId = 1020;

    // Exports list row `row` into `folder`; true when a file was written. Runs
    // on the worker thread.
    using Exporter = std::function<bool(int row, const std::string &folder)>;

    // `configPath` is the "config.clm" to use; empty: the viewer's own.
    CAviSaveDlg(QWidget *owner, RecordingCatalogue &catalogue, const QString &configPath = {});
    ~CAviSaveDlg() override;

    // Replaces the export of one row (tests hold a row to stop mid-run).
    void setExporter(Exporter exporter) { m_exporter = std::move(exporter); }

    bool isConverting() const { return m_worker.joinable(); }
    QString savePath() const { return m_savePath; }

    // "Select All" and "Deselect All".
    void setAllTicked(bool ticked);
    void startConversion();
    void chooseFolder();

    CSkinComboBox *kindFilter() const { return m_kindFilter; }
    QTreeWidget *list() const { return m_list; }
    QProgressBar *progressBar() const { return m_progress; }
    QLineEdit *saveEdit() const { return m_saveEdit; }
    QPushButton *button(int id) const;

    // While a conversion runs, OK and Cancel stop it after the current
    // recording instead of closing.
    void done(int result) override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void createControls();
    void fill();
    void setControlsEnabled(bool enabled);
    void runWorker(std::vector<int> rows, std::string folder);
    void workerFinished();

    RecordingCatalogue &m_catalogue;
    QWidget *m_owner;
    QString m_configPath;
    QString m_savePath;
    CSkinComboBox *m_kindFilter = nullptr;
    QTreeWidget *m_list = nullptr;
    QProgressBar *m_progress = nullptr;
    QLineEdit *m_saveEdit = nullptr;
    std::vector<QPushButton *> m_buttons;
    Exporter m_exporter;
    std::atomic<bool> m_running{false};
    // Written by the worker, read by the UI thread once it has joined it.
    int m_failed = 0;           // rows whose export failed in this run
    std::string m_lastFailure;  // why the last of them failed
    std::thread m_worker;
};

} // namespace korvante
