// Treats the input as the camera's SETUP/setup.ini: registers the settings
// editor's fifteen keys, reads the file, writes it back and reads that again.
// Findings besides crashes and sanitizer reports: a value that does not
// survive its own write and read back, a second write that differs from the
// first, a refused write that leaves a file or a temporary file behind.

#include "fuzz_input.h"

#include "core/config/key_value_file.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

namespace {

void check(bool condition, const char *what)
{
    korvante::fuzzing::check(condition, "keyvalue_fuzz", what);
}

void registerCameraKeys(korvante::KeyValueFile &file)
{
    static const struct {
        const char *name;
        int defaultValue;
        int upperBound;
    } kKeys[] = {
        {"SENSOR_GY_STV", 1, 2},  {"VOICE_GUIDE_ON", 1, 1}, {"VOICE_REC_ON", 1, 1},
        {"VOLTAGE_CUTOFF_LV", 2, 5}, {"LED_PARKING_ON", 1, 1}, {"TIME_EXP_GMT", 8, 13},
        {"TIME_GMT_IDX", 57, 74}, {"PARK_ON", 1, 1},        {"AUDIO_VOLUME_LV", 1, 2},
        {"PARK_STORAGE", 1, 2},   {"RESET_WIFI_EN", 0, 1},  {"RESET_TIME", 0, 1},
        {"MANUAL_TIME", 0, 0},    {"FW_VERSION", 0, 0},     {"EXIST_PARKEVT", 0, 1},
    };
    for (const auto &key : kKeys)
        file.registerInteger(key.name, key.defaultValue, key.upperBound);
}

char g_scratch[4096]; // the folder's path, for its removal at exit

void removeScratch()
{
    ::rmdir(g_scratch);
}

// One folder for the whole run, on the temporary file system ($TMPDIR),
// removed when the run ends (it is empty between inputs).
const std::string &scratchFolder()
{
    static const std::string folder = [] {
        const char *tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/keyvalue-fuzz-XXXXXX";
        if (pattern.size() >= sizeof g_scratch || !mkdtemp(pattern.data()))
            std::abort();
        std::memcpy(g_scratch, pattern.c_str(), pattern.size() + 1);
        std::atexit(removeScratch);
        return pattern;
    }();
    return folder;
}

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

int entriesIn(const std::string &folder)
{
    int count = 0;
    if (DIR *dir = opendir(folder.c_str())) {
        while (const dirent *entry = readdir(dir))
            count += entry->d_name[0] != '.';
        closedir(dir);
    }
    return count;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // A regular file: the reader follows no link, /proc/self/fd/N included.
    const std::string inputPath = scratchFolder() + "/input.ini";
    {
        std::ofstream out(inputPath, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
    }
    korvante::KeyValueFile first;
    registerCameraKeys(first);
    const bool read = first.read(inputPath);
    ::unlink(inputPath.c_str());
    check(read || size > korvante::KeyValueFile::kMaxFileBytes, "an existing file could not be read");
    if (!read)
        return 0;

    const std::string target = scratchFolder() + "/setup.ini";
    ::unlink(target.c_str());
    if (!first.write(target)) {
        check(entriesIn(scratchFolder()) == 0, "a refused write left a file behind");
        return 0;
    }
    check(entriesIn(scratchFolder()) == 1, "a write left a temporary file behind");

    korvante::KeyValueFile second;
    registerCameraKeys(second);
    check(second.read(target), "the written file could not be read back");
    check(second.items().size() == first.items().size(), "the key count changed");
    for (std::size_t i = 0; i < first.items().size(); ++i)
        check(second.items()[i].workingValue == first.items()[i].workingValue,
              "a value did not survive its write and read back");

    const std::string written = slurp(target);
    check(second.write(target), "the read-back settings could not be written");
    check(slurp(target) == written, "a second write differs from the first");
    ::unlink(target.c_str());
    return 0;
}
