#include "core/playback/index_memory_cache.h"

#include "core/overview/overview_cache.h"
#include "core/platform/log.h"

namespace korvante {
namespace {
overview::CacheKey cacheKeyOf(const IndexMemoryKey &key)
{
    overview::CacheKey k;
    k.identity = key.identity;
    k.size = key.size;
    k.modified = key.modified;
    return k;
}
} // namespace

CachedIndexMemory::CachedIndexMemory(std::string directory) : m_directory(std::move(directory)) {}

std::optional<std::string> CachedIndexMemory::recall(const IndexMemoryKey &key)
{
    if (m_directory.empty())
        return std::nullopt;
    overview::OverviewCache cache(m_directory);
    if (!cache.usable())
        return std::nullopt;
    return cache.findBlob(kKind, cacheKeyOf(key));
}

void CachedIndexMemory::remember(const IndexMemoryKey &key, const std::string &bytes)
{
    if (m_directory.empty())
        return;
    overview::OverviewCache cache(m_directory);
    if (!cache.usable() || !cache.storeBlob(kKind, cacheKeyOf(key), bytes))
        logInfo("playback: the index of " + key.identity + " could not be kept for its next open");
}

} // namespace korvante
