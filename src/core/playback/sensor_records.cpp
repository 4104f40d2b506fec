#include "core/playback/sensor_records.h"

#include "core/recording/byte_reader.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <string>
#include <string_view>

namespace korvante {

void CQDRVTextData::appendSample(const SensorSample &sample)
{
    std::lock_guard guard(m_mutex);
    samples.push_back(sample);
    ++m_changes;
}

void CQDRVTextData::appendFix(const CQDRVGPSData &fix)
{
    std::lock_guard guard(m_mutex);
    fixes.push_back(fix);
    ++m_changes;
}

std::uint64_t CQDRVTextData::changes() const
{
    std::lock_guard guard(m_mutex);
    return m_changes;
}

void CQDRVTextData::clearSamples()
{
    std::list<SensorSample> old;
    {
        std::lock_guard guard(m_mutex);
        old.swap(samples);
        ++m_changes;
    } // freed outside the lock
}

void CQDRVTextData::clearFixes()
{
    std::list<CQDRVGPSData> old;
    {
        std::lock_guard guard(m_mutex);
        old.swap(fixes);
        ++m_changes;
    }
}

void CQDRVTextData::withSamples(const std::function<void(const std::list<SensorSample> &)> &walk) const
{
    std::lock_guard guard(m_mutex);
    walk(samples);
}

void CQDRVTextData::withFixes(const std::function<void(const std::list<CQDRVGPSData> &)> &walk) const
{
    std::lock_guard guard(m_mutex);
    walk(fixes);
}

std::size_t CQDRVTextData::sampleCount() const
{
    std::lock_guard guard(m_mutex);
    return samples.size();
}

std::size_t CQDRVTextData::fixCount() const
{
    std::lock_guard guard(m_mutex);
    return fixes.size();
}

std::int32_t decodeAxisCode(std::uint8_t code)
{
    return (code & 0x80) ? 128 - (code & 0x7F) : (code & 0x7F);
}

std::int32_t decodeAxisWord(std::uint16_t word)
{
    return static_cast<std::int32_t>(~static_cast<std::uint32_t>(word) & 0x3FFu) - 511;
}

namespace {

using recording::le16;

// atoi on a bounded piece of text: the piece is copied so that the C library
// never reads past it.
int pieceToInt(std::string_view piece)
{
    return std::atoi(std::string(piece).c_str());
}

// atof's reading, but always with "." as the decimal point: the sentence is
// the camera's, never the user's, and the application object switches the C
// library to the desktop's locale, where "3730.5" would read as 3730.
double pieceToDouble(std::string_view piece)
{
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return strtod_l(std::string(piece).c_str(), nullptr, cLocale);
}

// Characters `from`..`from+1` (1-based, as the sentence fields count them) as
// a number of their own; missing characters read as an empty text.
int twoDigits(std::string_view field, size_t from)
{
    if (field.size() < from)
        return 0;
    return pieceToInt(field.substr(from - 1, 2));
}

void fillField(CQDRVGPSData &fix, int index, std::string_view field)
{
    switch (index) {
    case 1:
        fix.hour = twoDigits(field, 1) + 9;
        fix.minute = twoDigits(field, 3);
        fix.second = twoDigits(field, 5);
        break;
    case 2:
        fix.valid = !field.empty() && field.front() == 'A' ? 1 : 0;
        break;
    case 3:
        fix.latitude = pieceToDouble(field);
        break;
    case 4:
        if (field.empty() || field.front() != 'N')
            fix.latitude = -fix.latitude;
        break;
    case 5:
        fix.longitude = pieceToDouble(field);
        break;
    case 6:
        if (field.empty() || field.front() != 'E')
            fix.longitude = -fix.longitude;
        break;
    case 7:
        fix.speed = static_cast<float>(pieceToDouble(field) * 1.852);
        break;
    case 8:
        fix.course = static_cast<float>(pieceToDouble(field));
        break;
    case 9:
        fix.day = twoDigits(field, 1);
        fix.month = twoDigits(field, 3);
        fix.year = twoDigits(field, 5);
        break;
    default:
        break;
    }
}

} // namespace

bool ParseGpsSentence(CQDRVGPSData &fix, std::int32_t time, const char *text)
{
    fix.timestamp = time;
    if (!text)
        return false;
    // The copy is local to this parse: the position between fields is never shared.
    const size_t length = strnlen(text, 1023);
    std::string_view rest(text, length);
    // Leading commas are skipped; the first field is the sentence's header.
    while (!rest.empty() && rest.front() == ',')
        rest.remove_prefix(1);
    bool haveField = true;
    for (int i = 0; i <= 9; ++i) {
        if (!haveField)
            return false;
        const size_t comma = rest.find(',');
        const std::string_view field = rest.substr(0, comma);
        if (comma == std::string_view::npos) {
            haveField = false;
            rest = {};
        } else {
            rest.remove_prefix(comma + 1);
        }
        if (i > 0)
            fillField(fix, i, field);
    }
    return true;
}

std::optional<SensorSample> DecodeSamplePacket(std::int32_t time, const std::uint8_t *buffer, std::size_t length)
{
    if (!buffer || length == 0)
        return std::nullopt;
    SensorSample s;
    switch (buffer[0]) {
    case 'M':
        if (length < 4)
            return std::nullopt;
        s.x = decodeAxisCode(buffer[1]);
        s.y = decodeAxisCode(buffer[2]);
        s.z = decodeAxisCode(buffer[3]);
        s.kind = 0;
        s.timestamp = time;
        return s;
    case 'S': {
        if (length < 8)
            return std::nullopt;
        if (buffer[1] != 0x08 && buffer[1] != 0x0A) {
            s.kind = 3; // an unknown sub-type: nothing in it can be trusted
            return s;
        }
        const std::uint16_t wx = le16(buffer + 2), wy = le16(buffer + 4), wz = le16(buffer + 6);
        if (buffer[1] == 0x0A) {
            s.x = decodeAxisWord(wx);
            s.y = decodeAxisWord(wy);
            s.z = decodeAxisWord(wz);
            s.kind = 2;
        } else {
            s.x = decodeAxisCode(static_cast<std::uint8_t>(wx & 0xFF));
            s.y = decodeAxisCode(static_cast<std::uint8_t>(wy & 0xFF));
            s.z = decodeAxisCode(static_cast<std::uint8_t>(wz & 0xFF));
            s.kind = 1;
        }
        s.timestamp = time;
        return s;
    }
    default:
        return std::nullopt;
    }
}

std::optional<CQDRVGPSData> DecodeFixPacket(std::int32_t time, const std::uint8_t *buffer, std::size_t length)
{
    if (!buffer || length == 0 || buffer[0] != 'G')
        return std::nullopt;
    // The sentence ends at the first zero byte, at most 1023 characters in.
    char text[1024] = {};
    std::memcpy(text, buffer, std::min<std::size_t>(length, 1023));
    CQDRVGPSData fix;
    ParseGpsSentence(fix, time, text);
    return fix;
}

int DispatchPacket(std::int32_t time, CQDRVTextData &sensorData, const std::uint8_t *buffer,
                   std::size_t length)
{
    if (const auto sample = DecodeSamplePacket(time, buffer, length))
        sensorData.appendSample(*sample);
    else if (const auto fix = DecodeFixPacket(time, buffer, length))
        sensorData.appendFix(*fix);
    return 0;
}

} // namespace korvante
