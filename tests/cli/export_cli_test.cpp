// `korvante-cli export` run as a process on a sample card image: what it
// writes, what it refuses with one line and a non-zero status, and that a
// refused or failed run leaves no file behind.

#include "avi_check.h"
#include "mkcard/make_card.h"
#include "recording_bytes.h"
#include "support/small_card.h"
#include "tavo/tavo_writer.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace korvante {
namespace {

namespace fs = std::filesystem;
using namespace korvante::testing;

struct CliRun {
    int rc = -1;
    std::vector<std::string> out, err;
};

std::vector<std::string> linesOf(const fs::path &p)
{
    std::ifstream in(p);
    std::vector<std::string> lines;
    for (std::string s; std::getline(in, s);)
        lines.push_back(s);
    return lines;
}

CliRun runCli(const fs::path &scratch, const std::vector<std::string> &args)
{
    std::string cmd = shellQuote(std::string(KORVANTE_BINARY_DIR) + "/bin/korvante-cli") + " export";
    for (const auto &a : args)
        cmd += " " + shellQuote(a);
    cmd += " >" + shellQuote((scratch / "o.txt").string()) + " 2>" + shellQuote((scratch / "e.txt").string());
    const int status = std::system(cmd.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, linesOf(scratch / "o.txt"), linesOf(scratch / "e.txt")};
}

size_t fileCount(const fs::path &folder)
{
    return static_cast<size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator{}));
}

class ExportCliTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_dir = new TempDir;
        s_image = s_dir->path() / "card.img";
        ASSERT_EQ(makeCard({"--image", s_image.string(), "--per-kind", "2", "--unfinished", "1", "--size", "160x120",
                            "--seconds", "2"}),
                  0);
    }
    static void TearDownTestSuite() { delete s_dir; }

    fs::path folder(const std::string &name) const
    {
        const fs::path p = s_dir->path() / name;
        fs::create_directories(p);
        return p;
    }

    static TempDir *s_dir;
    static fs::path s_image;
};

TempDir *ExportCliTest::s_dir = nullptr;
fs::path ExportCliTest::s_image;

TEST_F(ExportCliTest, ExportsTheChosenRecordingsAndRefusesToReplaceWithoutForce)
{
    const fs::path out = folder("all"), scratch = folder("scratch");
    const std::string image = s_image.string();
    CliRun r = runCli(scratch, {"--tavo", image, "--all", "--to", out.string()});
    ASSERT_EQ(r.rc, 0) << (r.err.empty() ? "" : r.err[0]);
    ASSERT_EQ(r.out.size(), 8u);
    EXPECT_EQ(r.out[0], out.string() + "/N_20120305_142233_2CH_F.avi\tcopied");
    EXPECT_EQ(r.out[1], out.string() + "/N_20120305_142245_2CH_F.avi\trebuilt");
    EXPECT_TRUE(r.err.empty());
    for (const auto &line : r.out) // decoding is checked on the same exports in the core's tests
        EXPECT_EQ(walkAvi(readAll(line.substr(0, line.find('\t')))).problem, "") << line;
    EXPECT_EQ(fileCount(out), 8u);

    // Existing files are named one line each and nothing is written; --force replaces.
    const fs::path first = out / "N_20120305_142233_2CH_F.avi";
    writeAll(first, Bytes(3, 7));
    r = runCli(scratch, {"--tavo", image, "--all", "--to", out.string()});
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.err.size(), 8u);
    EXPECT_EQ(readAll(first), Bytes(3, 7));
    r = runCli(scratch, {"--tavo", image, "N_20120305_142233_2CH_F", "--to", out.string(), "--force"});
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.out.size(), 1u);
    EXPECT_GT(fs::file_size(first), 1000u);
    EXPECT_EQ(fileCount(out), 8u);

    const fs::path events = folder("events");
    r = runCli(scratch, {"--tavo", image, "--kind", "event", "--all", "--to", events.string()});
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.out.size(), 2u);
    EXPECT_TRUE(fs::exists(events / "E_20120305_142257_2CH_F.avi"));
}

TEST_F(ExportCliTest, RefusalsAreOneLineAndLeaveNothing)
{
    const fs::path scratch = folder("scratch2"), out = folder("refused");
    // A copy of the card with a damaged file table, and one cut short.
    Bytes card = readAll(s_image);
    size_t partition = 0;
    for (size_t e = 0x1BE; e < 0x1FE; e += 16)
        if (card[e + 4] == 0x7A)
            partition = size_t(getLe32(card, e + 8)) * 512;
    ASSERT_GT(partition, 0u);
    const size_t fileTable = partition + getLe32(card, partition + 64);
    const fs::path cut = s_dir->path() / "cut.img", damaged = s_dir->path() / "damaged.img";
    writeAll(cut, Bytes(card.begin(), card.begin() + static_cast<std::ptrdiff_t>(partition + (card.size() - partition) / 2)));
    card[fileTable + 3] ^= 0x20;
    writeAll(damaged, card);

    const std::string image = s_image.string();
    struct Case {
        std::vector<std::string> args;
        int rc;
        std::string err;
    } cases[] = {
        {{"--tavo", image, "--to", out.string()}, 1, "korvante-cli: export: Please select one or more files to convert."},
        {{"--tavo", image, "--all"}, 1, "korvante-cli: export: Please enter the save path."},
        {{"--tavo", image, "--kind", "parking", "E_20120305_142257_2CH_F", "--to", out.string()}, 1,
         "korvante-cli: E_20120305_142257_2CH_F: no such recording on the card (of that kind)"},
        {{"--tavo", image, "--all", "--to", (out / "missing").string()}, 1,
         "korvante-cli: " + (out / "missing").string() + ": no such folder"},
        {{"--tavo", image, "--all", "N_20120305_142233_2CH_F", "--to", out.string()}, 2,
         "korvante-cli: export: --all and recording names exclude each other (see korvante-cli --help)"},
        {{"--tavo", damaged.string(), "--all", "--to", out.string()}, 1,
         "korvante-cli: " + damaged.string() + ": the card cannot be read"},
        {{"--tavo", cut.string(), "--all", "--to", out.string()}, 1, "korvante-cli: " + cut.string() + ": "},
    };
    for (const auto &c : cases) {
        const CliRun r = runCli(scratch, c.args);
        EXPECT_EQ(r.rc, c.rc) << c.err;
        ASSERT_EQ(r.err.size(), 1u) << c.err;
        EXPECT_EQ(r.err[0].substr(0, c.err.size()), c.err);
        EXPECT_TRUE(r.out.empty());
        EXPECT_EQ(fileCount(out), 0u) << c.err;
    }
}

TEST_F(ExportCliTest, WritesNothingItCouldLoseOrThatOthersCouldRedirect)
{
    // One card with four recordings that all become SAME.avi.
    const fs::path same = s_dir->path() / "same.img";
    std::string error;
    auto writer = tavo::CardWriter::createImage(same.string(), smallCardLayout(), &error);
    ASSERT_TRUE(writer) << error;
    ASSERT_TRUE(writer->addDirectory("NOR") && writer->addDirectory("EVT"));
    const Bytes recording = buildRecording(layoutOf(typicalChunks(6))).bytes;
    for (const auto &[dir, name] : {std::pair{"NOR", "SAME.tavo"}, {"EVT", "SAME.tavo"}, {"NOR", "SAME.avi"},
                                    {"NOR", "SAME"}})
        ASSERT_NE(writer->addFile(dir, name, 1330957353, recording.data(), recording.size()), 0u);
    ASSERT_TRUE(writer->finish(&error)) << error;

    const fs::path scratch = folder("scratch3"), out = folder("same-out"), shared = folder("shared");
    fs::permissions(shared, fs::perms::all);
    const std::string image = s_image.string();
    struct Case {
        std::vector<std::string> args;
        fs::path folder;
        std::string err; // the whole line
    } cases[] = {
        {{"--tavo", same.string(), "--all", "--to", out.string(), "--force"}, out,
         "korvante-cli: " + out.string() + "/SAME.avi: 4 recordings would be written to this one file (/EVT/SAME.tavo, "
             "/NOR/SAME, /NOR/SAME.avi, /NOR/SAME.tavo); export them one at a time into different folders"},
        {{"--tavo", image, "--all", "--to", shared.string(), "--force"}, shared,
         "korvante-cli: " + shared.string() + ": other users may write in this folder (mode 0777, not sticky) "
             "and could redirect what is written there; nothing was written"},
        {{"--tavo", image, "N\x1b[2J\nX", "--to", out.string()}, out,
         "korvante-cli: N\\x1B[2J\\x0AX: no such recording on the card"},
    };
    for (const auto &c : cases) {
        const CliRun r = runCli(scratch, c.args);
        EXPECT_EQ(r.rc, 1) << c.err;
        EXPECT_EQ(r.err, std::vector<std::string>{c.err});
        EXPECT_TRUE(r.out.empty());
        EXPECT_EQ(fileCount(c.folder), 0u) << c.err;
    }
}

} // namespace
} // namespace korvante

namespace korvante {
namespace {

// A closed terminal (SIGHUP), Ctrl+C and a kill each abandon the recording
// being written: the process is stopped the moment a temporary file shows,
// given the signal, and let go; no temporary file and no final file of the
// interrupted recording may stay. A run whose exports all finish before one
// is caught is made again.
TEST_F(ExportCliTest, ASignalMidFileLeavesNoPartAndSaysSo)
{
    const std::string cli = std::string(KORVANTE_BINARY_DIR) + "/bin/korvante-cli";
    for (const int sig : {SIGHUP, SIGINT, SIGTERM}) {
        SCOPED_TRACE(sig);
        bool caught = false;
        for (int attempt = 0; attempt < 20 && !caught; ++attempt) {
            const fs::path out = folder("signal" + std::to_string(sig) + "-" + std::to_string(attempt));
            const fs::path errFile = out.parent_path() / ("signal-err-" + std::to_string(sig));
            const pid_t pid = fork();
            ASSERT_GE(pid, 0);
            if (pid == 0) {
                const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                const int null = ::open("/dev/null", O_WRONLY);
                ::dup2(null, 1);
                ::dup2(err, 2);
                ::execl(cli.c_str(), cli.c_str(), "export", "--tavo", s_image.c_str(), "--all", "--to", out.c_str(),
                        static_cast<char *>(nullptr));
                _exit(127);
            }
            int status = 0;
            std::string interrupted;
            for (;;) {
                if (::waitpid(pid, &status, WNOHANG) == pid)
                    break; // every recording was written before one was caught
                bool part = false;
                for (const auto &e : fs::directory_iterator(out))
                    part = part || e.path().extension() == ".part";
                if (!part)
                    continue;
                ::kill(pid, SIGSTOP);
                part = false;
                for (const auto &e : fs::directory_iterator(out))
                    if (e.path().extension() == ".part") {
                        part = true;
                        // ".NAME.PID-N.part" is written for NAME.
                        const std::string n = e.path().filename().string();
                        interrupted = n.substr(1, n.rfind('.', n.size() - 6) - 1);
                    }
                if (part) {
                    caught = true;
                    ::kill(pid, sig);
                }
                ::kill(pid, SIGCONT);
                if (caught) {
                    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
                    break;
                }
            }
            if (!caught)
                continue;
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "status " << status;
            for (const auto &e : fs::directory_iterator(out))
                EXPECT_NE(e.path().extension(), ".part") << e.path();
            // The recordings written before the signal stay; the interrupted one does not.
            EXPECT_FALSE(fs::exists(out / interrupted)) << interrupted;
            EXPECT_FALSE(interrupted.empty());
            const auto err = linesOf(errFile);
            ASSERT_FALSE(err.empty());
            EXPECT_NE(err.back().find("interrupted; the recording being written was removed"), std::string::npos)
                << err.back();
        }
        EXPECT_TRUE(caught) << "no run could be stopped while it wrote a recording";
    }
}

} // namespace
} // namespace korvante
