#pragma once
// The clip's evidence file, NAME.mp4.evidence.json beside the clip: the clip's
// size and SHA-256, each source file used (name, where it was read, size,
// SHA-256 and the parts used as offsets in ms), the camera time of In and Out,
// the program version and the options. `verifyEvidence` hashes the files again.
//
// Threads: any; nothing is shared.

#include "core/recording/byte_source.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace korvante::clip {

// SHA-256 of every byte of `source` as 64 lower-case hex digits; empty when a
// read fails or `cancel` is set. `progress` gets the bytes hashed so far.
std::string sha256Of(ByteSource &source, const std::function<void(std::int64_t)> &progress = {},
                     const std::atomic<bool> *cancel = nullptr);

struct EvidencePart {
    std::int64_t fromMs = 0, toMs = 0; // offsets in the source recording
};

struct EvidenceSource {
    std::string role;        // "front", "rear" or "front and rear" (a card file)
    std::string name;        // the file's name
    std::string path;        // a plain file's absolute path, or a card file's "/DIR/NAME"
    std::string card;        // the card's device or image for a card file, else empty
    std::int64_t size = 0;
    std::string sha256;
    std::vector<EvidencePart> parts;
};

struct Evidence {
    std::string clipName;    // file name, beside the evidence file
    std::int64_t clipSize = 0;
    std::string clipSha256;
    std::string in, out;     // camera time "YYYY-MM-DD HH:MM:SS.mmm"
    std::string program;     // "KORVANTE VIEWER 1.5.0"
    // The options, as the clip was made.
    std::string layout;      // front, rear, side, pip
    bool overlay = false;
    bool sound = false;
    std::string quality;     // "source" or "half"
    std::string speedUnit;   // km/h, mph, kn
    std::int64_t videoBitRate = 0;
    std::string encoder;     // "libx264 veryfast"
    int width = 0, height = 0;
    std::vector<EvidenceSource> sources;
};

// The JSON text of `evidence` (UTF-8, indented).
std::string evidenceJson(const Evidence &evidence);
// Reads an evidence file's text; none with `error` when it is not one.
std::optional<Evidence> parseEvidence(const std::string &json, std::string &error);

enum class FileState { Ok, Changed, Missing };

struct VerifiedFile {
    std::string name;
    FileState state = FileState::Missing;
};

// Hashes the clip (beside the evidence file) and each source, looked for
// beside the clip, in `sourcesFolder` and its subfolders one level down (a
// card's NOR, EVT ...) when given, then where it was read (a plain file's
// path, or the card file on the recorded card). A file is ok when one of the
// places holds it with the recorded size and digest, changed when some place
// holds a file of that name but none matches, missing otherwise. Clip first.
std::vector<VerifiedFile> verifyEvidence(const std::string &evidencePath, const Evidence &evidence,
                                         const std::string &sourcesFolder);

} // namespace korvante::clip
