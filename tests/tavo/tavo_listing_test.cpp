// Listing directories page by page through the C entry points.

#include "tavo_test_support.h"

#include "tavo/byte_order.h"

#include <climits>

namespace tavo::testing {
namespace {

class ListingTest : public TavoTest, public ::testing::WithParamInterface<int> {};

TEST_P(ListingTest, PagesOfThirtyWithAdvancingCursor)
{
    const int count = GetParam();
    auto writer = createCard("card.img", 16u << 20, 512);
    ASSERT_TRUE(writer);
    ASSERT_TRUE(writer->addDirectory("NOR"));
    ASSERT_TRUE(writer->addDirectory("EVT"));
    std::vector<ListedFile> expected;
    for (int i = 0; i < count; ++i) {
        const std::string name = "N_20240101_" + std::to_string(100000 + i) + "_2CH_F.tavo";
        const auto data = patternBytes(static_cast<size_t>(i % 700), static_cast<uint32_t>(i));
        const int64_t time = 1700000000 + i * 60;
        const uint32_t id = writer->addFile("NOR", name, time, data.data(), data.size());
        ASSERT_GE(id, 1u) << writer->lastError();
        expected.push_back({name, id, static_cast<uint32_t>(data.size()),
                            static_cast<int32_t>(time)});
        // Files of another directory in between must not show up in this one.
        if (i % 7 == 0) {
            ASSERT_GE(writer->addFile("EVT", "E" + std::to_string(i), time, "x", 1), 1u);
        }
    }
    std::string error;
    ASSERT_TRUE(writer->finish(&error)) << error;

    DeviceBlock block;
    ASSERT_EQ(VX_Tavo_Device_Open(path("card.img").c_str(), VX_TAVO_OPEN_MODE, block.get()), 0);
    const Listing listing = listDirectory(block.get(), "NOR");

    std::vector<int> pages;
    std::vector<uint32_t> cursors;
    for (int done = 0; done < count;) {
        const int n = std::min(30, count - done);
        done += n;
        pages.push_back(n);
        cursors.push_back(static_cast<uint32_t>(done + 1));
    }
    pages.push_back(0);
    cursors.push_back(static_cast<uint32_t>(count + 1));
    EXPECT_EQ(listing.pageCounts, pages);
    EXPECT_EQ(listing.cursors, cursors);
    ASSERT_EQ(listing.files.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(listing.files[i].name, expected[i].name);
        EXPECT_EQ(listing.files[i].fileId, expected[i].fileId);
        EXPECT_EQ(listing.files[i].size, expected[i].size);
        EXPECT_EQ(listing.files[i].time, expected[i].time);
    }

    int64_t files = -1, bytes = -1;
    unsigned char info[VX_TAVO_DIR_INFO_SIZE];
    ASSERT_EQ(VX_Tavo_Get_Dir_Info(block.get(), "NOR", info, &files, &bytes), 0);
    uint64_t total = 0;
    for (const auto &f : expected)
        total += f.size;
    EXPECT_EQ(files, count);
    EXPECT_EQ(static_cast<uint64_t>(bytes), total);
    EXPECT_EQ(loadLe32(info + VX_TAVO_DIRINFO_FILE_COUNT_OFFSET), static_cast<uint32_t>(count));
    EXPECT_EQ(listDirectory(block.get(), "EVT").files.size(), static_cast<size_t>((count + 6) / 7));
}

INSTANTIATE_TEST_SUITE_P(Counts, ListingTest, ::testing::Values(0, 1, 30, 31, 1000));

class ListingEdgeTest : public TavoTest {
protected:
    void SetUp() override
    {
        TavoTest::SetUp();
        auto writer = createCard("card.img", 8u << 20, 512);
        ASSERT_TRUE(writer);
        ASSERT_TRUE(writer->addDirectory("NOR"));
        for (int i = 0; i < 40; ++i)
            ASSERT_GE(writer->addFile("NOR", "f" + std::to_string(i), i, "abc", 3), 1u);
        // Times outside the 32-bit record field: kept whole on the card, clamped in the record.
        ASSERT_GE(writer->addFile("NOR", "late", int64_t{1} << 40, "", 0), 1u);
        ASSERT_GE(writer->addFile("NOR", "early", -(int64_t{1} << 40), "", 0), 1u);
        ASSERT_GE(writer->addFile("NOR", "before1970", -86400, "", 0), 1u);
        std::string error;
        ASSERT_TRUE(writer->finish(&error)) << error;
        ASSERT_EQ(VX_Tavo_Device_Open(path("card.img").c_str(), VX_TAVO_OPEN_MODE, m_block.get()),
                  0);
        m_buffer.assign(VX_TAVO_LIST_BUFFER_SIZE, 0);
    }
    int list(uint32_t *cursor, uint32_t capacity, const char *dir = "NOR")
    {
        storeLe32(m_buffer.data(), capacity);
        return VX_Tavo_Get_FileList(m_block.get(), dir, cursor, m_buffer.data(), 0);
    }
    DeviceBlock m_block;
    std::vector<unsigned char> m_buffer;
};

TEST_F(ListingEdgeTest, CapacityWordIsHonouredUpToThirty)
{
    uint32_t cursor = 1;
    EXPECT_EQ(list(&cursor, 7), 7);
    EXPECT_EQ(cursor, 8u);
    EXPECT_EQ(list(&cursor, 1000), 30);   // the buffer holds 30 records, never more
    EXPECT_EQ(cursor, 38u);
    uint32_t stay = 5;
    EXPECT_LT(list(&stay, 0), 0);
    EXPECT_EQ(stay, 5u);
}

TEST_F(ListingEdgeTest, CursorOutsideTheListAndBadArguments)
{
    uint32_t cursor = 44;
    EXPECT_EQ(list(&cursor, 30), 0);
    cursor = UINT32_MAX;
    EXPECT_EQ(list(&cursor, 30), 0);
    cursor = 0;
    EXPECT_LT(list(&cursor, 30), 0);
    cursor = 1;
    EXPECT_EQ(list(&cursor, 30, "MOT"), VX_TAVO_ERR_NOT_FOUND);
    EXPECT_EQ(list(&cursor, 30, "nor"), VX_TAVO_ERR_NOT_FOUND);   // names compare exactly
    EXPECT_EQ(list(&cursor, 30, ""), VX_TAVO_ERR_NOT_FOUND);
    const std::string longName(300, 'N');
    EXPECT_LT(list(&cursor, 30, longName.c_str()), 0);
    EXPECT_LT(VX_Tavo_Get_FileList(m_block.get(), "NOR", nullptr, m_buffer.data(), 0), 0);
    EXPECT_LT(VX_Tavo_Get_FileList(m_block.get(), "NOR", &cursor, nullptr, 0), 0);
    EXPECT_LT(VX_Tavo_Get_FileList(m_block.get(), nullptr, &cursor, m_buffer.data(), 0), 0);
    EXPECT_EQ(cursor, 1u);

    int64_t files = 7, bytes = 7;
    EXPECT_EQ(VX_Tavo_Get_Dir_Info(m_block.get(), "EVT", nullptr, &files, &bytes),
              VX_TAVO_ERR_NOT_FOUND);
    EXPECT_EQ(files, 7);
    EXPECT_EQ(VX_Tavo_Get_Dir_Info(m_block.get(), "NOR", nullptr, nullptr, nullptr), 0);
}

TEST_F(ListingEdgeTest, TimeStampsOutsideThe32BitRangeAreClamped)
{
    const Listing listing = listDirectory(m_block.get(), "NOR");
    ASSERT_EQ(listing.files.size(), 43u);
    EXPECT_EQ(listing.files[40].name, "late");
    EXPECT_EQ(listing.files[40].time, INT32_MAX);
    EXPECT_EQ(listing.files[41].time, INT32_MIN);
    EXPECT_EQ(listing.files[42].time, -86400);
    unsigned char info[VX_TAVO_DIR_INFO_SIZE];
    ASSERT_EQ(VX_Tavo_Get_Dir_Info(m_block.get(), "NOR", info, nullptr, nullptr), 0);
    EXPECT_EQ(static_cast<int64_t>(loadLe64(info + VX_TAVO_DIRINFO_OLDEST_OFFSET)),
              -(int64_t{1} << 40));
    EXPECT_EQ(static_cast<int64_t>(loadLe64(info + VX_TAVO_DIRINFO_NEWEST_OFFSET)),
              int64_t{1} << 40);
}

TEST_F(ListingEdgeTest, RecordsAreZeroFilledBesideTheirFields)
{
    uint32_t cursor = 1;
    std::fill(m_buffer.begin(), m_buffer.end(), 0xAB);
    ASSERT_EQ(list(&cursor, 30), 30);
    const unsigned char *r = m_buffer.data() + VX_TAVO_LIST_HEADER_SIZE;
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(r)), "f0");
    for (size_t i = 2; i < VX_TAVO_RECORD_ID_OFFSET; ++i)
        ASSERT_EQ(r[i], 0) << "byte " << i;
    for (size_t i = VX_TAVO_RECORD_TIME_OFFSET + 4; i < VX_TAVO_LIST_RECORD_SIZE; ++i)
        ASSERT_EQ(r[i], 0) << "byte " << i;
    EXPECT_EQ(m_buffer.back(), 0xAB);
}

} // namespace
} // namespace tavo::testing
