#pragma once
// Shared helpers of the korvante-mkcard tests: running programs, reading the
// RIFF layout of a recording, and the sample cards made once per test run.

#include "mkcard/byte_buffer.h"
#include "mkcard/recording.h"

#include <cstdint>
#include <string>
#include <vector>

namespace mkcard::test {

struct CommandResult {
    int exitCode = -1;
    std::string output; // standard output
    std::string errors; // standard error
};

// Runs a shell command line and collects its output and exit code.
CommandResult runCommand(const std::string &commandLine);
std::string quote(const std::string &text);
std::string toolPath();

// A temporary folder that goes with the object, whatever the test's outcome.
struct TempFolder {
    std::string path;
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;
};

Bytes readFile(const std::string &path);
std::vector<std::string> listFiles(const std::string &folder); // names, sorted

struct Chunk {
    std::string id;
    uint64_t offset = 0; // of the chunk header in the file
    uint32_t size = 0;
    std::span<const uint8_t> data; // clipped to the file
};

struct StreamHeader {
    std::string type;
    std::string handler;
    uint32_t scale = 0;
    uint32_t rate = 0;
    uint32_t length = 0;
    uint32_t suggestedBuffer = 0;
    uint64_t lengthOffset = 0;
};

struct AviLayout {
    uint32_t riffSize = 0;
    uint32_t headerListSize = 0;
    uint32_t totalFrames = 0;
    std::vector<StreamHeader> streams;
    uint64_t movieList = 0;      // offset of the movie list's "LIST"
    uint32_t movieListSize = 0;
    std::vector<Chunk> chunks;   // movie list chunks, in file order
    bool chunksEndCleanly = false; // the walk ended exactly at the movie list's end
    uint64_t afterMovieList = 0;
};

// Reads the header list and walks the movie list. For an unfinished file
// (movie list size 0) the walk goes on while chunk ids are valid and the
// chunk fits in the file.
bool parseAvi(const Bytes &file, AviLayout &layout);

// The packets of the metadata chunks, with their times.
struct TimedPacket {
    uint32_t timeMs = 0;
    Bytes bytes;
};
std::vector<TimedPacket> metadataPackets(const AviLayout &layout);

// Speed in km/h of a 'G' packet's sentence, or -1.
double gpsSpeedKmh(const Bytes &packet);
std::vector<std::string> splitFields(const std::string &sentence);

// The cards every test of this folder looks at, made once: a 320x240,
// 2-second card (seed 7) with one unfinished recording per kind as a folder
// and an image, and its twin with every recording finished.
struct SampleCards {
    std::string root;
    std::string folder;
    std::string image;
    std::string twinFolder;
    CardSettings settings;
    bool ok = false;
    std::string failure;
};
const SampleCards &sampleCards();

} // namespace mkcard::test
