#pragma once
// Messages between panels. Each carries a message number and two parameters,
// like the window messages the panels were designed around; numbers are the
// program's fixed protocol between panels.
//
// post: queued to the target's thread, delivered later by its event loop.
// send: delivered at once on the calling (UI) thread; the result is what the
// target's onMessage() returned.

#include <QEvent>
#include <QPointer>
#include <cstdint>

class QObject;

namespace korvante {

inline constexpr int kWmUser = 0x0400;

namespace msg {
inline constexpr int ButtonClick = kWmUser + 1000;     // 2024: skinned button -> parent, w = button id
inline constexpr int ScreenSelect = kWmUser + 100;     // 1124: screen -> main window, w = 0/1/2
inline constexpr int SliderMoved = kWmUser + 101;      // 1125: slider -> owner, w = slider id
inline constexpr int Seek = kWmUser + 102;             // 1126: -> player panel, w = ms or 0
inline constexpr int PanelCommand = kWmUser + 103;     // 1127: w = command code below
inline constexpr int EnableWindows = kWmUser + 104;    // 1128: -> main window, w = 0 before / 1 after a modal dialog
inline constexpr int UserPlus1 = kWmUser + 1;          // 1025
inline constexpr int UserPlus2 = kWmUser + 2;          // 1026
} // namespace msg

// Codes carried by msg::PanelCommand.
namespace cmd {
inline constexpr int Reset = 2;
inline constexpr int Start = 3;
inline constexpr int Pause = 4;
inline constexpr int Restart = 5;
inline constexpr int ZoomIn = 6;
inline constexpr int ZoomOut = 7;
inline constexpr int ZoomReset = 8;
inline constexpr int ToggleMap = 10;
inline constexpr int ToggleFileList = 11;
inline constexpr int ToggleGraph = 12;
inline constexpr int ToggleScreenSettings = 13;
inline constexpr int RepaintVideo = 14;
} // namespace cmd

class PanelMessage final : public QEvent {
public:
    PanelMessage(int message, quintptr w, qintptr l)
        : QEvent(eventType()), m_message(message), m_w(w), m_l(l)
    {
    }
    static QEvent::Type eventType();

    int message() const { return m_message; }
    quintptr w() const { return m_w; }
    qintptr l() const { return m_l; }

    // Set by the receiver for send().
    void setResult(qintptr r) { m_result = r; }
    qintptr result() const { return m_result; }

private:
    int m_message;
    quintptr m_w;
    qintptr m_l;
    qintptr m_result = 0;
};

// Queues a message; a null target drops it (like posting to no window).
// Returns false when there is no target.
bool postMessage(QObject *target, int message, quintptr w = 0, qintptr l = 0);
// Delivers at once; 0 when there is no target.
qintptr sendMessage(QObject *target, int message, quintptr w = 0, qintptr l = 0);

} // namespace korvante
