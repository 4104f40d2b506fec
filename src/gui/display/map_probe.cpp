#include "map_probe.h"

#include <QTcpSocket>
#include <QTimer>

namespace korvante {

MapProbe::MapProbe(QObject *parent) : QObject(parent)
{
    m_socket = new QTcpSocket(this);
    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    connect(m_socket, &QTcpSocket::connected, this, [this] { finish(true); });
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this] { finish(false); });
    connect(m_timer, &QTimer::timeout, this, [this] { finish(false); });
}

void MapProbe::start(const QString &host, quint16 port, int timeoutMs)
{
    m_running = true;
    if (host.isEmpty() || port == 0) {
        QTimer::singleShot(0, this, [this] { finish(false); });
        return;
    }
    m_timer->start(timeoutMs);
    m_socket->connectToHost(host, port);
}

void MapProbe::finish(bool reachable)
{
    if (!m_running)
        return;
    m_running = false;
    m_timer->stop();
    // Only the connection itself was the question; nothing is sent.
    m_socket->abort();
    emit finished(reachable);
}

} // namespace korvante
