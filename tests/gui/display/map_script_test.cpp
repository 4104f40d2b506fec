// The map panel's browser-free logic: script-call parsing and the JavaScript
// made from it, the NMEA conversion, the fix step, the track text and the
// map settings.

#include "gui/display/map_script.h"

#include <gtest/gtest.h>

#include <QUrlQuery>

#include <clocale>
#include <vector>

using namespace korvante;

namespace {

CQDRVGPSData fix(std::int32_t timestamp, double latitude, double longitude, int valid = 1)
{
    CQDRVGPSData f;
    f.timestamp = timestamp;
    f.latitude = latitude;
    f.longitude = longitude;
    f.valid = valid;
    f.speed = timestamp / 100.0; // tells fixes apart when copied whole
    return f;
}

void setFixes(CQDRVTextData &data, const std::vector<CQDRVGPSData> &fixes)
{
    data.clearFixes();
    for (const auto &f : fixes)
        data.appendFix(f);
}

} // namespace

TEST(MapScript, ParsesCallsAsTheBrowserCallDid)
{
    struct Case {
        const char *text;
        bool ok;
        const char *function;
        std::vector<const char *> args;
    };
    const std::vector<Case> cases = {
        {"javascript:DrawCurrent('127.000000', '37.508333')", true, "DrawCurrent", {"127.000000", "37.508333"}},
        {"DrawCurrent('127.000000', '37.508333')", true, "DrawCurrent", {"127.000000", "37.508333"}},
        {"  DrawCurrent  (\"1\";\t2)", true, "DrawCurrent", {"1", "2"}},
        {"prefix javascript:F(a,,b)", true, "F", {"a", "b"}},
        {"javascript:javascript:F(1)", false, "", {}}, // the name holds a ':' after the first prefix
        {"F()", true, "F", {}},
        {"F(", true, "F", {}},
        {"F(a b)c) d", true, "F", {"a", "b", "c", "d"}},
        {"F(it's)", true, "F", {"it", "s"}},
        {"F(a\\b)", true, "F", {"a\\b"}},
        {"", false, "", {}},
        {"DrawCurrent", false, "", {}},              // no parenthesis
        {"(1, 2)", false, "", {}},                    // no name
        {"(((,,;;'\"\t)))", false, "", {}},           // only separators
        {"alert(1);x(2)", true, "alert", {"1", "x", "2"}},
        {"a.b(1)", false, "", {}},                    // not a plain name
        {"f-g(1)", false, "", {}},
        {"1f(1)", false, "", {}},
        {"window['x'](1)", false, "", {}},
    };
    for (const Case &c : cases) {
        const auto call = parseScriptCall(QString::fromUtf8(c.text));
        ASSERT_EQ(call.has_value(), c.ok) << c.text;
        if (!call)
            continue;
        EXPECT_EQ(call->function.toStdString(), c.function) << c.text;
        QStringList expected;
        for (const char *a : c.args)
            expected << QString::fromUtf8(a);
        EXPECT_EQ(call->arguments, expected) << c.text;
    }
}

TEST(MapScript, LongArgumentListsParseWhole)
{
    QString text = QStringLiteral("DrawTrack(");
    for (int i = 0; i < 200000; ++i)
        text += QStringLiteral("'%1', ").arg(i);
    text += QLatin1Char(')');
    const auto call = parseScriptCall(text);
    ASSERT_TRUE(call.has_value());
    ASSERT_EQ(call->arguments.size(), 200000);
    EXPECT_EQ(call->arguments.back(), QStringLiteral("199999"));
}

TEST(MapScript, JavaScriptQuotesEveryArgument)
{
    ScriptCall call{QStringLiteral("F"), {QStringLiteral("a\\b"), QStringLiteral("x\ny"), QString(QChar(0x2028))}};
    const QString js = scriptCallToJavaScript(call);
    EXPECT_TRUE(js.contains(QStringLiteral("f('a\\\\b','x\\u000ay','\\u2028')"))) << js.toStdString();
    EXPECT_TRUE(js.contains(QStringLiteral("window['F']"))) << js.toStdString();
    EXPECT_TRUE(scriptCallToJavaScript({QStringLiteral("G"), {}}).contains(QStringLiteral("f()")));
}

TEST(MapScript, NmeaToDecimalDegrees)
{
    const std::vector<std::pair<double, const char *>> cases = {
        {3730.5, "37.508333"},    {-12700.0, "-127.000000"}, {12700.0, "127.000000"},
        {-3730.5, "-37.508333"},  {0.0, "0.000000"},         {5959.99999, "60.000000"},
        {30.0, "0.500000"},       {-30.0, "-0.500000"},      {18000.0, "180.000000"},
    };
    for (const auto &[stored, text] : cases)
        EXPECT_EQ(formatDegrees(nmeaToDegrees(stored)).toStdString(), text) << stored;
}

TEST(MapScript, NumbersUseAPointUnderADecimalCommaLocale)
{
    const char *previous = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = previous ? previous : "C";
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "fr_FR.UTF-8"))
        GTEST_SKIP() << "no decimal-comma locale installed";
    const QString text = drawCurrentScript(fix(0, 3730.5, 12700.0));
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_EQ(text, QStringLiteral("javascript:DrawCurrent('127.000000', '37.508333')"));
}

TEST(MapScript, FixStepPicksTheFirstFixAfterThePosition)
{
    CQDRVTextData data;
    setFixes(data, {fix(1000, 3730.5, 12700.0), fix(2000, 3731.0, 12701.0), fix(3000, 3732.0, 12702.0, 0),
                    fix(4000, 3733.0, 12703.0)});
    CQDRVGPSData current;
    std::int32_t valid = 0;

    struct Step {
        std::uint32_t position;
        bool moves;          // a script comes back
        std::int32_t shown;  // timestamp of currentFix afterwards
    };
    const std::vector<Step> steps = {
        {0, true, 1000},     // the first fix after 0
        {999, true, 1000},
        {1000, true, 2000},  // "after" is strictly after
        {2500, false, 2000}, // the next fix (3000) is invalid: nothing changes
        {3000, true, 4000},
        {4000, false, 4000}, // at the last fix: stays
        {900000, false, 4000},
        {0xFFFFFFFFu, false, 4000},
    };
    for (const Step &s : steps) {
        const auto script = runFixStep(data, current, valid, s.position);
        EXPECT_EQ(script.has_value(), s.moves) << s.position;
        EXPECT_EQ(valid, 1) << s.position;
        EXPECT_EQ(current.timestamp, s.shown) << s.position;
        EXPECT_DOUBLE_EQ(current.speed, s.shown / 100.0) << s.position; // the whole fix was copied
    }
    const auto first = runFixStep(data, current, valid, 0);
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(*first, QStringLiteral("javascript:DrawCurrent('127.000000', '37.508333')"));

    // Negative time stamps compare as large unsigned values: never before a position.
    setFixes(data, {fix(-5, 100.0, 100.0)});
    EXPECT_TRUE(runFixStep(data, current, valid, 10).has_value());
}

TEST(MapScript, FixStepOnAnEmptyListClearsTheCurrentFix)
{
    CQDRVTextData data;
    CQDRVGPSData current = fix(7, 1.0, 2.0);
    std::int32_t valid = 1;
    EXPECT_FALSE(runFixStep(data, current, valid, 0).has_value());
    EXPECT_EQ(valid, 0);
    EXPECT_EQ(current.timestamp, 0);
    EXPECT_EQ(current.latitude, 0.0);

    // Without a valid current fix the list being empty changes nothing.
    current = fix(9, 1.0, 2.0);
    EXPECT_FALSE(runFixStep(data, current, valid, 0).has_value());
    EXPECT_EQ(current.timestamp, 9);

    // Only invalid fixes: nothing is ever shown.
    setFixes(data, {fix(100, 1.0, 1.0, 0), fix(200, 2.0, 2.0, 0)});
    valid = 0;
    EXPECT_FALSE(runFixStep(data, current, valid, 0).has_value());
    EXPECT_EQ(valid, 0);
}

TEST(MapScript, TrackHoldsTheValidFixesInOrder)
{
    CQDRVTextData data;
    EXPECT_EQ(drawTrackScript(data), QStringLiteral("javascript:DrawTrack()"));
    setFixes(data, {fix(0, 3730.5, 12700.0), fix(1, 0, 0, 0), fix(2, -3730.5, -12700.0)});
    EXPECT_EQ(drawTrackScript(data),
              QStringLiteral("javascript:DrawTrack('127.000000', '37.508333', '-127.000000', '-37.508333')"));

    // A long track is thinned to the limit, its ends kept.
    std::vector<CQDRVGPSData> many;
    for (int i = 0; i < kMaxTrackPoints * 3 + 7; ++i)
        many.push_back(fix(i, 3700.0 + i * 0.001, 12700.0));
    setFixes(data, many);
    const auto call = parseScriptCall(drawTrackScript(data));
    ASSERT_TRUE(call.has_value());
    ASSERT_EQ(call->arguments.size(), 2 * kMaxTrackPoints);
    EXPECT_EQ(call->arguments.at(1), formatDegrees(nmeaToDegrees(many.front().latitude)));
    EXPECT_EQ(call->arguments.last(), formatDegrees(nmeaToDegrees(many.back().latitude)));
}

TEST(MapScript, TrackSignatureSeesAnotherRecording)
{
    CQDRVTextData data;
    const TrackSignature empty = trackSignature(data);
    setFixes(data, {fix(0, 3730.5, 12700.0), fix(1000, 3731.0, 12700.0)});
    const TrackSignature first = trackSignature(data);
    EXPECT_NE(first, empty);
    EXPECT_EQ(trackSignature(data), first);
    data.appendFix(fix(2000, 3732.0, 12700.0));
    EXPECT_NE(trackSignature(data), first);
    // Same length, other place.
    setFixes(data, {fix(0, 3530.5, 12700.0), fix(1000, 3531.0, 12700.0)});
    EXPECT_NE(trackSignature(data), first);
}

TEST(MapScript, SettingsChooseTilesAndTheConnectivityTarget)
{
    struct Case {
        const char *tiles;
        const char *probe;
        const char *tileUrl;
        bool probes;
        const char *host;
        quint16 port;
        bool problem;
    };
    const std::vector<Case> cases = {
        {"", "", kDefaultTileUrl, true, "tile.openstreetmap.org", 443, false},
        {"", "127.0.0.1:9", kDefaultTileUrl, true, "127.0.0.1", 9, false},
        {"", "off", kDefaultTileUrl, false, "", 0, false},
        {"", " OFF ", kDefaultTileUrl, false, "", 0, false},
        {"http://127.0.0.1:8123/{z}/{x}/{y}.png", "", "http://127.0.0.1:8123/{z}/{x}/{y}.png", true, "127.0.0.1", 8123, false},
        {"http://localhost/{z}/{x}/{y}.png", "", "http://localhost/{z}/{x}/{y}.png", true, "localhost", 80, false},
        {"", "[::1]:8080", kDefaultTileUrl, true, "::1", 8080, false},
        {"", "localhost", kDefaultTileUrl, true, "", 0, true},     // no port: the check fails
        {"", "host:0", kDefaultTileUrl, true, "", 0, true},
        {"", "host:70000", kDefaultTileUrl, true, "", 0, true},
        {"", "::1:80", kDefaultTileUrl, true, "", 0, true},        // v6 needs brackets
        {"", ":80", kDefaultTileUrl, true, "", 0, true},
        {"file:///etc/passwd", "127.0.0.1:1", kDefaultTileUrl, true, "127.0.0.1", 1, true},
    };
    for (const Case &c : cases) {
        const MapSettings s = mapSettings(QString::fromUtf8(c.tiles), QString::fromUtf8(c.probe));
        const std::string label = std::string(c.tiles) + " | " + c.probe;
        EXPECT_EQ(s.tileUrl.toStdString(), c.tileUrl) << label;
        EXPECT_EQ(s.probe, c.probes) << label;
        EXPECT_EQ(s.probeHost.toStdString(), c.host) << label;
        EXPECT_EQ(s.probePort, c.port) << label;
        EXPECT_EQ(!s.problem.isEmpty(), c.problem) << label;
    }
}

TEST(MapScript, PageAddressCarriesModeAndTiles)
{
    const QString tiles = QStringLiteral("http://127.0.0.1:1/{z}/{x}/{y}.png?key=a&b=c d");
    const QUrl online = mapPageUrl(QStringLiteral("/opt/k/mapView.htm"), true, tiles);
    EXPECT_EQ(online.toLocalFile(), QStringLiteral("/opt/k/mapView.htm"));
    const QUrlQuery query(online);
    EXPECT_EQ(query.queryItemValue(QStringLiteral("mode")), QStringLiteral("online"));
    EXPECT_EQ(query.queryItemValue(QStringLiteral("tiles"), QUrl::FullyDecoded), tiles);
    EXPECT_EQ(query.queryItems().size(), 2);

    const QUrl offline = mapPageUrl(QStringLiteral("/opt/k/mapView.htm"), false, tiles);
    EXPECT_EQ(offline.query(), QStringLiteral("mode=offline"));
}
