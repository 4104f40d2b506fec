#include "avi_check.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sstream>

namespace korvante::testing {
namespace {

bool tagAt(const Bytes &b, size_t at, const char *tag)
{
    return at + 4 <= b.size() && std::memcmp(b.data() + at, tag, 4) == 0;
}

std::string run(const std::string &command, int &status)
{
    std::string output;
    std::unique_ptr<FILE, int (*)(FILE *)> pipe(::popen(command.c_str(), "r"), ::pclose);
    if (!pipe) {
        status = -1;
        return output;
    }
    std::array<char, 4096> buffer{};
    while (size_t n = std::fread(buffer.data(), 1, buffer.size(), pipe.get()))
        output.append(buffer.data(), n);
    status = ::pclose(pipe.release());
    return output;
}

std::string quoted(const std::string &path) { return "'" + path + "'"; }

} // namespace

AviLayout walkAvi(const Bytes &f)
{
    AviLayout a;
    auto bad = [&](const std::string &why) {
        a.problem = why;
        return a;
    };
    if (f.size() < 12 || !tagAt(f, 0, "RIFF") || !tagAt(f, 8, "AVI "))
        return bad("no RIFF AVI header");
    if (getLe32(f, 4) != f.size() - 8)
        return bad("RIFF size " + std::to_string(getLe32(f, 4)) + " for a file of " + std::to_string(f.size()));
    struct Chunk {
        std::string id;
        size_t offset;
        uint32_t size;
    };
    std::vector<Chunk> chunks;
    bool indexSeen = false;
    for (size_t p = 12; p < f.size();) {
        if (p + 8 > f.size())
            return bad("a cut chunk header at " + std::to_string(p));
        const uint32_t size = getLe32(f, p + 4);
        const size_t end = p + 8 + size;
        if (end > f.size())
            return bad("a chunk past the end at " + std::to_string(p));
        if (tagAt(f, p, "LIST") && tagAt(f, p + 8, "hdrl")) {
            for (size_t q = p + 12; q + 8 <= end; q += 8 + getLe32(f, q + 4) + (getLe32(f, q + 4) & 1)) {
                if (tagAt(f, q, "avih"))
                    a.totalFrames = getLe32(f, q + 8 + 16);
                if (tagAt(f, q, "LIST") && tagAt(f, q + 8, "strl") && tagAt(f, q + 12, "strh")) {
                    const size_t s = q + 20;
                    a.types.emplace_back(reinterpret_cast<const char *>(f.data() + s), 4);
                    a.rates.push_back(getLe32(f, s + 24));
                    a.lengths.push_back(getLe32(f, s + 32));
                    a.bufferSizes.push_back(getLe32(f, s + 36));
                }
            }
        } else if (tagAt(f, p, "LIST") && tagAt(f, p + 8, "movi")) {
            a.moviId = p + 8;
            a.moviEnd = end;
            for (size_t q = p + 12; q < end;) {
                if (q + 8 > end)
                    return bad("a cut chunk header in the movie list at " + std::to_string(q));
                const uint32_t s = getLe32(f, q + 4);
                chunks.push_back({std::string(reinterpret_cast<const char *>(f.data() + q), 4), q - a.moviId, s});
                q += 8 + s + (s & 1);
                if (q > end)
                    return bad("a chunk runs past the movie list at " + std::to_string(q));
            }
        } else if (tagAt(f, p, "idx1")) {
            if (p != a.moviEnd)
                return bad("idx1 does not follow the movie list");
            if (size != chunks.size() * 16)
                return bad("idx1 holds " + std::to_string(size / 16) + " entries for " + std::to_string(chunks.size())
                           + " chunks");
            for (size_t i = 0; i < chunks.size(); ++i) {
                const size_t e = p + 8 + 16 * i;
                const std::string id(reinterpret_cast<const char *>(f.data() + e), 4);
                if (id != chunks[i].id || getLe32(f, e + 8) != chunks[i].offset || getLe32(f, e + 12) != chunks[i].size)
                    return bad("idx1 entry " + std::to_string(i) + " does not name the chunk at "
                               + std::to_string(chunks[i].offset));
                ++a.indexCounts[id];
                if (getLe32(f, e + 4) & 0x10)
                    ++a.keyFrames;
            }
            indexSeen = true;
        } else if (!tagAt(f, p, "JUNK") || !indexSeen) {
            return bad("unexpected chunk at " + std::to_string(p));
        }
        p = end + (size & 1);
    }
    if (!indexSeen)
        return bad("no idx1");
    return a;
}

std::vector<ProbedStream> probeStreams(const std::string &path)
{
    int status = 0;
    const std::string text = run("ffprobe -v error -count_frames -show_entries stream=codec_type,nb_read_frames,duration "
                                 "-of csv=p=0 " + quoted(path) + " 2>&1",
                                 status);
    std::vector<ProbedStream> streams;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        ProbedStream s;
        std::istringstream fields(line);
        std::string frames, duration;
        std::getline(fields, s.type, ',');
        std::getline(fields, duration, ',');
        std::getline(fields, frames, ',');
        s.frames = frames.empty() || frames == "N/A" ? -1 : std::stol(frames);
        s.duration = duration.empty() || duration == "N/A" ? -1 : std::stod(duration);
        streams.push_back(s);
    }
    return streams;
}

std::string decodeErrors(const std::string &path)
{
    int status = 0;
    std::string text = run("ffmpeg -nostdin -v error -i " + quoted(path) + " -f null - 2>&1", status);
    if (status != 0)
        text += "(ffmpeg exit status " + std::to_string(status) + ")";
    return text;
}

std::vector<ByteRange> privateRecords(const Bytes &b)
{
    std::vector<ByteRange> records;
    for (size_t i = 0; i + 6 <= b.size(); ++i) {
        const bool model = tagAt(b, i, "QXMS");
        if (model || tagAt(b, i, "QXDJ")) {
            const size_t length = 8 + (b[i + 4] | (b[i + 5] << 8));
            records.push_back({i, i + length, model ? 'M' : 'D'});
        }
    }
    return records;
}

std::string compareExceptBlanked(const Bytes &in, const Bytes &out, size_t from, size_t to,
                                 const std::vector<ByteRange> &blanked)
{
    if (to > in.size() || to > out.size())
        return "shorter than " + std::to_string(to) + " bytes";
    for (size_t i = from; i < to; ++i) {
        const ByteRange *range = nullptr;
        for (const auto &r : blanked)
            if (i >= r.begin && i < r.end)
                range = &r;
        if (range ? out[i] != static_cast<unsigned char>(range->fill) : out[i] != in[i])
            return "byte " + std::to_string(i) + (range ? " of a private record is not blanked" : " differs");
    }
    return {};
}

} // namespace korvante::testing
