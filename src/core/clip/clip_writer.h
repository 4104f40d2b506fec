#pragma once
// Writes a planned clip: the span's pictures in one of four layouts, the
// overlay band when asked, the front channel's sound, as an MP4 file with
// H.264 (libx264) and AAC and its index at the front, then its evidence file
// beside it. Both are written under temporary names in the chosen folder
// (created exclusively, never through a link) and given their names only when
// complete: a cancel, a failure or a kill leaves neither behind (a killed
// export's temporary file goes with the next export into that folder).
//
// Frame-exact: the clip's first picture is the source picture shown at In,
// its last the one shown just before Out; where no recording covers the span
// the pictures are black (the band still tells the time) and the sound silent.
//
// Threads: writeClip runs on any thread and blocks until done; `progress` is
// called on that thread; `cancel` may be set from any thread.

#include "core/clip/clip_plan.h"

#include <atomic>
#include <functional>
#include <string>

namespace korvante::clip {

enum class Layout { Front, Rear, Side, Pip };
enum class Quality { Source, Half };

// "front", "rear", "side", "pip"; none for another word.
std::optional<Layout> layoutNamed(const std::string &name);
const char *layoutName(Layout layout);

struct ClipOptions {
    Layout layout = Layout::Front;
    bool overlay = false;
    bool sound = true;
    Quality quality = Quality::Source; // the source's video bitrate, or half of it
    int speedUnit = 0;                 // for the overlay: 0 km/h, 1 mph, 2 knots
    bool overwrite = false;            // replace an existing clip (and evidence file)
    std::string preset = "veryfast";   // x264's speed preset
};

enum class ClipStatus { Written, Refused, Failed, Cancelled };

struct ClipOutcome {
    ClipStatus status = ClipStatus::Failed;
    std::string message;       // one line for the user; empty when written
    std::string clipPath, evidencePath;
    std::int64_t frames = 0;   // pictures in the clip
    int width = 0, height = 0;
    bool sound = false;        // the clip has a sound track

    bool ok() const { return status == ClipStatus::Written; }
};

// Why a clip may not be written to `outputPath` (Refused), before anything is
// read or written: a name that cannot be a file, a folder that is missing,
// that this user cannot write or that others could redirect writes in, an
// existing clip or evidence file without `overwrite`. Empty when it may.
std::string outputRefusal(const std::string &outputPath, bool overwrite);

// The file name proposed for a clip starting at `in`: "clip_YYYYMMDD_HHMMSS.mp4"
// in camera time, as the recordings are named.
std::string proposedClipName(CameraTime in);

// The evidence file's path for a clip's.
std::string evidencePathOf(const std::string &clipPath);

// Progress: the share done, 0 to 1 (the pictures take most of it, hashing the end).
using ClipProgress = std::function<void(double)>;

ClipOutcome writeClip(const ClipPlan &plan, const ClipOptions &options, const std::string &outputPath,
                      const ClipProgress &progress = {}, const std::atomic<bool> *cancel = nullptr);

// "KORVANTE VIEWER x.y.z", as the evidence names the program.
std::string programName();

} // namespace korvante::clip
