#pragma once
// Result codes of the playback engine's graph operations. The values are the
// platform codes that the player panel and the screens compare against.

#include <cstdint>

namespace korvante {

using HResult = std::int32_t;

inline constexpr HResult S_OK = 0;
inline constexpr HResult S_FALSE = 1;
inline constexpr HResult E_FAIL = static_cast<HResult>(0x80004005u);
inline constexpr HResult E_NOINTERFACE = static_cast<HResult>(0x80004002u);
inline constexpr HResult E_POINTER = static_cast<HResult>(0x80004003u);
inline constexpr HResult VFW_E_WRONG_STATE = static_cast<HResult>(0x80040227u);
inline constexpr HResult VFW_E_INVALID_FILE_FORMAT = static_cast<HResult>(0x8004022Fu);

inline bool succeeded(HResult hr) { return hr >= 0; }

} // namespace korvante
