#include "cli/telemetry.h"

#include "core/playback/sensor_records.h"
#include "core/playback/stream_parse_filter.h"
#include "tavo/tavo.h"

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
    "usage: korvante-cli telemetry [--format csv|gpx|kml] RECORDING\n"
    "       korvante-cli telemetry [--format csv|gpx|kml] --tavo DEVICE NAME\n"
    "csv: the G-sensor samples; gpx, kml: the GPS track (valid fixes only).\n";

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
            if (o.format != "csv" && o.format != "gpx" && o.format != "kml") {
                error = "--format: " + o.format + " is not csv, gpx or kml";
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

std::string number(double v, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

std::string xmlEscape(const std::string &s)
{
    std::string out;
    for (const char c : s) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default:
            // Control characters are not allowed in XML 1.0 text.
            if (static_cast<unsigned char>(c) >= 0x20 || c == '\t')
                out += c;
        }
    }
    return out;
}

void writeCsv(const CQDRVTextData &data, std::ostream &out)
{
    out << "time_ms,kind,x,y,z\n";
    data.withSamples([&](const std::list<SensorSample> &samples) {
        for (const auto &s : samples)
            out << s.timestamp << ',' << s.kind << ',' << s.x << ',' << s.y << ',' << s.z << '\n';
    });
}

std::vector<CQDRVGPSData> validFixes(const CQDRVTextData &data)
{
    std::vector<CQDRVGPSData> fixes;
    data.withFixes([&](const std::list<CQDRVGPSData> &list) {
        for (const auto &f : list)
            if (f.valid)
                fixes.push_back(f);
    });
    return fixes;
}

void writeGpx(const CQDRVTextData &data, const std::string &name, std::ostream &out)
{
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<gpx version=\"1.1\" creator=\"korvante-cli\" xmlns=\"http://www.topografix.com/GPX/1/1\"\n"
           "     xmlns:kv=\"https://korvante.invalid/gpx-extensions/1\">\n"
           "  <trk>\n"
        << "    <name>" << xmlEscape(name) << "</name>\n"
        << "    <trkseg>\n";
    for (const auto &f : validFixes(data)) {
        out << "      <trkpt lat=\"" << number(toDegrees(f.latitude), 7) << "\" lon=\""
            << number(toDegrees(f.longitude), 7) << "\">\n";
        if (auto t = isoTime(f))
            out << "        <time>" << *t << "</time>\n";
        // GPX 1.1 has no speed or course: they go into extensions, speed in
        // metres per second and course in degrees as GPX 1.0 had them.
        out << "        <extensions><kv:speed>" << number(f.speed / 3.6, 3) << "</kv:speed><kv:course>"
            << number(f.course, 1) << "</kv:course></extensions>\n"
            << "      </trkpt>\n";
    }
    out << "    </trkseg>\n  </trk>\n</gpx>\n";
}

void writeKml(const CQDRVTextData &data, const std::string &name, std::ostream &out)
{
    const auto fixes = validFixes(data);
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n"
           "  <Document>\n"
        << "    <name>" << xmlEscape(name) << "</name>\n"
        << "    <Placemark>\n      <name>Track</name>\n      <LineString>\n        <tessellate>1</tessellate>\n"
           "        <coordinates>\n";
    for (const auto &f : fixes)
        out << "          " << number(toDegrees(f.longitude), 7) << ',' << number(toDegrees(f.latitude), 7) << ",0\n";
    out << "        </coordinates>\n      </LineString>\n    </Placemark>\n";
    for (const auto &f : fixes) {
        out << "    <Placemark>\n";
        if (auto t = isoTime(f))
            out << "      <TimeStamp><when>" << *t << "</when></TimeStamp>\n";
        out << "      <ExtendedData>\n"
            << "        <Data name=\"speed_kmh\"><value>" << number(f.speed, 2) << "</value></Data>\n"
            << "        <Data name=\"course_deg\"><value>" << number(f.course, 1) << "</value></Data>\n"
            << "      </ExtendedData>\n"
            << "      <Point><coordinates>" << number(toDegrees(f.longitude), 7) << ','
            << number(toDegrees(f.latitude), 7) << ",0</coordinates></Point>\n"
            << "    </Placemark>\n";
    }
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
            err << "telemetry: " << o.device << ": not a card with a TAVO partition\n";
            return kInput;
        }
        std::int32_t id = 0;
        if (!findOnCard(device.data(), o.path, path, id)) {
            VX_Tavo_Device_Close(device.data());
            err << "telemetry: " << o.path << ": no such recording on the card\n";
            return kInput;
        }
        filter.SetSource(reinterpret_cast<std::intptr_t>(device.data()), id);
    } else {
        filter.SetSource(0, -1);
    }

    const HResult loaded = filter.Load(path);
    CQDRVTextData data;
    if (loaded == S_OK) {
        for (;;) {
            std::uint8_t buffer[1024] = {};
            std::int32_t length = sizeof buffer;
            std::int32_t time = 0;
            if (filter.ReadPacket(buffer, &length, &time) != S_OK)
                break;
            DispatchPacket(time, data, buffer, sizeof buffer);
        }
    }
    if (!device.empty())
        VX_Tavo_Device_Close(device.data());
    if (loaded != S_OK) {
        err << "telemetry: " << o.path << ": not a readable recording (" << filter.loadError() << ")\n";
        return kInput;
    }

    const std::string name = o.path.substr(o.path.find_last_of('/') + 1);
    if (o.format == "csv")
        writeCsv(data, out);
    else if (o.format == "gpx")
        writeGpx(data, name, out);
    else
        writeKml(data, name, out);
    out.flush();
    return out ? kOk : kInput;
}

} // namespace korvante::cli
