#pragma once
// Panels find each other by their template id (102 main window, 129 front
// screen, 130 rear screen, 135 player control, 136 sensor information, 137 map
// view, 139 file list, 155 G-sensor graph, 159 screen settings).
//
// The registry holds non-owning guarded pointers: a destroyed panel is
// forgotten the next time it is looked up. UI thread only.

#include <QPointer>
#include <QWidget>

#include <vector>

namespace korvante {

namespace panel {
inline constexpr int MainWindow = 102;
inline constexpr int FrontScreen = 129;
inline constexpr int RearScreen = 130;
inline constexpr int PlayerControl = 135;
inline constexpr int SensorInfo = 136;
inline constexpr int MapView = 137;
inline constexpr int FileList = 139;
inline constexpr int GsensorGraph = 155;
inline constexpr int ScreenSettings = 159;
} // namespace panel

// Replaces the first entry with this id, then appends (window, id).
void RegisterPanel(int id, QWidget *window);
// The live window registered under `id`, or null (a dead entry is removed).
QWidget *FindPanel(int id);
// Posts a panel message with `w` as first and 0 as second parameter.
bool PostToPanel(int id, int message, quintptr w);
// Number of entries, dead ones included (for tests).
size_t panelRegistrySize();

} // namespace korvante
