#include "overview_text.h"

#include <cmath>

namespace korvante::overview_text {

namespace {

constexpr double kMetresPerMile = 1609.344;
constexpr double kMetresPerNauticalMile = 1852.0;

} // namespace

QString duration(std::chrono::milliseconds length)
{
    const long long seconds = std::max<long long>(0, std::llround(static_cast<double>(length.count()) / 1000.0));
    if (seconds < 60)
        return QStringLiteral("%1 s").arg(seconds);
    const long long h = seconds / 3600;
    const long long m = seconds / 60 % 60;
    const long long s = seconds % 60;
    if (h == 0)
        return QStringLiteral("%1:%2").arg(m).arg(s, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2:%3").arg(h).arg(m, 2, 10, QLatin1Char('0')).arg(s, 2, 10, QLatin1Char('0'));
}

QString distance(double metres, int speedUnit)
{
    const double m = std::isfinite(metres) && metres > 0 ? metres : 0.0;
    switch (speedUnit) {
    case 1:
        return QStringLiteral("%1 mi").arg(m / kMetresPerMile, 0, 'f', 1);
    case 2:
        return QStringLiteral("%1 nmi").arg(m / kMetresPerNauticalMile, 0, 'f', 1);
    default:
        return QStringLiteral("%1 km").arg(m / 1000.0, 0, 'f', 1);
    }
}

double speedIn(float kmh, int speedUnit)
{
    switch (speedUnit) {
    case 1:
        return kmh * 1000.0 / kMetresPerMile;
    case 2:
        return kmh * 1000.0 / kMetresPerNauticalMile;
    default:
        return kmh;
    }
}

QString speedUnitName(int speedUnit)
{
    switch (speedUnit) {
    case 1:
        return QStringLiteral("mph");
    case 2:
        return QStringLiteral("kn");
    default:
        return QStringLiteral("km/h");
    }
}

QString speed(float kmh, int speedUnit)
{
    const double value = std::isfinite(kmh) && kmh > 0 ? speedIn(kmh, speedUnit) : 0.0;
    return QStringLiteral("%1 %2").arg(std::llround(value)).arg(speedUnitName(speedUnit));
}

QString speed(const std::optional<float> &kmh, int speedUnit)
{
    return kmh ? speed(*kmh, speedUnit) : QStringLiteral("-");
}

QString force(double g)
{
    return QStringLiteral("%1 g").arg(std::isfinite(g) ? g : 0.0, 0, 'f', 2);
}

} // namespace korvante::overview_text
