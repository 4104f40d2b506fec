#pragma once
// Card device blocks shared between the catalogue that opened them and the
// byte sources that read recordings through them. The opener owns the block
// through a std::shared_ptr whose deleter closes the device; a byte source
// finds the live block by its address (the graph is handed the address only)
// and keeps its own reference, so the device stays open and its memory valid
// until the last reader is gone, even when the catalogue drops the card for a
// new scan in the middle of playback.
//
// Header-only so that the catalogue can share its block without linking the
// playback engine. Thread-safe.

#include <algorithm>
#include <memory>
#include <mutex>
#include <vector>

namespace korvante {

namespace detail {
struct SharedCardDevices {
    std::mutex mutex;
    std::vector<std::weak_ptr<unsigned char>> devices; // expired ones are dropped on the next share
};

inline SharedCardDevices &sharedCardDevices()
{
    static SharedCardDevices table;
    return table;
}
} // namespace detail

// Makes an open device block findable by its address for as long as it lives.
inline void shareCardDevice(const std::shared_ptr<unsigned char> &device)
{
    if (!device)
        return;
    auto &table = detail::sharedCardDevices();
    std::lock_guard lock(table.mutex);
    auto &list = table.devices;
    list.erase(std::remove_if(list.begin(), list.end(), [](const auto &w) { return w.expired(); }),
               list.end());
    list.push_back(device);
}

// The live shared device block at `block`, or null when none lives there (a
// block its owner manages alone, or one already closed).
inline std::shared_ptr<unsigned char> findSharedCardDevice(const unsigned char *block)
{
    if (!block)
        return nullptr;
    auto &table = detail::sharedCardDevices();
    std::lock_guard lock(table.mutex);
    for (const auto &weak : table.devices) {
        if (auto device = weak.lock(); device && device.get() == block)
            return device;
    }
    return nullptr;
}

} // namespace korvante
