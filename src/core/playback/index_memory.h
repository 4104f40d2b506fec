#pragma once
// Remembering what a walk of a recording's chunks learned: a recording
// without a usable index (unfinished, repaired without one) is walked whole
// the first time it plays; its index is then kept outside the recording, so
// that the next open of the same unchanged file costs what a finished
// recording costs. The recording itself is never written.
//
// The engine asks an IndexMemory (the viewer's is the card overview's cache)
// by the recording's key: its path, size and modification time, so a file
// that changed is walked again. The bytes kept are this file's own compact
// encoding, versioned; anything that does not decode, or whose chunks are not
// where it says, is ignored.
//
// Threads: the loading thread of each open calls recall and remember; an
// IndexMemory has to allow calls from several threads (not at once on one
// object: the engine loads one recording at a time, but each load has its own
// worker).

#include "core/playback/recording_index.h"

#include <cstdint>
#include <optional>
#include <string>

namespace korvante {

class ByteSource;

struct IndexMemoryKey {
    std::string identity;      // a plain file's path as opened
    std::int64_t size = 0;     // bytes
    std::int64_t modified = 0; // ns since 1970

    bool operator==(const IndexMemoryKey &) const = default;
};

class IndexMemory {
public:
    virtual ~IndexMemory() = default;
    virtual std::optional<std::string> recall(const IndexMemoryKey &key) = 0;
    virtual void remember(const IndexMemoryKey &key, const std::string &bytes) = 0;
};

// The key of a plain file, from its metadata; nothing when it cannot be read.
std::optional<IndexMemoryKey> indexMemoryKeyOf(const std::string &path);

// The entries of a complete index (video frames, sound packets, metadata
// packets, the end of the last whole chunk, the walk's verdicts) as bytes.
std::string encodeWalkedIndex(const RecordingIndex &index);

// Fills `index`, which holds the recording's stream table and no entries yet
// (as a load has it before the walk), from `bytes`. False, leaving `index` as
// it was, when the bytes are not a walked index of this encoding or belong to
// another stream table.
bool decodeWalkedIndex(const std::string &bytes, RecordingIndex &index);

// Whether the chunks that a remembered index names are in `source` where it
// says: the first and last frame of every video stream, the last sound packet,
// and a few frames between. A read error counts as no.
bool walkedIndexMatches(const RecordingIndex &index, ByteSource &source);

} // namespace korvante
