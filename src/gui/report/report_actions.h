#pragma once
// The player control panel's Capture and Print actions, as the main window
// wires them: snapshot capture of the open recording, and the accident
// report dialog with its evidence (the recording's files, the playback
// position, the impact summary) and the map picture.
//
// UI thread only.

#include "core/playback/viewer_state.h"

#include <string>

class QImage;
class QWidget;

namespace korvante {

class CPlayerMenuDlg;
struct RecordingEntry;
struct ReportEvidence;

// The catalogue entry of the recording the player opened, or null: the
// entry of the player's row when its name matches, else the entry of that
// name (a list refilled since may have moved it).
const RecordingEntry *openEntry(const ViewerState &state, const CPlayerMenuDlg &player);

// The evidence of the open recording, without digests: its files as the
// engine opened them, the playback position and the impact summary.
ReportEvidence collectEvidence(ViewerState &state, const CPlayerMenuDlg &player);

// "camera clock 47 s slow" when the GPS fixes of the open recording (as the
// metadata poller has read them) show the camera's clock off; empty when
// they do not, or there are none.
std::string cameraClockNote(const CQDRVTextData &sensorData, const std::string &frontName);

// Runs the accident report dialog modally over `parent` with `frame` (the
// grabbed picture) and the picture of `mapView` (the map panel, may be null).
void openAccidentReport(QWidget *parent, ViewerState &state, const CPlayerMenuDlg &player, const QImage &frame,
                        QWidget *mapView);

} // namespace korvante
