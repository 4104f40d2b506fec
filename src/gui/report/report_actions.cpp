#include "report_actions.h"

#include "core/clock/card_clock.h"
#include "core/storage/recording_name.h"
#include "gui/playback/player_menu_dlg.h"
#include "gui/report/map_picture.h"
#include "gui/report/print_dlg.h"
#include "gui/report/report_page.h"

namespace korvante {

const RecordingEntry *openEntry(const ViewerState &state, const CPlayerMenuDlg &player)
{
    const std::string name = player.currentName().toStdString();
    if (name.empty())
        return nullptr;
    const RecordingEntry *entry = state.catalogue.shownEntryAt(player.currentIndex());
    if (entry && entry->name == name)
        return entry;
    for (const RecordingEntry &candidate : state.catalogue.entries()) {
        if (candidate.name == name)
            return &candidate;
    }
    return nullptr;
}

std::string cameraClockNote(const CQDRVTextData &sensorData, const std::string &frontName)
{
    std::optional<clock::RecordingFixes> fixes;
    sensorData.withFixes([&](const std::list<CQDRVGPSData> &list) { fixes = clock::fixesOf(frontName, list); });
    return fixes ? clock::driftNote(clock::checkClock({*fixes})) : std::string();
}

ReportEvidence collectEvidence(ViewerState &state, const CPlayerMenuDlg &player)
{
    ReportEvidence evidence;
    MediaEngine &engine = state.engine;
    evidence.positionMs = engine.GetPositionMs();
    if (const PlaybackGraph *graph = engine.graph.get()) {
        const RecordingEntry *entry = openEntry(state, player);
        std::intptr_t device = 0;
        std::int32_t fileId = -1;
        if (entry && entry->isCardFile()) {
            device = reinterpret_cast<std::intptr_t>(state.catalogue.cardDevice());
            fileId = entry->cardFileId;
        }
        if (!entry || !entry->isCardFile() || device != 0)
            evidence.files = describeEvidence(graph->frontPath, graph->rearPath, device, fileId,
                                              graph->channelCount >= 2);
    }
    evidence.hasSamples = state.sensorData.sampleCount() > 0;
    evidence.impact = summarizeImpact(state.sensorData, evidence.positionMs);
    if (const PlaybackGraph *graph = engine.graph.get())
        evidence.cameraClock = cameraClockNote(state.sensorData, std::string(fileNameOf(graph->frontPath)));
    return evidence;
}

void openAccidentReport(QWidget *parent, ViewerState &state, const CPlayerMenuDlg &player, const QImage &frame,
                        QWidget *mapView)
{
    ReportEvidence evidence = collectEvidence(state, player);
    const QImage map = reportMapPicture(mapView, state.sensorData, evidence.positionMs);
    CPrintDlg dialog(parent, frame, std::move(evidence));
    dialog.setMapPicture(map);
    dialog.exec();
}

} // namespace korvante
