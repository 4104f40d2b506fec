#pragma once
// Snapshot capture: saves the picture each channel shows at the playback
// position as a JPEG file, one file per channel, under a name the user
// confirms in a save dialog. The player control panel runs it from its
// Capture button.
//
// UI thread only.

#include "core/storage/recording_entry.h"

#include <QString>

#include <cstdint>
#include <string>

class QImage;

namespace korvante {

class CPlayerMenuDlg;
struct ViewerState;

// The base name of the snapshot files (the default name without "_CHx.jpg"),
// by the configuration's `filetime` (0x4) and `addpos` (0x8) bits:
//   filetime          the entry's file time, local, "%d%02d%02d_%02d%02d%02d"
//   filetime+addpos   the same plus the playback position
//   addpos            the date and time in the entry's name plus the position
//   neither           `playerName` without its last four characters
// A date that is not a real calendar date (a file time of 0 or beyond the
// year 9999, a name whose digits are no date) falls back to the plain-name
// form, so no nonsense name is proposed. A name shorter than 15 characters
// gives an empty base in the `addpos` form.
QString snapshotBaseName(std::uint32_t flags, const QString &playerName, const std::string &entryName,
                         WindowsFileTime fileTime, std::uint64_t positionMs);

// The file of channel `channel` (0 front, 1 rear) for the path chosen in the
// save dialog: the path without its last five characters, then "(Front)" or
// "(Rear)" and ".jpg". The cut never reaches into the folder part, so a short
// typed name cannot send the file to another folder.
QString snapshotChannelPath(const QString &chosenPath, int channel);

// Writes `image` as a JPEG at `path` through a temporary file renamed into
// place, so an interrupted save leaves no partial file under that name.
bool saveJpeg(const QImage &image, const QString &path);

// The capture operation: pauses a running or paused graph, proposes the
// default name, and writes one file per channel whose picture can be
// grabbed; a running graph runs again afterwards. `player` gives the open
// recording's name and list row.
void captureSnapshots(ViewerState &state, const CPlayerMenuDlg &player);

} // namespace korvante
