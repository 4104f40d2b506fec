#pragma once
// Records decoded from the metadata packets of a recording: G-sensor samples
// and GPS fixes, each stamped in milliseconds from the start of the recording.

#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <optional>

namespace korvante {

// One G-sensor reading. `kind`: 0 from an 'M' packet (8-bit codes), 1 from an
// 'S' packet of sub-type 0x08 (8-bit codes), 2 from sub-type 0x0A (10-bit
// words). An 'S' packet of any other sub-type carries nothing usable: it is
// appended with kind 3 and x, y, z and timestamp all 0.
struct SensorSample {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t z = 0;
    std::int32_t kind = 0;
    std::int32_t timestamp = 0;
};

// One GPS fix from an RMC-style sentence. Latitude and longitude are kept as
// the sentence gives them (degrees × 100 + minutes, negative south and west);
// `hour` is the sentence's hour plus 9, without wrapping at 24.
class CQDRVGPSData {
public:
    CQDRVGPSData() = default;
    CQDRVGPSData(const CQDRVGPSData &) = default;
    CQDRVGPSData &operator=(const CQDRVGPSData &) = default;
    virtual ~CQDRVGPSData() = default;

    std::int32_t year = 0;   // two digits
    std::int32_t month = 0;
    std::int32_t day = 0;
    std::int32_t hour = 0;
    std::int32_t minute = 0;
    std::int32_t second = 0;
    std::int32_t valid = 0;
    double latitude = 0;
    double longitude = 0;
    double speed = 0;  // km/h, rounded through a 32-bit float
    double course = 0; // degrees, rounded through a 32-bit float
    std::int32_t timestamp = 0;
};

// The two record lists of the open recording, in arrival order.
//
// Threads: the metadata poller appends while the panels' timers walk; one
// mutex guards both lists. Walk them only through withSamples/withFixes (or
// under lock()), and keep the walk short: the appender waits for it.
class CQDRVTextData {
public:
    CQDRVTextData() = default;
    CQDRVTextData(const CQDRVTextData &) = delete;
    CQDRVTextData &operator=(const CQDRVTextData &) = delete;
    virtual ~CQDRVTextData() = default;

    void appendSample(const SensorSample &sample);
    void appendFix(const CQDRVGPSData &fix);
    void clearSamples();
    void clearFixes();

    // Runs `walk` with the list under the mutex.
    void withSamples(const std::function<void(const std::list<SensorSample> &)> &walk) const;
    void withFixes(const std::function<void(const std::list<CQDRVGPSData> &)> &walk) const;
    std::size_t sampleCount() const;
    std::size_t fixCount() const;
    // Counts every change of either list (append or clear): readers that
    // show a value from the lists look again only when it moved.
    std::uint64_t changes() const;

    // For walks that need both lists at once. The lists below may be read
    // only while the returned lock is held.
    std::unique_lock<std::mutex> lock() const { return std::unique_lock<std::mutex>(m_mutex); }
    const std::list<SensorSample> &samplesLocked() const { return samples; }
    const std::list<CQDRVGPSData> &fixesLocked() const { return fixes; }

private:
    mutable std::mutex m_mutex;
    std::list<SensorSample> samples;
    std::list<CQDRVGPSData> fixes;
    std::uint64_t m_changes = 0;
};

// Decodes one packet (the 1024-byte buffer of a metadata read) and appends
// its record to `sensorData`. Unknown kinds and empty packets add nothing.
// Returns 0.
int DispatchPacket(std::int32_t time, CQDRVTextData &sensorData, const std::uint8_t *buffer,
                   std::size_t length = 1024);

// The record of one packet, for readers that do not keep the lists: a
// G-sensor sample ('M', 'S') or a GPS fix ('G'), as DispatchPacket would
// append it; nothing for other kinds and for packets too short.
std::optional<SensorSample> DecodeSamplePacket(std::int32_t time, const std::uint8_t *buffer, std::size_t length);
std::optional<CQDRVGPSData> DecodeFixPacket(std::int32_t time, const std::uint8_t *buffer, std::size_t length);

// Fills `fix` from a comma-separated sentence whose field 0 is its header.
// True when all ten fields (header to date) were present; the fields that
// were present are filled either way. `text` is read up to its first zero
// byte or 1023 bytes, whichever comes first.
bool ParseGpsSentence(CQDRVGPSData &fix, std::int32_t time, const char *text);

// Axis decoders, exposed for the readers that show raw packets.
std::int32_t decodeAxisCode(std::uint8_t code);
std::int32_t decodeAxisWord(std::uint16_t word);

} // namespace korvante
