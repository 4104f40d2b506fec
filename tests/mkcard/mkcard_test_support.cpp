#include "mkcard_test_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

namespace mkcard::test {
namespace fs = std::filesystem;

std::string quote(const std::string &text)
{
    std::string q = "'";
    for (char c : text)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string toolPath() { return std::string(KORVANTE_BINARY_DIR) + "/bin/korvante-mkcard"; }

static std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

CommandResult runCommand(const std::string &commandLine)
{
    char outName[] = "/tmp/mkcard-test-out-XXXXXX";
    char errName[] = "/tmp/mkcard-test-err-XXXXXX";
    const int outFd = mkstemp(outName);
    const int errFd = mkstemp(errName);
    CommandResult r;
    if (outFd < 0 || errFd < 0)
        return r;
    const std::string full = "(" + commandLine + ") >" + outName + " 2>" + errName + " </dev/null";
    const int status = std::system(full.c_str());
    r.exitCode = status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.output = slurp(outName);
    r.errors = slurp(errName);
    std::remove(outName);
    std::remove(errName);
    return r;
}

TempFolder::TempFolder()
{
    char name[] = "/tmp/mkcard-test-XXXXXX";
    if (mkdtemp(name))
        path = name;
}

TempFolder::~TempFolder()
{
    std::error_code ec;
    if (!path.empty())
        fs::remove_all(path, ec);
}

Bytes readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> listFiles(const std::string &folder)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto &e : fs::directory_iterator(folder, ec))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

static std::string tagAt(const Bytes &b, uint64_t offset)
{
    if (offset + 4 > b.size())
        return {};
    return std::string(reinterpret_cast<const char *>(b.data() + offset), 4);
}

static bool validChunkId(const std::string &id)
{
    return id.size() == 4 && id[0] == '0' && id[1] >= '0' && id[1] <= '3' &&
           (id.substr(2) == "dc" || id.substr(2) == "wb" || id.substr(2) == "tx");
}

bool parseAvi(const Bytes &b, AviLayout &layout)
{
    layout = AviLayout{};
    if (b.size() < 64 || tagAt(b, 0) != "RIFF" || tagAt(b, 8) != "AVI " || tagAt(b, 12) != "LIST" ||
        tagAt(b, 20) != "hdrl")
        return false;
    layout.riffSize = readU32(b, 4);
    layout.headerListSize = readU32(b, 16);
    layout.totalFrames = readU32(b, kTotalFramesOffset);
    const uint64_t headerEnd = 20 + uint64_t{layout.headerListSize};
    if (headerEnd + 12 > b.size())
        return false;
    for (uint64_t p = 24; p + 8 <= headerEnd;) {
        const std::string id = tagAt(b, p);
        const uint32_t size = readU32(b, p + 4);
        if (id == "LIST") {
            p += 12; // descend into the stream list
            continue;
        }
        if (id == "strh" && size >= 48) {
            StreamHeader h;
            h.type = tagAt(b, p + 8);
            h.handler = tagAt(b, p + 12);
            h.scale = readU32(b, p + 8 + 20);
            h.rate = readU32(b, p + 8 + 24);
            h.lengthOffset = p + 8 + 32;
            h.length = readU32(b, p + 8 + 32);
            h.suggestedBuffer = readU32(b, p + 8 + 36);
            layout.streams.push_back(h);
        }
        p += 8 + size + (size % 2);
    }
    layout.movieList = headerEnd;
    if (tagAt(b, headerEnd) != "LIST" || tagAt(b, headerEnd + 8) != "movi")
        return false;
    layout.movieListSize = readU32(b, headerEnd + 4);
    const uint64_t end = layout.movieListSize ? headerEnd + 8 + layout.movieListSize : b.size();
    uint64_t p = headerEnd + 12;
    while (p + 8 <= end) {
        const std::string id = tagAt(b, p);
        if (!validChunkId(id))
            break;
        Chunk c;
        c.id = id;
        c.offset = p;
        c.size = readU32(b, p + 4);
        const uint64_t dataEnd = std::min<uint64_t>(b.size(), p + 8 + c.size);
        c.data = std::span<const uint8_t>(b.data() + p + 8, static_cast<size_t>(dataEnd - (p + 8)));
        layout.chunks.push_back(c);
        p += 8 + uint64_t{c.size} + (c.size % 2);
    }
    layout.chunksEndCleanly = p == end;
    layout.afterMovieList = end;
    return true;
}

std::vector<TimedPacket> metadataPackets(const AviLayout &layout)
{
    std::vector<TimedPacket> packets;
    for (const auto &c : layout.chunks)
        if (c.id.substr(2) == "tx" && c.data.size() >= 4)
            packets.push_back({readU32(c.data, 0), Bytes(c.data.begin() + 4, c.data.end())});
    return packets;
}

std::vector<std::string> splitFields(const std::string &sentence)
{
    std::vector<std::string> fields;
    std::string field;
    for (char c : sentence) {
        if (c == ',') {
            fields.push_back(field);
            field.clear();
        } else {
            field += c;
        }
    }
    fields.push_back(field);
    return fields;
}

double gpsSpeedKmh(const Bytes &packet)
{
    if (packet.empty() || packet[0] != 'G')
        return -1;
    const auto fields = splitFields(std::string(packet.begin(), packet.end()));
    if (fields.size() != 10)
        return -1;
    return static_cast<double>(static_cast<float>(std::atof(fields[7].c_str()) * 1.852));
}

namespace {

struct CardsHolder {
    SampleCards cards;
    CardsHolder()
    {
        char root[] = "/tmp/mkcard-cards-XXXXXX";
        if (!mkdtemp(root)) {
            cards.failure = "cannot make a temporary folder";
            return;
        }
        cards.root = root;
        cards.folder = cards.root + "/card";
        cards.image = cards.root + "/card.img";
        cards.twinFolder = cards.root + "/twin";
        cards.settings.width = 320;
        cards.settings.height = 240;
        cards.settings.seconds = 2;
        cards.settings.perKind = 2;
        cards.settings.unfinished = 1;
        cards.settings.seed = 7;
        const std::string common = " --size 320x240 --seconds 2 --per-kind 2 --seed 7";
        const auto made = runCommand(quote(toolPath()) + " --folder " + quote(cards.folder) + " --image " +
                                     quote(cards.image) + " --unfinished 1" + common);
        const auto twin = runCommand(quote(toolPath()) + " --folder " + quote(cards.twinFolder) + common);
        cards.ok = made.exitCode == 0 && twin.exitCode == 0;
        if (!cards.ok)
            cards.failure = "korvante-mkcard failed: " + made.errors + twin.errors;
    }
    ~CardsHolder()
    {
        std::error_code ec;
        if (!cards.root.empty())
            fs::remove_all(cards.root, ec);
    }
};

} // namespace

const SampleCards &sampleCards()
{
    static CardsHolder holder;
    return holder.cards;
}

} // namespace mkcard::test
