#pragma once
// Installs a log sink for the lifetime of one test: every line is recorded,
// and an error line that the test did not announce with expectError() fails
// the test.

#include "core/platform/log.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

namespace korvante::testing {

class LogCapture final {
public:
    LogCapture()
    {
        m_previous = setLogSink([this](LogLevel level, std::string_view message) {
            std::lock_guard lock(m_mutex);
            m_lines.emplace_back(std::string(logLevelName(level)) + ": " + std::string(message));
            if (level == LogLevel::Error) {
                bool expected = false;
                for (const auto &e : m_expected)
                    if (message.find(e) != std::string_view::npos)
                        expected = true;
                if (!expected)
                    ADD_FAILURE() << "unexpected error logged: " << message;
            }
        });
    }
    ~LogCapture() { setLogSink(std::move(m_previous)); }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    // Error lines containing this text are expected and do not fail the test.
    void expectError(std::string text)
    {
        std::lock_guard lock(m_mutex);
        m_expected.push_back(std::move(text));
    }

    std::vector<std::string> lines() const
    {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }

    bool contains(std::string_view text) const
    {
        std::lock_guard lock(m_mutex);
        for (const auto &l : m_lines)
            if (l.find(text) != std::string::npos)
                return true;
        return false;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
    std::vector<std::string> m_expected;
    LogSink m_previous;
};

} // namespace korvante::testing
