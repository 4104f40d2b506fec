#pragma once
// Builds recordings byte by byte with the camera's layout, so that tests can
// place every chunk, size and marker exactly where a case needs it.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace korvante::testing {

using Bytes = std::vector<unsigned char>;

struct MovieChunk {
    std::string id;     // e.g. "00dc"
    uint32_t size = 0;  // payload bytes
    bool pad = true;    // write the pad byte after an odd payload
};

struct RecordingLayout {
    std::vector<MovieChunk> chunks;
    size_t headerPayload = 180;            // bytes inside the header list after "hdrl"
    std::optional<int32_t> maxSpeed = 72;  // the MSPD record after the index, if any
    Bytes afterIndex;                      // written between the index and the MSPD record
};

struct BuiltRecording {
    Bytes bytes;
    size_t movieList = 0;                 // offset of "LIST" of the movie list
    std::vector<size_t> chunkOffsets;     // offset of each chunk id
    size_t indexOffset = 0;               // offset of "idx1"
};

// A finished recording: RIFF size, header, movie list, index, MSPD record.
BuiltRecording buildRecording(const RecordingLayout &layout);

// The camera's state after a power cut: RIFF and list sizes 0, no index and no
// MSPD, the last chunk cut `cutInto` bytes after its id, then `oldBytes`.
BuiltRecording buildUnfinished(const RecordingLayout &layout, size_t cutInto, const Bytes &oldBytes);

void putLe32(Bytes &b, size_t at, uint32_t v);
uint32_t getLe32(const Bytes &b, size_t at);

Bytes readAll(const std::filesystem::path &path);
void writeAll(const std::filesystem::path &path, const Bytes &bytes);

// A fresh folder below the system's temporary folder, removed by the destructor.
class TempDir final {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::filesystem::path &path() const { return m_path; }
    std::string str() const { return m_path.string(); }

private:
    std::filesystem::path m_path;
};

inline RecordingLayout layoutOf(std::vector<MovieChunk> chunks)
{
    RecordingLayout layout;
    layout.chunks = std::move(chunks);
    return layout;
}

// Standard chunk lists.
std::vector<MovieChunk> typicalChunks(size_t count, uint32_t firstSize = 1000);

} // namespace korvante::testing
