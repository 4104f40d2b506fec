// Writes the storage fuzzer's seeds: finished and unfinished recordings laid out
// like the camera's, and the marker split across windows.
//   storage_fuzz_seeds <output folder>

#include "recording_bytes.h"

#include <cstdio>
#include <string>

using namespace korvante::testing;

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const std::string out = argv[1];
    RecordingLayout layout = layoutOf(typicalChunks(5, 40));
    writeAll(out + "/finished.avi", buildRecording(layout).bytes);
    writeAll(out + "/unfinished.avi", buildUnfinished(layout, 20, Bytes(64, 0x5C)).bytes);
    writeAll(out + "/unfinished-zero-tail.avi", buildUnfinished(layout, 48, Bytes(64, 0)).bytes);
    layout.chunks = {{"00dc", 33, false}, {"01wb", 7, true}, {"02tx", 12, true}};
    writeAll(out + "/odd-chunks.avi", buildUnfinished(layout, 5, Bytes(16, 0x30)).bytes);
    layout.afterIndex = Bytes(52, 0x33); // the marker starts at byte 61 of its window
    writeAll(out + "/split-marker.avi", buildRecording(layout).bytes);
    layout.afterIndex = Bytes(48, 0x33); // the value runs into the next window
    writeAll(out + "/split-value.avi", buildRecording(layout).bytes);
    return 0;
}
