// Export benchmark: every recording of a card image of about 1 GiB (two-channel
// 1080p-sized recordings at 12 Mbit/s per channel, half of them unfinished) is
// exported through the card library into a folder, against `cat` copying the
// whole image into the same folder, timed in the same run with a warm page
// cache. The export syncs each file it writes; the reference is given with and
// without a sync of its copy, and the ratio is taken against the synced copy
// (same durability) and shown against the plain one too.
// usage: export_bench [--work DIR] [--mib N] [--runs N]

#include "core/storage/export_entry.h"
#include "core/storage/recording_catalogue.h"
#include "mkcard/avi_writer.h"
#include "tavo/tavo_writer.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace korvante;

constexpr int kFps = 30;
constexpr int kSeconds = 30;
constexpr size_t kFrameBytes = 50000; // 12 Mbit/s at 30 fps

struct NullView final : ListView {
    void deleteAllRows() override {}
    void insertRow(int, const std::string &) override {}
    void setColumnText(int, int, const std::string &) override {}
    void setRedraw(bool) override {}
    void setBusyCursor(bool) override {}
};

double seconds(const std::function<void()> &work)
{
    const auto t0 = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// One recording in the card-partition layout: front and rear video, AAC-sized
// sound, metadata with the two private records first.
mkcard::Bytes makeRecording(uint64_t seed, bool unfinished)
{
    std::mt19937_64 random(seed);
    std::vector<mkcard::Bytes> store;
    std::vector<mkcard::AviChunk> chunks;
    auto add = [&](int stream, mkcard::Bytes data, bool key) {
        store.push_back(std::move(data));
        chunks.push_back({stream, {}, key});
    };
    auto picture = [&](bool key) {
        mkcard::Bytes b(kFrameBytes + random() % 8000);
        for (auto &v : b)
            v = static_cast<uint8_t>(0x80 | (random() & 0x7F));
        const uint8_t start[] = {0, 0, 1, static_cast<uint8_t>(key ? 0x65 : 0x41)};
        std::memcpy(b.data(), start, 4);
        return b;
    };
    auto text = [](uint32_t ms, const std::string &packet) {
        mkcard::Bytes b(4 + packet.size());
        std::memcpy(b.data(), &ms, 4);
        std::memcpy(b.data() + 4, packet.data(), packet.size());
        return b;
    };
    const std::string model = "MODEL=KV-D2000;SERIAL=BENCH", journal = "DRIVER=bench";
    auto record = [](const char *tag, const std::string &body) {
        std::string r(tag, 4);
        r += static_cast<char>(body.size() & 0xFF);
        r += static_cast<char>(body.size() >> 8);
        r += std::string(2, '\0') + body;
        return r;
    };
    add(3, text(0, record("QXMS", model)), true);
    add(3, text(0, record("QXDJ", journal)), true);
    for (int f = 0; f < kFps * kSeconds; ++f) {
        const bool key = f % kFps == 0;
        add(0, picture(key), key);
        add(1, picture(key), key);
        if (f % 2 == 0)
            add(2, mkcard::Bytes(250, 0x21), true);
        if (f % 3 == 0)
            add(3, text(static_cast<uint32_t>(f * 1000 / kFps), "M\x01\x02\x03"), true);
    }
    for (size_t i = 0; i < chunks.size(); ++i)
        chunks[i].data = store[i];
    std::vector<mkcard::AviStream> streams(4);
    streams[0].kind = mkcard::StreamKind::Video;
    streams[0].width = 1920;
    streams[0].height = 1080;
    streams[0].fps = kFps;
    streams[1] = streams[0];
    streams[2].kind = mkcard::StreamKind::Audio;
    streams[2].audioCodec = mkcard::AudioCodec::Aac;
    streams[2].sampleRate = 16000;
    streams[2].audioConfig = {0x14, 0x08};
    streams[3].kind = mkcard::StreamKind::Text;
    streams[3].textRateMilli = 10000;
    return mkcard::buildAvi(streams, chunks, 70,
                            unfinished ? std::optional<mkcard::UnfinishedLayout>{{seed}} : std::nullopt);
}

uint64_t makeCard(const fs::path &image, uint64_t mib)
{
    tavo::CardLayout layout;
    layout.totalBytes = (mib + 256) << 20; // room for the recording that passes `mib`
    layout.fatBytes = 16u << 20;
    std::string error;
    auto writer = tavo::CardWriter::createImage(image.string(), layout, &error);
    if (!writer || !writer->addDirectory("NOR")) {
        std::fprintf(stderr, "export_bench: %s\n", error.c_str());
        std::exit(1);
    }
    uint64_t bytes = 0;
    for (int i = 0; bytes < (mib << 20); ++i) {
        const mkcard::Bytes r = makeRecording(static_cast<uint64_t>(i) + 1, i % 2 == 1);
        char name[64];
        std::snprintf(name, sizeof name, "N_20120305_%06d_2CH_F.tavo", 100000 + i * 100);
        if (writer->addFile("NOR", name, 1330957353 + i * 40, r.data(), r.size()) == 0) {
            std::fprintf(stderr, "export_bench: the card is full\n");
            std::exit(1);
        }
        bytes += r.size();
    }
    if (!writer->finish(&error)) {
        std::fprintf(stderr, "export_bench: %s\n", error.c_str());
        std::exit(1);
    }
    return bytes;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

std::string quoted(const fs::path &p) { return "'" + p.string() + "'"; }

} // namespace

int main(int argc, char **argv)
{
    fs::path work;
    uint64_t mib = 1024;
    int runs = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--work") == 0)
            work = argv[i + 1];
        else if (std::strcmp(argv[i], "--mib") == 0)
            mib = std::strtoull(argv[i + 1], nullptr, 10);
        else if (std::strcmp(argv[i], "--runs") == 0)
            runs = std::max(1, std::atoi(argv[i + 1]));
    }
    const bool ownWork = work.empty();
    if (ownWork) {
        std::string pattern = (fs::temp_directory_path() / "export-bench-XXXXXX").string();
        work = ::mkdtemp(pattern.data());
    }
    const fs::path image = work / "card.img", out = work / "out";
    fs::create_directories(out);
    const uint64_t recordingBytes = makeCard(image, mib);
    const uint64_t imageBytes = fs::file_size(image);

    RecordingCatalogue catalogue;
    catalogue.addFolder("NOR");
    StorageSource source;
    source.kind = SourceTavo;
    setText64(source.devicePath, image.string());
    catalogue.setSources({source});
    NullView view;
    if (!catalogue.selectSource(0) || catalogue.listAllWithoutRepair(view) == 0) {
        std::fprintf(stderr, "export_bench: the card cannot be listed\n");
        return 1;
    }
    std::system(("cat " + quoted(image) + " > /dev/null").c_str()); // warm the cache

    std::vector<double> catTimes, catSyncTimes, exportTimes;
    int rebuilt = 0;
    for (int run = 0; run < runs; ++run) {
        const fs::path copy = out / "copy.img";
        const double c = seconds([&] { std::system(("cat " + quoted(image) + " > " + quoted(copy)).c_str()); });
        const double s = seconds([&] { std::system(("sync " + quoted(copy)).c_str()); });
        catTimes.push_back(c);
        catSyncTimes.push_back(c + s);
        fs::remove(copy);
        rebuilt = 0;
        exportTimes.push_back(seconds([&] {
            for (int row = 0; row < catalogue.shownCount(); ++row) {
                const EntryExportResult r = exportEntry(catalogue, row, out.string());
                if (!r.ok()) {
                    std::fprintf(stderr, "export_bench: %s\n", r.message.c_str());
                    std::exit(1);
                }
                rebuilt += r.result.outcome == ExportOutcome::Rebuilt;
            }
        }));
        for (const auto &e : fs::directory_iterator(out))
            fs::remove(e.path());
    }
    const double cat = median(catTimes), catSync = median(catSyncTimes), exp = median(exportTimes);
    const double catRate = imageBytes / cat / 1e6, catSyncRate = imageBytes / catSync / 1e6;
    const double exportRate = recordingBytes / exp / 1e6;
    std::printf("card: %d recordings (%d unfinished), %llu bytes; image %llu bytes; median of %d runs\n",
                catalogue.shownCount(), rebuilt, static_cast<unsigned long long>(recordingBytes),
                static_cast<unsigned long long>(imageBytes), runs);
    std::printf("cat image > copy          : %.3f s = %.1f MB/s\n", cat, catRate);
    std::printf("cat image > copy; sync    : %.3f s = %.1f MB/s\n", catSync, catSyncRate);
    std::printf("export (synced files)     : %.3f s = %.1f MB/s\n", exp, exportRate);
    std::printf("ratio export / (cat+sync) : %.2f (target >= 0.80)\n", exportRate / catSyncRate);
    std::printf("ratio export / cat        : %.2f\n", exportRate / catRate);
    if (ownWork)
        fs::remove_all(work);
    return 0;
}
