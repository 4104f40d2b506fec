// korvante-cli on cards written by korvante-mkcard: every command, its output
// lines and its refusals, run as a real process.

#include "fake_machine.h"
#include "recording_bytes.h"

#include "core/storage/recording_name.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <regex>
#include <chrono>
#include <set>
#include <sstream>

namespace korvante {
namespace {

namespace fs = std::filesystem;
using namespace korvante::testing;

const std::string kBin = std::string(KORVANTE_BINARY_DIR) + "/bin/";

std::string quote(const std::string &s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

struct CliRun {
    int rc = -1;
    std::string out, err;
    std::vector<std::string> lines() const
    {
        std::vector<std::string> l;
        std::istringstream in(out);
        for (std::string s; std::getline(in, s);)
            l.push_back(s);
        return l;
    }
};

std::string slurp(const fs::path &p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs a command line through the shell; `prefix` goes before the program.
CliRun run(const fs::path &scratch, const std::vector<std::string> &args, const std::string &prefix = "")
{
    std::string cmd = prefix + quote(kBin + "korvante-cli");
    for (const auto &a : args)
        cmd += " " + quote(a);
    const fs::path out = scratch / "stdout.txt", err = scratch / "stderr.txt";
    cmd += " >" + quote(out.string()) + " 2>" + quote(err.string());
    const int status = std::system(cmd.c_str());
    CliRun r;
    r.rc = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    r.out = slurp(out);
    r.err = slurp(err);
    return r;
}

std::vector<std::string> field(const std::vector<std::string> &lines, size_t column)
{
    std::vector<std::string> out;
    for (const auto &l : lines) {
        std::vector<std::string> cols;
        std::istringstream in(l);
        for (std::string c; std::getline(in, c, '\t');)
            cols.push_back(c);
        out.push_back(column < cols.size() ? cols[column] : std::string("<missing>"));
    }
    return out;
}

// The stored maximum speed, found by a plain scan for the record (independent
// of the catalogue's windowed walk).
std::optional<int32_t> storedSpeed(const fs::path &file)
{
    const Bytes b = readAll(file);
    for (size_t i = b.size() >= 16 ? b.size() - 16 : 0; i + 16 <= b.size() && i != SIZE_MAX; --i) {
        if (std::equal(b.begin() + static_cast<long>(i), b.begin() + static_cast<long>(i) + 4, "JUNK")
            && std::equal(b.begin() + static_cast<long>(i) + 8, b.begin() + static_cast<long>(i) + 12, "MSPD"))
            return static_cast<int32_t>(getLe32(b, i + 12));
        if (i == 0)
            break;
    }
    return std::nullopt;
}

std::map<std::string, Bytes> snapshot(const fs::path &folder)
{
    std::map<std::string, Bytes> files;
    for (const auto &e : fs::recursive_directory_iterator(folder))
        if (e.is_regular_file())
            files[e.path().string()] = readAll(e.path());
    return files;
}

bool ffprobeDecodes(const fs::path &file)
{
    const std::string cmd = "ffprobe -v error -show_entries stream=codec_type -of csv " + quote(file.string())
                            + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

// One sample card per test program: a folder card and a card image with
// two-channel recordings, one unfinished per kind.
class Cards : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_dir = new TempDir;
        const std::string cmd = quote(kBin + "korvante-mkcard") + " --folder " + quote(folder().string())
                                + " --image " + quote(image().string())
                                + " --image-mib 64 --per-kind 3 --seconds 2 --size 160x120 --fps 10"
                                  " --channels 2 --unfinished 1 --seed 11 --start '2012-03-05 14:22:33'"
                                  " >/dev/null 2>&1";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    }
    static void TearDownTestSuite()
    {
        delete s_dir;
        s_dir = nullptr;
    }
    static fs::path folder() { return s_dir->path() / "card"; }
    static fs::path image() { return s_dir->path() / "card.img"; }

    // A private copy of the folder card that a test may change.
    fs::path copyOfCard()
    {
        const fs::path copy = scratch.path() / "card";
        fs::copy(folder(), copy, fs::copy_options::recursive);
        return copy;
    }

    TempDir scratch;
    static TempDir *s_dir;
};
TempDir *Cards::s_dir = nullptr;

TEST_F(Cards, ListDriveAllKindsAndOrders)
{
    const CliRun r = run(scratch.path(), {"list", "--drive", folder().string()});
    ASSERT_EQ(r.rc, 0) << r.err;
    const auto lines = r.lines();
    ASSERT_EQ(lines.size(), 12u);
    EXPECT_EQ(field(lines, 0).front(), "001");
    EXPECT_EQ(field(lines, 0).back(), "012");
    for (const auto &l : lines)
        EXPECT_EQ(std::count(l.begin(), l.end(), '\t'), 5) << l;
    EXPECT_EQ(field(lines, 4), std::vector<std::string>(12, "F/R"));
    EXPECT_EQ(lines[0], "001\t2012-03-05\t14:22:33\tNOR\tF/R\tN_20120305_142233_2CH_F.avi");
    // Every row is a front file that exists in the folder of its kind.
    const std::map<std::string, std::string> folderOf = {{"NOR", "NOR"}, {"EVT", "EVT"}, {"MOT", "MOT"}, {"MAN", "MAN"}};
    const auto kinds = field(lines, 3), names = field(lines, 5);
    for (size_t i = 0; i < lines.size(); ++i)
        EXPECT_TRUE(fs::exists(folder() / folderOf.at(kinds[i]) / names[i])) << names[i];

    const CliRun events = run(scratch.path(), {"list", "--kind", "event", "--order", "desc", "--drive", folder().string()});
    ASSERT_EQ(events.rc, 0);
    const auto evt = events.lines();
    ASSERT_EQ(evt.size(), 3u);
    EXPECT_EQ(field(evt, 3), std::vector<std::string>(3, "EVT"));
    EXPECT_EQ(field(evt, 0), (std::vector<std::string>{"001", "002", "003"}));
    EXPECT_GT(field(evt, 2)[0], field(evt, 2)[2]);
}

TEST_F(Cards, ListFolderUsesRecursionAndNeverWritesWithoutRepair)
{
    const fs::path card = copyOfCard();
    const auto before = snapshot(card);
    const CliRun top = run(scratch.path(), {"list", card.string()});
    EXPECT_EQ(top.rc, 0) << top.err;
    EXPECT_TRUE(top.out.empty()); // recordings sit in subfolders only
    const CliRun deep = run(scratch.path(), {"list", "--recursive", card.string()});
    EXPECT_EQ(deep.rc, 0);
    EXPECT_EQ(deep.lines().size(), 12u);
    const CliRun nor = run(scratch.path(), {"list", (card / "NOR").string()});
    EXPECT_EQ(nor.lines().size(), 3u);
    EXPECT_EQ(snapshot(card), before);

    const CliRun repaired = run(scratch.path(), {"list", "--repair", "--drive", card.string()});
    EXPECT_EQ(repaired.rc, 0);
    EXPECT_EQ(repaired.out, run(scratch.path(), {"list", "--drive", folder().string()}).out);
    int changed = 0;
    for (const auto &[path, bytes] : snapshot(card)) {
        const Bytes &old = before.at(path);
        ASSERT_EQ(bytes.size(), old.size()) << path;
        if (bytes == old)
            continue;
        ++changed;
        EXPECT_EQ(getLe32(old, 4), 0u) << "an intact file was written: " << path;
        EXPECT_EQ(getLe32(bytes, 4), bytes.size() - 8) << path;
        EXPECT_TRUE(ffprobeDecodes(path)) << path;
    }
    EXPECT_EQ(changed, 8); // one unfinished front and rear file per kind
}

TEST_F(Cards, ListCardImageAndRefuseBrokenOnes)
{
    const CliRun r = run(scratch.path(), {"list", "--tavo", image().string()});
    ASSERT_EQ(r.rc, 0) << r.err;
    const auto lines = r.lines();
    ASSERT_EQ(lines.size(), 12u);
    for (const auto &name : field(lines, 5))
        EXPECT_EQ(name.find(".tavo"), std::string::npos) << name;
    EXPECT_EQ(field(lines, 4), std::vector<std::string>(12, "F/R"));
    EXPECT_EQ(lines[0].substr(0, 34), "001\t2012-03-05\t14:22:33\tNOR\tF/R\tN_");

    // Searches read through the file system: a card partition yields nothing.
    const CliRun s = run(scratch.path(), {"search", "--from", "2000-01-01", "--to", "2030-01-01", "--tavo", image().string()});
    EXPECT_EQ(s.rc, 0);
    EXPECT_TRUE(s.out.empty());

    Bytes damaged = readAll(image());
    for (size_t i = (1u << 20); i < (4u << 20) && i < damaged.size(); i += 211)
        damaged[i] ^= 0xA5;
    for (size_t i = damaged.size() / 2; i < damaged.size() / 2 + (2u << 20) && i < damaged.size(); i += 211)
        damaged[i] ^= 0xA5;
    const fs::path broken = scratch.path() / "broken.img";
    writeAll(broken, damaged);
    const CliRun bad = run(scratch.path(), {"list", "--tavo", broken.string()});
    if (bad.rc == 0) {
        // The damage missed every structure the library checks; it still lists.
        EXPECT_FALSE(bad.out.empty());
    } else {
        EXPECT_EQ(bad.rc, 1);
        EXPECT_NE(bad.err.find(broken.string()), std::string::npos) << bad.err;
    }
    const CliRun plain = run(scratch.path(), {"list", "--tavo", (folder() / "SETUP/setup.ini").string()});
    EXPECT_EQ(plain.rc, 1);
    EXPECT_NE(plain.err.find("setup.ini"), std::string::npos);
    const CliRun missing = run(scratch.path(), {"list", "--tavo", "/no/such/card.img"});
    EXPECT_EQ(missing.rc, 1);
    EXPECT_NE(missing.err.find("/no/such/card.img"), std::string::npos);
}

TEST_F(Cards, SearchBySpeedUnitsAndDates)
{
    std::vector<int32_t> speeds;
    for (const auto &e : fs::recursive_directory_iterator(folder())) {
        const std::string name = e.path().filename().string();
        if (name.find("_F.avi") == std::string::npos)
            continue;
        if (const auto v = storedSpeed(e.path()); v && *v >= 0 && *v <= 450)
            speeds.push_back(*v);
    }
    ASSERT_EQ(speeds.size(), 8u); // the unfinished recordings carry no speed
    std::sort(speeds.begin(), speeds.end());

    auto count = [&](const std::vector<std::string> &extra) {
        std::vector<std::string> args = {"search", "--from", "2012-03-05", "--to", "2012-03-05"};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back("--drive");
        args.push_back(folder().string());
        const CliRun r = run(scratch.path(), args);
        EXPECT_EQ(r.rc, 0) << r.err;
        return r.lines().size();
    };
    EXPECT_EQ(count({}), 8u);
    const int32_t median = speeds[4];
    const auto atLeast = [&](double kmh) {
        return static_cast<size_t>(std::count_if(speeds.begin(), speeds.end(),
                                                 [&](int32_t v) { return static_cast<float>(v) >= static_cast<float>(kmh); }));
    };
    EXPECT_EQ(count({"--min-speed", std::to_string(median)}), atLeast(median));
    const int mph = median / 2;
    EXPECT_EQ(count({"--min-speed", std::to_string(mph), "--unit", "mph"}), atLeast(mph * 1.609344));
    EXPECT_EQ(count({"--min-speed", std::to_string(mph), "--unit", "knot"}), atLeast(mph * 1.852));
    EXPECT_EQ(count({"--min-speed", "451"}), 0u);
    EXPECT_EQ(count({"--kind", "parking"}), 2u);

    const CliRun before = run(scratch.path(), {"search", "--from", "2012-03-01", "--to", "2012-03-04", "--drive", folder().string()});
    EXPECT_EQ(before.rc, 0);
    EXPECT_TRUE(before.out.empty());
    // Descending by default, like the panel's search.
    const CliRun rows = run(scratch.path(), {"search", "--from", "2012-03-05", "--to", "2012-03-06", "--drive", folder().string()});
    const auto times = field(rows.lines(), 2);
    EXPECT_TRUE(std::is_sorted(times.rbegin(), times.rend()));
}

TEST_F(Cards, RepairCommand)
{
    const fs::path card = copyOfCard();
    std::vector<fs::path> unfinished, intact;
    for (const auto &e : fs::recursive_directory_iterator(card)) {
        if (e.path().extension() != ".avi")
            continue;
        (getLe32(readAll(e.path()), 4) == 0 ? unfinished : intact).push_back(e.path());
    }
    ASSERT_EQ(unfinished.size(), 8u);
    const fs::path cut = unfinished[0], whole = intact[0];
    const Bytes cutBefore = readAll(cut), wholeBefore = readAll(whole);

    const CliRun dry = run(scratch.path(), {"repair", "--dry-run", cut.string(), whole.string()});
    EXPECT_EQ(dry.rc, 0) << dry.err;
    ASSERT_EQ(dry.lines().size(), 2u);
    EXPECT_EQ(field(dry.lines(), 1), (std::vector<std::string>{"repairable", "intact"}));
    EXPECT_EQ(readAll(cut), cutBefore);

    const CliRun r = run(scratch.path(), {"repair", cut.string(), whole.string()});
    EXPECT_EQ(r.rc, 0) << r.err;
    const auto lines = r.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].substr(0, cut.string().size() + 10), cut.string() + "\trepaired\t");
    const uint64_t start = std::stoull(field(lines, 2)[0]), length = std::stoull(field(lines, 3)[0]);
    EXPECT_EQ(start + length, cutBefore.size());
    EXPECT_EQ(lines[1], whole.string() + "\tintact");
    const Bytes after = readAll(cut);
    ASSERT_EQ(after.size(), cutBefore.size());
    EXPECT_TRUE(std::equal(after.begin() + 8, after.begin() + static_cast<long>(start), cutBefore.begin() + 8));
    EXPECT_TRUE(std::all_of(after.begin() + static_cast<long>(start), after.end(), [](unsigned char c) { return c == 0; }));
    EXPECT_TRUE(ffprobeDecodes(cut));
    EXPECT_EQ(readAll(whole), wholeBefore);
    EXPECT_EQ(run(scratch.path(), {"repair", cut.string()}).lines()[0], cut.string() + "\tintact");

    const fs::path junk = scratch.path() / "junk.avi";
    writeAll(junk, Bytes(4096, 0x41));
    const CliRun nope = run(scratch.path(), {"repair", junk.string()});
    EXPECT_EQ(nope.rc, 3);
    EXPECT_EQ(nope.out, junk.string() + "\tnot repairable\n");
    EXPECT_EQ(readAll(junk), Bytes(4096, 0x41));

    const CliRun missing = run(scratch.path(), {"repair", (scratch.path() / "gone.avi").string(), junk.string()});
    EXPECT_EQ(missing.rc, 1);
    EXPECT_NE(missing.err.find("gone.avi"), std::string::npos);
    EXPECT_EQ(missing.out, junk.string() + "\tnot repairable\n"); // the other files still run
    const CliRun folderArg = run(scratch.path(), {"repair", scratch.path().string()});
    EXPECT_EQ(folderArg.rc, 1);
    EXPECT_NE(folderArg.err.find("not a regular file"), std::string::npos);
}

TEST_F(Cards, UnreadableFilesAreRefusedByName)
{
    // Root reads everything: the tool runs as an unprivileged user here.
    const fs::path shared = scratch.path() / "shared";
    fs::create_directories(shared);
    fs::permissions(scratch.path(), fs::perms::all);
    fs::permissions(shared, fs::perms::all);
    const fs::path locked = shared / "N_20120305_142233_1CH_F.avi";
    fs::copy_file(*std::find_if(fs::recursive_directory_iterator(folder()), fs::recursive_directory_iterator(),
                                [](const fs::directory_entry &e) { return e.path().extension() == ".avi"; }),
                  locked);
    fs::permissions(locked, fs::perms::none);
    std::string prefix;
    if (geteuid() == 0)
        prefix = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    const CliRun r = run(scratch.path(), {"repair", locked.string()}, prefix);
    EXPECT_EQ(r.rc, 1) << r.out << r.err;
    EXPECT_NE(r.err.find(locked.string()), std::string::npos) << r.err;
    // Listing shows it (its name is all a listing needs); a search leaves it out.
    const CliRun l = run(scratch.path(), {"list", shared.string()}, prefix);
    EXPECT_EQ(l.rc, 0) << l.err;
    EXPECT_EQ(l.lines().size(), 1u);

    // A rear file that cannot be opened is no partner, whether or not the
    // listing has read the headers first.
    const fs::path front = shared / "N_20120306_101010_2CH_F.avi", rear = shared / "N_20120306_101011_2CH_R.avi";
    fs::copy_file(locked, front);
    fs::copy_file(locked, rear);
    fs::permissions(front, fs::perms::owner_read | fs::perms::others_read);
    fs::permissions(rear, fs::perms::none);
    for (const char *mode : {"--kind", "--repair"}) {
        std::vector<std::string> args = {"list", mode};
        if (std::string(mode) == "--kind")
            args.push_back("all");
        args.push_back(shared.string());
        const CliRun pair = run(scratch.path(), args, prefix);
        ASSERT_EQ(pair.lines().size(), 2u) << pair.err;
        EXPECT_EQ(field(pair.lines(), 4)[1], "F") << mode;
    }
    fs::permissions(rear, fs::perms::owner_read | fs::perms::others_read);
    EXPECT_EQ(field(run(scratch.path(), {"list", "--repair", shared.string()}, prefix).lines(), 4)[1], "F/R");
    fs::remove(front);
    fs::remove(rear);
    const CliRun s = run(scratch.path(), {"search", "--from", "2012-01-01", "--to", "2013-01-01", shared.string()}, prefix);
    EXPECT_EQ(s.rc, 0) << s.err;
    EXPECT_TRUE(s.out.empty());
}

TEST_F(Cards, BadCommandLinesAndInputs)
{
    struct Case {
        std::vector<std::string> args;
        int rc;
        std::string inErr;
    };
    const std::string card = folder().string();
    const std::vector<Case> cases = {
        {{}, 2, "no command"},
        {{"frobnicate"}, 2, "frobnicate"},
        {{"list", "--bogus", card}, 2, "--bogus"},
        {{"list"}, 2, "no source"},
        {{"list", card, card}, 2, "unexpected argument"},
        {{"list", "--kind", "normal", "--repair", card}, 2, "--repair"},
        {{"list", "--order"}, 2, "--order"},
        {{"list", "/no/such/folder"}, 1, "/no/such/folder"},
        {{"list", "--drive", "/no/such/root"}, 1, "/no/such/root"},
        {{"search", "--from", "2012-02-30", "--to", "2012-03-05", card}, 1, "2012-02-30"},
        {{"search", "--from", "2012-3-5", "--to", "2012-03-05", card}, 1, "2012-3-5"},
        {{"search", "--from", "2012-03-06", "--to", "2012-03-05", card}, 1, "lies after"},
        {{"search", "--from", "2012-03-05", card}, 2, "--to"},
        {{"search", "--from", "2012-03-05", "--to", "2012-03-05", "--min-speed", "fast", card}, 1, "fast"},
        {{"search", "--from", "2012-03-05", "--to", "2012-03-05", "--unit", "furlong", card}, 1, "furlong"},
        {{"repair"}, 2, "no file"},
        {{"--config", "/no/such.cfg", "list", card}, 1, "/no/such.cfg"},
        {{"--config", "/etc/hostname", "list", card}, 1, "/etc/hostname"},
    };
    for (const auto &c : cases) {
        const CliRun r = run(scratch.path(), c.args);
        std::string shown;
        for (const auto &a : c.args)
            shown += a + " ";
        EXPECT_EQ(r.rc, c.rc) << shown << "\n" << r.err;
        EXPECT_NE(r.err.find(c.inErr), std::string::npos) << shown << "\n" << r.err;
        EXPECT_TRUE(r.out.empty()) << shown;
        if (c.args.empty() || c.args[0] != "--config") { // the loader adds its own parse line
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << shown << "\n" << r.err;
        }
    }
    EXPECT_EQ(run(scratch.path(), {"--help"}).rc, 0);
}

TEST_F(Cards, ConfigurationDecidesFoldersExtensionsAndRecursion)
{
    const fs::path cfg = scratch.path() / "only-events.cfg";
    std::ofstream(cfg) << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<viewer><configs><language>english</language>"
                          "<dirs><dir type=\"EVT\">EVT</dir></dirs><extensions><extension>AVI</extension></extensions>"
                          "<recursive removal=\"false\" desktop=\"true\"/></configs><lstrings>"
                          "<lstring id=\"SELDRV_COMBO_DESKTOP\"><language type=\"english\">This PC</language></lstring>"
                          "</lstrings></viewer>\n";
    const CliRun r = run(scratch.path(), {"--config", cfg.string(), "list", "--drive", folder().string()});
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(field(r.lines(), 3), std::vector<std::string>(3, "EVT"));
    const CliRun picked = run(scratch.path(), {"list", folder().string(), "--config", cfg.string()});
    EXPECT_EQ(picked.lines().size(), 12u); // the desktop switch searches subfolders
    const CliRun sources = run(scratch.path(), {"--config", cfg.string(), "sources"},
                            "KORVANTE_SYSROOT=" + quote((scratch.path() / "empty-machine").string()) + " ");
    EXPECT_EQ(sources.out, "This PC\t2\t\n");
}

TEST_F(Cards, SourcesOfAFakeMachine)
{
    FakeMachine machine(scratch.path() / "root");
    machine.addDisk("sda", false, 1 << 20);
    machine.mountRoot("sda", 1);
    machine.addDisk("sdb", true, 131072, image());
    const fs::path mounted = machine.mount("sdb", 1, "/media/cam");
    machine.addDisk("sdc", true, 98304);
    const fs::path plain = machine.mount("sdc", 1, "/media/plain");
    fs::copy(folder(), plain, fs::copy_options::recursive);

    const std::string env = "KORVANTE_SYSROOT=" + quote(machine.root().string()) + " ";
    const CliRun r = run(scratch.path(), {"sources"}, env);
    ASSERT_EQ(r.rc, 0) << r.err;
    const std::string root = machine.root().string();
    EXPECT_EQ(r.lines(), (std::vector<std::string>{
                             root + "/media/cam/ (TAVO)\t1\t" + root + "/dev/sdb",
                             root + "/media/plain/\t0\t" + root + "/dev/sdc",
                             "Find in My Computer\t2\t",
                         }));
    // Each offered source lists like the card it is.
    EXPECT_EQ(run(scratch.path(), {"list", "--tavo", root + "/dev/sdb"}).lines().size(), 12u);
    EXPECT_EQ(run(scratch.path(), {"list", "--drive", plain.string()}).lines().size(), 12u);
    (void)mounted;
}

// A desktop user who is not root: the card's file system is mounted for them,
// but the whole disk belongs to root (mode 0660). The drive is offered all the
// same; once the user may read the disk, it is marked and listed as a TAVO card.
TEST_F(Cards, SourcesForAUserWhoMayNotOpenTheDisk)
{
    if (::geteuid() != 0)
        GTEST_FAIL() << "running the tool as another user needs root";
    // The other user must reach the fake machine through the scratch folder.
    ::chmod(scratch.path().c_str(), 0755);
    FakeMachine machine(scratch.path() / "root");
    machine.addDisk("sda", false, 1 << 20);
    machine.mountRoot("sda", 1);
    const fs::path disk = scratch.path() / "sdb.img";
    fs::copy_file(image(), disk);
    ASSERT_EQ(::chown(disk.c_str(), 0, 0), 0);
    ASSERT_EQ(::chmod(disk.c_str(), 0660), 0);
    machine.addDisk("sdb", true, 131072, disk);
    machine.mount("sdb", 1, "/media/nobody/CAM");

    const std::string root = machine.root().string();
    const std::string asUser = "setpriv --reuid 65534 --regid 65534 --clear-groups env KORVANTE_SYSROOT="
                               + quote(root) + " ";
    const CliRun locked = run(scratch.path(), {"sources"}, asUser);
    ASSERT_EQ(locked.rc, 0) << locked.err;
    EXPECT_EQ(locked.lines(), (std::vector<std::string>{
                                  root + "/media/nobody/CAM/\t0\t" + root + "/dev/sdb",
                                  "Find in My Computer\t2\t",
                              }));
    EXPECT_NE(locked.err.find("needs read access to " + root + "/dev/sdb"), std::string::npos) << locked.err;
    EXPECT_NE(locked.err.find("Permission denied"), std::string::npos) << locked.err;

    // Read access is enough: the card library never writes.
    ASSERT_EQ(::chmod(disk.c_str(), 0664), 0);
    const CliRun readable = run(scratch.path(), {"sources"}, asUser);
    ASSERT_EQ(readable.rc, 0) << readable.err;
    EXPECT_EQ(readable.lines(), (std::vector<std::string>{
                                    root + "/media/nobody/CAM/ (TAVO)\t1\t" + root + "/dev/sdb",
                                    "Find in My Computer\t2\t",
                                }));
    EXPECT_EQ(readable.err.find("needs read access"), std::string::npos) << readable.err;
    const CliRun listed = run(scratch.path(), {"list", "--tavo", root + "/dev/sdb"}, asUser);
    EXPECT_EQ(listed.rc, 0) << listed.err;
    EXPECT_EQ(listed.lines().size(), 12u);

    // A mounted file system the user may not enter is not offered.
    ::chmod((machine.root() / "media/nobody/CAM").c_str(), 0700);
    EXPECT_EQ(run(scratch.path(), {"sources"}, asUser).lines(),
              (std::vector<std::string>{"Find in My Computer\t2\t"}));
}

// A card whose camera was set to UTC+08:00 and runs 47 s slow: the sample
// card (camera 9 hours ahead of UTC, on time) with every recording renamed
// 1 h 47 s earlier, and one whose clock was reset to 2016 in between.
TEST_F(Cards, ClockGivesTheCameraZoneAndDrift)
{
    using namespace std::chrono;
    const fs::path card = copyOfCard();
    std::map<std::string, NameDateTime> original; // new front name -> name time before the rename
    const std::string reset = "N_20160101_000005_2CH_F.avi";
    for (const char *folderName : {"NOR", "EVT", "MOT", "MAN"}) {
        for (const auto &e : fs::directory_iterator(card / folderName)) {
            const std::string name = e.path().filename().string();
            const NameDateTime was = dateTimeOfName(name);
            const std::optional<NameDateTime> now = was.movedBy(-3600 - 47);
            ASSERT_TRUE(now.has_value()) << name;
            const std::string renamed =
                name == "N_20120305_142245_2CH_F.avi" ? reset : withDateTimeFields(name, *now);
            fs::rename(e.path(), e.path().parent_path() / renamed);
            if (!isRearName(name))
                original[renamed] = was;
        }
    }
    ASSERT_EQ(original.size(), 12u);

    const CliRun r = run(scratch.path(), {"clock", "--drive", card.string()});
    ASSERT_EQ(r.rc, 0) << r.err;
    const auto lines = r.lines();
    ASSERT_EQ(lines.size(), 13u) << r.out;
    EXPECT_EQ(lines.back(), "zone UTC+08:00\tdrift -47 s\trecordings 11");
    const auto clockOf = [](const std::string &text) {
        // "YYYY-MM-DD HH:MM:SS" as seconds on the calendar alone
        const NameDateTime t{std::stoi(text.substr(0, 4)), std::stoi(text.substr(5, 2)), std::stoi(text.substr(8, 2)),
                             std::stoi(text.substr(11, 2)), std::stoi(text.substr(14, 2)), std::stoi(text.substr(17, 2))};
        const sys_days day{year{t.year} / t.month / t.day};
        return (day + hours{t.hour} + minutes{t.minute} + seconds{t.second}).time_since_epoch();
    };
    const auto nameClock = [&](const NameDateTime &t) {
        return clockOf(formatDate(t.year, t.month, t.day) + " " + formatTime(t.hour, t.minute, t.second));
    };
    std::set<std::string> seen;
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
        SCOPED_TRACE(lines[i]);
        std::vector<std::string> c;
        std::istringstream in(lines[i]);
        for (std::string col; std::getline(in, col, '\t');)
            c.push_back(col);
        ASSERT_GE(c.size(), 4u);
        ASSERT_TRUE(original.count(c[0]));
        seen.insert(c[0]);
        const auto camera = clockOf(c[1]), utc = clockOf(c[2]);
        const auto fixOffset = camera - nameClock(dateTimeOfName(c[0]));
        EXPECT_GE(fixOffset, 0s);
        EXPECT_LT(fixOffset, 3s);
        // The satellite time is the sample's: its original camera time less 9 hours.
        EXPECT_EQ(utc, nameClock(original[c[0]]) - 9h + fixOffset);
        if (c[0] == reset) {
            ASSERT_EQ(c.size(), 5u);
            EXPECT_EQ(c[4], "apart");
            EXPECT_EQ(std::stol(c[3]), duration_cast<seconds>(camera - utc - 8h).count());
        } else {
            ASSERT_EQ(c.size(), 4u);
            EXPECT_EQ(c[3], "-47");
            EXPECT_EQ(camera - utc, 8h - 47s);
        }
    }
    EXPECT_EQ(seen.size(), 12u);

    // The card image as the sample tool wrote it: a camera 9 hours ahead, on time.
    const CliRun image = run(scratch.path(), {"clock", "--tavo", Cards::image().string()});
    ASSERT_EQ(image.rc, 0) << image.err;
    EXPECT_EQ(image.lines().size(), 13u);
    EXPECT_EQ(image.lines().back(), "zone UTC+09:00\tdrift 0 s\trecordings 12");
    EXPECT_EQ(image.lines().front(), "N_20120305_142233_2CH_F\t2012-03-05 14:22:33\t2012-03-05 05:22:33\t0");

    // Nothing to check the clock by: one line on standard error and status 1.
    fs::create_directories(scratch.path() / "empty");
    const CliRun none = run(scratch.path(), {"clock", (scratch.path() / "empty").string()});
    EXPECT_EQ(none.rc, 1);
    EXPECT_TRUE(none.out.empty());
    EXPECT_NE(none.err.find("no recording with a valid GPS fix"), std::string::npos) << none.err;
    EXPECT_EQ(run(scratch.path(), {"clock"}).rc, 2);
}

TEST_F(Cards, TripsAndIncidentsFromFoldersAndCardImagesCachedOnce)
{
    const fs::path card = copyOfCard();
    // The manual recordings an hour later: a drive of their own.
    for (const auto &e : fs::directory_iterator(card / "MAN")) {
        const std::string name = e.path().filename().string();
        fs::rename(e.path(), e.path().parent_path() / withDateTimeFields(name, *dateTimeOfName(name).movedBy(3600)));
    }
    const std::string cache = "XDG_CACHE_HOME=" + quote((scratch.path() / "cache").string()) + " ";
    const CliRun trips = run(scratch.path(), {"trips", "--recordings", "--drive", card.string()}, cache);
    ASSERT_EQ(trips.rc, 0) << trips.err;
    EXPECT_TRUE(fs::exists(scratch.path() / "cache/korvante/overview.sqlite"));
    const std::regex tripLine(R"(\d\d\t\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\t\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\t\d+\t\d+\t\d+\t\d+\t\d+\.\d\d)");
    std::vector<std::string> heads;
    std::map<std::string, std::vector<std::string>> members;
    for (const std::string &line : trips.lines()) {
        if (line.rfind('\t', 0) == 0) {
            ASSERT_FALSE(heads.empty());
            members[heads.back()].push_back(line.substr(1));
        } else {
            EXPECT_TRUE(std::regex_match(line, tripLine)) << line;
            heads.push_back(line);
        }
    }
    ASSERT_EQ(heads.size(), 2u) << trips.out;
    EXPECT_TRUE(heads[0].starts_with("01\t2012-03-05 14:22:33\t"));
    EXPECT_EQ(field({heads[0]}, 4)[0], "9");
    EXPECT_EQ(field({heads[1]}, 4)[0], "3");
    EXPECT_EQ(members[heads[0]].size(), 9u);
    for (const std::string &name : members[heads[1]])
        EXPECT_TRUE(name.starts_with("M_")) << name;
    EXPECT_GT(std::stoi(field({heads[0]}, 5)[0]), 0); // metres driven

    // Without --recordings only the trips; the same again from the cache.
    const CliRun again = run(scratch.path(), {"trips", "--drive", card.string()}, cache);
    EXPECT_EQ(again.lines(), heads);
    // A gap of an hour and more joins them.
    EXPECT_EQ(run(scratch.path(), {"trips", "--gap", "7200", "--drive", card.string()}, cache).lines().size(), 1u);

    const CliRun incidents = run(scratch.path(), {"incidents", "--drive", card.string()}, cache);
    ASSERT_EQ(incidents.rc, 0) << incidents.err;
    const std::regex incidentLine(R"(\d{3}\t\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d\t\d+\.\d\d\t[NEPM]_\d{8}_\d{6}_2CH_F\.avi\t\d+\.\d\t(\d+|-))");
    const auto lines = incidents.lines();
    ASSERT_FALSE(lines.empty());
    const auto forces = field(lines, 2);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_TRUE(std::regex_match(lines[i], incidentLine)) << lines[i];
        EXPECT_GE(std::stod(forces[i]), 1.5);
        if (i > 0)
            EXPECT_GE(std::stod(forces[i - 1]), std::stod(forces[i]));
    }
    for (const std::string &name : field(run(scratch.path(), {"incidents", "--kind", "parking", "--drive", card.string()}, cache).lines(), 3))
        EXPECT_TRUE(name.starts_with("P_")) << name;
    EXPECT_TRUE(run(scratch.path(), {"incidents", "--min-g", "50", "--drive", card.string()}, cache).out.empty());

    // The card image holds the same drive as one.
    const CliRun image = run(scratch.path(), {"trips", "--tavo", Cards::image().string()}, cache);
    ASSERT_EQ(image.rc, 0) << image.err;
    ASSERT_EQ(image.lines().size(), 1u) << image.out;
    EXPECT_EQ(field(image.lines(), 4)[0], "12");

    // Refusals name the value; nothing is printed on standard output.
    for (const std::vector<std::string> &bad : {std::vector<std::string>{"incidents", "--min-g", "1,5", card.string()},
                                                {"incidents", "--min-g", "0", card.string()},
                                                {"trips", "--gap", "-3", card.string()},
                                                {"trips", "--kind", "event", card.string()},
                                                {"trips"}}) {
        const CliRun r = run(scratch.path(), bad, cache);
        EXPECT_NE(r.rc, 0) << bad[1];
        EXPECT_TRUE(r.out.empty());
        EXPECT_FALSE(r.err.empty());
    }
}

} // namespace
} // namespace korvante
