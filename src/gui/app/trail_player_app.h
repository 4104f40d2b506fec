#pragma once
// The application object: one instance per user session, skin library and
// configuration loaded, then the main window run modally until the user
// closes it. UI thread only.

#include <QString>

namespace korvante {

class CVX_TrailPlayerApp final {
public:
    // The window title; also the name of the single-instance socket.
    static QString windowTitle() { return QStringLiteral("KORVANTE VIEWER"); }

    // Runs the start-up sequence and the main window. Returns 0 when the
    // main window has run, 1 when start-up ended early (another instance
    // took over, or the skin library is missing).
    int InitInstance();

    // A folder given on the command line is listed at start as if picked
    // through Open File; a recording has its folder listed and is played.
    void setStartPath(const QString &path) { m_startPath = path; }

    // Process exit code for the value InitInstance returned: a hand-over to
    // the running instance is a normal end, a missing skin library is not.
    int exitCode() const { return m_exitCode; }

private:
    int m_exitCode = 0;
    QString m_startPath;
};

} // namespace korvante
