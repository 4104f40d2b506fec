#include "core/config/viewer_config.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

using korvante::FolderEntry;
using korvante::ViewerConfig;
using korvante::testing::TempDir;

namespace {

std::string document(const std::string &configs, const std::string &lstrings = "<lstrings/>")
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root>\n<configs>" + configs + "</configs>\n" +
           lstrings + "\n</root>\n";
}

struct Loaded {
    bool ok;
    std::string out;
};

Loaded load(ViewerConfig &config, const TempDir &dir, const std::string &text)
{
    const std::string path = dir.write("viewerconfig.cfg", text);
    ::testing::internal::CaptureStdout();
    const bool ok = config.loadFile(path);
    return {ok, ::testing::internal::GetCapturedStdout()};
}

void expectDefaults(const ViewerConfig &config)
{
    EXPECT_EQ(config.language, 0u);
    EXPECT_EQ(config.flags, 0u);
    EXPECT_EQ(config.folderCount(), 0u);
    EXPECT_EQ(config.extensionCount(), 0u);
    std::string text = "untouched";
    EXPECT_FALSE(config.lookupString("MAIN_MSG_NO_FILES", text));
    EXPECT_EQ(text, "untouched");
}

} // namespace

TEST(ViewerConfigTest, BrokenOrMissingFilesLeaveTheDefaultsWithOneLine)
{
    TempDir dir;
    const std::string full = document("<language>korean</language><dirs><dir type=\"NOR\">NOR</dir></dirs>");
    const struct {
        const char *what;
        std::string text;
        const char *line;
    } cases[] = {
        {"empty", "", "Can not configuration file"},
        {"not xml", "this is not xml at all", "Can not configuration file"},
        {"truncated", full.substr(0, full.size() / 2), "Can not configuration file"},
        {"no configs", "<root><lstrings/></root>", "xml document has no configs element"},
        {"no lstrings", "<root><configs><language>korean</language></configs></root>",
         "xml document has no lstrings element"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ViewerConfig config;
        const Loaded r = load(config, dir, c.text);
        EXPECT_FALSE(r.ok);
        EXPECT_NE(r.out.find(c.line), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("(line:"), std::string::npos);
        expectDefaults(config);
    }

    ViewerConfig missing;
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(missing.loadFile(dir.file("does-not-exist.cfg")));
    EXPECT_NE(::testing::internal::GetCapturedStdout().find("Can not configuration file"), std::string::npos);
    expectDefaults(missing);
}

TEST(ViewerConfigTest, LanguageNameAndModeSelectTheIndex)
{
    TempDir dir;
    const struct {
        const char *element;
        uint32_t expected;
    } cases[] = {
        {"<language mode=\"1\">chinese</language>", 4},
        {"<language>chinese</language>", 3},
        {"<language>french</language>", 0},
        {"<language>korean</language>", 1},
        {"<language mode=\"7\">korean</language>", 0},
        {"<language mode=\"0\"></language>", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.element);
        ViewerConfig config;
        EXPECT_TRUE(load(config, dir, document(c.element)).ok);
        EXPECT_EQ(config.language, c.expected);
    }
}

TEST(ViewerConfigTest, FoldersAreUniqueByTypeAndNameAndTavopIsClamped)
{
    TempDir dir;
    ViewerConfig config;
    const auto r = load(config, dir,
                        document("<dirs>"
                                 "<dir type=\"evt\" tavop=\"42\">EVENT</dir>"
                                 "<dir type=\"EVT\">OTHER</dir>"      // second EVT: ignored
                                 "<dir type=\"NOR\">EVENT</dir>"      // same name: ignored
                                 "<dir type=\"PARK\">PARK</dir>"      // unknown type
                                 "<dir type=\"Nor\" tavop=\"100\">NOR</dir>"
                                 "<dir type=\"MOT\" tavop=\"-1\">MOT</dir>"
                                 "<dir type=\"MAN\" tavop=\"x\">MAN</dir>"
                                 "<dir>NOTYPE</dir><dir type=\"IMAGE\"/>"
                                 "<dir type=\"image\">IMG</dir>"
                                 "</dirs>"));
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(config.folderCount(), 5u);
    const struct {
        int32_t type;
        const char *name;
        int32_t tavop;
    } expected[] = {{1, "EVENT", 42}, {0, "NOR", 0}, {2, "MOT", 0}, {3, "MAN", 0}, {4, "IMG", 0}};
    for (size_t i = 0; i < 5; ++i) {
        FolderEntry entry;
        ASSERT_TRUE(config.folderAt(i, entry));
        EXPECT_EQ(entry.type, expected[i].type) << i;
        EXPECT_EQ(entry.name8, expected[i].name) << i;
        EXPECT_EQ(entry.wideName, expected[i].name) << i;
        EXPECT_EQ(entry.tavop, expected[i].tavop) << i;
    }
    FolderEntry untouched;
    untouched.name8 = "keep";
    EXPECT_FALSE(config.folderAt(5, untouched));
    EXPECT_EQ(untouched.name8, "keep");
}

TEST(ViewerConfigTest, ExtensionsAndBooleanOptions)
{
    TempDir dir;
    ViewerConfig config;
    ASSERT_TRUE(load(config, dir,
                     document("<extensions><extension>avi</extension><extension/>"
                              "<extension>avi</extension><extension>tavo</extension></extensions>"
                              "<recursive removal=\"Yes\" desktop=\"off\"/>"
                              "<recursive desktop=\"true\"/>" // only the first element counts
                              "<capture filetime=\"TRUE\" addpos=\"1\"/>"))
                    .ok);
    ASSERT_EQ(config.extensionCount(), 2u);
    std::string ext;
    EXPECT_TRUE(config.extensionAt(0, ext));
    EXPECT_EQ(ext, "avi");
    EXPECT_TRUE(config.extensionAt(1, ext));
    EXPECT_EQ(ext, "tavo");
    EXPECT_FALSE(config.extensionAt(2, ext));
    EXPECT_EQ(config.flags, korvante::kFlagRemoval | korvante::kFlagFileTime | korvante::kFlagAddPos);

    ViewerConfig other;
    ASSERT_TRUE(load(other, dir, document("<recursive removal=\"no\" desktop=\"yes\"/><capture filetime=\"false\"/>")).ok);
    EXPECT_EQ(other.flags, korvante::kFlagDesktop);
}

TEST(ViewerConfigTest, BooleanAttributesAreTrueOnlyForTheWholeWords)
{
    // The value must be one of the three words entire; a word that merely
    // starts like one (as TinyXML's own query would take it) leaves the bit.
    const struct {
        const char *value;
        bool set;
    } cases[] = {
        {"true", true},       {"TRUE", true},   {"True", true},       {"yes", true},  {"YeS", true},
        {"1", true},          {"yesterday", false}, {"truest", false}, {"10", false}, {"1 ", false},
        {" yes", false},      {"", false},      {"false", false},     {"no", false},  {"0", false},
        {"on", false},        {"y", false},     {"tru", false},
    };
    TempDir dir;
    for (const auto &c : cases) {
        ViewerConfig config;
        const std::string value = c.value;
        ASSERT_TRUE(load(config, dir,
                         document("<recursive removal=\"" + value + "\" desktop=\"" + value +
                                  "\"/><capture filetime=\"" + value + "\" addpos=\"" + value + "\"/>"))
                        .ok)
            << value;
        const uint32_t all =
            korvante::kFlagRemoval | korvante::kFlagDesktop | korvante::kFlagFileTime | korvante::kFlagAddPos;
        EXPECT_EQ(config.flags, c.set ? all : 0u) << '"' << value << '"';
    }
}

TEST(ViewerConfigTest, LocalisedTextsDuplicatesAndLanguages)
{
    TempDir dir;
    ViewerConfig config;
    const auto r = load(config, dir,
                        document("<language>korean</language>",
                                 "<lstrings>"
                                 "<lstring id=\"TWO_LINES\"><language type=\"korean\">첫 줄\\n둘째 줄</language></lstring>"
                                 "<lstring id=\"DUP\"><language type=\"korean\">first</language></lstring>"
                                 "<lstring id=\"DUP\"><language type=\"korean\">second</language>"
                                 "<language type=\"english\">english text</language></lstring>"
                                 "<lstring id=\"ONLY_EN\"><language type=\"english\">hello</language></lstring>"
                                 "<lstring><language type=\"korean\">no id</language></lstring>"
                                 "<lstring id=\"NO_TYPE\"><language>x</language></lstring>"
                                 "<lstring id=\"UNKNOWN\"><language type=\"klingon\">x</language></lstring>"
                                 "</lstrings>"));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(config.language, 1u);

    std::string text;
    ASSERT_TRUE(config.lookupString("TWO_LINES", text));
    EXPECT_EQ(text, "첫 줄\n둘째 줄");
    ASSERT_TRUE(config.lookupString("DUP", text));
    EXPECT_EQ(text, "first");
    EXPECT_NE(r.out.find("Duplicated LSID(DUP) found, ignore it.\n"), std::string::npos);
    // Exactly one duplicate line: the english text under the same id is not one.
    EXPECT_EQ(r.out.find("Duplicated"), r.out.rfind("Duplicated"));

    text = "keep";
    EXPECT_FALSE(config.lookupString("ONLY_EN", text)); // no fallback to english
    EXPECT_EQ(text, "keep");
    EXPECT_FALSE(config.lookupString("NO_TYPE", text));

    // A text filed under an unknown language is never returned.
    for (uint32_t language = 0; language < 6; ++language) {
        config.language = language;
        EXPECT_FALSE(config.lookupString("UNKNOWN", text)) << language;
    }
    config.language = 0;
    ASSERT_TRUE(config.lookupString("DUP", text));
    EXPECT_EQ(text, "english text");
}

TEST(ViewerConfigTest, EqualHashesAreOneKeyWhateverTheText)
{
    // "Ez" and "FY" have the same djb2 hash: 69*33+122 == 70*33+89.
    ASSERT_EQ(korvante::djb2Hash("Ez"), korvante::djb2Hash("FY"));
    TempDir dir;
    ViewerConfig config;
    const auto r = load(config, dir,
                        document("", "<lstrings>"
                                     "<lstring id=\"Ez\"><language type=\"english\">first</language></lstring>"
                                     "<lstring id=\"FY\"><language type=\"english\">second</language></lstring>"
                                     "</lstrings>"));
    ASSERT_TRUE(r.ok);
    EXPECT_NE(r.out.find("Duplicated LSID(FY) found, ignore it."), std::string::npos);
    std::string a, b;
    ASSERT_TRUE(config.lookupString("Ez", a));
    ASSERT_TRUE(config.lookupString("FY", b));
    EXPECT_EQ(a, "first");
    EXPECT_EQ(b, "first");
}

TEST(ViewerConfigTest, HashTakesBytesAsSigned)
{
    EXPECT_EQ(korvante::djb2Hash(""), 5381u);
    EXPECT_EQ(korvante::djb2Hash("a"), 5381u * 33u + 97u);
    // 0xC3 is -61 as a signed byte.
    EXPECT_EQ(korvante::djb2Hash("\xC3"), 5381u * 33u - 61u);
    // Wrapping in 32 bits: a long text must not depend on wider arithmetic.
    uint32_t h = 5381;
    const std::string longText(100, '\xFF');
    for (char c : longText)
        h = h * 33u + static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(c)));
    EXPECT_EQ(korvante::djb2Hash(longText), h);
}

TEST(ViewerConfigTest, NonUtf8NamesKeepTheirBytesAndDecodeWithReplacement)
{
    TempDir dir;
    ViewerConfig config;
    // ISO-8859-1 bytes in a file that claims no encoding.
    const auto r = load(config, dir,
                        "<root><configs><dirs><dir type=\"NOR\">N\xD6R</dir></dirs></configs>"
                        "<lstrings><lstring id=\"X\"><language type=\"english\">caf\xE9</language></lstring>"
                        "</lstrings></root>");
    ASSERT_TRUE(r.ok);
    FolderEntry entry;
    ASSERT_TRUE(config.folderAt(0, entry));
    EXPECT_EQ(entry.name8, "N\xD6R");
    EXPECT_EQ(entry.wideName, "N\xEF\xBF\xBDR");
    std::string text;
    ASSERT_TRUE(config.lookupString("X", text));
    EXPECT_EQ(text, "caf\xEF\xBF\xBD");
}

TEST(ViewerConfigTest, Utf8DecodingRejectsMalformedSequences)
{
    EXPECT_EQ(korvante::decodeUtf8("plain"), "plain");
    EXPECT_EQ(korvante::decodeUtf8("\xED\x95\x9C"), "\xED\x95\x9C");           // 한
    EXPECT_EQ(korvante::decodeUtf8("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");   // overlong
    EXPECT_EQ(korvante::decodeUtf8("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"); // surrogate
    EXPECT_EQ(korvante::decodeUtf8("\xE2\x82"), "\xEF\xBF\xBD\xEF\xBF\xBD");   // cut short
    EXPECT_EQ(korvante::expandNewlines("a\\nb\\\\nc\\"), "a\nb\\\nc\\");
}

TEST(ViewerConfigTest, ShippedConfigurationLoads)
{
    ViewerConfig config;
    ::testing::internal::CaptureStdout();
    const bool ok = config.loadFile(KORVANTE_SOURCE_DIR "/resources/viewerconfig.cfg");
    const std::string out = ::testing::internal::GetCapturedStdout();
    ASSERT_TRUE(ok) << out;
    EXPECT_TRUE(out.empty()) << out;
    EXPECT_EQ(config.folderCount(), 4u);
    EXPECT_EQ(config.extensionCount(), 1u);
    EXPECT_EQ(config.flags, 0u);
    std::string text;
    for (const char *lsid : {"COMM_SEL_FOLDER", "SELDRV_COMBO_DESKTOP", "MAIN_MSG_NO_FILES"}) {
        for (uint32_t language : {0u, 1u}) {
            config.language = language;
            EXPECT_TRUE(config.lookupString(lsid, text)) << lsid << " " << language;
        }
    }
    config.language = 1;
    ASSERT_TRUE(config.lookupString("COMM_SEL_FOLDER", text));
    EXPECT_EQ(text, "폴더 선택");
}
