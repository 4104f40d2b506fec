#pragma once
// The map panel's connectivity check: can the map service be reached? A TCP
// connection to the service's host and port, given up after a few seconds.
// It runs in the event loop (name lookup and connect are asynchronous), so
// the interface never waits for it; `finished` reports the outcome once.
//
// Ownership: a child of the object that starts it. UI thread only.

#include <QObject>
#include <QString>

class QTcpSocket;
class QTimer;

namespace korvante {

class MapProbe final : public QObject {
    Q_OBJECT
public:
    static constexpr int kTimeoutMs = 4000;

    explicit MapProbe(QObject *parent = nullptr);

    // Starts the check; an empty host or a zero port fails at once (still
    // reported through `finished`, from the event loop).
    void start(const QString &host, quint16 port, int timeoutMs = kTimeoutMs);
    bool isRunning() const { return m_running; }

signals:
    void finished(bool reachable);

private:
    void finish(bool reachable);

    QTcpSocket *m_socket = nullptr;
    QTimer *m_timer = nullptr;
    bool m_running = false;
};

} // namespace korvante
