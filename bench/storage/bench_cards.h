#pragma once
// Builds the benchmark's data: a folder card of small recordings, large sparse
// recordings for the speed search, and one large unfinished recording.

#include <cstdint>
#include <string>

namespace korvante::bench {

// `pairs` two-channel recordings (front and rear file each) spread over
// NOR/EVT/MOT/MAN below `root`, rear files 0 to 2 seconds after their front.
void writeFolderCard(const std::string &root, int pairs);

// `count` recordings of `bytes` each (sparse movie data) in `folder`, each with
// a maximum-speed record after its index.
void writeLargeRecordings(const std::string &folder, int count, uint64_t bytes);

// An unfinished recording of `bytes`: chunks up to about half of it, a cut
// chunk, then old bytes. Returns the file's path.
std::string writeUnfinished(const std::string &folder, uint64_t bytes);

} // namespace korvante::bench
