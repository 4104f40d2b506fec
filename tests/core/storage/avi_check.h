#pragma once
// Checks of exported recordings that share no code with the exporter: a
// plain whole-file RIFF walk, ffprobe and ffmpeg, and the camera's private
// records found by a search of the original bytes.

#include "recording_bytes.h"

#include <map>
#include <string>
#include <vector>

namespace korvante::testing {

struct AviLayout {
    std::string problem;              // empty when the file is a well-formed indexed AVI
    size_t moviId = 0;                // offset of "movi"
    size_t moviEnd = 0;               // end of the movie list
    std::map<std::string, uint32_t> indexCounts; // idx1 entries per chunk id
    uint32_t keyFrames = 0;           // idx1 entries flagged as key frames
    uint32_t totalFrames = 0;         // main header
    std::vector<std::string> types;   // strh types, in stream order
    std::vector<uint32_t> rates, lengths, bufferSizes;
};

// Walks the whole file: RIFF size = length - 8, header list, a movie list of
// back-to-back chunks, an idx1 right after it whose entries, in order, name
// every chunk of the movie list with its id and size (offsets from "movi"),
// and nothing after the index but optional JUNK.
AviLayout walkAvi(const Bytes &file);

struct ProbedStream {
    std::string type;    // "video", "audio", ...
    long frames = -1;    // decoded frames (video, audio)
    double duration = -1;
};
std::vector<ProbedStream> probeStreams(const std::string &path);
// What `ffmpeg -v error -i FILE -f null -` prints (empty: decoded cleanly),
// or a note when it exits non-zero.
std::string decodeErrors(const std::string &path);

struct ByteRange {
    size_t begin = 0, end = 0;
    char fill = 0;
};
// The QXMS and QXDJ records of `bytes` with the letter that blanks them.
std::vector<ByteRange> privateRecords(const Bytes &bytes);

// Whether `out` equals `in` over [from, to) except inside `blanked`, which
// must hold only their fill letter in `out`. Returns the first problem.
std::string compareExceptBlanked(const Bytes &in, const Bytes &out, size_t from, size_t to,
                                 const std::vector<ByteRange> &blanked);

} // namespace korvante::testing
