#include "core/device/mount_watcher.h"

#include "core/storage/storage_discovery.h"

namespace korvante {

MountWatcher::MountWatcher(std::string sysRoot) : m_sysRoot(std::move(sysRoot)), m_known(current()) {}

std::set<std::string> MountWatcher::current() const
{
    std::set<std::string> roots;
    for (const MountedVolume &volume : listRemovableVolumes(m_sysRoot))
        roots.insert(volume.mountPoint);
    return roots;
}

std::vector<MountWatcher::Change> MountWatcher::poll()
{
    const std::set<std::string> now = current();
    std::vector<Change> changes;
    for (const auto &root : m_known)
        if (!now.count(root))
            changes.push_back({false, root});
    for (const auto &root : now)
        if (!m_known.count(root))
            changes.push_back({true, root});
    m_known = now;
    return changes;
}

} // namespace korvante
