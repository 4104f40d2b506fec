// The command line: values, refusals, and what the tool does with bad input.

#include "mkcard/make_card.h"
#include "mkcard/options.h"
#include "mkcard_test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

using namespace mkcard;

bool parse(std::vector<std::string> args, Options &o, std::string *error = nullptr)
{
    return parseOptions(args, o, error);
}

TEST(Options, DefaultsAndEveryValue)
{
    Options o;
    ASSERT_TRUE(parse({"--folder", "/tmp/x"}, o));
    EXPECT_EQ(o.card.perKind, 2);
    EXPECT_EQ(o.card.seconds, 10.0);
    EXPECT_EQ(o.card.width, 1280);
    EXPECT_EQ(o.card.height, 720);
    EXPECT_EQ(o.card.fps, 30);
    EXPECT_EQ(o.card.audio, AudioCodec::Aac);
    EXPECT_EQ(o.card.channels, 2);
    EXPECT_EQ(o.card.unfinished, 0);
    EXPECT_EQ(o.imageMib, 0u);
    EXPECT_EQ(clockText(o.card.startLocal), "2012-03-05 14:22:33");

    ASSERT_TRUE(parse({"--image", "c.img", "--image-mib", "128", "--per-kind", "3", "--seconds", "2.5", "--size",
                       "320x240", "--fps", "25", "--audio", "pcm", "--channels", "1", "--unfinished", "2", "--start",
                       "2024-02-29 23:59:58", "--seed", "99"},
                      o));
    EXPECT_EQ(o.image, "c.img");
    EXPECT_EQ(o.imageMib, 128u);
    EXPECT_EQ(o.card.perKind, 3);
    EXPECT_EQ(o.card.seconds, 2.5);
    EXPECT_EQ(o.card.width, 320);
    EXPECT_EQ(o.card.height, 240);
    EXPECT_EQ(o.card.fps, 25);
    EXPECT_EQ(o.card.audio, AudioCodec::Pcm);
    EXPECT_EQ(o.card.channels, 1);
    EXPECT_EQ(o.card.unfinished, 2);
    EXPECT_EQ(clockText(o.card.startLocal), "2024-02-29 23:59:58");
    EXPECT_EQ(o.card.seed, 99u);
    ASSERT_TRUE(parse({"--folder", "f", "--audio", "none"}, o));
    EXPECT_EQ(o.card.audio, AudioCodec::None);
}

TEST(Options, BadInputIsRefusedWithAMessage)
{
    const std::vector<std::vector<std::string>> bad = {
        {},                                                   // nothing to write
        {"--folder"},                                         // missing value
        {"--folder", "f", "--colour", "red"},                 // unknown option
        {"--folder", "f", "stray"},                           // not an option
        {"--folder", "f", "--size", "321x240"},               // odd width
        {"--folder", "f", "--size", "320"},                   // no height
        {"--folder", "f", "--size", "99999x240"},             // too wide
        {"--folder", "f", "--fps", "0"},
        {"--folder", "f", "--fps", "-5"},
        {"--folder", "f", "--fps", "30fps"},
        {"--folder", "f", "--audio", "mp3"},
        {"--folder", "f", "--channels", "3"},
        {"--folder", "f", "--seconds", "0"},
        {"--folder", "f", "--seconds", "abc"},
        {"--folder", "f", "--seconds", "7200"},
        {"--folder", "f", "--seconds", "3000", "--fps", "30"}, // more frames than the code holds
        {"--folder", "f", "--per-kind", "1", "--unfinished", "2"},
        {"--folder", "f", "--start", "2012-02-30 10:00:00"},  // no such day
        {"--folder", "f", "--start", "2012-03-05T14:22:33"},
        {"--folder", "f", "--start", "2012-03-05 24:00:00"},
        {"--folder", "f", "--start", "1999-12-31 23:59:59"},
        {"--image", "i", "--image-mib", "10"},               // below the FAT partition
        {"--folder", "f", "--seed", "-1"},
    };
    for (const auto &args : bad) {
        Options o;
        std::string error;
        EXPECT_FALSE(parse(args, o, &error)) << ::testing::PrintToString(args);
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(error.find('\n'), std::string::npos);
    }
}

// The tool itself: one line on standard error and exit code 2.
TEST(Options, ToolRefusesBadInputAndUnwritableOutput)
{
    const test::TempFolder temp;
    ASSERT_FALSE(temp.path.empty());
    const std::string root = temp.path;
    const std::string blocker = root + "/plain-file";
    std::ofstream(blocker) << "x";
    const std::string tool = test::quote(test::toolPath());
    for (const std::string &args :
         {std::string("--bogus"), std::string("--folder ") + root + "/f --size 3x3", std::string(""),
          "--folder " + blocker + "/card --size 320x240 --seconds 1 --per-kind 1",
          "--image " + blocker + "/card.img --size 320x240 --seconds 1 --per-kind 1",
          "--image " + root + "/small.img --image-mib 52 --size 320x240 --seconds 2 --per-kind 2"}) {
        const auto r = test::runCommand(tool + " " + args);
        EXPECT_EQ(r.exitCode, 2) << args;
        EXPECT_EQ(std::count(r.errors.begin(), r.errors.end(), '\n'), 1) << args << ": " << r.errors;
        EXPECT_NE(r.errors.find("korvante-mkcard"), std::string::npos) << r.errors;
    }
    // Nothing is left behind: no image, no staging folder.
    EXPECT_EQ(test::listFiles(root), std::vector<std::string>{"plain-file"});
    const auto help = test::runCommand(tool + " --help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.output.find("--per-kind"), std::string::npos);
}

// The helper other test suites use.
TEST(Options, HelperMakesASmallCard)
{
    const test::TempFolder temp;
    ASSERT_FALSE(temp.path.empty());
    const std::string dir = temp.path;
    EXPECT_EQ(korvante::testing::makeCard({"--folder", dir + "/it's a card", "--size", "320x240",
                                           "--seconds", "1", "--per-kind", "1", "--channels", "1"}),
              0);
    for (const char *kind : {"NOR", "EVT", "MOT", "MAN"})
        EXPECT_EQ(test::listFiles(dir + "/it's a card/" + kind).size(), 1u) << kind;
    EXPECT_EQ(korvante::testing::makeCard({"--nonsense"}), 2);
}

} // namespace
