#pragma once

// The library's state behind the C entry points: the open devices, keyed by an identifier
// that the caller's device block carries, and each device's open files. A device is shared
// (std::shared_ptr) between the registry and calls in flight, so closing it while another
// thread reads finishes that read safely. All members are thread-safe.

#include "card_volume.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

namespace tavo {

class OpenDevice final {
public:
    explicit OpenDevice(std::unique_ptr<CardVolume> volume) : m_volume(std::move(volume)) {}

    const CardVolume &volume() const { return *m_volume; }

    struct Handle {
        uint32_t fileIndex = 0;   // into volume().files()
        uint64_t position = 0;    // next byte for sequential reads
    };

    // Returns a handle >= 1, or a negative result code when too many files are open.
    int openFile(uint32_t fileIndex);
    bool closeFile(int handle);
    std::optional<Handle> handle(int handle) const;
    // Sets the sequential position of a handle that is still open.
    bool setPosition(int handle, uint64_t position);

private:
    static constexpr size_t kMaxOpenFiles = 1024;

    std::unique_ptr<CardVolume> m_volume;   // immutable after open
    mutable std::mutex m_mutex;             // guards m_handles and m_nextHandle
    std::map<int, Handle> m_handles;
    int m_nextHandle = 1;
};

// Stores the device under a new key written into `block`. Returns VX_TAVO_OK, or
// VX_TAVO_ERR_ARGUMENT when the block still holds an open device, or VX_TAVO_ERR_LIMIT.
int registerDevice(unsigned char *block, std::unique_ptr<CardVolume> volume);
// The device the block names, or null for a zeroed, closed or foreign block.
std::shared_ptr<OpenDevice> findDevice(const unsigned char *block);
// Forgets the device the block names. The block itself is left as it is (another thread may
// still read it); its key is never handed out again, so it stays closed.
bool unregisterDevice(const unsigned char *block);
void unregisterAllDevices();

} // namespace tavo
