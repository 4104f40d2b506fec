#pragma once
// Export of the catalogue's card recordings into ".avi" files on the computer:
// the recording shown in a list row is read out of the TAVO partition through
// the card library, in 5 MiB blocks, and written by exportRecording
// (export_walk.h) into a temporary file in the save folder, which is synced and
// renamed to its final name only when complete. A failed or cancelled export
// leaves nothing behind, neither under the final name nor the temporary one.
//
// Threads: any thread. The conversion worker calls exportEntry while the
// modal dialog keeps the UI thread from scanning; the card device is held by
// its own reference for the length of each export, so a scan that drops it
// meanwhile cannot close it under the reader.

#include "core/storage/export_walk.h"

#include <atomic>
#include <map>
#include <string>
#include <vector>

namespace korvante {

class RecordingCatalogue;

struct ExportOptions {
    // Replace a file of the final name (the conversion dialog does); when
    // false such a file is left alone and the export reports Exists.
    bool overwrite = true;
    const std::atomic<bool> *cancel = nullptr; // checked before each block
    ExportProgress progress;                   // bytes read so far, after each block
};

enum class EntryExportStatus {
    Exported,
    NoEntry,     // no recording in that row
    NotCardFile, // a file on a plain file system: nothing to export
    NoFolder,    // its card folder is not among the scanned folders
    BadName,     // its name gives no usable file name
    OpenFailed,  // the card file cannot be opened
    Exists,      // the output exists and overwrite is off
    OutputFailed,// the output cannot be created, written, synced or renamed
    UnsafeFolder,// other users may rename files in the save folder: nothing is written
    Failed,      // the export itself failed: see `result`
};

struct EntryExportResult {
    EntryExportStatus status = EntryExportStatus::NoEntry;
    ExportResult result;    // the walk's result (Exported and Failed)
    std::string outputPath; // the final path, once known
    std::string message;    // why it failed, for the user; empty when exported

    bool ok() const { return status == EntryExportStatus::Exported; }
};

// The output file name for a recording's name: its last extension replaced by
// ".avi" ("N_20120305_142233_2CH_F.tavo" gives "N_20120305_142233_2CH_F.avi"),
// ".avi" appended to a name without one. Empty for a name that cannot be a
// file name in the save folder (empty, ".", "..", holding "/" or a NUL).
std::string exportFileName(const std::string &name);

// The output names that more than one of the list rows `rows` would be
// written to ("SAME.tavo" in two folders, "SAME.avi" and "SAME" all become
// "SAME.avi"), each with those rows in the order given. Exporting them in one
// run would leave only the last; callers refuse instead.
std::map<std::string, std::vector<int>> sharedOutputNames(const RecordingCatalogue &catalogue,
                                                          const std::vector<int> &rows);

// Exports the recording of list row `row` (RecordingCatalogue::shownEntryAt)
// into `saveFolder` (with or without a trailing "/"). A card recording is read
// through the card library; a recording of a card's folders (a card in a
// reader, its folders on the computer) from its file, with its rear file when
// it has one; the files are only read.
EntryExportResult exportEntry(const RecordingCatalogue &catalogue, int row, const std::string &saveFolder,
                              const ExportOptions &options = {});

// Exports the card file `cardPath` ("/FOLDER/NAME") with identifier `fileId`
// on the open card `device` into `outputPath`.
EntryExportResult exportCardFile(unsigned char *device, const std::string &cardPath, int fileId,
                                 const std::string &outputPath, const ExportOptions &options = {});

// Runs exportRecording from `read` into `outputPath` through a temporary file
// beside it: written, synced, renamed. Never touches `outputPath` unless the
// export succeeded. Temporary files of ended exports in that folder go first
// (removeStaleTemporaries).
EntryExportResult exportToFile(const ExportReader &read, const std::string &outputPath,
                               const ExportOptions &options = {});

// Why writing into the folder (a path, or an open descriptor of it) is not
// safe, for the user; empty when it is. Unsafe: a folder that other users (or
// a group with other members) may write unless it is sticky, and a folder that
// belongs to another user than this one or root. There, another user could
// swap a file being written for a link, or move a link to the final name.
std::string outputFolderProblem(const std::string &folder);
std::string outputFolderProblem(int dirFd);
// Everything that stops a write into `folder` before it starts, for the
// user: "no such folder", "this folder cannot be written (REASON)", or what
// outputFolderProblem finds; empty when the folder can be used.
std::string outputFolderRefusal(const std::string &folder);

// The export's way of writing one file of the user's, for other writers of
// such files (the clip export): a new temporary file ".NAME.PID-N.part" for
// `base` in the folder `dirFd`, created exclusively and never through a link,
// locked while its descriptor is open (-1 with errno on failure); and its
// move to `name` in the same folder, which replaces an existing file only with
// `overwrite` (false with `error`, EEXIST when the name was taken).
int createExportTemporary(int dirFd, const std::string &base, std::string &temporary);
bool moveExportIntoPlace(int dirFd, const std::string &temporary, const std::string &name, bool overwrite,
                         int &error);

// Removes from `folder` the temporary files that exports killed before their
// end left (".NAME.PID-N.part"): only regular files of this user with that
// name whose process has ended and which no export holds locked. Returns how
// many went.
int removeStaleTemporaries(const std::string &folder);

} // namespace korvante
