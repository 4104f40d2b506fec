#include "core/device/udisks_format.h"

#include "core/storage/udisks_client.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QFileInfo>
#include <QVariantMap>

namespace korvante {

namespace {

const QString kService = QStringLiteral("org.freedesktop.UDisks2");
constexpr int kShortCallMs = 60 * 1000;        // unmount and mount; the user may be asked first
constexpr int kFormatCallMs = 30 * 60 * 1000;  // making the file system of a large card

QDBusMessage call(QDBusConnection &bus, const QString &object, const QString &interface, const QString &method,
                  const QVariantList &args, int timeoutMs)
{
    QDBusMessage message = QDBusMessage::createMethodCall(kService, object, interface, method);
    message.setArguments(args);
    // The desktop may ask the user to confirm the change.
    message.setInteractiveAuthorizationAllowed(true);
    return bus.call(message, QDBus::Block, timeoutMs);
}

} // namespace

UDisksFormatResult formatThroughUDisks(const std::string &partition, std::string *why)
{
    auto result = [why](UDisksFormatResult r, const std::string &reason) {
        if (why)
            *why = reason;
        return r;
    };
    QString address = qEnvironmentVariable("DBUS_SYSTEM_BUS_ADDRESS");
    if (address.isEmpty() && !QFileInfo::exists(QStringLiteral("/var/run/dbus/system_bus_socket")))
        return result(UDisksFormatResult::Unavailable, "there is no system bus");
    if (!QCoreApplication::instance())
        return result(UDisksFormatResult::Unavailable, "the system bus is only asked from the viewer itself");
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return result(UDisksFormatResult::Unavailable, "no system bus: " + bus.lastError().message().toStdString());
    if (!bus.interface() || !bus.interface()->isServiceRegistered(kService).value())
        return result(UDisksFormatResult::Unavailable, "UDisks2 does not run on the system bus");

    const QString object = QString::fromStdString(udisksBlockObjectPath(partition));
    const QString filesystem = QStringLiteral("org.freedesktop.UDisks2.Filesystem");
    QDBusMessage reply = call(bus, object, filesystem, QStringLiteral("Unmount"), {QVariantMap()}, kShortCallMs);
    if (reply.type() == QDBusMessage::ErrorMessage
        && reply.errorName() != QStringLiteral("org.freedesktop.UDisks2.Error.NotMounted"))
        return result(UDisksFormatResult::Failed, "cannot unmount " + partition + ": " + reply.errorMessage().toStdString());

    reply = call(bus, object, QStringLiteral("org.freedesktop.UDisks2.Block"), QStringLiteral("Format"),
                 {QStringLiteral("vfat"), QVariantMap()}, kFormatCallMs);
    if (reply.type() == QDBusMessage::ErrorMessage)
        return result(UDisksFormatResult::Failed, "UDisks2 could not format " + partition + ": "
                                                      + reply.errorMessage().toStdString());
    // The fresh file system is mounted for the user again, as the desktop
    // would on inserting the card; a refusal leaves it unmounted but formatted.
    call(bus, object, filesystem, QStringLiteral("Mount"), {QVariantMap()}, kShortCallMs);
    return result(UDisksFormatResult::Formatted, {});
}

} // namespace korvante
