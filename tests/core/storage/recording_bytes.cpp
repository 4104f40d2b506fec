#include "recording_bytes.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace korvante::testing {
namespace {

void append(Bytes &b, const char *tag)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<unsigned char>(tag[i]));
}

void appendLe32(Bytes &b, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

// Payload bytes that never look like a chunk id or a marker.
void appendPayload(Bytes &b, uint32_t size, unsigned seed)
{
    for (uint32_t i = 0; i < size; ++i)
        b.push_back(static_cast<unsigned char>(0x80 + ((i * 7 + seed) % 0x70)));
}

BuiltRecording buildBody(const RecordingLayout &layout, bool withIndex)
{
    BuiltRecording r;
    Bytes &b = r.bytes;
    append(b, "RIFF");
    appendLe32(b, 0);
    append(b, "AVI ");
    append(b, "LIST");
    appendLe32(b, static_cast<uint32_t>(4 + layout.headerPayload));
    append(b, "hdrl");
    Bytes header(layout.headerPayload, 0x11);
    if (layout.headerPayload >= 64) {
        const char *avih = "avih";
        std::copy(avih, avih + 4, header.begin());
    }
    b.insert(b.end(), header.begin(), header.end());
    r.movieList = b.size();
    append(b, "LIST");
    appendLe32(b, 0);
    append(b, "movi");
    unsigned seed = 0;
    for (const auto &c : layout.chunks) {
        r.chunkOffsets.push_back(b.size());
        append(b, c.id.c_str());
        appendLe32(b, c.size);
        appendPayload(b, c.size, seed++);
        if ((c.size & 1) && c.pad)
            b.push_back(0);
    }
    putLe32(b, r.movieList + 4, static_cast<uint32_t>(b.size() - r.movieList - 8));
    if (withIndex) {
        r.indexOffset = b.size();
        append(b, "idx1");
        appendLe32(b, static_cast<uint32_t>(16 * layout.chunks.size()));
        for (size_t i = 0; i < layout.chunks.size(); ++i) {
            append(b, layout.chunks[i].id.c_str());
            appendLe32(b, 0x10);
            appendLe32(b, static_cast<uint32_t>(r.chunkOffsets[i] - r.movieList - 8));
            appendLe32(b, layout.chunks[i].size);
        }
        b.insert(b.end(), layout.afterIndex.begin(), layout.afterIndex.end());
        if (layout.maxSpeed) {
            append(b, "JUNK");
            appendLe32(b, 8);
            append(b, "MSPD");
            appendLe32(b, static_cast<uint32_t>(*layout.maxSpeed));
        }
    }
    return r;
}

} // namespace

void putLe32(Bytes &b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.at(at + static_cast<size_t>(i)) = static_cast<unsigned char>(v >> (8 * i));
}

uint32_t getLe32(const Bytes &b, size_t at)
{
    return static_cast<uint32_t>(b.at(at)) | (static_cast<uint32_t>(b.at(at + 1)) << 8)
           | (static_cast<uint32_t>(b.at(at + 2)) << 16) | (static_cast<uint32_t>(b.at(at + 3)) << 24);
}

BuiltRecording buildRecording(const RecordingLayout &layout)
{
    BuiltRecording r = buildBody(layout, true);
    putLe32(r.bytes, 4, static_cast<uint32_t>(r.bytes.size() - 8));
    return r;
}

BuiltRecording buildUnfinished(const RecordingLayout &layout, size_t cutInto, const Bytes &oldBytes)
{
    BuiltRecording r = buildBody(layout, false);
    putLe32(r.bytes, 16, 0); // the header list's size was never written
    putLe32(r.bytes, r.movieList + 4, 0);
    const size_t last = r.chunkOffsets.back();
    r.bytes.resize(std::min(r.bytes.size(), last + cutInto));
    r.bytes.insert(r.bytes.end(), oldBytes.begin(), oldBytes.end());
    return r;
}

Bytes readAll(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeAll(const std::filesystem::path &path, const Bytes &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "korvante-storage-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(m_path, ec);
}

std::vector<MovieChunk> typicalChunks(size_t count, uint32_t firstSize)
{
    static const char *ids[] = {"00dc", "01wb", "02tx"};
    std::vector<MovieChunk> chunks;
    for (size_t i = 0; i < count; ++i)
        chunks.push_back({ids[i % 3], static_cast<uint32_t>(firstSize + 37 * i), true});
    return chunks;
}

} // namespace korvante::testing
