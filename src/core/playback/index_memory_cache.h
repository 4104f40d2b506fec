#pragma once
// The viewer's IndexMemory: walked indexes kept as blobs of kind
// "chunk-index" in the card overview's cache, under the key the overview
// gives the same file (its path, size and modification time), so a file that
// changed is walked again and nothing is ever written into a recording.
//
// Threads: each call opens its own connection (the cache allows one per
// thread), so any loading thread may call.

#include "core/playback/index_memory.h"

#include <string>

namespace korvante {

class CachedIndexMemory final : public IndexMemory {
public:
    static constexpr const char *kKind = "chunk-index";

    // The cache's folder; empty: nothing is remembered.
    explicit CachedIndexMemory(std::string directory);
    std::optional<std::string> recall(const IndexMemoryKey &key) override;
    void remember(const IndexMemoryKey &key, const std::string &bytes) override;

private:
    std::string m_directory;
};

} // namespace korvante
