#include "tavo_test_support.h"

#include "tavo/byte_order.h"

#include <fstream>
#include <stdexcept>

namespace tavo::testing {

Listing listDirectory(unsigned char *block, const std::string &dir)
{
    Listing listing;
    std::vector<unsigned char> buffer(VX_TAVO_LIST_BUFFER_SIZE);
    uint32_t cursor = 1;
    for (int guard = 0; guard < 100000; ++guard) {
        unsigned char info[VX_TAVO_DIR_INFO_SIZE] = {};
        int64_t a = 0, b = 0;
        VX_Tavo_Get_Dir_Info(block, dir.c_str(), info, &a, &b);
        std::fill(buffer.begin(), buffer.end(), 0xEE);
        storeLe32(buffer.data(), VX_TAVO_LIST_CAPACITY);
        const int n = VX_Tavo_Get_FileList(block, dir.c_str(), &cursor, buffer.data(), 0);
        listing.pageCounts.push_back(n);
        listing.cursors.push_back(cursor);
        if (n <= 0)
            break;
        EXPECT_LE(n, VX_TAVO_LIST_CAPACITY);
        EXPECT_EQ(buffer[VX_TAVO_LIST_BUFFER_SIZE - 1], 0xEE) << "wrote past the 30 records";
        for (int i = 0; i < n && i < VX_TAVO_LIST_CAPACITY; ++i) {
            const unsigned char *r = buffer.data() + VX_TAVO_LIST_HEADER_SIZE +
                                     static_cast<size_t>(i) * VX_TAVO_LIST_RECORD_SIZE;
            ListedFile f;
            f.name.assign(reinterpret_cast<const char *>(r),
                          strnlen(reinterpret_cast<const char *>(r), VX_TAVO_RECORD_NAME_SIZE));
            f.fileId = loadLe32(r + VX_TAVO_RECORD_ID_OFFSET);
            f.size = loadLe32(r + VX_TAVO_RECORD_SIZE_OFFSET);
            f.time = static_cast<int32_t>(loadLe32(r + VX_TAVO_RECORD_TIME_OFFSET));
            listing.files.push_back(f);
        }
    }
    return listing;
}

std::vector<unsigned char> readWholeFile(unsigned char *block, const std::string &dir,
                                         const std::string &name, int fileId, bool *ok)
{
    *ok = false;
    const std::string cardPath = "/" + dir + "/" + name;
    const int handle = VX_Tavo_File_Open(block, cardPath.c_str(), "r", 0, 0, fileId);
    if (handle < 1)
        return {};
    std::vector<unsigned char> out;
    std::vector<unsigned char> buffer(VX_TAVO_READ_SIZE);
    bool failed = false;
    for (int guard = 0; guard < 10000; ++guard) {
        const int n = VX_Tavo_File_Read(block, buffer.data(), VX_TAVO_READ_SIZE, handle);
        if (n < 0)
            failed = true;
        if (n <= 0)
            break;
        out.insert(out.end(), buffer.begin(), buffer.begin() + n);
    }
    EXPECT_EQ(VX_Tavo_File_Close(block, handle), VX_TAVO_OK);
    *ok = !failed;
    return out;
}

std::vector<unsigned char> patternBytes(size_t size, uint32_t seed)
{
    std::vector<unsigned char> bytes(size);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[i] = static_cast<unsigned char>(x);
    }
    return bytes;
}

void TavoTest::SetUp()
{
    const char *base = std::getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/tavo-test-XXXXXX";
    ASSERT_NE(mkdtemp(templ.data()), nullptr);
    m_dir = templ;
}

void TavoTest::TearDown()
{
    VX_Tavo_Stop();
    std::error_code ec;
    std::filesystem::remove_all(m_dir, ec);
}

std::unique_ptr<CardWriter> TavoTest::createCard(const std::string &name, uint64_t totalBytes,
                                                 uint32_t clusterBytes)
{
    std::string error;
    auto writer =
        CardWriter::createImage(path(name), CardLayout{totalBytes, 1u << 20, clusterBytes}, &error);
    EXPECT_TRUE(writer) << error;
    return writer;
}

void writeBytes(const std::string &path, uint64_t offset, const void *data, size_t size)
{
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    if (!f)
        throw std::runtime_error("cannot open " + path);
    f.seekp(static_cast<std::streamoff>(offset));
    f.write(static_cast<const char *>(data), static_cast<std::streamsize>(size));
    if (!f)
        throw std::runtime_error("cannot patch " + path);
}

std::vector<unsigned char> readBytes(const std::string &path, uint64_t offset, size_t size)
{
    std::ifstream f(path, std::ios::binary);
    std::vector<unsigned char> out(size);
    f.seekg(static_cast<std::streamoff>(offset));
    f.read(reinterpret_cast<char *>(out.data()), static_cast<std::streamsize>(size));
    if (!f)
        throw std::runtime_error("cannot read " + path);
    return out;
}

} // namespace tavo::testing
