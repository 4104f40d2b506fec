#pragma once
// Cards written file by file for the catalogue's tests.

#include "core/storage/recording_catalogue.h"
#include "core/storage/recording_name.h"
#include "recording_bytes.h"
#include "rows_view.h"

#include <filesystem>
#include <optional>
#include <string>

namespace korvante::testing {

// Writes a small finished recording (or an unfinished one) named `name` into `folder`.
inline std::filesystem::path writeRecording(const std::filesystem::path &folder, const std::string &name,
                                            std::optional<int32_t> maxSpeed = 60, bool unfinished = false)
{
    std::filesystem::create_directories(folder);
    RecordingLayout layout = layoutOf(typicalChunks(4, 300));
    layout.maxSpeed = maxSpeed;
    const auto path = folder / name;
    writeAll(path, unfinished ? buildUnfinished(layout, 50, Bytes(100, 0x5C)).bytes
                              : buildRecording(layout).bytes);
    return path;
}

// Answers the folder picker with a fixed folder, or cancels.
class FixedPicker final : public FolderPicker {
public:
    explicit FixedPicker(std::optional<std::string> folder) : m_folder(std::move(folder)) {}
    std::optional<std::string> pickFolder(void *owner, const std::string &caption) override
    {
        lastOwner = owner;
        lastCaption = caption;
        ++calls;
        return m_folder;
    }
    void *lastOwner = nullptr;
    std::string lastCaption;
    int calls = 0;

private:
    std::optional<std::string> m_folder;
};

inline void configureCameraFolders(RecordingCatalogue &c)
{
    for (const char *f : {"NOR", "EVT", "MOT", "MAN"})
        c.addFolder(f);
    c.addExtension("AVI");
}

// Selects a removable drive rooted at `root`.
inline bool selectDrive(RecordingCatalogue &c, const std::filesystem::path &root)
{
    StorageSource s;
    s.label = root.string() + "/";
    s.kind = SourceRemovable;
    c.setSources({s});
    return c.selectSource(0);
}

inline bool selectPicked(RecordingCatalogue &c, FixedPicker &picker)
{
    StorageSource s;
    s.label = c.computerCaption;
    s.kind = SourceComputer;
    c.setSources({s});
    static int owner = 0;
    c.ownerWindow = &owner;
    c.folderPicker = &picker;
    return c.selectSource(0);
}

} // namespace korvante::testing
