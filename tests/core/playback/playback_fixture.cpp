#include "playback_fixture.h"

#include "mkcard/frame_code.h"
#include "tavo/tavo.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

namespace korvante::testing {

std::string tempFolder()
{
    static std::vector<std::unique_ptr<QTemporaryDir>> folders;
    folders.push_back(std::make_unique<QTemporaryDir>());
    return folders.back()->path().toStdString();
}

bool runMkcard(const std::vector<std::string> &args)
{
    // A plain fork and exec rather than QProcess: QProcess starts children
    // with a vfork-style clone, which ThreadSanitizer cannot follow (the
    // sanitizer run of these tests would lose track of the main thread).
    const std::string tool = KORVANTE_BINARY_DIR "/bin/korvante-mkcard";
    std::vector<std::string> argv{tool};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char *> raw;
    for (auto &a : argv)
        raw.push_back(a.data());
    raw.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0)
        return false;
    if (pid == 0) {
        const int devnull = open("/dev/null", O_WRONLY);
        if (devnull >= 0)
            dup2(devnull, STDOUT_FILENO);
        execv(tool.c_str(), raw.data());
        _exit(127);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid)
        return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

namespace {

SampleCard makeCard(const std::vector<std::string> &options)
{
    SampleCard c;
    c.folder = tempFolder() + "/card";
    std::vector<std::string> args{"--folder", c.folder};
    args.insert(args.end(), options.begin(), options.end());
    EXPECT_TRUE(runMkcard(args)) << "korvante-mkcard failed";
    namespace fs = std::filesystem;
    for (const char *dir : {"NOR", "EVT", "MOT", "MAN"}) {
        std::vector<std::string> names;
        if (!fs::exists(c.folder + "/" + dir))
            continue;
        for (const auto &e : fs::directory_iterator(c.folder + "/" + dir))
            names.push_back(e.path().string());
        std::sort(names.begin(), names.end());
        // Front and rear files sorted by name pair up: a rear file's
        // second lies within 3 s of its front file's.
        std::vector<std::string> frontNames, rearNames;
        for (const auto &n : names) {
            if (n.size() > 6 && n.compare(n.size() - 6, 6, "_F.avi") == 0)
                frontNames.push_back(n);
            else if (n.size() > 6 && n.compare(n.size() - 6, 6, "_R.avi") == 0)
                rearNames.push_back(n);
        }
        std::vector<SampleRecording> inDir;
        for (size_t i = 0; i < frontNames.size(); ++i)
            inDir.push_back({frontNames[i], i < rearNames.size() ? rearNames[i] : std::string()});
        // A cut-off recording has RIFF size 0.
        for (const auto &r : inDir) {
            const auto bytes = readFile(r.front);
            const bool cut = bytes.size() >= 8 && bytes[4] == 0 && bytes[5] == 0 && bytes[6] == 0 && bytes[7] == 0;
            (cut ? c.unfinished : c.finished).push_back(r);
        }
    }
    return c;
}

} // namespace

const SampleCard &sampleCard()
{
    static const SampleCard card =
        makeCard({"--per-kind", "2", "--unfinished", "1", "--seconds", "4", "--size", "320x240", "--fps", "30",
                  "--audio", "aac", "--channels", "2", "--seed", "11"});
    return card;
}

const SampleCard &cameraCard()
{
    static const SampleCard card =
        makeCard({"--per-kind", "1", "--seconds", "12", "--size", "640x360", "--rear-size", "480x270", "--fps",
                  "30", "--audio", "aac", "--channels", "2", "--encoding", "camera", "--seed", "5"});
    return card;
}

const SampleCard &unfinishedCameraCard()
{
    static const SampleCard card =
        makeCard({"--per-kind", "1", "--unfinished", "1", "--seconds", "20", "--size", "640x360", "--rear-size",
                  "480x270", "--fps", "30", "--audio", "aac", "--channels", "2", "--encoding", "camera", "--seed", "7"});
    return card;
}

std::vector<std::uint8_t> readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::string &path, const std::vector<std::uint8_t> &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

namespace {
std::uint32_t le32(const std::vector<std::uint8_t> &b, size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
bool streamChunkId(const std::uint8_t *p)
{
    return std::isdigit(p[0]) && std::isdigit(p[1]) && std::islower(p[2]) && std::islower(p[3]);
}
} // namespace

std::vector<RawChunk> movieChunks(const std::string &path)
{
    const auto b = readFile(path);
    std::vector<RawChunk> chunks;
    // Find "LIST....movi" after the header list.
    size_t at = 12;
    size_t movi = 0;
    while (at + 12 <= b.size()) {
        if (std::memcmp(&b[at], "LIST", 4) == 0 && std::memcmp(&b[at + 8], "movi", 4) == 0) {
            movi = at + 12;
            break;
        }
        at += 8 + le32(b, at + 4) + (le32(b, at + 4) & 1);
    }
    if (!movi)
        return chunks;
    at = movi;
    while (at + 8 <= b.size() && streamChunkId(&b[at])) {
        const std::uint32_t size = le32(b, at + 4);
        if (at + 8 + size > b.size())
            break; // runs past the end of the file
        const size_t next = at + 8 + size + (size & 1);
        const bool followedByChunk = next >= b.size() - 1
            || (next + 4 <= b.size() && (streamChunkId(&b[next]) || std::memcmp(&b[next], "idx1", 4) == 0
                                         || std::memcmp(&b[next], "JUNK", 4) == 0));
        if (!followedByChunk)
            break; // old bytes follow: this chunk was cut off
        chunks.push_back(RawChunk{std::string(reinterpret_cast<const char *>(&b[at]), 4), static_cast<std::int64_t>(at),
                                  std::vector<std::uint8_t>(b.begin() + static_cast<std::ptrdiff_t>(at + 8),
                                                            b.begin() + static_cast<std::ptrdiff_t>(at + 8 + size))});
        at = next;
    }
    return chunks;
}

int frameNumberOf(const QImage &image)
{
    if (image.isNull())
        return -1;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    return framecode::decodeFrameNumber(rgb.constBits(), rgb.width(), rgb.height(),
                                        static_cast<int>(rgb.bytesPerLine()));
}

CardRecord firstCardRecord(unsigned char *device, const char *directory)
{
    std::vector<unsigned char> list(VX_TAVO_LIST_BUFFER_SIZE, 0);
    const std::uint32_t capacity = VX_TAVO_LIST_CAPACITY;
    std::memcpy(list.data(), &capacity, 4);
    std::uint32_t cursor = 1;
    CardRecord record;
    if (VX_Tavo_Get_FileList(device, directory, &cursor, list.data(), 0) <= 0)
        return record;
    const unsigned char *first = list.data() + VX_TAVO_LIST_HEADER_SIZE;
    record.name = reinterpret_cast<const char *>(first);
    std::memcpy(&record.id, first + VX_TAVO_RECORD_ID_OFFSET, 4);
    return record;
}

} // namespace korvante::testing
