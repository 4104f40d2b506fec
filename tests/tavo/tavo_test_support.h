#pragma once

// Shared helpers of the card library tests: a temporary folder per test, an RAII device block
// and a walk over a directory that calls the library the way the catalogue does.

#include "tavo/tavo.h"
#include "tavo/tavo_writer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace tavo::testing {

struct ListedFile {
    std::string name;
    uint32_t fileId = 0;
    uint32_t size = 0;
    int32_t time = 0;
};

struct Listing {
    std::vector<ListedFile> files;
    std::vector<int> pageCounts;      // every result of VX_Tavo_Get_FileList, the final 0 too
    std::vector<uint32_t> cursors;    // the cursor after each call
};

// A zeroed device block that closes itself.
class DeviceBlock final {
public:
    DeviceBlock() = default;
    ~DeviceBlock() { VX_Tavo_Device_Close(m_block); }
    DeviceBlock(const DeviceBlock &) = delete;
    DeviceBlock &operator=(const DeviceBlock &) = delete;
    unsigned char *get() { return m_block; }

private:
    unsigned char m_block[VX_TAVO_DEVICE_BLOCK_SIZE] = {};
};

// Lists `dir` as the catalogue does: directory query, then pages of 30 until a count of 0 or
// less (bounded, so a library that never ends fails the test instead of hanging it).
Listing listDirectory(unsigned char *block, const std::string &dir);

// Reads a whole file through File_Open / File_Read (5 MiB blocks) / File_Close. Empty and
// *ok false when the open fails or a read goes wrong.
std::vector<unsigned char> readWholeFile(unsigned char *block, const std::string &dir,
                                         const std::string &name, int fileId, bool *ok);

// Deterministic contents for a file: differs per seed and per position.
std::vector<unsigned char> patternBytes(size_t size, uint32_t seed);

class TavoTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::string path(const std::string &name) const { return (m_dir / name).string(); }

    // A sparse image of `totalBytes` with a 1 MiB FAT partition at 1 MiB and the TAVO
    // partition after it.
    std::unique_ptr<CardWriter> createCard(const std::string &name, uint64_t totalBytes,
                                           uint32_t clusterBytes = 4096);

    std::filesystem::path m_dir;
};

// Patching helpers for damage tests; every helper keeps the CRCs right unless told otherwise.
void writeBytes(const std::string &path, uint64_t offset, const void *data, size_t size);
std::vector<unsigned char> readBytes(const std::string &path, uint64_t offset, size_t size);

} // namespace tavo::testing
