#include "single_instance.h"

#include "log.h"

#include <QLocalSocket>

#include <memory>

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
        // The other start may have written and gone before we look: read what
        // is buffered now, then whatever arrives later; act on it once.
        auto handled = std::make_shared<bool>(false);
        auto check = [this, socket, handled] {
            if (*handled)
                return;
            if (socket->bytesAvailable() > 0 && socket->readAll().contains("activate")) {
                *handled = true;
                emit activationRequested();
            }
        };
        connect(socket, &QLocalSocket::readyRead, this, check);
        connect(socket, &QLocalSocket::disconnected, this, [socket, check] {
            check();
            socket->deleteLater();
        });
        check();
    }
}

} // namespace korvante
