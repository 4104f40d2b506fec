#pragma once
// Repair of recordings whose header the camera left unfinished (power cut while
// recording): the RIFF size is set to the file length minus 8 and the chunk that
// was being written, with everything after it, is overwritten with zeros. The
// file's length never changes, and the RIFF size is written only once the
// zeros are on the card (see applyRepair).
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
    bool linked = false;          // the file had a name when planned (an anonymous one has none)
    int64_t modifiedSec = 0;      // its modification time when planned
    int64_t modifiedNsec = 0;
};

// Walks the movie list of a file open for reading and decides the repair, without
// writing. An unreadable file or one without a movie list is not repairable.
RepairPlan planRepair(std::FILE *file);

// Writes the zeros and the header of `plan` (zeros in 256 KiB blocks from one
// buffer), each step synced before the next: first the zeros after the cut
// chunk's 8-byte head, then the RIFF size, then that head. Until the RIFF size
// is written the file still reads as unfinished, with the head that ends the
// walk where this plan ended it, so a repair stopped part-way (a pulled card,
// a failing write) is planned and finished alike by the next one; nothing is
// ever marked repaired that is not. A file that is no longer the one planned
// (another length or modification time, or removed since) is not written:
// someone is writing it (the camera, a copy), and zeros would destroy what
// they add. Length and time are checked again right before every write. Returns false, with errno set and the reason in `error` when given,
// when a write or sync fails or the file changed; does nothing for a plan that
// is not repairable.
bool applyRepair(std::FILE *file, const RepairPlan &plan, std::string *error = nullptr);

// planRepair, then applyRepair on a file open for reading and writing ("rb+").
// The plan's `repairable` is false when the file was left unchanged.
//
// The reason given for a file that changed under the repair.
inline constexpr const char *kRepairFileChanged = "the file is being written";
RepairPlan repair(std::FILE *file, bool *writeFailed = nullptr, std::string *error = nullptr);

inline constexpr size_t kRepairZeroBlock = 262144;

// Opens the recording at `path` for a repair: for reading and writing, or for
// reading only with `readOnly` (a dry run). Never through a symbolic link,
// only a regular file with no other name (a hard link would carry the repair
// to a file elsewhere), and, when `device` and `inode` are not 0, only the
// file that was listed under that name. A stream ("rb+" or "rb") owned by the
// caller, or null with the reason in `why` and errno set.
std::FILE *openForRepair(const std::string &path, bool readOnly, uint64_t device, uint64_t inode, std::string &why);

} // namespace korvante
