// The card overview on a large card: the first overview (every recording
// scanned) against listing the card and against reading exactly the bytes the
// scan read; the cached overview against listing; and what one real-size
// recording costs to scan.
//
//   korvante-bench-overview CARD_ROOT [RECORDING ...]
//
// CARD_ROOT is a folder card (NOR, EVT, MOT, MAN); each RECORDING is scanned
// on its own and its bytes read reported against its size.

#include "core/overview/metadata_scan.h"
#include "core/overview/source_overview.h"
#include "core/recording/byte_source.h"
#include "core/storage/list_view.h"
#include "core/storage/recording_catalogue.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

using namespace korvante;
namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

struct Read {
    std::int64_t offset, length;
};

// Records every read of the sources opened while it is installed, per source.
class RecordingSource final : public ByteSource {
public:
    RecordingSource(std::unique_ptr<ByteSource> inner, std::vector<Read> &log) : m_inner(std::move(inner)), m_log(log) {}
    std::int64_t size() const override { return m_inner->size(); }
    std::int64_t readAt(std::int64_t offset, void *buffer, std::int64_t length) override
    {
        m_log.push_back({offset, length});
        return m_inner->readAt(offset, buffer, length);
    }

private:
    std::unique_ptr<ByteSource> m_inner;
    std::vector<Read> &m_log;
};

struct Listing {
    std::vector<overview::SourceRecording> recordings;
    double ms = 0;
};

Listing listCard(const std::string &root)
{
    const auto start = Clock::now();
    RecordingCatalogue catalogue;
    for (const char *folder : {"NOR", "EVT", "MOT", "MAN"})
        catalogue.addFolder(folder);
    catalogue.addExtension("AVI");
    StorageSource source;
    source.label = root + "/";
    source.kind = SourceRemovable;
    catalogue.setSources({source});
    if (!catalogue.selectSource(0))
        return {};
    NullListView rows;
    catalogue.listAllWithoutRepair(rows);
    Listing l;
    l.recordings = overview::recordingsOf(catalogue);
    l.ms = msSince(start);
    return l;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: korvante-bench-overview CARD_ROOT [RECORDING ...]\n");
        return 2;
    }
    const std::string root = argv[1];
    const Listing listing = listCard(root);
    if (listing.recordings.empty()) {
        std::fprintf(stderr, "korvante-bench-overview: %s lists no recording\n", root.c_str());
        return 1;
    }
    char pattern[] = "/tmp/korvante-bench-overview-XXXXXX";
    if (!::mkdtemp(pattern))
        return 1;
    const std::string cacheDir = pattern;

    // Warm the page cache the same way for every run below: the figures are the
    // program's own cost, not the disk's.
    std::int64_t cardBytes = 0;
    for (const auto &r : listing.recordings)
        cardBytes += r.key.size;
    std::vector<std::vector<Read>> logs;
    std::vector<std::string> paths;
    setByteSourceWrapper([&](std::unique_ptr<ByteSource> s) -> std::unique_ptr<ByteSource> {
        logs.emplace_back();
        return std::make_unique<RecordingSource>(std::move(s), logs.back());
    });
    logs.reserve(listing.recordings.size() + 1);
    overview::OverviewResult first;
    auto start = Clock::now();
    {
        overview::OverviewCache cache(cacheDir);
        first = overview::buildOverview(listing.recordings, &cache);
    }
    const double firstMs = msSince(start);
    setByteSourceWrapper({});

    // The same reads again, with nothing but pread: what the bytes themselves cost.
    std::int64_t replayed = 0, reads = 0;
    start = Clock::now();
    std::vector<char> buffer;
    std::size_t logIndex = 0;
    for (const auto &r : listing.recordings) {
        if (logIndex >= logs.size())
            break;
        const int fd = ::open(r.path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        for (const Read &read : logs[logIndex]) {
            buffer.resize(static_cast<std::size_t>(read.length));
            const ssize_t n = ::pread(fd, buffer.data(), buffer.size(), read.offset);
            replayed += n > 0 ? n : 0;
            ++reads;
        }
        ::close(fd);
        ++logIndex;
    }
    const double bytesMs = msSince(start);

    int opened = 0;
    setByteSourceWrapper([&](std::unique_ptr<ByteSource> s) {
        ++opened;
        return s;
    });
    start = Clock::now();
    const Listing again = listCard(root);
    overview::OverviewResult cached;
    {
        overview::OverviewCache cache(cacheDir);
        cached = overview::buildOverview(again.recordings, &cache);
    }
    const double cachedMs = msSince(start);
    setByteSourceWrapper({});
    const auto trips = overview::buildTrips(cached.items);
    const auto incidents = overview::findIncidents(cached.items, trips);

    std::printf("recordings %zu (%zu scanned, %zu skipped), %.1f MB of front files\n", listing.recordings.size(),
                first.scanned, first.skipped.size(), cardBytes / 1e6);
    std::printf("listing the card                 %8.1f ms\n", listing.ms);
    std::printf("first overview (scan + cache)    %8.1f ms   %.2f MB in %lld reads, %.1f KB per recording (%.2f %% of the files)\n",
                firstMs, first.bytesRead / 1e6, static_cast<long long>(reads),
                first.bytesRead / 1e3 / std::max<std::size_t>(1, first.scanned), 100.0 * first.bytesRead / cardBytes);
    std::printf("  reading those bytes (pread)    %8.1f ms   %.2f MB\n", bytesMs, replayed / 1e6);
    std::printf("  first overview / listing       %8.2f x\n", firstMs / listing.ms);
    std::printf("  first overview / its bytes     %8.2f x\n", firstMs / bytesMs);
    std::printf("cached overview (list + cache)   %8.1f ms   %zu from the cache, %d recordings opened\n", cachedMs,
                cached.cached, opened);
    std::printf("  cached overview / listing      %8.2f x\n", cachedMs / again.ms);
    std::printf("  %zu trips, %zu incidents at 1.5 g\n", trips.size(), incidents.size());

    for (int i = 2; i < argc; ++i) {
        auto source = openFileSource(argv[i]);
        if (!source) {
            std::printf("%s: cannot be opened\n", argv[i]);
            continue;
        }
        overview::ScanStats stats;
        std::string why;
        start = Clock::now();
        const auto m = overview::scanMetadata(*source, &why, nullptr, &stats);
        const double ms = msSince(start);
        if (!m) {
            std::printf("%s: %s\n", argv[i], why.c_str());
            continue;
        }
        std::printf("%s: %.1f MB, %s: read %.1f KB in %lld reads (%.3f %%), %.1f ms; %zu samples, %zu fixes, %.1f s\n",
                    fs::path(argv[i]).filename().c_str(), source->size() / 1e6, stats.walked ? "walked" : "indexed",
                    stats.bytesRead / 1e3, static_cast<long long>(stats.reads), 100.0 * stats.bytesRead / source->size(),
                    ms, m->samples.size(), m->fixes.size(), m->lengthMs / 1000.0);
    }
    std::error_code ec;
    fs::remove_all(cacheDir, ec);
    return 0;
}
