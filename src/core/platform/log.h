#pragma once
// The program's one log sink. Errors and diagnostics that the user does not
// need to see go here (the default sink writes them to standard error); tests
// install a sink that records lines and fails on an unexpected error.
//
// Thread-safe: any thread may log; the sink is called under an internal mutex,
// so a sink must not log itself.

#include <functional>
#include <string>
#include <string_view>

namespace korvante {

enum class LogLevel { Debug, Info, Warning, Error };

using LogSink = std::function<void(LogLevel, std::string_view message)>;

// Replaces the sink and returns the previous one. An empty sink restores the
// default (standard error, debug lines dropped unless KORVANTE_DEBUG is set).
LogSink setLogSink(LogSink sink);

void logMessage(LogLevel level, std::string_view message);

inline void logDebug(std::string_view m) { logMessage(LogLevel::Debug, m); }
inline void logInfo(std::string_view m) { logMessage(LogLevel::Info, m); }
inline void logWarning(std::string_view m) { logMessage(LogLevel::Warning, m); }
inline void logError(std::string_view m) { logMessage(LogLevel::Error, m); }

const char *logLevelName(LogLevel level);

} // namespace korvante
