#include "playback_fixture.h"

#include "cli/telemetry.h"
#include "support/log_capture.h"
#include "tavo/tavo.h"

#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>

namespace korvante {
namespace {

using testing::sampleCard;

struct ToolRun {
    int code;
    std::string out;
    std::string err;
};

ToolRun telemetry(const std::vector<std::string> &args)
{
    std::ostringstream out, err;
    const int code = cli::runTelemetry(args, out, err);
    return {code, out.str(), err.str()};
}

std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    return result;
}

// The sentences of a recording, straight from its chunks.
std::vector<std::string> sentences(const std::string &path)
{
    std::vector<std::string> result;
    for (const auto &c : testing::movieChunks(path))
        if (c.id.compare(2, 2, "tx") == 0 && c.data.size() > 5 && c.data[4] == 'G')
            result.emplace_back(std::string(reinterpret_cast<const char *>(c.data.data() + 4), c.data.size() - 4).c_str());
    return result;
}

std::vector<std::string> split(const std::string &s, char sep)
{
    std::vector<std::string> parts;
    std::stringstream in(s);
    for (std::string p; std::getline(in, p, sep);)
        parts.push_back(p);
    return parts;
}

double nmeaToDegrees(const std::string &text)
{
    const double v = std::stod(text);
    const int degrees = static_cast<int>(v / 100);
    return degrees + (v - degrees * 100) / 60.0;
}

TEST(Telemetry, CsvListsEveryGSensorSample)
{
    testing::LogCapture log;
    const auto &rec = sampleCard().finished.front();
    const ToolRun run = telemetry({rec.front});
    ASSERT_EQ(run.code, 0) << run.err;
    const auto rows = lines(run.out);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0], "time_ms,kind,x,y,z");
    size_t sensorChunks = 0;
    for (const auto &c : testing::movieChunks(rec.front))
        if (c.id.compare(2, 2, "tx") == 0 && c.data.size() > 4 && (c.data[4] == 'M' || c.data[4] == 'S'))
            ++sensorChunks;
    EXPECT_EQ(rows.size(), sensorChunks + 1);
    long last = -1;
    for (size_t i = 1; i < rows.size(); ++i) {
        const auto f = split(rows[i], ',');
        ASSERT_EQ(f.size(), 5u) << rows[i];
        EXPECT_GE(std::stol(f[0]), last);
        last = std::stol(f[0]);
    }
}

TEST(Telemetry, GpxIsAWellFormedGpx11TrackOfTheFixes)
{
    testing::LogCapture log;
    const auto &rec = sampleCard().finished[1];
    const ToolRun run = telemetry({"--format", "gpx", rec.front});
    ASSERT_EQ(run.code, 0) << run.err;
    const auto expected = sentences(rec.front);
    ASSERT_GE(expected.size(), 3u);

    QXmlStreamReader xml(QByteArray::fromStdString(run.out));
    int points = 0;
    bool sawGpx = false, sawTrkseg = false;
    QString path;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QString name = xml.name().toString();
        if (name == QStringLiteral("gpx")) {
            sawGpx = true;
            EXPECT_EQ(xml.namespaceUri().toString(), QStringLiteral("http://www.topografix.com/GPX/1/1"));
            EXPECT_EQ(xml.attributes().value(QStringLiteral("version")).toString(), QStringLiteral("1.1"));
            EXPECT_FALSE(xml.attributes().value(QStringLiteral("creator")).isEmpty());
        } else if (name == QStringLiteral("trkseg")) {
            sawTrkseg = true;
        } else if (name == QStringLiteral("trkpt")) {
            ASSERT_LT(static_cast<size_t>(points), expected.size());
            const auto f = split(expected[static_cast<size_t>(points)], ',');
            const double lat = xml.attributes().value(QStringLiteral("lat")).toDouble();
            const double lon = xml.attributes().value(QStringLiteral("lon")).toDouble();
            EXPECT_NEAR(lat, nmeaToDegrees(f[3]), 1e-6);
            EXPECT_NEAR(lon, nmeaToDegrees(f[5]), 1e-6);
            // time first, then extensions, as the schema orders a point's children
            ASSERT_TRUE(xml.readNextStartElement());
            EXPECT_EQ(xml.name().toString(), QStringLiteral("time"));
            const std::string time = xml.readElementText().toStdString();
            const std::string want = "20" + f[9].substr(4, 2) + "-" + f[9].substr(2, 2) + "-" + f[9].substr(0, 2) + "T"
                + f[1].substr(0, 2) + ":" + f[1].substr(2, 2) + ":" + f[1].substr(4, 2) + "Z";
            EXPECT_EQ(time, want);
            // Speed (m/s) and course in Garmin's track-point extension, in
            // the order its schema gives them.
            const QString tpx = QStringLiteral("http://www.garmin.com/xmlschemas/TrackPointExtension/v2");
            ASSERT_TRUE(xml.readNextStartElement());
            EXPECT_EQ(xml.name().toString(), QStringLiteral("extensions"));
            ASSERT_TRUE(xml.readNextStartElement());
            EXPECT_EQ(xml.name().toString(), QStringLiteral("TrackPointExtension"));
            EXPECT_EQ(xml.namespaceUri().toString(), tpx);
            ASSERT_TRUE(xml.readNextStartElement());
            EXPECT_EQ(xml.qualifiedName().toString(), QStringLiteral("gpxtpx:speed"));
            EXPECT_EQ(xml.namespaceUri().toString(), tpx);
            EXPECT_NEAR(xml.readElementText().toDouble(), std::stod(f[7]) * 1.852 / 3.6, 1e-3);
            ASSERT_TRUE(xml.readNextStartElement());
            EXPECT_EQ(xml.qualifiedName().toString(), QStringLiteral("gpxtpx:course"));
            EXPECT_NEAR(xml.readElementText().toDouble(), std::stod(f[8]), 0.06);
            ++points;
        }
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_TRUE(sawGpx);
    EXPECT_TRUE(sawTrkseg);
    EXPECT_EQ(static_cast<size_t>(points), expected.size());
}

// gpsbabel, as GPS editors and overlay tools use it, reads the file: every
// point with its time, and the track-point extension with the speeds and
// courses carried into what it writes.
TEST(Telemetry, GpxIsReadByGpsbabelWithItsSpeeds)
{
    testing::LogCapture log;
    const auto &rec = sampleCard().finished[1];
    const ToolRun run = telemetry({"--format", "gpx", rec.front});
    ASSERT_EQ(run.code, 0) << run.err;
    ASSERT_EQ(std::system("command -v gpsbabel >/dev/null 2>&1"), 0) << "gpsbabel is missing (scripts/setup installs it)";
    const QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string gpx = dir.filePath(QStringLiteral("track.gpx")).toStdString(),
                      csv = dir.filePath(QStringLiteral("track.csv")).toStdString(),
                      back = dir.filePath(QStringLiteral("back.gpx")).toStdString();
    {
        std::ofstream file(gpx, std::ios::binary);
        file << run.out;
    }
    const std::string read = "gpsbabel -t -i gpx -f '" + gpx + "' -o unicsv -F '" + csv + "' && gpsbabel -t -i gpx -f '"
                             + gpx + "' -o gpx -F '" + back + "'";
    ASSERT_EQ(std::system(read.c_str()), 0) << read;

    const auto expected = sentences(rec.front);
    std::ifstream csvIn(csv);
    std::vector<std::string> rows;
    for (std::string line; std::getline(csvIn, line);)
        rows.push_back(line.substr(0, line.find('\r'))); // gpsbabel ends its lines with CR LF
    ASSERT_EQ(rows.size(), expected.size() + 1);
    EXPECT_EQ(rows[0], "No,Latitude,Longitude,Date,Time");
    for (size_t i = 0; i < expected.size(); ++i) {
        const auto f = split(expected[i], ',');
        const auto c = split(rows[i + 1], ',');
        ASSERT_EQ(c.size(), 5u) << rows[i + 1];
        EXPECT_NEAR(std::stod(c[1]), nmeaToDegrees(f[3]), 1e-6);
        EXPECT_NEAR(std::stod(c[2]), nmeaToDegrees(f[5]), 1e-6);
        EXPECT_EQ(c[3], "20" + f[9].substr(4, 2) + "/" + f[9].substr(2, 2) + "/" + f[9].substr(0, 2));
        EXPECT_EQ(c[4], f[1].substr(0, 2) + ":" + f[1].substr(2, 2) + ":" + f[1].substr(4, 2));
    }

    std::ifstream backIn(back, std::ios::binary);
    QXmlStreamReader xml(QByteArray::fromStdString(
        std::string(std::istreambuf_iterator<char>(backIn), std::istreambuf_iterator<char>())));
    size_t speeds = 0, courses = 0;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement
            || xml.namespaceUri() != QStringLiteral("http://www.garmin.com/xmlschemas/TrackPointExtension/v2"))
            continue;
        if (xml.name() == QStringLiteral("speed")) {
            ASSERT_LT(speeds, expected.size());
            const auto f = split(expected[speeds++], ',');
            EXPECT_NEAR(xml.readElementText().toDouble(), std::stod(f[7]) * 1.852 / 3.6, 1e-3);
        } else if (xml.name() == QStringLiteral("course")) {
            ASSERT_LT(courses, expected.size());
            const auto f = split(expected[courses++], ',');
            EXPECT_NEAR(xml.readElementText().toDouble(), std::stod(f[8]), 0.06);
        }
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_EQ(speeds, expected.size());
    EXPECT_EQ(courses, expected.size());
}

// The GPX 1.0 track gives gpsbabel the speeds and courses themselves: they
// come out in its CSV as columns.
TEST(Telemetry, Gpx10SpeedsAndCoursesAreReadByGpsbabel)
{
    testing::LogCapture log;
    const auto &rec = sampleCard().finished[1];
    const ToolRun run = telemetry({"--format", "gpx10", rec.front});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_NE(run.out.find("<gpx version=\"1.0\""), std::string::npos);
    const QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string gpx = dir.filePath(QStringLiteral("track.gpx")).toStdString(),
                      csv = dir.filePath(QStringLiteral("track.csv")).toStdString();
    std::ofstream(gpx, std::ios::binary) << run.out;
    const std::string read = "gpsbabel -t -i gpx -f '" + gpx + "' -o unicsv -F '" + csv + "'";
    ASSERT_EQ(std::system(read.c_str()), 0) << read;

    const auto expected = sentences(rec.front);
    std::ifstream csvIn(csv);
    std::vector<std::string> rows;
    for (std::string line; std::getline(csvIn, line);)
        rows.push_back(line.substr(0, line.find('\r')));
    ASSERT_EQ(rows.size(), expected.size() + 1);
    EXPECT_EQ(rows[0], "No,Latitude,Longitude,Speed,Course,Date,Time");
    for (size_t i = 0; i < expected.size(); ++i) {
        const auto f = split(expected[i], ',');
        const auto c = split(rows[i + 1], ',');
        ASSERT_EQ(c.size(), 7u) << rows[i + 1];
        EXPECT_NEAR(std::stod(c[1]), nmeaToDegrees(f[3]), 1e-6);
        EXPECT_NEAR(std::stod(c[3]), std::stod(f[7]) * 1.852 / 3.6, 0.006); // gpsbabel writes two decimals
        EXPECT_NEAR(std::stod(c[4]), std::stod(f[8]), 0.06);
        EXPECT_EQ(c[6], f[1].substr(0, 2) + ":" + f[1].substr(2, 2) + ":" + f[1].substr(4, 2));
    }
}

TEST(Telemetry, KmlHasTheTrackAndOnePlacemarkPerFix)
{
    testing::LogCapture log;
    const auto &rec = sampleCard().finished[2];
    const ToolRun run = telemetry({"--format", "kml", rec.front});
    ASSERT_EQ(run.code, 0) << run.err;
    const auto expected = sentences(rec.front);
    QXmlStreamReader xml(QByteArray::fromStdString(run.out));
    int whens = 0, points = 0, lineStrings = 0;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QStringLiteral("kml")) {
            EXPECT_EQ(xml.namespaceUri().toString(), QStringLiteral("http://www.opengis.net/kml/2.2"));
        }
        if (xml.name() == QStringLiteral("when"))
            ++whens;
        if (xml.name() == QStringLiteral("Point"))
            ++points;
        if (xml.name() == QStringLiteral("LineString"))
            ++lineStrings;
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_EQ(lineStrings, 1);
    EXPECT_EQ(static_cast<size_t>(points), expected.size());
    EXPECT_EQ(static_cast<size_t>(whens), expected.size());
}

TEST(Telemetry, HostileNamesAndFixesGiveOnlyValidXmlAndRealPositions)
{
    testing::LogCapture log;
    // A copy of a recording whose name is not UTF-8 (and holds U+FFFE and a
    // surrogate), with its GPS sentences rewritten in place: positions beyond
    // the poles or the date line, no numbers, an infinite speed.
    const auto &rec = sampleCard().finished[1];
    const std::string path = testing::tempFolder() + "/bad\xff\xef\xbf\xbe\xed\xa0\x80<&.avi";
    std::vector<std::uint8_t> bytes = testing::readFile(rec.front);
    const char *const bad[] = {
        "GPRMC,101010,A,9130.0,N,12700.0,E,10.0,90.0,050312",  // latitude 91.5
        "GPRMC,101011,A,3730.0,N,nan,E,10.0,90.0,050312",      // longitude no number
        "GPRMC,101012,A,3730.0,N,100040.2,W,10.0,90.0,050312", // longitude -1000.67
        "GPRMC,101013,A,3730.0,N,12700.0,E,inf,nan,050312",    // a position; speed and course no numbers
    };
    size_t n = 0, good = 0;
    for (const auto &c : testing::movieChunks(rec.front)) {
        if (c.id.compare(2, 2, "tx") != 0 || c.data.size() < 4 + 52 || c.data[4] != 'G')
            continue;
        const char *sentence = bad[n++ % 4];
        std::uint8_t *at = bytes.data() + c.offset + 8 + 4;
        std::memset(at, 0, c.data.size() - 4);
        std::memcpy(at, sentence, std::strlen(sentence));
        good += sentence == bad[3];
    }
    ASSERT_GE(n, 4u);
    testing::writeFile(path, bytes);

    for (const std::string format : {"gpx", "kml"}) {
        const ToolRun run = telemetry({"--format", format, path});
        ASSERT_EQ(run.code, 0) << run.err;
        QXmlStreamReader xml(QByteArray::fromStdString(run.out));
        size_t points = 0;
        while (!xml.atEnd())
            if (xml.readNext() == QXmlStreamReader::StartElement
                && xml.name() == (format == "gpx" ? QStringLiteral("trkpt") : QStringLiteral("Point")))
                ++points;
        EXPECT_FALSE(xml.hasError()) << format << ": " << xml.errorString().toStdString();
        EXPECT_EQ(points, good) << format;
        EXPECT_EQ(run.out.find("nan"), std::string::npos) << format;
        EXPECT_EQ(run.out.find("inf"), std::string::npos) << format;
        EXPECT_NE(run.out.find("bad\xef\xbf\xbd\xef\xbf\xbd"), std::string::npos) << format; // U+FFFD
        EXPECT_NE(run.err.find(std::to_string(n - good) + " GPS fix(es) left out"), std::string::npos) << run.err;
    }
}

TEST(Telemetry, CardRecordingAndBadInput)
{
    testing::LogCapture log;
    const std::string dir = testing::tempFolder();
    const std::string image = dir + "/card.img";
    ASSERT_TRUE(testing::runMkcard({"--image", image, "--per-kind", "1", "--seconds", "3", "--size", "160x120",
                                    "--fps", "10", "--audio", "none", "--channels", "1", "--seed", "9"}));
    // The card's first NOR recording, by its bare name and by its card path.
    std::vector<unsigned char> device(VX_TAVO_DEVICE_BLOCK_SIZE, 0);
    ASSERT_EQ(VX_Tavo_Device_Open(image.c_str(), VX_TAVO_OPEN_MODE, device.data()), 0);
    const std::string name = testing::firstCardRecord(device.data(), "NOR").name;
    ASSERT_FALSE(name.empty());
    VX_Tavo_Device_Close(device.data());
    for (const std::string &n : {name, "/NOR/" + name}) {
        const ToolRun card = telemetry({"--tavo", image, n});
        ASSERT_EQ(card.code, 0) << card.err;
        EXPECT_GT(lines(card.out).size(), 20u); // ten samples a second for 3 s
        const ToolRun track = telemetry({"--format", "kml", "--tavo", image, n});
        ASSERT_EQ(track.code, 0) << track.err;
        EXPECT_NE(track.out.find("<Point>"), std::string::npos);
    }

    const ToolRun listed = telemetry({"--format", "gpx", "--tavo", image, "/NOR/nothing.tavo"});
    EXPECT_EQ(listed.code, 1);
    EXPECT_NE(listed.err.find("no such recording"), std::string::npos);

    EXPECT_EQ(telemetry({}).code, 2);
    EXPECT_EQ(telemetry({"--format", "xml", "x.avi"}).code, 2);
    EXPECT_EQ(telemetry({"a.avi", "b.avi"}).code, 2);
    EXPECT_EQ(telemetry({"--tavo", image}).code, 2);
    EXPECT_EQ(telemetry({"--bogus", "a.avi"}).code, 2);
    EXPECT_EQ(telemetry({dir + "/missing.avi"}).code, 1);
    EXPECT_EQ(telemetry({"--tavo", dir + "/missing.img", "x"}).code, 1);
}

} // namespace
} // namespace korvante
