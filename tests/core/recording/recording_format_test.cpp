// The contracts of the recording-format module on bytes made here: bounds of
// the byte reader, the chunk walk's two ways with a chunk that runs past its
// list, chunk ids, idx1 entries, metadata chunks and the header list. The
// module's readers over whole recordings are proved by the storage, export and
// load tests and by the corpus replays.

#include "core/recording/byte_reader.h"
#include "core/recording/header_list.h"
#include "core/recording/idx1.h"
#include "core/recording/metadata_chunk.h"
#include "core/recording/riff_chunk.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korvante::recording {
namespace {

using Bytes = std::vector<unsigned char>;

void put(Bytes &b, const char *tag)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<unsigned char>(tag[i]));
}
void put32(Bytes &b, std::uint32_t v)
{
    b.resize(b.size() + 4);
    putLe32(b.data() + b.size() - 4, v);
}
void chunk(Bytes &b, const char *tag, Bytes data)
{
    put(b, tag);
    put32(b, static_cast<std::uint32_t>(data.size()));
    b.insert(b.end(), data.begin(), data.end());
    if (data.size() & 1)
        b.push_back(0);
}

TEST(RecordingFormat, ByteViewReadsNothingPastItsEnd)
{
    const Bytes b{0x78, 0x56, 0x34, 0x12, 'R', 'I', 'F'};
    const ByteView view(b.data(), b.size());
    struct Case {
        std::uint64_t offset, length;
        bool has;
    } cases[] = {{0, 7, true}, {3, 4, true}, {4, 4, false}, {7, 0, true}, {8, 0, false}, {~0ull, 2, false}};
    for (const Case &c : cases)
        EXPECT_EQ(view.has(c.offset, c.length), c.has) << c.offset << "+" << c.length;
    EXPECT_EQ(view.le32At(0), 0x12345678u);
    EXPECT_EQ(view.le16At(5), 0x4649u);
    EXPECT_FALSE(view.le32At(4));
    EXPECT_FALSE(view.tagAt(4, "RIFF")); // three of its four bytes are there
    EXPECT_EQ(view.at(4, 4), nullptr);
}

TEST(RecordingFormat, ChunkWalkStopsAtAChunkThatRunsPastTheList)
{
    Bytes b;
    chunk(b, "avih", Bytes(4, 1));
    chunk(b, "JUNK", Bytes(3, 2)); // odd: a pad byte follows
    put(b, "LIST");
    put32(b, 1000); // claims more than there is
    put(b, "strl");
    struct Case {
        ChunkFit fit;
        std::string visited;
    } cases[] = {{ChunkFit::Whole, "avih@0 JUNK@12 "}, {ChunkFit::Header, "avih@0 JUNK@12 LIST@24 "}};
    for (const Case &c : cases) {
        std::string visited;
        walkChunks(ByteView(b.data(), b.size()), 0, b.size(), c.fit, [&](const Chunk &k) {
            visited += std::string(reinterpret_cast<const char *>(k.id), 4) + "@" + std::to_string(k.pos) + " ";
            return true;
        });
        EXPECT_EQ(visited, c.visited);
    }
    EXPECT_EQ(nextChunk(12, 3), 24u);
}

TEST(RecordingFormat, ChunkIds)
{
    struct Case {
        const char *id;
        bool camera, stream, movie;
    } cases[] = {
        {"00dc", true, true, true},   {"03tx", true, true, true},   {"01wb", true, true, true},
        {"04dc", false, true, true},  {"00db", false, true, true},  {"12xy", false, true, true},
        {"LIST", false, false, true}, {"ix01", false, false, true}, {"idx1", false, false, true},
        {"0\0dc", false, false, false}, {"MSPD", false, false, false},
    };
    for (const Case &c : cases) {
        const auto *id = reinterpret_cast<const unsigned char *>(c.id);
        EXPECT_EQ(isCameraChunkId(id), c.camera) << c.id;
        EXPECT_EQ(isStreamChunkId(id), c.stream) << c.id;
        EXPECT_EQ(isMovieChunkId(id), c.movie) << c.id;
    }
    EXPECT_EQ(chunkStream(reinterpret_cast<const unsigned char *>("12xy")), 12);
}

TEST(RecordingFormat, Idx1EntryAndMetadataChunk)
{
    unsigned char entry[kIdx1EntryBytes];
    writeIdx1Entry(entry, reinterpret_cast<const unsigned char *>("02tx"), kIdx1KeyFrame, 0x01020304, 9);
    const Bytes expected{'0', '2', 't', 'x', 0x10, 0, 0, 0, 4, 3, 2, 1, 9, 0, 0, 0};
    EXPECT_EQ(Bytes(entry, entry + sizeof entry), expected);
    const Idx1Entry e = readIdx1Entry(entry);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(e.id), 4), "02tx");
    EXPECT_EQ(e.flags, kIdx1KeyFrame);
    EXPECT_EQ(e.offset, 0x01020304u);
    EXPECT_EQ(e.size, 9u);

    const Bytes time{0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(metadataTime(time.data()), -1);
    struct Case {
        const char *record; // tag and the 16-bit length's two bytes
        bool isPrivate, model;
        std::uint64_t length;
    } cases[] = {{"QXMS\x05\x00", true, true, 13}, {"QXDJ\x00\x01", true, false, 264}, {"QXMT\x05\x00", false, false, 0}};
    for (const Case &c : cases) {
        const auto *p = reinterpret_cast<const unsigned char *>(c.record);
        bool model = false;
        EXPECT_EQ(isPrivateRecord(p, &model), c.isPrivate) << c.record;
        EXPECT_EQ(model, c.model) << c.record;
        if (c.isPrivate) {
            EXPECT_EQ(privateRecordLength(p), c.length) << c.record;
        }
    }
}

// The camera's header of a one-stream recording: 10 s of video at 30 fps.
Bytes cameraHeader(std::uint32_t headerListSize)
{
    Bytes strh;
    put(strh, "vids");
    put(strh, "H264");
    strh.resize(kStrhScale);
    put32(strh, 1000);  // scale
    put32(strh, 30000); // rate
    put32(strh, 0);     // start
    put32(strh, 300);   // length
    strh.resize(56);
    Bytes strl;
    put(strl, "strl");
    chunk(strl, "strh", strh);
    chunk(strl, "strf", Bytes(40, 0));
    Bytes hdrl;
    put(hdrl, "hdrl");
    chunk(hdrl, "avih", Bytes(56, 0));
    chunk(hdrl, "LIST", strl);
    Bytes b;
    put(b, "RIFF");
    put32(b, 0);
    put(b, "AVI ");
    put(b, "LIST");
    put32(b, headerListSize == 0 ? 0 : static_cast<std::uint32_t>(hdrl.size()));
    b.insert(b.end(), hdrl.begin(), hdrl.end());
    put(b, "LIST");
    put32(b, 4);
    put(b, "movi");
    return b;
}

TEST(RecordingFormat, HeaderList)
{
    for (const std::uint32_t sized : {1u, 0u}) { // a finished recording's header list, and an unfinished one's
        const Bytes b = cameraHeader(sized);
        AviHeader header;
        ASSERT_EQ(parseAviHeader(b.data(), b.size(), header), HeaderParse::Done) << sized;
        EXPECT_EQ(header.moviList, b.size() - 12);
        EXPECT_EQ(header.moviId, b.size() - 4);
        EXPECT_EQ(header.unsizedHeaderList.has_value(), sized == 0);
        ASSERT_EQ(header.streams.size(), 1u);
        EXPECT_EQ(header.front, 0);
        EXPECT_EQ(header.streams[0].rate, 30000u);
        EXPECT_EQ(header.totalFrames, 32u + kAvihTotalFrames);
        EXPECT_EQ(header.classify(reinterpret_cast<const unsigned char *>("00dc")), ChunkClass::Front);
        EXPECT_EQ(header.classify(reinterpret_cast<const unsigned char *>("01wb")), ChunkClass::Other);
        EXPECT_DOUBLE_EQ(firstVideoSeconds(b.data(), b.size()), 10.0);
        EXPECT_EQ(parseAviHeader(b.data(), b.size() - 13, header), HeaderParse::Need) << sized;
    }
    Bytes notAvi = cameraHeader(1);
    notAvi[8] = 'W';
    AviHeader header;
    EXPECT_EQ(parseAviHeader(notAvi.data(), notAvi.size(), header), HeaderParse::Bad);
    EXPECT_FALSE(isRiffAvi(notAvi.data()));
    EXPECT_EQ(firstVideoSeconds(notAvi.data(), 31), 0.0);
}

} // namespace
} // namespace korvante::recording
