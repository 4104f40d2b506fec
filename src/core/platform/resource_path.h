#pragma once
// Where the viewer's own files lie (skin library, configuration, map page):
// beside the executable, as in a build folder or a copy of the program with
// its files; else in the data folder of an installation, share/korvante
// beside the bin folder that holds the executable. The data folder is found
// from the executable's own place, so an installation works under any prefix
// and in a folder that a package was unpacked into.
//
// Header-only: the configuration loader and the widgets both use it. Any thread.

#include <filesystem>
#include <string>
#include <system_error>

#include <climits>
#include <unistd.h>

namespace korvante {

// The folder of the running executable, "/" ended; "./" when unknown.
inline std::string executableFolderPath()
{
    char buffer[PATH_MAX + 1];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, PATH_MAX);
    if (n <= 0)
        return "./";
    const std::string path(buffer, static_cast<size_t>(n));
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

// The installed data folder for an executable in `exeFolder` ("/" ended):
// <prefix>/share/korvante/ for <prefix>/bin/.
inline std::string installedDataFolder(const std::string &exeFolder)
{
    const std::filesystem::path data = std::filesystem::path(exeFolder) / ".." / "share" / "korvante";
    return data.lexically_normal().string() + "/";
}

// The file `name` beside the executable when it is there, else in the
// installed data folder when it is there; else the path beside the
// executable (whose absence the caller reports as it always has).
inline std::string resourcePath(const std::string &name, const std::string &exeFolder = executableFolderPath())
{
    std::error_code ec;
    const std::string beside = exeFolder + name;
    if (std::filesystem::exists(beside, ec))
        return beside;
    const std::string installed = installedDataFolder(exeFolder) + name;
    if (std::filesystem::exists(installed, ec))
        return installed;
    return beside;
}

} // namespace korvante
