#include "single_instance.h"

#include "log.h"

#include <QLocalSocket>

namespace korvante {

namespace {
constexpr int kConnectTimeoutMs = 1000;
const char kActivate[] = "activate\n";
} // namespace

SingleInstance::SingleInstance(QString name, QObject *parent)
    : QObject(parent), m_name(std::move(name))
{
    connect(&m_server, &QLocalServer::newConnection, this, &SingleInstance::onNewConnection);
}

SingleInstance::~SingleInstance()
{
    m_server.close();
}

SingleInstance::Result SingleInstance::start()
{
    {
        QLocalSocket probe;
        probe.connectToServer(m_name);
        if (probe.waitForConnected(kConnectTimeoutMs)) {
            probe.write(kActivate);
            probe.waitForBytesWritten(kConnectTimeoutMs);
            probe.disconnectFromServer();
            return Result::HandedOver;
        }
    }
    // Nobody answered: a socket file left by a crashed instance would make
    // listen() fail, so clear it first.
    QLocalServer::removeServer(m_name);
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server.listen(m_name)) {
        logError("single instance: cannot listen on \"" + m_name.toStdString() + "\": " +
                 m_server.errorString().toStdString());
        return Result::Failed;
    }
    return Result::Primary;
}

void SingleInstance::onNewConnection()
{
    while (QLocalSocket *socket = m_server.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (socket->readAll().contains("activate"))
                emit activationRequested();
        });
    }
}

} // namespace korvante
