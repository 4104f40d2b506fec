#include "core/storage/udisks_client.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>
#include <QFileInfo>
#include <QVariantMap>

#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

namespace korvante {

namespace {

constexpr int kCallTimeoutMs = 5000;

// The socket of a "unix:path=..." bus address; empty for any other kind.
QString unixSocketOf(const QString &address)
{
    static const QLatin1String prefix("unix:path=");
    if (!address.startsWith(prefix))
        return {};
    return address.mid(prefix.size()).section(QLatin1Char(','), 0, 0);
}

} // namespace

std::string udisksBlockObjectPath(const std::string &disk)
{
    std::string path = "/org/freedesktop/UDisks2/block_devices/";
    for (unsigned char c : disk) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_') {
            path += static_cast<char>(c);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "_%02x", c);
            path += escaped;
        }
    }
    return path;
}

int openDiskThroughUDisks(const std::string &disk, std::string *why)
{
    auto fail = [why](const std::string &reason) {
        if (why)
            *why = reason;
        return -1;
    };
    if (disk.empty())
        return fail("no disk named");

    // Without a bus there is nothing to ask; do not let the connection try.
    QString address = qEnvironmentVariable("DBUS_SYSTEM_BUS_ADDRESS");
    if (address.isEmpty())
        address = QStringLiteral("unix:path=/var/run/dbus/system_bus_socket");
    const QString socket = unixSocketOf(address);
    if (!socket.isEmpty() && !QFileInfo::exists(socket))
        return fail("no system bus (" + socket.toStdString() + " does not exist)");

    // Qt's bus connections run on the application object's machinery; a tool
    // without one (the command-line tool) does not ask.
    if (!QCoreApplication::instance())
        return fail("the system bus is only asked from the viewer itself");

    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return fail("no system bus: " + bus.lastError().message().toStdString());

    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.UDisks2"), QString::fromStdString(udisksBlockObjectPath(disk)),
        QStringLiteral("org.freedesktop.UDisks2.Block"), QStringLiteral("OpenDevice"));
    QVariantMap options;
    options.insert(QStringLiteral("auth.no_user_interaction"), true);
    call << QStringLiteral("r") << options;
    const QDBusReply<QDBusUnixFileDescriptor> reply = bus.call(call, QDBus::Block, kCallTimeoutMs);
    if (!reply.isValid())
        return fail("UDisks2 refused: " + reply.error().message().toStdString());
    if (!reply.value().isValid())
        return fail("UDisks2 answered without a descriptor");
    // The reply's descriptor closes with it: keep a copy of our own.
    const int fd = ::fcntl(reply.value().fileDescriptor(), F_DUPFD_CLOEXEC, 0);
    if (fd < 0)
        return fail("cannot keep the descriptor UDisks2 gave");
    return fd;
}

} // namespace korvante
