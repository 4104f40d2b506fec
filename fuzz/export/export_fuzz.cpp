// Treats the input as a card recording and exports it from memory, once in
// blocks of a size the input's first byte picks (1 to 256 bytes, so chunk
// headers and private records straddle blocks) and once in one block.
// Findings besides crashes and sanitizer reports: results that depend on the
// block size (outcome, bytes, counts), a success whose reported length is not
// the output's, a copied recording whose length changed, a rebuilt one
// without its index, a failure without a message for the user.

#include "fuzz_input.h"

#include "core/storage/export_walk.h"

#include <cstring>
#include <span>

namespace {

void check(bool condition, const char *what)
{
    korvante::fuzzing::check(condition, "export_fuzz", what);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::size_t blockSize = 1 + data[0];
    const std::span<const unsigned char> input(data + 1, size - 1);

    korvante::MemoryExportWriter small, whole;
    const auto a = korvante::exportRecordingBytes(input, small, nullptr, blockSize);
    const auto b = korvante::exportRecordingBytes(input, whole, nullptr, input.size() + 1);

    check(a.outcome == b.outcome, "the outcome depends on the block size");
    if (!a.ok()) {
        check(!a.message.empty(), "a failed export without a message");
        return 0;
    }
    check(a.message.empty(), "a successful export with a failure message");
    check(small.bytes == whole.bytes, "the output depends on the block size");
    check(a.blankedRecords == b.blankedRecords && a.indexEntries == b.indexEntries,
          "the counts depend on the block size");
    check(a.bytesWritten == small.bytes.size(), "the reported length is not the output's");
    check(a.bytesRead == input.size(), "the export did not read the whole recording");
    if (a.outcome == korvante::ExportOutcome::Copied) {
        check(small.bytes.size() == input.size(), "a copied recording changed its length");
        check(a.indexEntries == 0, "a copied recording with a new index");
    } else {
        check(small.bytes.size() >= 12 + 8 && std::memcmp(small.bytes.data(), "RIFF", 4) == 0,
              "a rebuilt recording that is no RIFF file");
        const std::size_t indexBytes = 8 + 16 * static_cast<std::size_t>(a.indexEntries);
        check(small.bytes.size() >= indexBytes
                  && std::memcmp(small.bytes.data() + small.bytes.size() - indexBytes, "idx1", 4) == 0,
              "a rebuilt recording that does not end with its index");
    }
    return 0;
}
