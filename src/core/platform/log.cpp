#include "log.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace korvante {
namespace {

std::mutex &sinkMutex()
{
    static std::mutex m;
    return m;
}

LogSink &currentSink()
{
    static LogSink sink;
    return sink;
}

void defaultSink(LogLevel level, std::string_view message)
{
    static const bool debug = std::getenv("KORVANTE_DEBUG") != nullptr;
    if (level == LogLevel::Debug && !debug)
        return;
    std::fprintf(stderr, "korvante: %s: %.*s\n", logLevelName(level),
                 static_cast<int>(message.size()), message.data());
}

} // namespace

const char *logLevelName(LogLevel level)
{
    switch (level) {
    case LogLevel::Debug: return "debug";
    case LogLevel::Info: return "info";
    case LogLevel::Warning: return "warning";
    case LogLevel::Error: return "error";
    }
    return "?";
}

LogSink setLogSink(LogSink sink)
{
    std::lock_guard lock(sinkMutex());
    LogSink previous = std::move(currentSink());
    currentSink() = std::move(sink);
    return previous;
}

void logMessage(LogLevel level, std::string_view message)
{
    std::lock_guard lock(sinkMutex());
    if (currentSink())
        currentSink()(level, message);
    else
        defaultSink(level, message);
}

} // namespace korvante
