#pragma once
// The parameter set of a video decoder, read and written with GetParam and
// SetParam. Ids: 201 luminance gain (128 = unchanged), 202 luminance offset
// (0 = unchanged, −256 … 256), 203 hue (degrees, 0 = unchanged), 204
// saturation (64 = unchanged), 205 picture adjustments on (1) or off (0);
// 1101 flips allowed, 1112 vertical flip, 1113 horizontal mirror.
//
// Threads: the user-interface thread sets, the decode thread takes a snapshot
// for each frame; one mutex guards the values.

#include "core/playback/result_codes.h"

#include <cstdint>
#include <map>
#include <mutex>

namespace korvante {

struct PictureSettings {
    bool adjust = false; // 205
    int gain = 128;      // 201
    int offset = 0;      // 202
    int hue = 0;         // 203
    int saturation = 64; // 204
    bool flipVertical = false;   // 1112, when 1101 is set
    bool mirrorHorizontal = false; // 1113, when 1101 is set

    bool adjustsColour() const
    {
        return adjust && (gain != 128 || offset != 0 || hue != 0 || saturation != 64);
    }
};

class DecoderParams final {
public:
    DecoderParams();
    // E_FAIL (value untouched) for an unknown id.
    HResult GetParam(std::int32_t id, std::int32_t *value) const;
    // Values are clamped to their ranges. E_FAIL for an unknown id.
    HResult SetParam(std::int32_t id, std::int32_t value);
    PictureSettings snapshot() const;
    // Takes every value of `other` (the next recording's decoder keeps the
    // user's flips and adjustments). True when a value changed.
    bool assign(const DecoderParams &other);
    // `value` as SetParam would store it for `id`.
    static std::int32_t clamped(std::int32_t id, std::int32_t value);
    // Bumped by every change, so a paused picture can be converted again.
    std::uint64_t version() const;

private:
    mutable std::mutex m_mutex;
    std::map<std::int32_t, std::int32_t> m_values;
    std::uint64_t m_version = 0;
};

} // namespace korvante
