#include "core/playback/decoder_params.h"

#include <algorithm>

namespace korvante {

DecoderParams::DecoderParams()
    : m_values{{201, 128}, {202, 0}, {203, 0}, {204, 64}, {205, 0}, {1101, 0}, {1112, 0}, {1113, 0}}
{
}

HResult DecoderParams::GetParam(std::int32_t id, std::int32_t *value) const
{
    if (!value)
        return E_POINTER;
    std::lock_guard lock(m_mutex);
    auto it = m_values.find(id);
    if (it == m_values.end())
        return E_FAIL;
    *value = it->second;
    return S_OK;
}

std::int32_t DecoderParams::clamped(std::int32_t id, std::int32_t value)
{
    switch (id) {
    case 201: return std::clamp(value, 0, 256);
    case 202: return std::clamp(value, -256, 256);
    case 203: return std::clamp(value, -180, 180);
    case 204: return std::clamp(value, 0, 128);
    default: return value ? 1 : 0;
    }
}

HResult DecoderParams::SetParam(std::int32_t id, std::int32_t value)
{
    std::lock_guard lock(m_mutex);
    auto it = m_values.find(id);
    if (it == m_values.end())
        return E_FAIL;
    it->second = clamped(id, value);
    ++m_version;
    return S_OK;
}

PictureSettings DecoderParams::snapshot() const
{
    std::lock_guard lock(m_mutex);
    PictureSettings s;
    s.adjust = m_values.at(205) != 0;
    s.gain = m_values.at(201);
    s.offset = m_values.at(202);
    s.hue = m_values.at(203);
    s.saturation = m_values.at(204);
    const bool flips = m_values.at(1101) != 0;
    s.flipVertical = flips && m_values.at(1112) != 0;
    s.mirrorHorizontal = flips && m_values.at(1113) != 0;
    return s;
}

bool DecoderParams::assign(const DecoderParams &other)
{
    if (&other == this)
        return false;
    std::map<std::int32_t, std::int32_t> values;
    {
        std::lock_guard lock(other.m_mutex);
        values = other.m_values;
    }
    std::lock_guard lock(m_mutex);
    if (values == m_values)
        return false;
    m_values = std::move(values);
    ++m_version;
    return true;
}

std::uint64_t DecoderParams::version() const
{
    std::lock_guard lock(m_mutex);
    return m_version;
}

} // namespace korvante
