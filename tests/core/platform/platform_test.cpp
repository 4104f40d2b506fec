#include "core/platform/log.h"
#include "core/platform/registry.h"
#include "core/platform/single_instance.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <gtest/gtest.h>

#include <thread>

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

TEST(SingleInstanceTest, SecondStartHandsOverToTheFirst)
{
    app();
    TempDir runtime;
    qputenv("TMPDIR", QByteArray::fromStdString(runtime.path().string()));
    const QString name = QStringLiteral("KORVANTE VIEWER test %1").arg(QCoreApplication::applicationPid());

    SingleInstance first(name);
    ASSERT_EQ(first.start(), SingleInstance::Result::Primary);
    int activations = 0;
    QObject::connect(&first, &SingleInstance::activationRequested, [&activations] { ++activations; });

    // The second start runs in another thread, as another process would: its
    // blocking connect must be answered by the first's event loop.
    SingleInstance::Result second = SingleInstance::Result::Failed;
    std::thread other([&] {
        SingleInstance s(name);
        second = s.start();
    });
    QElapsedTimer clock;
    clock.start();
    while (activations == 0 && clock.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    other.join();
    EXPECT_EQ(second, SingleInstance::Result::HandedOver);
    EXPECT_EQ(activations, 1);
    qunsetenv("TMPDIR");
}

TEST(SingleInstanceTest, StaleSocketOfACrashedInstanceIsReplaced)
{
    app();
    TempDir runtime;
    qputenv("TMPDIR", QByteArray::fromStdString(runtime.path().string()));
    const QString name = QStringLiteral("korvante-stale-%1").arg(QCoreApplication::applicationPid());
    // A plain file where the socket would be, as a crash leaves it.
    runtime.write(name.toStdString(), "");
    SingleInstance instance(name);
    EXPECT_EQ(instance.start(), SingleInstance::Result::Primary);
    qunsetenv("TMPDIR");
}
