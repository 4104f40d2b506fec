// Storage benchmarks, each beside a reference command timed in the same run:
//   listing  10,000 recordings (5,000 two-channel pairs): listKind and listAll
//            against `find DIR -type f -printf '%s %T@\n'`
//   search   1,000 recordings of 20 MB: window reads per file, time against find
//   repair   a 500 MB unfinished recording against dd writing the same zeros in place
// usage: storage_bench [listing|search|repair|all] [--work DIR] [--runs N]

#include "bench_cards.h"
#include "core/recording/max_speed.h"
#include "core/storage/recording_catalogue.h"
#include "core/storage/recording_repair.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace korvante;

int g_runs = 7;

class NullView final : public ListView {
public:
    void deleteAllRows() override { rows = 0; }
    void insertRow(int, const std::string &) override { ++rows; }
    void setColumnText(int, int, const std::string &) override {}
    void setRedraw(bool) override {}
    void setBusyCursor(bool) override {}
    int rows = 0;
};

double seconds(const std::function<void()> &work)
{
    const auto t0 = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Median of g_runs timings, after one warm-up run.
double median(const std::function<void()> &work, const std::function<void()> &before = {})
{
    std::vector<double> times;
    for (int i = 0; i <= g_runs; ++i) {
        if (before)
            before();
        const double t = seconds(work);
        if (i > 0)
            times.push_back(t);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void shell(const std::string &command)
{
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "failed: %s\n", command.c_str());
        std::exit(1);
    }
}

std::string quote(const std::string &s) { return "'" + s + "'"; }

std::string binFolder() { return fs::read_symlink("/proc/self/exe").parent_path().string(); }

void configure(RecordingCatalogue &c, const std::string &root)
{
    for (const char *f : {"NOR", "EVT", "MOT", "MAN"})
        c.addFolder(f);
    c.addExtension("avi");
    StorageSource s;
    s.label = root + "/";
    s.kind = SourceRemovable;
    c.setSources({s});
}

// The machine is shared: each round times the reference and every candidate one
// after the other, so that a burst of load hits both sides; the figure is the
// median over rounds of the paired ratio (the fastest times are printed too).
struct Paired {
    std::string name;
    std::function<void()> work;
    double target;
    std::vector<double> times, ratios;
};

void runPaired(const std::function<void()> &reference, std::vector<Paired> &candidates, const char *refName)
{
    std::vector<double> refTimes;
    for (int round = 0; round <= g_runs; ++round) {
        const double ref = seconds(reference);
        for (auto &c : candidates) {
            const double t = seconds(c.work);
            if (round > 0) {
                c.times.push_back(t);
                c.ratios.push_back(t / ref);
            }
        }
        if (round > 0)
            refTimes.push_back(ref);
    }
    auto med = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    auto least = [](const std::vector<double> &v) { return *std::min_element(v.begin(), v.end()); };
    std::printf("  %-46s median %7.1f ms  fastest %7.1f ms\n", refName, med(refTimes) * 1e3, least(refTimes) * 1e3);
    for (const auto &c : candidates) {
        const double ratio = med(c.ratios);
        std::printf("  %-46s median %7.1f ms  fastest %7.1f ms  ratio %5.2f (fastest/fastest %5.2f, target <= %.1f) %s\n",
                    c.name.c_str(), med(c.times) * 1e3, least(c.times) * 1e3, ratio, least(c.times) / least(refTimes),
                    c.target, ratio <= c.target ? "ok" : "MISSED");
    }
}

void benchListing(const std::string &work)
{
    const std::string root = work + "/listing-card";
    if (!fs::exists(root + "/MAN"))
        korvante::bench::writeFolderCard(root, 5000);
    std::printf("listing: %s (10,000 recordings, 5,000 pairs), %d paired rounds\n", root.c_str(), g_runs);
    const std::string findCmd = "find " + quote(root) + " -type f -printf '%s %T@\\n' >/dev/null";
    const std::string cli = quote(binFolder() + "/korvante-cli") + " --config " + quote(binFolder() + "/viewerconfig.cfg");
    int rowsKind = 0, rowsAll = 0;
    std::vector<Paired> candidates = {
        {"select + listKind(0), in process", [&] {
             RecordingCatalogue c;
             configure(c, root);
             c.selectSource(0);
             NullView v;
             rowsKind = c.listKind(0, v);
         }, 1.5, {}, {}},
        {"select + listAll, in process", [&] {
             RecordingCatalogue c;
             configure(c, root);
             c.selectSource(0);
             NullView v;
             rowsAll = c.listAll(v);
         }, 3.0, {}, {}},
        {"korvante-cli list --kind normal (process)",
         [&] { shell(cli + " list --kind normal --drive " + quote(root) + " >/dev/null"); }, 1.5, {}, {}},
        {"korvante-cli list --repair (process)",
         [&] { shell(cli + " list --repair --drive " + quote(root) + " >/dev/null"); }, 3.0, {}, {}},
    };
    runPaired([&] { shell(findCmd); }, candidates, "find -type f -printf (process)");
    std::printf("  rows: listKind(0) %d, listAll %d\n", rowsKind, rowsAll);
}

void benchSearch(const std::string &work)
{
    const std::string folder = work + "/search-card";
    const uint64_t size = 20ull << 20;
    if (!fs::exists(folder) || std::distance(fs::directory_iterator(folder), fs::directory_iterator()) != 1000)
        korvante::bench::writeLargeRecordings(folder, 1000, size);
    std::printf("search: %s (1,000 recordings of 20 MB, movie data sparse), median of %d runs\n", folder.c_str(),
                g_runs);
    uint64_t reads = 0, found = 0;
    for (const auto &e : fs::directory_iterator(folder)) {
        std::FILE *f = std::fopen(e.path().c_str(), "rb");
        std::setvbuf(f, nullptr, _IONBF, 0);
        SpeedWalkStats stats;
        found += findMaxSpeed(f, size / 1024, &stats).has_value();
        reads += stats.reads;
        std::fclose(f);
    }
    std::printf("  window reads per file: %.2f (values found in %llu of 1000)\n", static_cast<double>(reads) / 1000.0,
                static_cast<unsigned long long>(found));
    int rows = 0;
    std::vector<Paired> candidates = {{"select + searchAll, in process", [&] {
        RecordingCatalogue c;
        c.addExtension("avi");
        StorageSource s;
        s.kind = SourceComputer;
        c.setSources({s});
        struct Picker final : FolderPicker {
            std::string folder;
            std::optional<std::string> pickFolder(void *, const std::string &) override { return folder; }
        } picker;
        picker.folder = folder;
        int owner = 0;
        c.ownerWindow = &owner;
        c.folderPicker = &picker;
        c.selectSource(0);
        NullView v;
        SearchCriteria criteria{0, INT64_MAX / 2, 50.0f};
        rows = c.searchAll(v, criteria);
    }, 3.0, {}, {}}};
    runPaired([&] { shell("find " + quote(folder) + " -type f -printf '%s %T@\\n' >/dev/null"); }, candidates,
              "find -type f -printf (process)");
    std::printf("  rows: %d\n", rows);
}

void benchRepair(const std::string &work)
{
    const uint64_t size = 500ull << 20;
    std::printf("repair: a 500 MB unfinished recording, median of %d runs\n", g_runs);
    std::string path;
    // Every timed run starts from the same unfinished file, written and synced
    // beforehand so that neither side pays for the other's write-back.
    auto fresh = [&] {
        path = korvante::bench::writeUnfinished(work + "/repair", size);
        shell("sync " + quote(path));
    };
    fresh();
    RepairPlan plan;
    {
        std::FILE *f = std::fopen(path.c_str(), "rb");
        plan = planRepair(f);
        std::fclose(f);
    }
    const double repair = median(
        [&] {
            std::FILE *f = std::fopen(path.c_str(), "rb+");
            korvante::repair(f);
            std::fflush(f);
            std::fclose(f);
        },
        fresh);
    // The repair syncs its zeros before it writes the header (so that a card
    // pulled meanwhile never holds a header over unwritten zeros): dd syncs too.
    const std::string dd = "dd if=/dev/zero of=" + quote(path) + " bs=256K seek=" + std::to_string(plan.zeroFillStart)
                           + " count=" + std::to_string(plan.zeroFillLength)
                           + " oflag=seek_bytes iflag=count_bytes conv=notrunc,fdatasync status=none";
    const double ddTime = median([&] { shell(dd); }, fresh);
    const double mb = static_cast<double>(plan.zeroFillLength) / 1e6;
    std::printf("  zero fill of %.1f MB from byte %llu (walk over the movie list included)\n", mb,
                static_cast<unsigned long long>(plan.zeroFillStart));
    std::printf("  repair %7.1f ms = %7.1f MB/s   dd %7.1f ms = %7.1f MB/s   rate ratio %.2f (target >= 0.8) %s\n",
                repair * 1e3, mb / repair, ddTime * 1e3, mb / ddTime, ddTime / repair,
                ddTime / repair >= 0.8 ? "ok" : "MISSED");
    fs::remove(path);
}

} // namespace

int main(int argc, char **argv)
{
    std::string what = "all";
    std::string work = (fs::temp_directory_path() / "korvante-storage-bench").string();
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--work" && i + 1 < argc)
            work = argv[++i];
        else if (a == "--runs" && i + 1 < argc)
            g_runs = std::max(1, std::atoi(argv[++i]));
        else if (a == "listing" || a == "search" || a == "repair" || a == "all")
            what = a;
        else {
            std::fprintf(stderr, "usage: storage_bench [listing|search|repair|all] [--work DIR] [--runs N]\n");
            return 2;
        }
    }
    fs::create_directories(work);
    if (what == "listing" || what == "all")
        benchListing(work);
    if (what == "search" || what == "all")
        benchSearch(work);
    if (what == "repair" || what == "all")
        benchRepair(work);
    return 0;
}
