#include "core/config/key_value_file.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include <sys/stat.h>

using korvante::KeyValueFile;
using korvante::testing::readFile;
using korvante::testing::TempDir;

namespace {

KeyValueFile cameraKeys()
{
    KeyValueFile file;
    file.registerInteger("SENSOR_GY_STV", 5, 10);
    file.registerInteger("PARK_ON", 0, 1);
    file.registerInteger("MANUAL_TIME", 30, 60);
    file.registerInteger("VOLUME", 3, 5);
    return file;
}

std::string readCaptured(KeyValueFile &file, const std::string &path, bool *ok)
{
    ::testing::internal::CaptureStdout();
    *ok = file.read(path);
    return ::testing::internal::GetCapturedStdout();
}

int32_t intOf(const KeyValueFile &file, const std::string &name)
{
    int32_t value = -12345;
    EXPECT_TRUE(file.getInteger(name, value)) << name;
    return value;
}

} // namespace

TEST(KeyValueFileTest, TokenisingTakesKeyAndFirstValue)
{
    TempDir dir;
    KeyValueFile file = cameraKeys();
    bool ok = false;
    const std::string out = readCaptured(file,
                                         dir.write("setup.ini", "  SENSOR_GY_STV = 2\r\n"
                                                                "PARK_ON=1 0\n"
                                                                "\n\t \r\n"
                                                                "[SETUP]\n"
                                                                "FOO=1\n"
                                                                "MANUAL_TIME\n"
                                                                "VOLUME=1\nVOLUME=4"), // later line wins, no final newline
                                         &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(intOf(file, "SENSOR_GY_STV"), 2);
    EXPECT_EQ(intOf(file, "PARK_ON"), 1);
    EXPECT_EQ(intOf(file, "MANUAL_TIME"), 30); // key alone keeps its default
    EXPECT_EQ(intOf(file, "VOLUME"), 4);
    EXPECT_EQ(file.unknownKeys(), 2u); // FOO and [SETUP], counted, not printed
    EXPECT_EQ(out, "");
}

TEST(KeyValueFileTest, MissingAndEmptyFiles)
{
    TempDir dir;
    KeyValueFile missing = cameraKeys();
    EXPECT_FALSE(missing.read(dir.file("nope.ini")));
    std::string text = "x";
    ASSERT_TRUE(missing.getText("PARK_ON", text));
    EXPECT_EQ(text, ""); // never filled
    EXPECT_EQ(intOf(missing, "PARK_ON"), 0);

    KeyValueFile empty = cameraKeys();
    bool ok = false;
    readCaptured(empty, dir.write("empty.ini", ""), &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(intOf(empty, "SENSOR_GY_STV"), 5);
    EXPECT_EQ(intOf(empty, "MANUAL_TIME"), 30);
}

TEST(KeyValueFileTest, LongLinesAreReadAndWrittenWhole)
{
    TempDir dir;
    KeyValueFile file;
    file.registerInteger("FW_VERSION", 0, 0);
    file.registerInteger("TAIL", 0, 9);
    // A firmware text of 200 characters, the key of another line where a
    // 128-byte line buffer would cut it.
    const std::string firmware = "V" + std::string(115, '7') + "TAIL" + std::string(80, 'x');
    const std::string content = "FW_VERSION=" + firmware + "\r\nTAIL=3\r\n";
    const std::string path = dir.write("long.ini", content);
    bool ok = false;
    const std::string out = readCaptured(file, path, &ok);
    ASSERT_TRUE(ok);
    std::string text;
    ASSERT_TRUE(file.getText("FW_VERSION", text));
    EXPECT_EQ(text, firmware);
    EXPECT_EQ(intOf(file, "TAIL"), 3);
    EXPECT_EQ(file.unknownKeys(), 0u);
    ASSERT_TRUE(file.write(path));
    EXPECT_EQ(readFile(path), content);
    EXPECT_TRUE(out.empty()) << out;
}

TEST(KeyValueFileTest, HostileFilesDoNotBreakReading)
{
    TempDir dir;
    std::string nul("PARK_ON=1\n", 10);
    nul += std::string("VOL\0UME=2\n", 10);
    std::string many; // just under the size limit
    for (int i = 0; many.size() + 10 <= KeyValueFile::kMaxFileBytes; ++i)
        many += "PARK_ON=" + std::to_string(i % 2) + "\n";
    const std::string wide = std::string(10000, 'Z') + "\nVOLUME=2\n";
    const std::string huge = many + "PARK_ON=0\n"; // one line past the limit

    struct Case {
        std::string name, bytes;
        bool readable;
        int32_t parkOn, volume;
    };
    const Case cases[] = {
        {"nul", nul, true, 1, 3},
        {"many", many, true, static_cast<int32_t>((many.size() / 10 - 1) % 2), 3},
        {"wide", wide, true, 0, 2},
        {"huge", huge, false, 0, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        KeyValueFile file = cameraKeys();
        bool ok = false;
        errno = 0;
        const std::string out = readCaptured(file, dir.write(c.name + ".ini", c.bytes), &ok);
        EXPECT_TRUE(out.empty());
        ASSERT_EQ(ok, c.readable);
        if (!ok) {
            EXPECT_EQ(errno, EFBIG);
            std::string text = "x";
            ASSERT_TRUE(file.getText("PARK_ON", text));
            EXPECT_EQ(text, ""); // refused before a value was taken
            continue;
        }
        EXPECT_EQ(intOf(file, "PARK_ON"), c.parkOn);
        EXPECT_EQ(intOf(file, "VOLUME"), c.volume);
    }

    // A FIFO or a link in the file's place is neither waited on nor followed.
    const std::string fifo = dir.file("fifo.ini");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::filesystem::create_symlink(dir.file("wide.ini"), dir.file("link.ini"));
    for (const std::string &path : {fifo, dir.file("link.ini")}) {
        KeyValueFile file = cameraKeys();
        EXPECT_FALSE(file.read(path)) << path;
    }
}

TEST(KeyValueFileTest, WriteUsesRegistrationOrderCrLfAndDropsRemovedAndUnknownKeys)
{
    TempDir dir;
    const std::string path = dir.write("setup.ini", "VOLUME=2\nFOO=1\nMANUAL_TIME=10\nPARK_ON=1\n");
    KeyValueFile file = cameraKeys();
    bool ok = false;
    readCaptured(file, path, &ok);
    ASSERT_TRUE(ok);
    EXPECT_TRUE(file.remove("MANUAL_TIME"));
    EXPECT_FALSE(file.remove("MANUAL_TIME"));
    size_t pos = 99;
    ASSERT_TRUE(file.find("VOLUME", &pos));
    EXPECT_EQ(pos, 2u); // later items moved up, order kept
    EXPECT_TRUE(file.setIntegerAt(pos, -3));
    EXPECT_FALSE(file.setIntegerAt(3, 1));
    EXPECT_FALSE(file.setTextAt(3, "x"));

    ::testing::internal::CaptureStdout();
    ASSERT_TRUE(file.write(path));
    const std::string echoed = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(readFile(path), "SENSOR_GY_STV=5\r\nPARK_ON=1\r\nVOLUME=-3\r\n");
    EXPECT_EQ(echoed, "");
    // Nothing but the file itself is left in the folder.
    size_t entries = 0;
    for ([[maybe_unused]] const auto &e : std::filesystem::directory_iterator(dir.path()))
        ++entries;
    EXPECT_EQ(entries, 1u);
}

TEST(KeyValueFileTest, FailedWriteLeavesTheOldFileUntouched)
{
    TempDir dir;
    const std::string original = "PARK_ON=1\r\n";
    const std::string path = dir.write("setup.ini", original);
    // Values that would not read back as written.
    for (const std::string &value : {std::string("1\r\nVOLUME=5"), std::string("1 2"), std::string("a=b"),
                                     std::string("1\0", 2), std::string(KeyValueFile::kMaxFileBytes, '9')}) {
        KeyValueFile file = cameraKeys();
        size_t pos = 0;
        ASSERT_TRUE(file.find("PARK_ON", &pos));
        ASSERT_TRUE(file.setTextAt(pos, value));
        EXPECT_FALSE(file.write(path)) << value.substr(0, 20);
        EXPECT_EQ(readFile(path), original);
    }

    KeyValueFile ok = cameraKeys();
    EXPECT_FALSE(ok.write(dir.file("no/such/folder/setup.ini")));
    EXPECT_FALSE(ok.write("/proc/korvante-cannot-write-here.ini"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator()), 1);
}

TEST(KeyValueFileTest, AReplacedFileKeepsItsModeUnlessItLocksOutItsOwner)
{
    TempDir dir;
    const mode_t mask = ::umask(022);
    ::umask(mask);
    const mode_t fresh = 0666 & ~mask;
    // old mode (-1: no file yet) and the mode after the write
    const std::pair<int, mode_t> cases[] = {{-1, fresh}, {0640, 0640}, {0600, 0600}, {0, fresh}, {0400, fresh},
                                            {0200, fresh}};
    for (const auto &[before, after] : cases) {
        const std::string name = "setup" + std::to_string(before) + ".ini";
        const std::string path = dir.file(name);
        if (before >= 0) {
            dir.write(name, "PARK_ON=1\r\n");
            ASSERT_EQ(::chmod(path.c_str(), static_cast<mode_t>(before)), 0);
        }
        ASSERT_TRUE(cameraKeys().write(path)) << before;
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, after) << "was " << std::oct << before;
    }
}

TEST(KeyValueFileTest, RegistrationAndGetters)
{
    KeyValueFile file;
    file.registerInteger("", 1, 1);
    file.registerInteger("A", 1, 9);
    file.registerInteger("A", 2, 9); // ignored
    ASSERT_EQ(file.items().size(), 1u);
    EXPECT_EQ(file.items()[0].storedValue, "1");
    EXPECT_EQ(file.items()[0].upperBound, 9);
    EXPECT_FALSE(file.find("a")); // exact, case included

    size_t pos = 0;
    ASSERT_TRUE(file.find("A", &pos));
    for (const auto &[text, expected] : {std::pair<std::string, int32_t>{" -12abc", -12},
                                         {"abc", 0},
                                         {"+7", 7},
                                         {"", 0}}) {
        ASSERT_TRUE(file.setTextAt(pos, text));
        int32_t value = 99;
        ASSERT_TRUE(file.getInteger("A", value));
        EXPECT_EQ(value, expected) << text;
    }
    int32_t value = 0;
    EXPECT_FALSE(file.getInteger("B", value));
    std::string text;
    EXPECT_FALSE(file.getText("B", text));
}
