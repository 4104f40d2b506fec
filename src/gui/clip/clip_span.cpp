#include "clip_span.h"

#include "core/clip/clip_plan.h"
#include "core/storage/recording_name.h"

#include <algorithm>

namespace korvante {

std::optional<CameraTime> cameraTimeOfName(const QString &name)
{
    const auto start = korvante::cameraTimeOfName(name.toStdString());
    return start ? std::optional<CameraTime>(CameraTime{*start}) : std::nullopt;
}

void ClipSpan::setIn(CameraTime time)
{
    if (m_in == time)
        return;
    m_in = time;
    changed();
}

void ClipSpan::setOut(CameraTime time)
{
    if (m_out == time)
        return;
    m_out = time;
    changed();
}

void ClipSpan::clear()
{
    if (!m_in && !m_out)
        return;
    m_in.reset();
    m_out.reset();
    changed();
}

void ClipSpan::followSource(const std::string &sourceKey)
{
    if (sourceKey == m_source)
        return;
    m_source = sourceKey;
    clear();
}

void ClipSpan::changed()
{
    emit spanChanged(m_in, m_out);
}

QString spanLengthText(std::chrono::milliseconds length)
{
    using namespace std::chrono;
    const std::int64_t ms = std::max<std::int64_t>(0, length.count());
    if (ms < 60000) {
        if (ms % 1000 == 0)
            return QStringLiteral("%1 s").arg(ms / 1000);
        return QStringLiteral("%1 s").arg(double(ms) / 1000.0, 0, 'f', ms % 100 == 0 ? 1 : 3);
    }
    const std::int64_t s = ms / 1000;
    if (s < 3600)
        return QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1 h %2 min %3 s")
        .arg(s / 3600)
        .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

QString ClipSpan::statusText() const
{
    const auto full = [](CameraTime t) { return QString::fromStdString(clip::cameraTimeMsText(t)); };
    if (m_in && m_out) {
        const QString in = full(*m_in);
        QString out = full(*m_out);
        // The day once, when both marks fall on it.
        if (out.left(11) == in.left(11))
            out = out.mid(11);
        if (*m_out <= *m_in)
            return QStringLiteral("Clip %1 – %2: Out is not after In").arg(in, out);
        return QStringLiteral("Clip %1 – %2 (%3)").arg(in, out, spanLengthText(*m_out - *m_in));
    }
    if (m_in)
        return QStringLiteral("Clip In %1 (set Out with O)").arg(full(*m_in));
    if (m_out)
        return QStringLiteral("Clip Out %1 (set In with I)").arg(full(*m_out));
    return {};
}

std::pair<std::optional<int>, std::optional<int>> ClipSpan::sliderMarks(CameraTime start, std::int64_t lengthMs) const
{
    const auto offset = [&](std::optional<CameraTime> t) -> std::optional<int> {
        if (!t)
            return std::nullopt;
        const std::int64_t ms = (*t - start).count();
        return static_cast<int>(std::clamp<std::int64_t>(ms, -1, std::max<std::int64_t>(0, lengthMs) + 1));
    };
    return {offset(m_in), offset(m_out)};
}

} // namespace korvante
