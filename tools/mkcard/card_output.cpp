#include "mkcard/card_output.h"

#include "tavo/tavo_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace mkcard {
namespace fs = std::filesystem;
namespace {

constexpr uint64_t kMiB = 1024 * 1024;

bool fail(std::string *error, const std::string &text)
{
    if (error)
        *error = text;
    return false;
}

bool setTimes(const std::string &path, int64_t unixTime)
{
    struct timespec times[2];
    times[0].tv_sec = static_cast<time_t>(unixTime);
    times[0].tv_nsec = 0;
    times[1] = times[0];
    return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

bool writeWhole(const std::string &path, const void *data, size_t size, std::string *error)
{
    const std::string temporary = path + ".part";
    std::FILE *f = std::fopen(temporary.c_str(), "wb");
    if (!f)
        return fail(error, "cannot write " + path + ": " + std::strerror(errno));
    const bool ok = (size == 0 || std::fwrite(data, 1, size, f) == size) && std::fflush(f) == 0;
    const int savedErrno = errno;
    if (std::fclose(f) != 0 || !ok) {
        std::remove(temporary.c_str());
        return fail(error, "cannot write " + path + ": " + std::strerror(ok ? errno : savedErrno));
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return fail(error, "cannot write " + path + ": " + std::strerror(errno));
    }
    return true;
}

// Runs a helper program with its output captured; `failure` receives the
// program's last output line when it does not exit with 0.
bool runProgram(const std::vector<std::string> &args, std::string *failure)
{
    const std::string program = findProgram(args.front());
    if (program.empty())
        return fail(failure, args.front() + " is not installed");
    char logName[] = "/tmp/korvante-mkcard-XXXXXX";
    const int logFd = mkstemp(logName);
    if (logFd < 0)
        return fail(failure, std::string("cannot create a temporary file: ") + std::strerror(errno));
    close(logFd);

    std::vector<std::string> envStrings;
    for (char **e = environ; *e; ++e) {
        const std::string entry(*e);
        if (entry.rfind("TZ=", 0) == 0 || entry.rfind("MTOOLS", 0) == 0)
            continue;
        envStrings.push_back(entry);
    }
    // Time stamps in the FAT are local times: with TZ=UTC they are the camera
    // clock's fields whatever the machine's zone, so the image is the same
    // everywhere. The empty configuration keeps a user's mtoolsrc out.
    envStrings.push_back("TZ=UTC");
    envStrings.push_back("MTOOLS_SKIP_CHECK=1");
    envStrings.push_back("MTOOLSRC=/dev/null");
    std::vector<char *> env;
    for (auto &s : envStrings)
        env.push_back(s.data());
    env.push_back(nullptr);
    std::vector<std::string> argStrings(args);
    argStrings.front() = program;
    std::vector<char *> argv;
    for (auto &s : argStrings)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, logName, O_WRONLY | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    bool ok = rc == 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!ok) {
        std::string last;
        std::ifstream log(logName);
        for (std::string line; std::getline(log, line);)
            if (!line.empty())
                last = line;
        if (failure)
            *failure = args.front() + " failed" + (last.empty() ? std::string() : ": " + last);
    }
    std::remove(logName);
    return ok;
}

} // namespace

std::string setupIniText()
{
    static const char *const lines[] = {
        "SENSOR_GY_STV=1", "VOICE_GUIDE_ON=1", "VOICE_REC_ON=1", "VOLTAGE_CUTOFF_LV=2", "LED_PARKING_ON=1",
        "TIME_EXP_GMT=8",  "TIME_GMT_IDX=57",  "PARK_ON=1",      "AUDIO_VOLUME_LV=1",   "PARK_STORAGE=1",
        "RESET_WIFI_EN=0", "RESET_TIME=0",     "MANUAL_TIME=0",  "FW_VERSION=0",        "EXIST_PARKEVT=0",
    };
    std::string text;
    for (const char *line : lines)
        text += std::string(line) + "\r\n";
    return text;
}

std::string findProgram(const std::string &name)
{
    std::string search = std::getenv("PATH") ? std::getenv("PATH") : "";
    search += ":/usr/sbin:/sbin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= search.size()) {
        const size_t end = search.find(':', start);
        const std::string dir = search.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!dir.empty()) {
            const std::string candidate = dir + "/" + name;
            if (access(candidate.c_str(), X_OK) == 0)
                return candidate;
        }
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return {};
}

std::unique_ptr<FolderCard> FolderCard::create(const std::string &folder, int64_t setupUnixTime, std::string *error)
{
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec || !fs::is_directory(folder)) {
        fail(error, "cannot create the folder " + folder + (ec ? ": " + ec.message() : std::string()));
        return nullptr;
    }
    for (const char *sub : kRecordingFolders) {
        fs::create_directories(fs::path(folder) / sub, ec);
        if (ec) {
            fail(error, "cannot create " + (fs::path(folder) / sub).string() + ": " + ec.message());
            return nullptr;
        }
    }
    const fs::path setup = fs::path(folder) / "SETUP";
    fs::create_directories(setup, ec);
    if (ec) {
        fail(error, "cannot create " + setup.string() + ": " + ec.message());
        return nullptr;
    }
    const std::string ini = setupIniText();
    const std::string iniPath = (setup / "setup.ini").string();
    if (!writeWhole(iniPath, ini.data(), ini.size(), error))
        return nullptr;
    setTimes(iniPath, setupUnixTime);
    return std::unique_ptr<FolderCard>(new FolderCard(folder));
}

bool FolderCard::addFile(const std::string &subfolder, const std::string &name, const Bytes &data, int64_t unixTime,
                         std::string *error)
{
    const std::string path = (fs::path(m_folder) / subfolder / name).string();
    if (!writeWhole(path, data.data(), data.size(), error))
        return false;
    setTimes(path, unixTime); // a missing time stamp is not worth failing the card for
    return true;
}

std::unique_ptr<CardImageStage> CardImageStage::create(const std::string &imagePath, std::string *error)
{
    std::string folder = imagePath + ".parts-XXXXXX";
    if (!mkdtemp(folder.data())) {
        fail(error, "cannot write next to the card image " + imagePath + ": " + std::strerror(errno));
        return nullptr;
    }
    return std::unique_ptr<CardImageStage>(new CardImageStage(folder));
}

CardImageStage::~CardImageStage()
{
    std::error_code ec;
    fs::remove_all(m_folder, ec);
}

bool CardImageStage::add(const std::string &directory, const std::string &name, int64_t unixTime, const Bytes &data,
                         std::string *error)
{
    const std::string path = m_folder + "/" + std::to_string(m_files.size());
    if (!writeWhole(path, data.data(), data.size(), error))
        return false;
    m_files.push_back({directory, name, unixTime, path, data.size()});
    return true;
}

uint64_t defaultImageMib(const std::vector<CardImageFile> &files)
{
    uint64_t bytes = 0;
    for (const auto &f : files)
        bytes += (f.size + kCardClusterBytes - 1) / kCardClusterBytes * kCardClusterBytes;
    // MBR gap, FAT partition, TAVO tables and a tenth more for slack.
    bytes += bytes / 10 + 1 * kMiB + kFatPartitionMib * kMiB + 4 * kMiB;
    return (bytes + kMiB - 1) / kMiB;
}

namespace {

bool buildImage(const std::string &path, uint64_t imageMib, const std::vector<CardImageFile> &files,
                int64_t setupLocalTime, uint32_t volumeId, std::string *error)
{
    tavo::CardLayout layout{};
    layout.totalBytes = imageMib * kMiB;
    layout.fatBytes = kFatPartitionMib * kMiB;
    layout.clusterBytes = kCardClusterBytes;
    std::string why;
    auto writer = tavo::CardWriter::createImage(path, layout, &why);
    if (!writer)
        return fail(error, "cannot create the card image: " + why);
    for (const char *dir : kRecordingFolders)
        if (!writer->addDirectory(dir))
            return fail(error, "cannot add the directory " + std::string(dir) + ": " + writer->lastError());
    for (const auto &f : files)
        if (writer->addFileFromPath(f.directory, f.name, f.unixTime, f.stagedPath) == 0)
            return fail(error, "cannot add " + f.directory + "/" + f.name + " to the card image (" +
                                   writer->lastError() + "); a larger --image-mib may help");
    if (!writer->finish(&why))
        return fail(error, "cannot finish the card image: " + why);
    const uint64_t fatOffset = writer->fatPartitionOffset();
    const uint64_t fatBytes = writer->fatPartitionBytes();
    writer.reset();

    const std::string sectors = std::to_string(fatOffset / 512);
    char volume[16];
    std::snprintf(volume, sizeof volume, "%08X", volumeId);
    if (!runProgram({"mkfs.vfat", "-F", "32", "--invariant", "-i", volume, "-n", "KORVANTE", "-h", sectors,
                     "--mbr=n", "--offset=" + sectors, path, std::to_string(fatBytes / 1024)},
                    error))
        return false;

    // The settings file is staged in a temporary tree whose time stamps are
    // the camera's, then copied in whole with those times kept.
    char stageName[] = "/tmp/korvante-mkcard-stage-XXXXXX";
    if (!mkdtemp(stageName))
        return fail(error, std::string("cannot create a temporary folder: ") + std::strerror(errno));
    const fs::path stage(stageName);
    const fs::path setup = stage / "SETUP";
    std::error_code ec;
    fs::create_directory(setup, ec);
    const std::string ini = setupIniText();
    bool ok = !ec && writeWhole((setup / "setup.ini").string(), ini.data(), ini.size(), error);
    ok = ok && setTimes((setup / "setup.ini").string(), setupLocalTime) && setTimes(setup.string(), setupLocalTime);
    if (ok)
        ok = runProgram({"mcopy", "-s", "-m", "-Q", "-i", path + "@@" + std::to_string(fatOffset), setup.string(),
                         "::/"},
                        error);
    else if (error && error->empty())
        *error = "cannot stage SETUP/setup.ini";
    fs::remove_all(stage, ec);
    return ok;
}

} // namespace

bool writeCardImage(const std::string &path, uint64_t imageMib, const std::vector<CardImageFile> &files,
                    int64_t setupLocalTime, uint32_t volumeId, std::string *error)
{
    // Built under a temporary name: an interrupted run leaves no half image
    // under the final one.
    const std::string part = path + ".part";
    if (!buildImage(part, imageMib, files, setupLocalTime, volumeId, error)) {
        std::remove(part.c_str());
        return false;
    }
    if (std::rename(part.c_str(), path.c_str()) != 0) {
        const int savedErrno = errno;
        std::remove(part.c_str());
        return fail(error, "cannot write " + path + ": " + std::strerror(savedErrno));
    }
    return true;
}

} // namespace mkcard
