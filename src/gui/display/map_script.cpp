#include "map_script.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace korvante {

namespace {

bool isSeparator(QChar c)
{
    switch (c.unicode()) {
    case ' ':
    case ',':
    case '\'':
    case '"':
    case '\t':
    case '(':
    case ')':
    case ';':
        return true;
    default:
        return false;
    }
}

bool isIdentifier(const QString &name)
{
    if (name.isEmpty())
        return false;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name.at(i).unicode();
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '$';
        const bool digit = c >= '0' && c <= '9';
        if (!letter && !(digit && i > 0))
            return false;
    }
    return true;
}

// A JavaScript string literal in single quotes that means exactly `s`.
QString quoted(const QString &s)
{
    QString out;
    out.reserve(s.size() + 2);
    out += QLatin1Char('\'');
    for (const QChar c : s) {
        const char16_t u = c.unicode();
        if (u == '\\' || u == '\'') {
            out += QLatin1Char('\\');
            out += c;
        } else if (u < 0x20 || u == 0x2028 || u == 0x2029 || u == 0x7f) {
            out += QStringLiteral("\\u%1").arg(static_cast<unsigned>(u), 4, 16, QLatin1Char('0'));
        } else {
            out += c;
        }
    }
    out += QLatin1Char('\'');
    return out;
}

// The indexes of the points a track of n points is drawn with: every point up
// to kMaxTrackPoints, else evenly thinned keeping the first and the last.
std::vector<std::size_t> keptPoints(std::size_t n)
{
    const std::size_t keep = std::min<std::size_t>(n, kMaxTrackPoints);
    std::vector<std::size_t> out;
    out.reserve(keep);
    for (std::size_t k = 0; k < keep; ++k)
        out.push_back(keep < 2 ? k : k * (n - 1) / (keep - 1));
    return out;
}

QString trackCall(const std::vector<std::pair<double, double>> &lonLat)
{
    QString text = QStringLiteral("javascript:DrawTrack(");
    for (std::size_t k = 0; k < lonLat.size(); ++k) {
        if (k > 0)
            text += QStringLiteral(", ");
        text += QLatin1Char('\'') + formatDegrees(lonLat[k].first) + QStringLiteral("', '") +
                formatDegrees(lonLat[k].second) + QLatin1Char('\'');
    }
    text += QLatin1Char(')');
    return text;
}

std::optional<std::pair<QString, quint16>> parseHostPort(const QString &text)
{
    QString host;
    QString port;
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 0 || text.mid(close + 1, 1) != QLatin1String(":"))
            return std::nullopt;
        host = text.mid(1, close - 1);
        port = text.mid(close + 2);
    } else {
        const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
        if (colon <= 0 || text.indexOf(QLatin1Char(':')) != colon)
            return std::nullopt;
        host = text.left(colon);
        port = text.mid(colon + 1);
    }
    bool ok = false;
    const uint number = port.toUInt(&ok);
    if (host.isEmpty() || !ok || number == 0 || number > 65535)
        return std::nullopt;
    return std::make_pair(host, static_cast<quint16>(number));
}

} // namespace

std::optional<ScriptCall> parseScriptCall(const QString &text)
{
    if (text.isEmpty())
        return std::nullopt;
    QString body = text;
    const QString prefix = QStringLiteral("javascript:");
    if (const qsizetype at = body.indexOf(prefix); at >= 0)
        body = body.mid(at + prefix.size());
    const qsizetype open = body.indexOf(QLatin1Char('('));
    if (open < 0)
        return std::nullopt;
    ScriptCall call;
    call.function = body.left(open).trimmed();
    if (!isIdentifier(call.function))
        return std::nullopt;
    qsizetype start = -1;
    for (qsizetype i = open + 1; i <= body.size(); ++i) {
        const bool end = i == body.size() || isSeparator(body.at(i));
        if (end && start >= 0) {
            call.arguments.append(body.mid(start, i - start));
            start = -1;
        } else if (!end && start < 0) {
            start = i;
        }
    }
    return call;
}

QString scriptCallToJavaScript(const ScriptCall &call)
{
    QString args;
    for (qsizetype i = 0; i < call.arguments.size(); ++i) {
        if (i > 0)
            args += QLatin1Char(',');
        args += quoted(call.arguments.at(i));
    }
    // The name was checked to be an identifier, so it can be quoted as is.
    return QStringLiteral("(function(){var f=window['") + call.function +
           QStringLiteral("'];if(typeof f!=='function')return '';try{var r=f(") + args +
           QStringLiteral(");return (r===undefined||r===null)?'':String(r);}catch(e){return '';}})()");
}

double nmeaToDegrees(double stored)
{
    const double v = stored * 0.01;
    const double d = std::trunc(v);
    return d + (v - d) * 100.0 / 60.0;
}

QString formatDegrees(double degrees)
{
    return QString::number(degrees, 'f', 6);
}

QString drawCurrentScript(const CQDRVGPSData &fix)
{
    return QStringLiteral("javascript:DrawCurrent('") + formatDegrees(nmeaToDegrees(fix.longitude)) +
           QStringLiteral("', '") + formatDegrees(nmeaToDegrees(fix.latitude)) + QStringLiteral("')");
}

std::optional<CQDRVGPSData> fixAt(const CQDRVTextData &sensorData, std::uint32_t position)
{
    std::optional<CQDRVGPSData> next;
    sensorData.withFixes([&](const std::list<CQDRVGPSData> &fixes) {
        for (const CQDRVGPSData &fix : fixes) {
            if (static_cast<std::uint32_t>(fix.timestamp) > position) {
                next = fix;
                break;
            }
        }
    });
    if (!next || next->valid == 0)
        return std::nullopt;
    return next;
}

std::optional<QString> runFixStep(const CQDRVTextData &sensorData, CQDRVGPSData &currentFix,
                                  std::int32_t &currentFixValid, std::uint32_t position)
{
    bool empty = false;
    sensorData.withFixes([&](const std::list<CQDRVGPSData> &fixes) { empty = fixes.empty(); });
    if (empty) {
        if (currentFixValid) {
            currentFixValid = 0;
            currentFix = CQDRVGPSData();
        }
        return std::nullopt;
    }
    const std::optional<CQDRVGPSData> next = fixAt(sensorData, position);
    if (!next)
        return std::nullopt;
    currentFixValid = 1;
    currentFix = *next;
    return drawCurrentScript(*next);
}

TrackSignature trackSignature(const CQDRVTextData &sensorData)
{
    TrackSignature s;
    sensorData.withFixes([&](const std::list<CQDRVGPSData> &fixes) {
        s.count = fixes.size();
        if (fixes.empty())
            return;
        s.firstLatitude = fixes.front().latitude;
        s.firstLongitude = fixes.front().longitude;
        s.lastLatitude = fixes.back().latitude;
        s.lastLongitude = fixes.back().longitude;
        s.lastTimestamp = fixes.back().timestamp;
    });
    return s;
}

QString drawTrackScript(const CQDRVTextData &sensorData)
{
    std::vector<std::pair<double, double>> points; // (longitude, latitude) as stored
    sensorData.withFixes([&](const std::list<CQDRVGPSData> &fixes) {
        for (const CQDRVGPSData &fix : fixes)
            if (fix.valid)
                points.emplace_back(fix.longitude, fix.latitude);
    });
    std::vector<std::pair<double, double>> kept;
    for (std::size_t i : keptPoints(points.size()))
        kept.emplace_back(nmeaToDegrees(points[i].first), nmeaToDegrees(points[i].second));
    return trackCall(kept);
}

TripTrack tripTrackScript(const std::vector<trip::TrackPoint> &track)
{
    TripTrack out;
    std::vector<std::pair<double, double>> kept;
    for (std::size_t i : keptPoints(track.size())) {
        kept.emplace_back(track[i].longitude, track[i].latitude);
        out.times.push_back(track[i].at);
    }
    out.script = trackCall(kept);
    return out;
}

std::size_t drivenPoints(const std::vector<overview::CameraTime> &times, overview::CameraTime t)
{
    return static_cast<std::size_t>(std::upper_bound(times.begin(), times.end(), t) - times.begin());
}

QString drawDrivenScript(std::size_t points)
{
    return QStringLiteral("javascript:DrawDriven('%1')").arg(points);
}

MapSettings mapSettings(const QString &tiles, const QString &probe)
{
    MapSettings s;
    s.tileUrl = tiles.trimmed().isEmpty() ? QString::fromLatin1(kDefaultTileUrl) : tiles.trimmed();
    const QUrl tileAddress(s.tileUrl);
    const QString scheme = tileAddress.scheme();
    if (!tileAddress.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
        tileAddress.host().isEmpty()) {
        s.problem = QStringLiteral("map tile address is not an http(s) address: ") + s.tileUrl;
        s.tileUrl = QString::fromLatin1(kDefaultTileUrl);
    }
    const QString target = probe.trimmed();
    if (target.compare(QLatin1String("off"), Qt::CaseInsensitive) == 0) {
        s.probe = false;
        return s;
    }
    if (target.isEmpty()) {
        const QUrl used(s.tileUrl);
        s.probeHost = used.host();
        s.probePort = static_cast<quint16>(used.port(used.scheme() == QLatin1String("https") ? 443 : 80));
        return s;
    }
    if (const auto hostPort = parseHostPort(target)) {
        s.probeHost = hostPort->first;
        s.probePort = hostPort->second;
    } else {
        // Leave the target empty: the check fails and the page opens offline.
        s.problem = QStringLiteral("map connectivity target is not host:port: ") + target;
    }
    return s;
}

MapSettings mapSettingsFromEnvironment()
{
    return mapSettings(qEnvironmentVariable("KORVANTE_MAP_TILES"), qEnvironmentVariable("KORVANTE_MAP_PROBE"));
}

QUrl mapPageUrl(const QString &pagePath, bool online, const QString &tileUrl)
{
    QUrl url = QUrl::fromLocalFile(pagePath);
    // The tile address is percent-encoded whole, so its own "&", "=" and
    // braces reach the page's URLSearchParams unchanged.
    QString query = online ? QStringLiteral("mode=online") : QStringLiteral("mode=offline");
    if (online)
        query += QStringLiteral("&tiles=") + QString::fromLatin1(QUrl::toPercentEncoding(tileUrl));
    url.setQuery(query);
    return url;
}

} // namespace korvante
