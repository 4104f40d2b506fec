// Treats the input as one metadata packet the way the metadata poller gets it:
// a 32-bit time, then the packet in a zero-filled 1024-byte buffer; and hands
// the same bytes to the GPS sentence parser as text that is not terminated
// within its 1023 characters. Findings besides crashes and sanitizer reports:
// more than one record from one packet, a record with another time, an axis
// value outside what its packet kind can hold, a fix with a validity other
// than 0 or 1.

#include "fuzz_input.h"

#include "core/playback/sensor_records.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

void check(bool condition, const char *what)
{
    korvante::fuzzing::check(condition, "metadata_fuzz", what);
}

bool within(std::int32_t v, std::int32_t low, std::int32_t high)
{
    return v >= low && v <= high;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 4)
        return 0;
    std::int32_t time = 0;
    std::memcpy(&time, data, 4);
    const std::uint8_t *packet = data + 4;
    const std::size_t length = std::min<std::size_t>(size - 4, 1024);

    // The poller's way: a zero-filled buffer of 1024 bytes, the whole buffer passed.
    std::uint8_t buffer[1024] = {};
    std::memcpy(buffer, packet, length);
    korvante::CQDRVTextData records;
    korvante::DispatchPacket(time, records, buffer);
    // And with the packet's exact length, in a heap block of that size.
    std::vector<std::uint8_t> exact(packet, packet + length);
    korvante::DispatchPacket(time, records, exact.data(), exact.size());

    check(records.sampleCount() + records.fixCount() <= 2, "more than one record from a packet");
    records.withSamples([&](const std::list<korvante::SensorSample> &samples) {
        for (const auto &s : samples) {
            check(s.kind >= 0 && s.kind <= 3, "sample of an unknown kind");
            check(s.kind == 3 ? s.timestamp == 0 : s.timestamp == time, "sample with another time");
            const std::int32_t low = s.kind == 2 ? -512 : -127;
            const std::int32_t high = s.kind == 2 ? 512 : 128;
            check(within(s.x, low, high) && within(s.y, low, high) && within(s.z, low, high),
                  "axis value outside its packet's range");
        }
    });
    records.withFixes([&](const std::list<korvante::CQDRVGPSData> &fixes) {
        for (const auto &f : fixes) {
            check(f.timestamp == time, "fix with another time");
            check(f.valid == 0 || f.valid == 1, "validity other than 0 or 1");
        }
    });

    // The parser's own bound: 1023 characters, here with no terminator in reach.
    std::vector<char> text(1023, 'x');
    std::memcpy(text.data(), packet, std::min<std::size_t>(length, text.size()));
    korvante::CQDRVGPSData fix;
    korvante::ParseGpsSentence(fix, time, text.data());
    check(fix.timestamp == time, "parsed fix with another time");
    return 0;
}
