#include "trail_player_dlg.h"

#include "gui/device/setting_dlg.h"
#include "gui/device/tavo_formatter_dlg.h"
#include "gui/display/map_view_dlg.h"
#include "gui/playback/player_menu_dlg.h"
#include "gui/report/report_actions.h"
#include "gui/report/snapshot_capture.h"
#include "gui/storage/avi_save_dlg.h"
#include "gui/storage/file_manager_dlg.h"

namespace korvante {

// The modal dialogs the panels open (report, snapshots, card formatter,
// device settings, conversion). Kept apart from the window's construction so
// each dialog's wiring is one place. UI thread only.
void CVX_TrailPlayerDlg::wireDialogs()
{
    CPlayerMenuDlg::DialogHooks hooks;
    hooks.printReport = [this](const QImage &frame, QWidget *mapView) {
        openAccidentReport(this, GetViewerState(), *m_player, frame, mapView);
    };
    hooks.capture = [this] { captureSnapshots(GetViewerState(), *m_player); };
    hooks.formatCard = [this] {
        CTAVOFormatterDlg dialog(this);
        dialog.exec();
    };
    hooks.deviceSettings = [this](const StorageSource &source) {
        CSettingDlg dialog(this, source);
        dialog.exec();
    };
    m_player->setDialogHooks(std::move(hooks));
    m_fileManager->setConversionDialog([](QWidget *panel) {
        CAviSaveDlg dialog(panel, GetViewerState().catalogue);
        dialog.exec();
    });
}

} // namespace korvante
