#pragma once
// Where the parts of a recording's RIFF AVI file lie, read from the chunk
// headers at the top level and the stream headers of the header list: the
// movie list, the idx1 index, and each stream's rate and sample size. Reads a
// few small pieces of the file; never the movie list's contents.

#include <cstdint>
#include <string>
#include <vector>

namespace korvante {

class ByteSource;

struct StreamHeader {
    std::uint32_t type = 0;       // "vids", "auds", "txts" … (recording::fourcc)
    std::uint32_t scale = 0;      // time unit = scale / rate seconds
    std::uint32_t rate = 0;
    std::uint32_t sampleSize = 0; // bytes per unit; 0 when every chunk is one unit
    std::uint32_t blockAlign = 0; // sound: the format's block size (bytes)
};

struct RiffLayout {
    std::int64_t fileSize = 0;
    std::int64_t moviId = 0;   // offset of the "movi" identifier; idx1 offsets count from here
    std::int64_t moviEnd = 0;  // end of the movie list as declared, 0 when unknown (size 0 or past the file)
    std::int64_t idx1Pos = -1; // offset of the idx1 chunk header, -1 when there is none
    std::uint32_t idx1Size = 0;
    std::vector<StreamHeader> streams; // in header order = stream number
};

enum class LayoutResult { Ok, NotRecording, DamagedHeader, Unreadable };

// Reads the layout through `source` (its owner's thread). NotRecording for bytes that are not RIFF AVI,
// DamagedHeader when the header list or the movie list cannot be found,
// Unreadable on a read error; the detail goes to `why`.
LayoutResult readRiffLayout(ByteSource &source, RiffLayout &layout, std::string *why);

} // namespace korvante
