#include "device_registry.h"

#include "tavo.h"

#include <climits>
#include <cstring>
#include <unordered_map>

namespace tavo {
namespace {

// Device block layout (the rest of the 161 bytes stays as the caller left it).
constexpr char kBlockMagic[8] = {'T', 'A', 'V', 'O', 'D', 'E', 'V', '1'};
constexpr size_t kKeyOffset = 8;
constexpr size_t kMaxOpenDevices = 64;

struct Registry {
    std::mutex mutex;
    std::unordered_map<uint64_t, std::shared_ptr<OpenDevice>> devices;
    uint64_t nextKey = 1;
};

// Never destroyed: callers may close devices from their own end-of-process
// handlers (the viewer's shared state does), which can run after a
// function-local static made later would already be gone.
Registry &registry()
{
    static Registry *instance = new Registry;
    return *instance;
}

std::optional<uint64_t> keyOf(const unsigned char *block)
{
    if (!block || std::memcmp(block, kBlockMagic, sizeof kBlockMagic) != 0)
        return std::nullopt;
    uint64_t key = 0;
    for (int i = 7; i >= 0; --i)
        key = (key << 8) | block[kKeyOffset + static_cast<size_t>(i)];
    return key;
}

} // namespace

int OpenDevice::openFile(uint32_t fileIndex)
{
    std::lock_guard lock(m_mutex);
    if (m_handles.size() >= kMaxOpenFiles)
        return VX_TAVO_ERR_LIMIT;
    // Handles count up; after INT_MAX opens the lowest free number is reused.
    int h = m_nextHandle;
    if (h == INT_MAX || m_handles.count(h) != 0) {
        h = 1;
        while (m_handles.count(h) != 0)
            ++h;
    }
    m_nextHandle = h == INT_MAX ? INT_MAX : h + 1;
    m_handles[h] = Handle{fileIndex, 0};
    return h;
}

bool OpenDevice::closeFile(int handle)
{
    std::lock_guard lock(m_mutex);
    return m_handles.erase(handle) == 1;
}

std::optional<OpenDevice::Handle> OpenDevice::handle(int handle) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_handles.find(handle);
    if (it == m_handles.end())
        return std::nullopt;
    return it->second;
}

bool OpenDevice::setPosition(int handle, uint64_t position)
{
    std::lock_guard lock(m_mutex);
    const auto it = m_handles.find(handle);
    if (it == m_handles.end())
        return false;
    it->second.position = position;
    return true;
}

int registerDevice(unsigned char *block, std::unique_ptr<CardVolume> volume)
{
    Registry &r = registry();
    std::lock_guard lock(r.mutex);
    if (const auto key = keyOf(block); key && r.devices.count(*key) != 0)
        return VX_TAVO_ERR_ARGUMENT;
    if (r.devices.size() >= kMaxOpenDevices)
        return VX_TAVO_ERR_LIMIT;
    const uint64_t key = r.nextKey++;
    r.devices.emplace(key, std::make_shared<OpenDevice>(std::move(volume)));
    std::memcpy(block, kBlockMagic, sizeof kBlockMagic);
    for (size_t i = 0; i < 8; ++i)
        block[kKeyOffset + i] = static_cast<unsigned char>(key >> (8 * i));
    return VX_TAVO_OK;
}

std::shared_ptr<OpenDevice> findDevice(const unsigned char *block)
{
    const auto key = keyOf(block);
    if (!key)
        return nullptr;
    Registry &r = registry();
    std::lock_guard lock(r.mutex);
    const auto it = r.devices.find(*key);
    return it == r.devices.end() ? nullptr : it->second;
}

bool unregisterDevice(const unsigned char *block)
{
    const auto key = keyOf(block);
    if (!key)
        return false;
    std::shared_ptr<OpenDevice> device;   // released outside the lock
    Registry &r = registry();
    std::lock_guard lock(r.mutex);
    const auto it = r.devices.find(*key);
    if (it == r.devices.end())
        return false;
    device = std::move(it->second);
    r.devices.erase(it);
    return true;
}

void unregisterAllDevices()
{
    std::unordered_map<uint64_t, std::shared_ptr<OpenDevice>> devices;
    Registry &r = registry();
    std::lock_guard lock(r.mutex);
    devices.swap(r.devices);
}

} // namespace tavo
