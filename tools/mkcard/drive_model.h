#pragma once
// The simulated drive behind one recording: a route through central Seoul,
// a speed that rises and falls (a hard brake in event recordings, standing
// still with a knock in parking recordings), and the metadata packets the
// camera writes for it: G-sensor packets ten times a second and one GPS
// sentence a second.

#include "mkcard/byte_buffer.h"

#include <cstdint>
#include <string>
#include <vector>

namespace mkcard {

// How a recording's G-sensor packets are coded: 'M' with 8-bit codes, or 'S'
// with sub-type 0x08 (8-bit codes in 16-bit words) or 0x0A (10-bit words).
enum class SensorFormat { M8, S8, S10 };

enum class DriveKind { Normal, Event, Parking, Manual };

struct DriveSpec {
    DriveKind kind = DriveKind::Normal;
    SensorFormat format = SensorFormat::M8;
    int recordingIndex = 0;  // position on the card, varies the drive
    uint64_t seed = 0;
    double seconds = 10.0;    // length of the recording
    int64_t startLocal = 0;   // camera clock at the start, as seconds since 1970 read as UTC fields
    int utcOffsetHours = 9;   // the camera clock's offset from the GPS (UTC) clock
};

struct MetaPacket {
    uint32_t timeMs = 0;
    Bytes bytes; // the packet without its time prefix
};

struct DriveTrack {
    std::vector<MetaPacket> packets; // sensor and GPS packets in time order
    std::vector<double> speedKmh;    // speed every 100 ms, for the engine sound
    int32_t maxGpsSpeedKmh = 0;      // the largest speed written in a GPS sentence
};

DriveTrack simulateDrive(const DriveSpec &def);

// Raw axis value (about 32 per g for 8-bit codes, 127 per g for 10-bit
// words) to the byte or word the camera stores, and back the way the
// viewer decodes it. 8-bit codes carry a magnitude only; no code is 0xFF.
uint8_t encode8(int raw);
uint16_t encode10(int raw);
int decode8(uint8_t code);
int decode10(uint16_t word);

// A GPS position in degrees as the "ddmm.mmmm" / "dddmm.mmmm" text.
std::string nmeaLatitude(double degrees);
std::string nmeaLongitude(double degrees);

// Length of the route in metres.
double routeLengthMetres();

} // namespace mkcard
