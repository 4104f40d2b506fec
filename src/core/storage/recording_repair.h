#pragma once
// Repair of recordings whose header the camera left unfinished (power cut while
// recording): the RIFF size is set to the file length minus 8 and the chunk that
// was being written, with everything after it, is overwritten with zeros. The
// file's length never changes.
//
// All functions run on the calling thread and keep no state; a FILE* passed in
// stays owned by the caller, who flushes and closes it.

#include <cstdint>
#include <cstdio>
#include <string>

namespace korvante {

// A header is intact when it starts "RIFF" with a size above 0 and below 2^31.
bool isIntactHeader(const unsigned char *bytes, size_t length);
// Reads the first 64 bytes of `path`; a file that cannot be opened or read is
// not intact.
bool isIntact(const std::string &path);
// The same for a file already open for reading (descriptor not closed).
bool isIntactDescriptor(int fd);

// What a repair of one file does; all positions and lengths in bytes.
struct RepairPlan {
    bool repairable = false;     // a movie list with a stream chunk in the first 512 bytes
    uint64_t fileLength = 0;
    uint64_t movieListOffset = 0; // where "movi" was found
    uint64_t zeroFillStart = 0;   // first byte overwritten with zeros
    uint64_t zeroFillLength = 0;  // to the end of the file
    uint32_t riffSize = 0;        // written at offset 4
};

// Walks the movie list of a file open for reading and decides the repair, without
// writing. An unreadable file or one without a movie list is not repairable.
RepairPlan planRepair(std::FILE *file);

// Writes the header and the zeros of `plan` (zeros in 256 KiB blocks from one
// buffer). Returns false when a seek or write fails; does nothing for a plan
// that is not repairable.
bool applyRepair(std::FILE *file, const RepairPlan &plan);

// planRepair, then applyRepair on a file open for reading and writing ("rb+").
// The plan's `repairable` is false when the file was left unchanged.
RepairPlan repair(std::FILE *file, bool *writeFailed = nullptr);

inline constexpr size_t kRepairZeroBlock = 262144;

} // namespace korvante
