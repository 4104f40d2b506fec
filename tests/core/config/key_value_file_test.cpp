#include "core/config/key_value_file.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>

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
    EXPECT_NE(out.find("INI ITEM <FOO> is not registered! Ignore it.\n"), std::string::npos);
    EXPECT_NE(out.find("INI ITEM <[SETUP]> is not registered! Ignore it.\n"), std::string::npos);
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

TEST(KeyValueFileTest, LongLinesAreReadIn127CharacterPieces)
{
    TempDir dir;
    KeyValueFile file;
    file.registerInteger("LONGKEY", 0, 1);
    file.registerInteger("TAIL", 0, 9);
    // 200 characters: the first 127 hold LONGKEY and its value, the remainder
    // (from the 128th character) is read as a line of its own.
    std::string first = "LONGKEY=" + std::string(127 - 8, '7');
    std::string line = first + "TAIL=9" + std::string(200 - 127 - 6, ' ');
    ASSERT_EQ(line.size(), 200u);
    bool ok = false;
    const std::string out = readCaptured(file, dir.write("long.ini", line + "\n"), &ok);
    ASSERT_TRUE(ok);
    std::string text;
    ASSERT_TRUE(file.getText("LONGKEY", text));
    EXPECT_EQ(text, std::string(119, '7'));
    EXPECT_EQ(intOf(file, "TAIL"), 9);
    EXPECT_TRUE(out.empty()) << out;
}

TEST(KeyValueFileTest, HostileFilesDoNotBreakReading)
{
    TempDir dir;
    std::string nul("PARK_ON=1\n", 10);
    nul += std::string("VOL\0UME=2\n", 10);
    std::string huge;
    for (int i = 0; i < 100000; ++i)
        huge += "PARK_ON=" + std::to_string(i % 2) + "\n";
    const std::string wide = std::string(10000, 'Z') + "\nVOLUME=2\n";

    for (const auto &[name, bytes] : {std::pair<std::string, std::string>{"nul", nul},
                                      {"huge", huge},
                                      {"wide", wide}}) {
        SCOPED_TRACE(name);
        KeyValueFile file = cameraKeys();
        bool ok = false;
        readCaptured(file, dir.write(name + ".ini", bytes), &ok);
        EXPECT_TRUE(ok);
    }
    KeyValueFile file = cameraKeys();
    bool ok = false;
    readCaptured(file, dir.write("huge.ini", huge), &ok);
    EXPECT_EQ(intOf(file, "PARK_ON"), 1); // the last of 100,000 lines
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
    EXPECT_EQ(echoed, "SENSOR_GY_STV=5\nPARK_ON=1\nVOLUME=-3\n");
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
    KeyValueFile file = cameraKeys();
    size_t pos = 0;
    ASSERT_TRUE(file.find("PARK_ON", &pos));
    ASSERT_TRUE(file.setTextAt(pos, std::string(200, '9')));
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(file.write(path)); // a line the camera could not read back
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(readFile(path), original);

    KeyValueFile ok = cameraKeys();
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(ok.write(dir.file("no/such/folder/setup.ini")));
    EXPECT_FALSE(ok.write("/proc/korvante-cannot-write-here.ini"));
    ::testing::internal::GetCapturedStdout();
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
