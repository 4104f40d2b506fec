#include "cli/telemetry.h"

#include "cli/text_escape.h"
#include "core/playback/sensor_records.h"
#include "core/playback/stream_parse_filter.h"
#include "tavo/tavo.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

namespace korvante::cli {
namespace {

constexpr int kOk = 0;
constexpr int kInput = 1;
constexpr int kUsage = 2;

const char *kUsageText =
    "usage: korvante-cli telemetry [--format csv|gpx|gpx10|kml] RECORDING\n"
    "       korvante-cli telemetry [--format csv|gpx|gpx10|kml] --tavo DEVICE NAME\n"
    "csv: the G-sensor samples; gpx (GPX 1.1), gpx10 (GPX 1.0), kml: the GPS track (valid fixes only).\n";

struct Options {
    std::string format = "csv";
    std::string path;
    std::string device; // card device or image, with --tavo
};

bool parse(const std::vector<std::string> &args, Options &o, std::string &error)
{
    std::vector<std::string> positional;
    bool tavo = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        if (a == "--format") {
            if (i + 1 >= args.size()) {
                error = "--format: needs a value";
                return false;
            }
            o.format = args[++i];
            if (o.format != "csv" && o.format != "gpx" && o.format != "gpx10" && o.format != "kml") {
                error = "--format: " + o.format + " is not csv, gpx, gpx10 or kml";
                return false;
            }
        } else if (a == "--tavo") {
            tavo = true;
        } else if (a.rfind("--", 0) == 0 && a != "--") {
            error = a + ": unknown option";
            return false;
        } else {
            positional.push_back(a);
        }
    }
    if (tavo) {
        if (positional.size() != 2) {
            error = "--tavo needs a device and a recording name";
            return false;
        }
        o.device = positional[0];
        o.path = positional[1];
    } else {
        if (positional.size() != 1) {
            error = "one recording is needed";
            return false;
        }
        o.path = positional[0];
    }
    return true;
}

// The card recording called `name` (or "/DIR/NAME"): its path and file identifier.
bool findOnCard(unsigned char *device, const std::string &name, std::string &path, std::int32_t &id)
{
    std::string dirWanted, fileWanted = name;
    if (!name.empty() && name.front() == '/') {
        const size_t slash = name.find('/', 1);
        if (slash == std::string::npos)
            return false;
        dirWanted = name.substr(1, slash - 1);
        fileWanted = name.substr(slash + 1);
    }
    // "/DIR/NAME" names its folder, whatever it is called; a bare name is
    // looked up in the camera's usual folders.
    std::vector<std::string> dirs{"NOR", "EVT", "MOT", "MAN"};
    if (!dirWanted.empty())
        dirs = {dirWanted};
    for (const std::string &dirName : dirs) {
        const char *dir = dirName.c_str();
        std::vector<unsigned char> list(VX_TAVO_LIST_BUFFER_SIZE, 0);
        std::uint32_t cursor = 1;
        for (;;) {
            const std::uint32_t capacity = VX_TAVO_LIST_CAPACITY;
            std::memcpy(list.data(), &capacity, 4);
            const int n = VX_Tavo_Get_FileList(device, dir, &cursor, list.data(), 0);
            if (n <= 0)
                break;
            for (int r = 0; r < n; ++r) {
                const unsigned char *record = list.data() + VX_TAVO_LIST_HEADER_SIZE + r * VX_TAVO_LIST_RECORD_SIZE;
                const std::string file(reinterpret_cast<const char *>(record),
                                       strnlen(reinterpret_cast<const char *>(record), VX_TAVO_RECORD_NAME_SIZE));
                if (file == fileWanted) {
                    std::memcpy(&id, record + VX_TAVO_RECORD_ID_OFFSET, 4);
                    path = std::string("/") + dir + "/" + file;
                    return true;
                }
            }
        }
    }
    return false;
}

// NMEA "ddmm.mmmm" (negative south or west) to decimal degrees.
double toDegrees(double nmea)
{
    const double a = std::fabs(nmea);
    const double degrees = std::floor(a / 100.0);
    const double value = degrees + (a - degrees * 100.0) / 60.0;
    return nmea < 0 ? -value : value;
}

// The fix's time in UTC as ISO 8601. The record keeps the sentence's hour
// plus 9 (the camera's local time) without wrapping, so 9 is taken off again.
std::optional<std::string> isoTime(const CQDRVGPSData &fix)
{
    const int hour = fix.hour - 9;
    if (fix.month < 1 || fix.month > 12 || fix.day < 1 || fix.day > 31 || hour < 0 || hour > 23
        || fix.minute < 0 || fix.minute > 59 || fix.second < 0 || fix.second > 60)
        return std::nullopt;
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", 2000 + fix.year, fix.month, fix.day, hour,
                  fix.minute, fix.second);
    return std::string(text);
}

// A fixed-point number with a decimal point whatever the process's locale
// (a test program or a desktop may have set one with a decimal comma).
std::string number(double v, int decimals)
{
    char text[64];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, v, std::chars_format::fixed, decimals);
    return ec == std::errc{} ? std::string(text, end) : std::string("0");
}

// One code point of `s` from `i` (advanced past it), or -1 for bytes that are
// not UTF-8: a bad lead or continuation byte, an overlong form, a surrogate,
// a value past U+10FFFF (one byte is passed over then).
long nextCodePoint(const std::string &s, size_t &i)
{
    const auto byte = [&s](size_t at) { return static_cast<unsigned char>(s[at]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    size_t length = 0;
    long cp = 0, min = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2; cp = lead & 0x1F; min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3; cp = lead & 0x0F; min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4; cp = lead & 0x07; min = 0x10000;
    } else {
        ++i;
        return -1;
    }
    if (i + length > s.size()) {
        ++i;
        return -1;
    }
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            ++i;
            return -1;
        }
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return -1;
    }
    i += length;
    return cp;
}

void appendUtf8(std::string &out, long cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Text for an XML 1.0 document in UTF-8: markup characters escaped, and
// whatever XML cannot hold (bytes that are not UTF-8, control characters,
// U+FFFE and U+FFFF) replaced by U+FFFD, so that every reader accepts the file.
std::string xmlEscape(const std::string &s)
{
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        long cp = nextCodePoint(s, i);
        const bool allowed = cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF)
                             || (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
        if (!allowed)
            cp = 0xFFFD;
        switch (cp) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: appendUtf8(out, cp);
        }
    }
    return out;
}

// The metadata packets of the loaded recording, one at a time: the output is
// written as they are read, and nothing of the track is kept.
class Packets final {
public:
    explicit Packets(StreamParseFilter &filter) : m_filter(filter) {}
    bool next()
    {
        std::memset(m_buffer, 0, sizeof m_buffer);
        std::int32_t length = sizeof m_buffer;
        m_time = 0;
        return m_filter.ReadPacket(m_buffer, &length, &m_time) == S_OK;
    }
    void rewind() { m_filter.RewindPackets(); }
    std::optional<SensorSample> sample() const { return DecodeSamplePacket(m_time, m_buffer, sizeof m_buffer); }
    std::optional<CQDRVGPSData> fix() const { return DecodeFixPacket(m_time, m_buffer, sizeof m_buffer); }

private:
    StreamParseFilter &m_filter;
    std::uint8_t m_buffer[1024] = {};
    std::int32_t m_time = 0;
};

// A valid fix as degrees, or nothing for one that is not a position on the
// earth (not finite, latitude beyond ±90°, longitude beyond ±180°).
struct Position {
    double latitude;
    double longitude;
};

std::optional<Position> positionOf(const CQDRVGPSData &fix)
{
    const double lat = toDegrees(fix.latitude), lon = toDegrees(fix.longitude);
    if (!std::isfinite(lat) || !std::isfinite(lon) || std::fabs(lat) > 90.0 || std::fabs(lon) > 180.0)
        return std::nullopt;
    return Position{lat, lon};
}

// The valid fixes, each with its position, in file order; `skipped` counts
// the valid fixes that are no position.
template <typename Write>
void eachPosition(Packets &packets, std::size_t &skipped, Write write)
{
    skipped = 0;
    while (packets.next()) {
        const auto fix = packets.fix();
        if (!fix || !fix->valid)
            continue;
        if (const auto p = positionOf(*fix))
            write(*fix, *p);
        else
            ++skipped;
    }
}

void writeCsv(Packets &packets, std::ostream &out)
{
    out << "time_ms,kind,x,y,z\n";
    while (packets.next())
        if (const auto s = packets.sample())
            out << s->timestamp << ',' << s->kind << ',' << s->x << ',' << s->y << ',' << s->z << '\n';
}

// A fix's speed in metres per second and its course in degrees in [0, 360),
// as both GPX versions type them; none for a value that is no number.
std::optional<std::string> speedText(const CQDRVGPSData &f)
{
    if (!std::isfinite(f.speed) || f.speed < 0)
        return std::nullopt;
    return number(f.speed / 3.6, 3);
}

std::optional<std::string> courseText(const CQDRVGPSData &f)
{
    if (!std::isfinite(f.course))
        return std::nullopt;
    double course = std::fmod(f.course, 360.0);
    if (course < 0)
        course += 360.0;
    if (number(course, 1) == "360.0")
        course = 0;
    return number(course, 1);
}

// One track of the valid fixes. GPX 1.1 has no element for speed or course:
// they go into Garmin's track-point extension (v2), which GPS editors and
// video-overlay tools read. GPX 1.0 has elements of its own for both (after
// the time, in its schema's order), which tools that know no extension read,
// gpsbabel among them.
void writeGpx(Packets &packets, const std::string &name, bool version10, std::ostream &out, std::size_t &skipped)
{
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    if (version10)
        out << "<gpx version=\"1.0\" creator=\"korvante-cli\" xmlns=\"http://www.topografix.com/GPX/1/0\"\n"
               "     xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"\n"
               "     xsi:schemaLocation=\"http://www.topografix.com/GPX/1/0 http://www.topografix.com/GPX/1/0/gpx.xsd\">\n";
    else
        out << "<gpx version=\"1.1\" creator=\"korvante-cli\" xmlns=\"http://www.topografix.com/GPX/1/1\"\n"
               "     xmlns:gpxtpx=\"http://www.garmin.com/xmlschemas/TrackPointExtension/v2\"\n"
               "     xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"\n"
               "     xsi:schemaLocation=\"http://www.topografix.com/GPX/1/1 http://www.topografix.com/GPX/1/1/gpx.xsd "
               "http://www.garmin.com/xmlschemas/TrackPointExtension/v2 "
               "http://www.garmin.com/xmlschemas/TrackPointExtensionv2.xsd\">\n";
    out << "  <trk>\n"
        << "    <name>" << xmlEscape(name) << "</name>\n"
        << "    <trkseg>\n";
    eachPosition(packets, skipped, [&](const CQDRVGPSData &f, const Position &p) {
        out << "      <trkpt lat=\"" << number(p.latitude, 7) << "\" lon=\"" << number(p.longitude, 7) << "\">\n";
        if (auto t = isoTime(f))
            out << "        <time>" << *t << "</time>\n";
        const auto speed = speedText(f);
        const auto course = courseText(f);
        if (version10) {
            if (course)
                out << "        <course>" << *course << "</course>\n";
            if (speed)
                out << "        <speed>" << *speed << "</speed>\n";
        } else if (speed || course) {
            out << "        <extensions><gpxtpx:TrackPointExtension>";
            if (speed)
                out << "<gpxtpx:speed>" << *speed << "</gpxtpx:speed>";
            if (course)
                out << "<gpxtpx:course>" << *course << "</gpxtpx:course>";
            out << "</gpxtpx:TrackPointExtension></extensions>\n";
        }
        out << "      </trkpt>\n";
    });
    out << "    </trkseg>\n  </trk>\n</gpx>\n";
}

void writeKml(Packets &packets, const std::string &name, std::ostream &out, std::size_t &skipped)
{
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n"
           "  <Document>\n"
        << "    <name>" << xmlEscape(name) << "</name>\n"
        << "    <Placemark>\n      <name>Track</name>\n      <LineString>\n        <tessellate>1</tessellate>\n"
           "        <coordinates>\n";
    eachPosition(packets, skipped, [&](const CQDRVGPSData &, const Position &p) {
        out << "          " << number(p.longitude, 7) << ',' << number(p.latitude, 7) << ",0\n";
    });
    out << "        </coordinates>\n      </LineString>\n    </Placemark>\n";
    // A second pass for the points: the track is never held in memory.
    packets.rewind();
    eachPosition(packets, skipped, [&](const CQDRVGPSData &f, const Position &p) {
        out << "    <Placemark>\n";
        if (auto t = isoTime(f))
            out << "      <TimeStamp><when>" << *t << "</when></TimeStamp>\n";
        out << "      <ExtendedData>\n";
        if (std::isfinite(f.speed))
            out << "        <Data name=\"speed_kmh\"><value>" << number(f.speed, 2) << "</value></Data>\n";
        if (std::isfinite(f.course))
            out << "        <Data name=\"course_deg\"><value>" << number(f.course, 1) << "</value></Data>\n";
        out << "      </ExtendedData>\n"
            << "      <Point><coordinates>" << number(p.longitude, 7) << ',' << number(p.latitude, 7)
            << ",0</coordinates></Point>\n"
            << "    </Placemark>\n";
    });
    out << "  </Document>\n</kml>\n";
}

} // namespace

int runTelemetry(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    Options o;
    std::string error;
    if (!parse(args, o, error)) {
        err << "telemetry: " << error << "\n" << kUsageText;
        return kUsage;
    }

    StreamParseFilter filter("VXStreamParseFilter");
    filter.SetMode(0);
    std::vector<unsigned char> device;
    std::string path = o.path;
    if (!o.device.empty()) {
        device.assign(VX_TAVO_DEVICE_BLOCK_SIZE, 0);
        if (VX_Tavo_Device_Open(o.device.c_str(), VX_TAVO_OPEN_MODE, device.data()) != 0) {
            err << "telemetry: " << escapeControls(o.device) << ": not a card with a TAVO partition\n";
            return kInput;
        }
        std::int32_t id = 0;
        if (!findOnCard(device.data(), o.path, path, id)) {
            VX_Tavo_Device_Close(device.data());
            err << "telemetry: " << escapeControls(o.path) << ": no such recording on the card\n";
            return kInput;
        }
        filter.SetSource(reinterpret_cast<std::intptr_t>(device.data()), id);
    } else {
        filter.SetSource(0, -1);
    }

    const HResult loaded = filter.Load(path);
    if (loaded != S_OK) {
        if (!device.empty())
            VX_Tavo_Device_Close(device.data());
        err << "telemetry: " << escapeControls(o.path) << ": not a readable recording (" << filter.loadError() << ")\n";
        return kInput;
    }

    const std::string name = o.path.substr(o.path.find_last_of('/') + 1);
    Packets packets(filter);
    std::size_t skipped = 0;
    if (o.format == "csv")
        writeCsv(packets, out);
    else if (o.format == "gpx" || o.format == "gpx10")
        writeGpx(packets, name, o.format == "gpx10", out, skipped);
    else
        writeKml(packets, name, out, skipped);
    if (!device.empty())
        VX_Tavo_Device_Close(device.data());
    out.flush();
    if (skipped > 0)
        err << "telemetry: " << escapeControls(o.path) << ": " << skipped
            << " GPS fix(es) left out: not a position (latitude beyond 90 degrees, longitude beyond 180, or no number)\n";
    if (!out) {
        err << "telemetry: the output could not be written\n";
        return kInput;
    }
    return kOk;
}

} // namespace korvante::cli
