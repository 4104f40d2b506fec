#pragma once
// Evidence that a printed report belongs to the recording it shows: for each
// file of the open recording its name, size, recording time and the SHA-256
// of its whole bytes, read the way the viewer reads them (a plain file, or a
// card recording through the card library), so that `sha256sum` of the file
// (or of a byte-exact copy of a card recording) prints the same digest.
//
// Threads: describeEvidence runs on the UI thread (it reads the sizes);
// hashEvidence may run on a worker: it opens and owns its own byte sources,
// and the card device stays open through each file's deviceHold.

#include "core/recording/byte_source.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace korvante {

struct EvidenceFile {
    std::string role;          // "Front", "Rear", or "Front and rear" (one card file)
    std::string path;          // file path, or card path "/DIR/NAME"
    std::string name;          // the file name
    std::intptr_t device = 0;  // card device block; 0 for a plain file
    std::int32_t fileId = -1;  // card file identifier; -1 for a plain file
    std::shared_ptr<unsigned char> deviceHold; // keeps the card device open while hashing
    std::int64_t size = -1;    // bytes; -1 when the file cannot be read
    std::string recorded;      // "YYYY-MM-DD HH:MM:SS" from the name (camera clock), or ""
};

// The files of a recording: the front file and, when `rear` names one (not
// empty, "1CH" or "NULL"), the rear file. A card recording (`device` not 0)
// is one file that holds both channels when `cardTwoChannels` is set.
std::vector<EvidenceFile> describeEvidence(const std::string &front, const std::string &rear,
                                           std::intptr_t device, std::int32_t fileId,
                                           bool cardTwoChannels);

// Opens the bytes of one evidence file; null when it cannot be read.
std::unique_ptr<ByteSource> openEvidenceSource(const EvidenceFile &file);

struct DigestResult {
    std::string sha256; // 64 lower-case hex digits, empty on failure
    std::string error;  // why there is no digest ("cannot be read", "cancelled" ...)
};

// Bytes hashed so far over all files, and the sum of their sizes.
using DigestProgress = std::function<void(std::int64_t doneBytes, std::int64_t totalBytes)>;

// SHA-256 of every byte of `source`, from offset 0 to its size. `progress`
// (may be empty) is called after each block with the bytes hashed so far;
// `cancel` is polled between blocks.
DigestResult sha256Of(ByteSource &source, const std::function<void(std::int64_t)> &progress = {},
                      const std::atomic<bool> *cancel = nullptr);

// Hashes each file in turn; one result per file, in order.
std::vector<DigestResult> hashEvidence(const std::vector<EvidenceFile> &files, const DigestProgress &progress,
                                       const std::atomic<bool> *cancel = nullptr);

} // namespace korvante
