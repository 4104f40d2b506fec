#include "core/platform/log.h"
#include "core/platform/registry.h"
#include "core/platform/single_instance.h"
#include "support/file_writes.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <optional>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

using korvante::Registry;
using korvante::SingleInstance;
using korvante::testing::TempDir;

namespace {

class ConfigHome final {
public:
    ConfigHome() { qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(m_dir.path().string())); }
    ~ConfigHome() { qunsetenv("XDG_CONFIG_HOME"); }
    const TempDir &dir() const { return m_dir; }

private:
    TempDir m_dir;
};

QCoreApplication &app()
{
    static int argc = 1;
    static char name[] = "core_platform_tests";
    static char *argv[] = {name, nullptr};
    static QCoreApplication *instance = new QCoreApplication(argc, argv);
    return *instance;
}

} // namespace

TEST(RegistryTest, ValuesLiveInAnIniFileUnderTheConfigHome)
{
    ConfigHome home;
    const QString expected = QString::fromStdString(home.dir().file("korvante/registry.ini"));
    EXPECT_EQ(Registry::filePath(), expected);

    const QString group = Registry::machineGroup();
    EXPECT_FALSE(Registry::contains(group, QStringLiteral("usingDShow")));
    EXPECT_EQ(Registry::value(group, QStringLiteral("whitelist"), QStringLiteral("none")).toString(),
              QStringLiteral("none"));
    Registry::setValue(group, QStringLiteral("usingDShow"), 1);
    Registry::setValue(Registry::profileGroup(QStringLiteral("FolderHistory")), QStringLiteral("Folder0000"),
                       QStringLiteral("/media/card"));
    EXPECT_TRUE(QFile::exists(expected));
    EXPECT_EQ(Registry::value(group, QStringLiteral("usingDShow")).toInt(), 1);
    EXPECT_EQ(Registry::keys(Registry::profileGroup(QStringLiteral("FolderHistory"))),
              QStringList{QStringLiteral("Folder0000")});
    Registry::remove(group, QStringLiteral("usingDShow"));
    EXPECT_FALSE(Registry::contains(group, QStringLiteral("usingDShow")));
}

TEST(RegistryTest, ABatchReadsItsOwnChangesAndWritesTheFileOnce)
{
    ConfigHome home;
    const QString group = Registry::profileGroup(QStringLiteral("FolderHistory"));
    Registry::setValue(group, QStringLiteral("Stale"), 1);
    korvante::testing::FileWrites writes(Registry::filePath().toStdString());
    ASSERT_TRUE(writes.watching());
    {
        Registry::Batch batch;
        for (int i = 0; i < 40; ++i)
            batch.setValue(group, QStringLiteral("Folder%1").arg(i), i);
        batch.remove(group, QStringLiteral("Stale"));
        EXPECT_FALSE(batch.contains(group, QStringLiteral("Stale")));
        EXPECT_EQ(batch.value(group, QStringLiteral("Folder39")).toInt(), 39);
        EXPECT_EQ(writes.take(), 0);
    }
    EXPECT_EQ(writes.take(), 1);
    EXPECT_EQ(Registry::keys(group).size(), 40);
    EXPECT_FALSE(Registry::contains(group, QStringLiteral("Stale")));
}

TEST(LogTest, SinkReceivesLinesFromAnyThreadAndCanBeRestored)
{
    std::vector<std::string> lines;
    auto previous = korvante::setLogSink([&lines](korvante::LogLevel level, std::string_view m) {
        lines.push_back(std::string(korvante::logLevelName(level)) + ":" + std::string(m));
    });
    std::thread worker([] {
        for (int i = 0; i < 100; ++i)
            korvante::logWarning("from worker");
    });
    for (int i = 0; i < 100; ++i)
        korvante::logInfo("from main");
    worker.join();
    korvante::setLogSink(std::move(previous));
    korvante::logInfo("after restore"); // goes to the default sink, not to `lines`
    ASSERT_EQ(lines.size(), 200u);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), std::string("warning:from worker")), 100);
}

// The environment that decides where the socket goes, set for one test and
// restored afterwards: temporary and home folders of the test's own.
class SocketPlaces final {
public:
    SocketPlaces()
    {
        for (const char *name : {"TMPDIR", "HOME", "XDG_RUNTIME_DIR"})
            m_saved.emplace_back(name, qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt);
        std::filesystem::create_directories(m_dir.path() / "tmp");
        std::filesystem::create_directories(m_dir.path() / "home");
        qputenv("TMPDIR", QByteArray::fromStdString(tmp()));
        qputenv("HOME", QByteArray::fromStdString(home()));
        qunsetenv("XDG_RUNTIME_DIR");
    }
    ~SocketPlaces()
    {
        for (const auto &[name, value] : m_saved) {
            if (value)
                qputenv(name, *value);
            else
                qunsetenv(name);
        }
    }
    std::string tmp() const { return m_dir.file("tmp"); }
    std::string home() const { return m_dir.file("home"); }
    std::string ownTempFolder() const { return tmp() + "/korvante-" + std::to_string(::geteuid()); }
    const TempDir &dir() const { return m_dir; }

private:
    TempDir m_dir;
    std::vector<std::pair<const char *, std::optional<QByteArray>>> m_saved;
};

unsigned modeOf(const std::string &path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0xFFFFu;
}

TEST(SingleInstanceTest, SecondStartHandsOverToTheFirst)
{
    app();
    SocketPlaces places;
    const QString name = QStringLiteral("KORVANTE VIEWER test %1").arg(QCoreApplication::applicationPid());

    SingleInstance first(name);
    ASSERT_EQ(first.start(), SingleInstance::Result::Primary);
    EXPECT_EQ(first.socketPath().toStdString(), places.ownTempFolder() + "/" + name.toStdString());
    int activations = 0;
    QObject::connect(&first, &SingleInstance::activationRequested, [&activations] { ++activations; });
    QStringList opened;
    QObject::connect(&first, &SingleInstance::openRequested, [&opened](const QString &path) { opened << path; });

    // The second start runs in another thread, as another process would: its
    // blocking connect must be answered by the first's event loop. The file
    // it was given is passed on.
    SingleInstance::Result second = SingleInstance::Result::Failed;
    std::thread other([&] {
        SingleInstance s(name);
        s.setHandOverPath(QStringLiteral("/media/card/NOR/N_20120305_142233_2CH_F.avi"));
        second = s.start();
    });
    QElapsedTimer clock;
    clock.start();
    while (activations == 0 && clock.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    other.join();
    EXPECT_EQ(second, SingleInstance::Result::HandedOver);
    EXPECT_EQ(activations, 1);
    EXPECT_EQ(opened, QStringList{QStringLiteral("/media/card/NOR/N_20120305_142233_2CH_F.avi")});
}

TEST(SingleInstanceTest, LeftoversOfACrashedInstanceAreReplaced)
{
    app();
    SocketPlaces places;
    const QString name = QStringLiteral("korvante-stale-%1").arg(QCoreApplication::applicationPid());
    // What a crash leaves: the socket file (here a plain file) and the lock
    // file, in the user's own folder.
    ASSERT_TRUE(std::filesystem::create_directories(places.ownTempFolder()));
    places.dir().write("tmp/korvante-" + std::to_string(::geteuid()) + "/" + name.toStdString(), "");
    places.dir().write("tmp/korvante-" + std::to_string(::geteuid()) + "/" + name.toStdString() + ".lock", "");
    SingleInstance instance(name);
    EXPECT_EQ(instance.start(), SingleInstance::Result::Primary);
}

// Where the socket goes: the runtime folder when it is private, else a folder
// of the user's own in the temporary folder, else one in the home folder;
// a folder that another user made, or a link, is never used.
TEST(SingleInstanceTest, SocketFolderIsAlwaysTheUsersOwnAndPrivate)
{
    struct Case {
        const char *what;
        unsigned runtimeMode;   // 0: XDG_RUNTIME_DIR unset
        const char *tempFolder; // what already stands at tmp/korvante-<uid>: "", "open", "foreign", "link"
        const char *expected;   // "runtime", "temp" or "home"
    };
    const Case cases[] = {
        {"private runtime folder", 0700, "", "runtime"},
        {"runtime folder others may enter", 0755, "", "temp"},
        {"no runtime folder", 0, "", "temp"},
        {"own folder left open is narrowed", 0, "open", "temp"},
        {"folder planted by another user", 0, "foreign", "home"},
        {"link planted in the temporary folder", 0, "link", "home"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        if (std::string(c.tempFolder) == "foreign" && ::geteuid() != 0) {
            ADD_FAILURE() << "planting another user's folder needs root";
            continue;
        }
        SocketPlaces places;
        const std::string runtime = places.dir().file("run");
        if (c.runtimeMode) {
            std::filesystem::create_directories(runtime);
            ::chmod(runtime.c_str(), c.runtimeMode);
            qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime));
        }
        const std::string own = places.ownTempFolder();
        const std::string elsewhere = places.dir().file("elsewhere");
        std::filesystem::create_directories(elsewhere);
        const std::string kind = c.tempFolder;
        if (kind == "open" || kind == "foreign") {
            ::mkdir(own.c_str(), 0777);
            ::chmod(own.c_str(), 0777);
            if (kind == "foreign") {
                ASSERT_EQ(::chown(own.c_str(), 65534, 65534), 0);
            }
        } else if (kind == "link") {
            ::chmod(elsewhere.c_str(), 0700);
            std::filesystem::create_directory_symlink(elsewhere, own);
        }

        QString error;
        const std::string folder = SingleInstance::sessionFolder(&error).toStdString();
        const std::string expected = std::string(c.expected) == "runtime" ? runtime
                                     : std::string(c.expected) == "temp" ? own
                                                                         : places.home() + "/.cache/korvante-run";
        EXPECT_EQ(folder, expected) << error.toStdString();
        EXPECT_EQ(modeOf(folder) & 077, 0u);
        if (kind == "foreign") {
            EXPECT_EQ(modeOf(own), 0777u) << "another user's folder was changed";
        }
    }
}

// A file that another user planted where a shared socket would be, and in the
// user's temporary folder, changes nothing.
TEST(SingleInstanceTest, FilesPlantedByAnotherUserDoNotStopAStart)
{
    app();
    if (::geteuid() != 0)
        GTEST_FAIL() << "planting another user's files needs root";
    SocketPlaces places;
    const QString name = QStringLiteral("KORVANTE VIEWER");
    const std::string planted = places.dir().write("tmp/KORVANTE VIEWER", "");
    ASSERT_EQ(::chown(planted.c_str(), 65534, 65534), 0);
    ::chmod(planted.c_str(), 0600);

    SingleInstance instance(name);
    EXPECT_EQ(instance.start(), SingleInstance::Result::Primary);
    EXPECT_TRUE(std::filesystem::exists(planted));
    EXPECT_NE(instance.socketPath().toStdString(), planted);
}

// Starts that race each other: exactly one listens, every other one hands
// over to it, and its socket is still there afterwards.
TEST(SingleInstanceTest, RacingStartsEndWithOneListenerAndItsSocket)
{
    app();
    SocketPlaces places;
    const QString name = QStringLiteral("korvante-race-%1").arg(QCoreApplication::applicationPid());
    constexpr int kStarts = 6;
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        std::vector<SingleInstance::Result> results(kStarts, SingleInstance::Result::Failed);
        std::atomic<int> ready{0}, finished{0};
        std::atomic<bool> socketAlive{false};
        std::vector<std::unique_ptr<QThread>> starts;
        for (int i = 0; i < kStarts; ++i) {
            starts.emplace_back(QThread::create([&, i] {
                SingleInstance s(name);
                ++ready;
                while (ready < kStarts)
                    std::this_thread::yield();
                results[i] = s.start();
                ++finished;
                // The listener stays until every start has ended.
                while (finished < kStarts)
                    std::this_thread::yield();
                if (results[i] == SingleInstance::Result::Primary) {
                    struct stat st {};
                    socketAlive = ::lstat(s.socketPath().toLocal8Bit().constData(), &st) == 0 && S_ISSOCK(st.st_mode);
                }
            }));
            starts.back()->start();
        }
        for (auto &t : starts)
            t->wait();
        EXPECT_EQ(std::count(results.begin(), results.end(), SingleInstance::Result::Primary), 1);
        EXPECT_EQ(std::count(results.begin(), results.end(), SingleInstance::Result::HandedOver), kStarts - 1);
        EXPECT_TRUE(socketAlive);
    }
}
