#pragma once
// What metadata scans learned, kept across runs in an SQLite database
// ($XDG_CACHE_HOME/korvante/overview.sqlite, ~/.cache/korvante/ by default),
// so that a source seen before shows its overview without reading a
// recording. An entry is keyed by the recording's identity, size and
// modification time: a recording that changed is scanned again.
//
// A database that cannot be opened or is corrupt is moved aside and made
// anew (one log line); when even that fails the cache is simply unusable and
// every lookup misses. Several processes may use the database at once (WAL,
// busy timeout).
//
// Threads: one object per thread (each holds its own connection).

#include "core/overview/card_overview.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace korvante::overview {

struct CacheKey {
    std::string identity;    // a plain file's path, or "tavo:CARD/DIR/NAME"
    std::int64_t size = 0;   // bytes
    std::int64_t modified = 0; // ns since 1970 (a card file: its record's time in s × 10⁹)

    bool operator==(const CacheKey &) const = default;
};

class OverviewCache {
public:
    // "$XDG_CACHE_HOME/korvante" or "$HOME/.cache/korvante"; empty when
    // neither is set.
    static std::string defaultDirectory();
    static constexpr const char *kFileName = "overview.sqlite";

    // Opens (creating the folder and the database when needed) the database
    // in `directory`.
    explicit OverviewCache(const std::string &directory = defaultDirectory());
    ~OverviewCache();
    OverviewCache(const OverviewCache &) = delete;
    OverviewCache &operator=(const OverviewCache &) = delete;

    bool usable() const { return m_db != nullptr; }
    const std::string &path() const { return m_path; }

    std::optional<RecordingMetadata> find(const CacheKey &key);
    // Replaces any entry of the same identity. False when it could not be
    // written (the cache stays as it was).
    bool store(const CacheKey &key, const RecordingMetadata &metadata);
    // The same for many at once, each group in one transaction: a card of a
    // thousand recordings costs one snapshot to look up, not a thousand.
    std::vector<std::optional<RecordingMetadata>> findMany(const std::vector<CacheKey> &keys);
    bool storeMany(const std::vector<std::pair<CacheKey, RecordingMetadata>> &entries);

    // Named blobs of other readers under the same key (e.g. the chunk index
    // a walk built), replaced with the entry's identity when size or time
    // change.
    std::optional<std::string> findBlob(const std::string &kind, const CacheKey &key);
    bool storeBlob(const std::string &kind, const CacheKey &key, const std::string &bytes);

private:
    bool open(bool retry);
    // Runs `body` inside BEGIN (IMMEDIATE when writing) … COMMIT; false when
    // the transaction could not be had or kept.
    template <typename Body> bool inTransaction(bool write, Body &&body);
    // Hands the bytes of the entry under `key` to `take`, when there is one.
    void lookUp(const std::string &kind, const CacheKey &key, const std::function<void(std::string_view)> &take);
    void moveAside(const std::string &why);

    // The connection's statements, prepared once (find/store × metadata/blob).
    sqlite3_stmt *statement(int which);
    void close();

    std::string m_path;
    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_statements[4] = {};
};

// The blob encoding of metadata, exposed for tests.
std::string encodeMetadata(const RecordingMetadata &metadata);
std::optional<RecordingMetadata> decodeMetadata(std::string_view bytes);

} // namespace korvante::overview
