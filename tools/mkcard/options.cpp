#include "mkcard/options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <ctime>

namespace mkcard {
namespace {

bool parseInteger(const std::string &text, long long low, long long high, long long &value)
{
    if (text.empty() || text.size() > 18)
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    value = std::strtoll(text.c_str(), nullptr, 10);
    return value >= low && value <= high;
}

bool parseSeconds(const std::string &text, double &value)
{
    if (text.empty() || text.size() > 16)
        return false;
    int dots = 0;
    for (char c : text) {
        if (c == '.')
            ++dots;
        else if (c < '0' || c > '9')
            return false;
    }
    if (dots > 1 || text == ".")
        return false;
    value = std::strtod(text.c_str(), nullptr);
    return std::isfinite(value) && value > 0;
}

bool parseSize(const std::string &text, int &width, int &height)
{
    const size_t x = text.find('x');
    if (x == std::string::npos)
        return false;
    long long w = 0, h = 0;
    if (!parseInteger(text.substr(0, x), 160, 3840, w) || !parseInteger(text.substr(x + 1), 120, 2160, h))
        return false;
    if (w % 2 || h % 2)
        return false;
    width = static_cast<int>(w);
    height = static_cast<int>(h);
    return true;
}

bool fail(std::string *error, const std::string &text)
{
    if (error)
        *error = text;
    return false;
}

} // namespace

const char *usageText()
{
    return "usage: korvante-mkcard [--folder DIR] [--image FILE] [--image-mib N] [--per-kind N]\n"
           "                       [--seconds S] [--size WxH] [--fps N] [--audio aac|pcm|none]\n"
           "                       [--channels 1|2] [--unfinished N] [--start \"YYYY-MM-DD HH:MM:SS\"]\n"
           "                       [--seed N] [--rear-size WxH] [--encoding light|camera]\n"
           "Writes a sample camera card: a folder card (--folder) and/or a card image (--image).\n";
}

bool parseStartTime(const std::string &text, int64_t &local)
{
    int year, month, day, hour, minute, second;
    char tail = 0;
    if (text.size() != 19 || std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &year, &month, &day, &hour,
                                         &minute, &second, &tail) != 6)
        return false;
    for (size_t i : {4u, 7u}) // the fixed separators
        if (text[i] != '-')
            return false;
    if (text[10] != ' ' || text[13] != ':' || text[16] != ':')
        return false;
    if (year < 2000 || year > 2099 || month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 ||
        second > 59 || hour < 0 || minute < 0 || second < 0)
        return false;
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    const std::time_t t = timegm(&tm);
    if (tm.tm_mday != day || tm.tm_mon != month - 1) // 31 April and the like roll over
        return false;
    local = static_cast<int64_t>(t);
    return true;
}

bool parseOptions(const std::vector<std::string> &args, Options &o, std::string *error)
{
    o = Options{};
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &name = args[i];
        if (name == "--help" || name == "-h") {
            o.help = true;
            continue;
        }
        if (name.rfind("--", 0) != 0)
            return fail(error, "unexpected argument \"" + name + "\"");
        static const char *const known[] = {"--folder", "--image", "--image-mib", "--per-kind", "--seconds",
                                             "--size",   "--fps",   "--audio",     "--channels", "--unfinished",
                                             "--start",  "--seed",  "--rear-size", "--encoding"};
        bool isKnown = false;
        for (const char *k : known)
            isKnown = isKnown || name == k;
        if (!isKnown)
            return fail(error, "unknown option " + name);
        if (i + 1 >= args.size())
            return fail(error, "option " + name + " needs a value");
        const std::string &value = args[++i];
        long long n = 0;
        auto bad = [&](const std::string &expected) {
            return fail(error, "bad value \"" + value + "\" for " + name + ": expected " + expected);
        };
        if (name == "--folder") {
            if (value.empty())
                return bad("a folder");
            o.folder = value;
        } else if (name == "--image") {
            if (value.empty())
                return bad("a file name");
            o.image = value;
        } else if (name == "--image-mib") {
            if (!parseInteger(value, 52, 1 << 20, n))
                return bad("a size in MiB from 52 to 1048576");
            o.imageMib = static_cast<uint64_t>(n);
        } else if (name == "--per-kind") {
            if (!parseInteger(value, 0, 500, n))
                return bad("a count from 0 to 500");
            o.card.perKind = static_cast<int>(n);
        } else if (name == "--seconds") {
            if (!parseSeconds(value, o.card.seconds) || o.card.seconds > 3600)
                return bad("seconds above 0 and at most 3600");
        } else if (name == "--size") {
            if (!parseSize(value, o.card.width, o.card.height))
                return bad("WxH, even numbers, 160x120 to 3840x2160");
        } else if (name == "--rear-size") {
            if (!parseSize(value, o.card.rearWidth, o.card.rearHeight))
                return bad("WxH, even numbers, 160x120 to 3840x2160");
        } else if (name == "--encoding") {
            if (value != "light" && value != "camera")
                return bad("light or camera");
            o.card.cameraEncoding = value == "camera";
        } else if (name == "--fps") {
            if (!parseInteger(value, 1, 60, n))
                return bad("frames per second from 1 to 60");
            o.card.fps = static_cast<int>(n);
        } else if (name == "--audio") {
            if (value == "aac")
                o.card.audio = AudioCodec::Aac;
            else if (value == "pcm")
                o.card.audio = AudioCodec::Pcm;
            else if (value == "none")
                o.card.audio = AudioCodec::None;
            else
                return bad("aac, pcm or none");
        } else if (name == "--channels") {
            if (value != "1" && value != "2")
                return bad("1 or 2");
            o.card.channels = value == "1" ? 1 : 2;
        } else if (name == "--unfinished") {
            if (!parseInteger(value, 0, 500, n))
                return bad("a count from 0 to 500");
            o.card.unfinished = static_cast<int>(n);
        } else if (name == "--start") {
            if (!parseStartTime(value, o.card.startLocal))
                return bad("\"YYYY-MM-DD HH:MM:SS\" between 2000 and 2099");
        } else if (name == "--seed") {
            if (!parseInteger(value, 0, 999999999999999999LL, n))
                return bad("a non-negative integer");
            o.card.seed = static_cast<uint64_t>(n);
        }
    }
    if (o.help)
        return true;
    if (o.folder.empty() && o.image.empty())
        return fail(error, "nothing to write: give --folder DIR, --image FILE or both");
    if (o.card.unfinished > o.card.perKind)
        return fail(error, "--unfinished " + std::to_string(o.card.unfinished) + " is more than --per-kind " +
                               std::to_string(o.card.perKind));
    const double frames = std::round(o.card.seconds * o.card.fps);
    if (frames < 1)
        return fail(error, "--seconds " + std::to_string(o.card.seconds) + " gives no video frame at " +
                               std::to_string(o.card.fps) + " fps");
    if (frames > 65535)
        return fail(error, "a recording may hold at most 65535 frames (--seconds times --fps)");
    return true;
}

} // namespace mkcard
