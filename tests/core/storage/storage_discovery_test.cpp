// Storage discovery on a fake machine whose disks are files.

#include "catalogue_fixture.h"
#include "core/storage/storage_discovery.h"
#include "fake_machine.h"
#include "support/log_capture.h"
#include "support/small_card.h"
#include "core/storage/udisks_client.h"
#include "tavo/tavo.h"
#include "tavo/tavo_writer.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusUnixFileDescriptor>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

namespace korvante {
namespace {

namespace fs = std::filesystem;
using namespace korvante::testing;

fs::path tavoImage(const fs::path &path)
{
    tavo::CardLayout layout = smallCardLayout();
    layout.totalBytes = 8u << 20;
    std::string error;
    auto writer = tavo::CardWriter::createImage(path.string(), layout, &error);
    EXPECT_TRUE(writer && writer->addDirectory("NOR"));
    const Bytes data(1000, 1);
    EXPECT_NE(writer->addFile("NOR", "N_20120305_142233_2CH_F.tavo", 1330957353, data.data(), data.size()), 0u);
    EXPECT_TRUE(writer->finish(&error)) << error;
    return path;
}

class Discovery : public ::testing::Test {
protected:
    Discovery() : machine(dir.path() / "root"), scope(machine.root())
    {
        machine.addDisk("sda", false, 1 << 20);
        machine.mountRoot("sda", 1);
    }
    std::string rootPath(const std::string &p) const { return machine.root().string() + p; }

    TempDir dir;
    FakeMachine machine;
    SysrootScope scope;
    LogCapture log;
};

TEST_F(Discovery, OnlyTheComputerEntryWithoutRemovableDrives)
{
    machine.addDisk("sdc", false, 1000);
    machine.mount("sdc", 1, "/data");
    RecordingCatalogue c;
    c.computerCaption = "Computer";
    EXPECT_EQ(c.enumerateSources(), 1);
    EXPECT_EQ(c.sourceAt(0)->label, "Computer");
    EXPECT_EQ(c.sourceAt(0)->kind, SourceComputer);
}

TEST_F(Discovery, PlainAndTavoCardsThenTheComputer)
{
    machine.addDisk("sdb", true, 16384);
    machine.mount("sdb", 1, "/media/plain card");
    machine.addDisk("sdd", true, 16384, tavoImage(dir.path() / "tavo.img"));
    machine.mount("sdd", 1, "/media/tavo");
    machine.addDisk("mmcblk0", false, 16384); // a card slot counts as removable
    machine.mount("mmcblk0", 1, "/media/sd");

    RecordingCatalogue c;
    ASSERT_EQ(c.enumerateSources(), 4);
    const StorageSource *plain = c.sourceAt(0);
    EXPECT_EQ(plain->label, rootPath("/media/sd/"));
    EXPECT_EQ(text64(plain->devicePath), rootPath("/dev/mmcblk0"));
    EXPECT_EQ(c.sourceAt(1)->label, rootPath("/media/plain card/"));
    EXPECT_EQ(c.sourceAt(1)->kind, SourceRemovable);
    EXPECT_EQ(text64(c.sourceAt(1)->devicePath), rootPath("/dev/sdb"));
    EXPECT_EQ(c.sourceAt(2)->label, rootPath("/media/tavo/ (TAVO)"));
    EXPECT_EQ(c.sourceAt(2)->kind, SourceTavo);
    EXPECT_EQ(c.sourceAt(3)->kind, SourceComputer);
    EXPECT_EQ(c.sourceAt(3)->label, "Find in My Computer");
    EXPECT_EQ(c.sourceAt(4), nullptr);

    // The TAVO card lists through the library; the plain card through its folder.
    configureCameraFolders(c);
    ASSERT_TRUE(c.selectSource(2));
    EXPECT_EQ(c.entries().size(), 1u);
    writeRecording(machine.root() / "media/plain card/NOR", "N_20120305_142233_1CH_F.avi");
    ASSERT_TRUE(c.selectSource(1));
    EXPECT_EQ(c.cardDevice(), nullptr);
    ASSERT_EQ(c.entries().size(), 1u);
    EXPECT_EQ(c.entries()[0].path, rootPath("/media/plain card/NOR/N_20120305_142233_1CH_F.avi"));
    EXPECT_EQ(c.selectedSourceRecord(), c.sourceAt(1));
}

TEST_F(Discovery, SlotsWithoutMediumAndTheRootDiskAreNotOffered)
{
    machine.addDisk("sdb", true, 0); // reader slot without a card, stale mount
    machine.mount("sdb", 1, "/media/empty");
    machine.addDisk("sdc", true, 4096); // removable, but holds the root file system
    machine.mount("sdc", 2, "/boot/efi");
    machine.addDisk("sde", true, 4096); // mounted, but its whole disk cannot be read
    machine.mount("sde", 1, "/media/locked");
    fs::remove(machine.root() / "dev/sde");
    machine.addDisk("sdf", true, 4096); // removable but not mounted
    machine.mountRoot("sdc", 1);

    // The mounted file system is what the user reads: a disk that cannot be
    // looked into is still offered, as a plain drive, with one line saying why.
    RecordingCatalogue c;
    EXPECT_EQ(c.enumerateSources(), 2);
    EXPECT_EQ(c.sourceAt(0)->label, rootPath("/media/locked/"));
    EXPECT_EQ(c.sourceAt(0)->kind, SourceRemovable);
    EXPECT_TRUE(log.contains("/media/locked/ is offered as a plain drive: a TAVO partition on it needs read access to "
                             + rootPath("/dev/sde")));
    EXPECT_EQ(diskNumberOfVolume(machine.root().string(), rootPath("/boot/efi")), 0);
    EXPECT_EQ(diskNumberOfVolume(machine.root().string(), rootPath("/media/locked")), 2);
    EXPECT_EQ(diskNumberOfVolume(machine.root().string(), rootPath("/nowhere")), -1);
}

TEST_F(Discovery, ReEnumeratingSeesCardsInsertedAndRemoved)
{
    RecordingCatalogue c;
    EXPECT_EQ(c.enumerateSources(), 1);
    machine.addDisk("sdb", true, 4096);
    machine.mount("sdb", 1, "/media/card");
    EXPECT_EQ(c.enumerateSources(), 2);
    EXPECT_EQ(c.sourceAt(0)->driveIndex, 3);
    machine.unmountDisk("sdb");
    EXPECT_EQ(c.enumerateSources(), 1);
}

TEST_F(Discovery, SameDeviceMountedTwiceIsOfferedOnce)
{
    machine.addDisk("sdb", true, 4096);
    machine.mount("sdb", 1, "/media/a");
    machine.mount("sdb", 1, "/media/b");
    RecordingCatalogue c;
    EXPECT_EQ(c.enumerateSources(), 2);
    EXPECT_EQ(c.sourceAt(0)->label, rootPath("/media/a/"));
}

TEST(DiscoveryRoot, DefaultsToSlashAndKeepsATrailingSlash)
{
    unsetenv("KORVANTE_SYSROOT");
    EXPECT_EQ(systemRoot(), "/");
    SysrootScope scope("/tmp/x");
    EXPECT_EQ(systemRoot(), "/tmp/x/");
    // A machine without the files answers with nothing, never with an error.
    EXPECT_TRUE(listMountedVolumes("/tmp/definitely-not-a-root/").empty());
}

} // namespace
} // namespace korvante

namespace korvante {
namespace {

using namespace korvante::testing;

// A stand-in for the desktop's disk service: answers Block.OpenDevice for the
// disks it was given image files for, and refuses the others as a desktop
// policy would. Lives in a thread of its own, as the real service lives in a
// process of its own.
class FakeDiskService final : public QThread {
public:
    FakeDiskService(QString address, std::map<std::string, std::string> images)
        : m_address(std::move(address)), m_images(std::move(images))
    {
    }
    ~FakeDiskService() override
    {
        quit();
        wait();
    }

    struct Request {
        std::string disk, mode;
        bool noInteraction = false;
    };
    std::vector<Request> requests() const
    {
        std::lock_guard guard(m_mutex);
        return m_requests;
    }
    std::atomic<bool> ready{false};

private:
    class Blocks final : public QDBusVirtualObject {
    public:
        explicit Blocks(FakeDiskService &service) : m_service(service) {}
        QString introspect(const QString &) const override { return {}; }
        bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
        {
            if (message.interface() != QStringLiteral("org.freedesktop.UDisks2.Block")
                || message.member() != QStringLiteral("OpenDevice") || message.arguments().size() != 2)
                return false;
            Request request;
            request.disk = message.path().section(QLatin1Char('/'), -1).toStdString();
            request.mode = message.arguments().at(0).toString().toStdString();
            const QVariantMap options = qdbus_cast<QVariantMap>(message.arguments().at(1));
            request.noInteraction = options.value(QStringLiteral("auth.no_user_interaction")).toBool();
            {
                std::lock_guard guard(m_service.m_mutex);
                m_service.m_requests.push_back(request);
            }
            const auto image = m_service.m_images.find(request.disk);
            if (image == m_service.m_images.end()) {
                connection.send(message.createErrorReply(QStringLiteral("org.freedesktop.UDisks2.Error.NotAuthorized"),
                                                         QStringLiteral("Not authorized to perform operation")));
                return true;
            }
            const int fd = ::open(image->second.c_str(), request.mode == "r" ? O_RDONLY : O_RDWR);
            connection.send(message.createReply(QVariant::fromValue(QDBusUnixFileDescriptor(fd))));
            ::close(fd);
            return true;
        }

    private:
        FakeDiskService &m_service;
    };

    void run() override
    {
        {
            QDBusConnection bus = QDBusConnection::connectToBus(m_address, QStringLiteral("fake-disk-service"));
            Blocks blocks(*this);
            const bool ok = bus.registerService(QStringLiteral("org.freedesktop.UDisks2"))
                            && bus.registerVirtualObject(QStringLiteral("/org/freedesktop/UDisks2/block_devices"),
                                                         &blocks, QDBusConnection::SubPath);
            ready = ok;
            if (ok)
                exec();
            bus.unregisterObject(QStringLiteral("/org/freedesktop/UDisks2/block_devices"), QDBusConnection::UnregisterTree);
        }
        QDBusConnection::disconnectFromBus(QStringLiteral("fake-disk-service"));
    }

    QString m_address;
    std::map<std::string, std::string> m_images;
    mutable std::mutex m_mutex;
    std::vector<Request> m_requests;
};

QCoreApplication &app()
{
    static int argc = 1;
    static char name[] = "korvante_core_storage_tests";
    static char *argv[] = {name, nullptr};
    static QCoreApplication *instance = new QCoreApplication(argc, argv);
    return *instance;
}

// The system bus is Qt's one shared connection per process: every case that
// talks to a bus runs in this one test, in order.
TEST(DiskService, ReadOnlyDescriptorsFromTheDesktopsDiskService)
{
    app();
    TempDir dir;
    EXPECT_EQ(udisksBlockObjectPath("sdb"), "/org/freedesktop/UDisks2/block_devices/sdb");
    EXPECT_EQ(udisksBlockObjectPath("dm-0"), "/org/freedesktop/UDisks2/block_devices/dm_2d0");

    // No system bus at all: a clean refusal, without waiting for anything.
    const std::string busPath = dir.str() + "/system_bus_socket";
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", QByteArray::fromStdString("unix:path=" + busPath));
    std::string why;
    EXPECT_EQ(openDiskThroughUDisks("sdb", &why), -1);
    EXPECT_NE(why.find("no system bus"), std::string::npos) << why;
    MountedVolume unknown;
    unknown.disk = "sdzz";
    unknown.devicePath = "/dev/sdzz"; // no such disk on this machine
    EXPECT_EQ(openDiskForReading("/", unknown, &why), DiskAccess::None);
    EXPECT_NE(why.find("cannot open /dev/sdzz for reading"), std::string::npos) << why;
    EXPECT_NE(why.find("no system bus"), std::string::npos) << why;

    // A bus of the test's own, where the disk service answers.
    QProcess daemon;
    daemon.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                 QStringLiteral("--print-address=1"),
                                                 QStringLiteral("--address=unix:path=") + QString::fromStdString(busPath)});
    ASSERT_TRUE(daemon.waitForStarted()) << "dbus-daemon is needed (scripts/setup installs it)";
    ASSERT_TRUE(daemon.waitForReadyRead(10000));
    const QString address = QString::fromUtf8(daemon.readLine()).trimmed();
    ASSERT_FALSE(address.isEmpty());
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", address.toUtf8());

    const fs::path card = tavoImage(dir.path() / "card.img");
    FakeDiskService service(address, {{"sdzz", card.string()}});
    service.start();
    for (int i = 0; i < 100 && !service.ready; ++i)
        QThread::msleep(50);
    ASSERT_TRUE(service.ready);

    const int fd = openDiskThroughUDisks("sdzz", &why);
    ASSERT_GE(fd, 0) << why;
    EXPECT_EQ(::fcntl(fd, F_GETFL) & O_ACCMODE, O_RDONLY);
    char mbrSignature[2] = {};
    EXPECT_EQ(::pread(fd, mbrSignature, 2, 510), 2);
    EXPECT_EQ(static_cast<unsigned char>(mbrSignature[0]), 0x55);
    ::close(fd);

    EXPECT_EQ(openDiskThroughUDisks("sdc", &why), -1);
    EXPECT_NE(why.find("UDisks2 refused: Not authorized"), std::string::npos) << why;

    // On the real machine a disk the user may not open is read through the
    // service's descriptor, which the card library then uses for its path.
    EXPECT_EQ(VX_Tavo_Check_Tavo_partition("/dev/sdzz"), 0);
    ASSERT_EQ(openDiskForReading("/", unknown, &why), DiskAccess::Descriptor) << why;
    EXPECT_NE(VX_Tavo_Check_Tavo_partition("/dev/sdzz"), 0);
    EXPECT_EQ(VX_Tavo_Detach_Descriptor("/dev/sdzz"), VX_TAVO_OK);

    // Only the real machine's disks are asked for: a fake root's are images.
    EXPECT_EQ(openDiskForReading(dir.str() + "/root/", unknown, &why), DiskAccess::None);

    const auto requests = service.requests();
    ASSERT_EQ(requests.size(), 3u);
    for (const auto &r : requests) {
        EXPECT_EQ(r.mode, "r");
        EXPECT_TRUE(r.noInteraction);
    }
    EXPECT_EQ(requests[1].disk, "sdc");
    service.quit();
    service.wait();
    daemon.terminate();
    daemon.waitForFinished();
    qunsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

} // namespace
} // namespace korvante
