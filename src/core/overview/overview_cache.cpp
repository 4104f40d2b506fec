#include "core/overview/overview_cache.h"

#include "core/platform/log.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>

namespace korvante::overview {
namespace {

// Bumped when the metadata blob's layout changes: older entries then miss.
// 2: fixes carry their UTC time (entries of 1 are read again).
constexpr unsigned char kMetadataVersion = 2;
constexpr int kBusyTimeoutMs = 5000;
constexpr std::size_t kMaxItems = 2'000'000; // a blob claiming more is damaged

const char *const kSchema =
    "CREATE TABLE IF NOT EXISTS recordings("
    " identity TEXT PRIMARY KEY, size INTEGER NOT NULL, modified INTEGER NOT NULL, metadata BLOB NOT NULL);"
    "CREATE TABLE IF NOT EXISTS blobs("
    " kind TEXT NOT NULL, identity TEXT NOT NULL, size INTEGER NOT NULL, modified INTEGER NOT NULL,"
    " bytes BLOB NOT NULL, PRIMARY KEY(kind, identity));";

bool isDamage(int rc)
{
    const int primary = rc & 0xff;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

// Little-endian writer and a reader that checks every read.
class Writer {
public:
    template <typename T> void put(T value)
    {
        unsigned char b[sizeof(T)];
        std::memcpy(b, &value, sizeof(T));
        bytes.append(reinterpret_cast<const char *>(b), sizeof(T));
    }
    std::string bytes;
};

class Reader {
public:
    explicit Reader(std::string_view b) : m_b(b) {}
    template <typename T> bool get(T &value)
    {
        if (m_b.size() - m_at < sizeof(T))
            return false;
        std::memcpy(&value, m_b.data() + m_at, sizeof(T));
        m_at += sizeof(T);
        return true;
    }
    bool atEnd() const { return m_at == m_b.size(); }
    std::size_t left() const { return m_b.size() - m_at; }

private:
    std::string_view m_b;
    std::size_t m_at = 0;
};

const char *const kStatements[4] = {
    "SELECT size, modified, metadata FROM recordings WHERE identity = ?1",
    "SELECT size, modified, bytes FROM blobs WHERE identity = ?1 AND kind = ?2",
    "INSERT OR REPLACE INTO recordings(identity, size, modified, metadata) VALUES(?1, ?2, ?3, ?4)",
    "INSERT OR REPLACE INTO blobs(identity, size, modified, bytes, kind) VALUES(?1, ?2, ?3, ?4, ?5)",
};
enum { kFindMetadata, kFindBlob, kStoreMetadata, kStoreBlob };

// One use of a prepared statement of the connection: bound, stepped, and
// reset and cleared when it goes.
class Statement {
public:
    explicit Statement(sqlite3_stmt *stmt) : m_stmt(stmt) {}
    ~Statement()
    {
        if (m_stmt) {
            sqlite3_reset(m_stmt);
            sqlite3_clear_bindings(m_stmt);
        }
    }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;
    bool ok() const { return m_stmt != nullptr; }
    sqlite3_stmt *get() const { return m_stmt; }
    void text(int i, const std::string &t) { sqlite3_bind_text(m_stmt, i, t.data(), static_cast<int>(t.size()), SQLITE_TRANSIENT); }
    void integer(int i, std::int64_t v) { sqlite3_bind_int64(m_stmt, i, v); }
    void blob(int i, const std::string &b) { sqlite3_bind_blob(m_stmt, i, b.data(), static_cast<int>(b.size()), SQLITE_TRANSIENT); }

private:
    sqlite3_stmt *m_stmt = nullptr;
};


} // namespace

std::string encodeMetadata(const RecordingMetadata &m)
{
    Writer w;
    w.put(kMetadataVersion);
    w.put(static_cast<std::int64_t>(m.lengthMs));
    w.put(static_cast<std::uint32_t>(m.samples.size()));
    for (const GSample &s : m.samples) {
        w.put(s.offsetMs);
        w.put(s.totalG);
    }
    w.put(static_cast<std::uint32_t>(m.fixes.size()));
    for (const Fix &f : m.fixes) {
        w.put(f.offsetMs);
        w.put(f.latitude);
        w.put(f.longitude);
        w.put(f.speedKmh);
        w.put(f.utcSeconds);
    }
    return std::move(w.bytes);
}

std::optional<RecordingMetadata> decodeMetadata(std::string_view bytes)
{
    Reader r(bytes);
    RecordingMetadata m;
    unsigned char version = 0;
    std::uint32_t count = 0;
    if (!r.get(version) || version != kMetadataVersion || !r.get(m.lengthMs) || !r.get(count) || count > kMaxItems
        || r.left() < std::size_t{count} * 8)
        return std::nullopt;
    m.samples.resize(count);
    for (GSample &s : m.samples)
        if (!r.get(s.offsetMs) || !r.get(s.totalG))
            return std::nullopt;
    if (!r.get(count) || count > kMaxItems || r.left() != std::size_t{count} * 32)
        return std::nullopt;
    m.fixes.resize(count);
    for (Fix &f : m.fixes)
        if (!r.get(f.offsetMs) || !r.get(f.latitude) || !r.get(f.longitude) || !r.get(f.speedKmh) || !r.get(f.utcSeconds))
            return std::nullopt;
    if (!r.atEnd() || m.lengthMs < 0)
        return std::nullopt;
    return m;
}

std::string OverviewCache::defaultDirectory()
{
    const char *xdg = std::getenv("XDG_CACHE_HOME");
    if (xdg && xdg[0] == '/')
        return std::string(xdg) + "/korvante";
    const char *home = std::getenv("HOME");
    if (home && home[0] == '/')
        return std::string(home) + "/.cache/korvante";
    return {};
}

OverviewCache::OverviewCache(const std::string &directory)
{
    if (directory.empty())
        return;
    std::error_code ec;
    const bool made = std::filesystem::create_directories(directory, ec);
    if (ec) {
        logWarning("overview cache: " + directory + " cannot be made: " + ec.message() + "; recordings are read each time");
        return;
    }
    if (made)
        ::chmod(directory.c_str(), 0700); // what the cache holds says where the user drove
    // A folder another user owns or may write to could hold a database made
    // up by them (trips and incidents that never happened, or links where the
    // journal goes): such a cache is not used.
    struct stat info {};
    if (::stat(directory.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        logWarning("overview cache: " + directory + " is not a folder; recordings are read each time");
        return;
    }
    if (info.st_uid != ::geteuid() || (info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        logWarning("overview cache: " + directory +
                   " belongs to another user or others may write to it; recordings are read each time");
        return;
    }
    m_path = directory + "/" + kFileName;
    open(true);
}

OverviewCache::~OverviewCache() { close(); }

void OverviewCache::close()
{
    for (sqlite3_stmt *&stmt : m_statements) {
        sqlite3_finalize(stmt);
        stmt = nullptr;
    }
    if (m_db)
        sqlite3_close_v2(m_db);
    m_db = nullptr;
}

sqlite3_stmt *OverviewCache::statement(int which)
{
    if (!m_db)
        return nullptr;
    if (!m_statements[which] && sqlite3_prepare_v2(m_db, kStatements[which], -1, &m_statements[which], nullptr) != SQLITE_OK) {
        sqlite3_finalize(m_statements[which]);
        m_statements[which] = nullptr;
    }
    return m_statements[which];
}

bool OverviewCache::open(bool retry)
{
    close();
    sqlite3 *db = nullptr;
    int rc = sqlite3_open_v2(m_path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW,
                             nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_busy_timeout(db, kBusyTimeoutMs);
        rc = sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA mmap_size=268435456;", nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK)
            rc = sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr);
    }
    if (rc == SQLITE_OK) {
        m_db = db;
        return true;
    }
    const std::string error = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close_v2(db);
    if (retry && (isDamage(rc) || (rc & 0xff) == SQLITE_CANTOPEN || (rc & 0xff) == SQLITE_IOERR)) {
        moveAside(error);
        return open(false);
    }
    logWarning("overview cache: " + m_path + " cannot be used (" + error + "); recordings are read each time");
    return false;
}

void OverviewCache::moveAside(const std::string &why)
{
    const std::string aside = m_path + ".damaged-" + std::to_string(static_cast<long long>(std::time(nullptr)));
    std::error_code ec;
    std::filesystem::rename(m_path, aside, ec);
    // The journal files belong to the old database; left, they would be
    // applied to the new one.
    std::filesystem::remove(m_path + "-wal", ec);
    std::filesystem::remove(m_path + "-shm", ec);
    logWarning("overview cache: " + m_path + " is damaged (" + why + "); moved aside to " + aside + " and rebuilt");
}

std::optional<RecordingMetadata> OverviewCache::find(const CacheKey &key)
{
    std::optional<RecordingMetadata> found;
    lookUp({}, key, [&](std::string_view bytes) { found = decodeMetadata(bytes); });
    return found;
}

bool OverviewCache::store(const CacheKey &key, const RecordingMetadata &metadata)
{
    return storeBlob({}, key, encodeMetadata(metadata));
}

template <typename Body> bool OverviewCache::inTransaction(bool write, Body &&body)
{
    if (!m_db)
        return false;
    int rc = sqlite3_exec(m_db, write ? "BEGIN IMMEDIATE" : "BEGIN", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        if (isDamage(rc)) {
            moveAside(sqlite3_errstr(rc));
            open(false);
        }
        return false;
    }
    body();
    if (!m_db) // the body found the database damaged and made it anew
        return false;
    rc = sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    }
    return true;
}

std::vector<std::optional<RecordingMetadata>> OverviewCache::findMany(const std::vector<CacheKey> &keys)
{
    std::vector<std::optional<RecordingMetadata>> found(keys.size());
    inTransaction(false, [&] {
        for (std::size_t i = 0; i < keys.size() && m_db; ++i)
            found[i] = find(keys[i]);
    });
    return found;
}

bool OverviewCache::storeMany(const std::vector<std::pair<CacheKey, RecordingMetadata>> &entries)
{
    bool all = true;
    const bool committed = inTransaction(true, [&] {
        for (const auto &[key, metadata] : entries)
            all = m_db && store(key, metadata) && all;
    });
    return committed && all;
}

// The recordings' metadata is the blob of the empty kind, in its own table.
std::optional<std::string> OverviewCache::findBlob(const std::string &kind, const CacheKey &key)
{
    std::optional<std::string> found;
    lookUp(kind, key, [&](std::string_view bytes) { found = std::string(bytes); });
    return found;
}

void OverviewCache::lookUp(const std::string &kind, const CacheKey &key,
                           const std::function<void(std::string_view)> &take)
{
    if (!m_db)
        return;
    int rc = SQLITE_OK;
    {
        Statement q(statement(kind.empty() ? kFindMetadata : kFindBlob));
        rc = q.ok() ? SQLITE_OK : sqlite3_errcode(m_db);
        if (q.ok()) {
            q.text(1, key.identity);
            if (!kind.empty())
                q.text(2, kind);
            rc = sqlite3_step(q.get());
            if (rc == SQLITE_ROW) {
                // The row's bytes are valid until the statement is reset, which
                // is after `take`.
                if (sqlite3_column_int64(q.get(), 0) == key.size && sqlite3_column_int64(q.get(), 1) == key.modified) {
                    const void *data = sqlite3_column_blob(q.get(), 2);
                    const int size = sqlite3_column_bytes(q.get(), 2);
                    take(data && size > 0 ? std::string_view(static_cast<const char *>(data), static_cast<std::size_t>(size))
                                          : std::string_view());
                }
                rc = SQLITE_OK;
            } else if (rc == SQLITE_DONE) {
                rc = SQLITE_OK;
            }
        }
    }
    if (isDamage(rc)) {
        moveAside(sqlite3_errstr(rc));
        open(false);
    }
}

bool OverviewCache::storeBlob(const std::string &kind, const CacheKey &key, const std::string &bytes)
{
    if (!m_db)
        return false;
    int rc = SQLITE_OK;
    {
        Statement q(statement(kind.empty() ? kStoreMetadata : kStoreBlob));
        rc = q.ok() ? SQLITE_OK : sqlite3_errcode(m_db);
        if (q.ok()) {
            q.text(1, key.identity);
            q.integer(2, key.size);
            q.integer(3, key.modified);
            q.blob(4, bytes);
            if (!kind.empty())
                q.text(5, kind);
            rc = sqlite3_step(q.get());
            if (rc == SQLITE_DONE)
                rc = SQLITE_OK;
        }
    }
    if (isDamage(rc)) {
        moveAside(sqlite3_errstr(rc));
        open(false);
        return false;
    }
    return rc == SQLITE_OK;
}

} // namespace korvante::overview
