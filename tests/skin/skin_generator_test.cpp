// The generator as the build runs it: same output on every run, resource
// collections that list exactly the table, and a clean refusal of an output
// folder it cannot create.

#include "skin_table.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace korvante::skin {
namespace {

const QString kGenerator = QStringLiteral(KORVANTE_BINARY_DIR "/bin/skin-gen");

struct GeneratorRun {
    int exitCode = -1;
    QByteArray errors;
};

GeneratorRun runGenerator(const QStringList &arguments)
{
    QProcess process;
    process.start(kGenerator, arguments);
    GeneratorRun run;
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = process.exitCode();
    run.errors = process.readAllStandardError();
    return run;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(SkinGenerator, TwoRunsWriteTheSameFiles)
{
    QTemporaryDir first, second;
    ASSERT_TRUE(first.isValid() && second.isValid());
    ASSERT_EQ(runGenerator({first.path()}).exitCode, 0);
    ASSERT_EQ(runGenerator({second.path()}).exitCode, 0);

    int files = 0;
    for (const QString &folder : {QStringLiteral("skin"), QStringLiteral("app")}) {
        const QStringList names = QDir(first.filePath(folder)).entryList(QDir::Files, QDir::Name);
        EXPECT_EQ(names, QDir(second.filePath(folder)).entryList(QDir::Files, QDir::Name));
        for (const QString &name : names) {
            const QByteArray a = readAll(first.filePath(folder + u'/' + name));
            const QByteArray b = readAll(second.filePath(folder + u'/' + name));
            EXPECT_FALSE(a.isEmpty()) << name.toStdString();
            EXPECT_EQ(a.size(), b.size()) << name.toStdString();
            EXPECT_TRUE(a == b) << folder.toStdString() << "/" << name.toStdString() << " differs between runs";
            ++files;
        }
    }
    EXPECT_EQ(files, int(allImages().size()));
    EXPECT_EQ(readAll(first.filePath(QStringLiteral("skin.qrc"))), readAll(second.filePath(QStringLiteral("skin.qrc"))));
}

TEST(SkinGenerator, CollectionsListEveryIdOfTheirSetOnce)
{
    QTemporaryDir out;
    ASSERT_TRUE(out.isValid());
    ASSERT_EQ(runGenerator({out.path()}).exitCode, 0);
    const QString skin = QString::fromUtf8(readAll(out.filePath(QStringLiteral("skin.qrc"))));
    const QString app = QString::fromUtf8(readAll(out.filePath(QStringLiteral("app.qrc"))));
    EXPECT_TRUE(skin.contains(QStringLiteral("prefix=\"/skin\"")));
    EXPECT_TRUE(app.contains(QStringLiteral("prefix=\"/app\"")));
    for (const SkinImage &entry : allImages()) {
        const QString line = QStringLiteral("<file alias=\"%1.png\">%2/%1.png</file>")
                                 .arg(entry.id)
                                 .arg(entry.set == ImageSet::Skin ? QStringLiteral("skin") : QStringLiteral("app"));
        const QString &mine = entry.set == ImageSet::Skin ? skin : app;
        const QString &other = entry.set == ImageSet::Skin ? app : skin;
        EXPECT_EQ(mine.count(line), 1) << line.toStdString();
        EXPECT_FALSE(other.contains(line)) << line.toStdString();
    }
}

TEST(SkinGenerator, RefusesAnOutputFolderItCannotCreate)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString blocker = dir.filePath(QStringLiteral("plain-file"));
    QFile file(blocker);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();

    const GeneratorRun run = runGenerator({blocker + QStringLiteral("/out")});
    EXPECT_NE(run.exitCode, 0);
    EXPECT_NE(run.exitCode, -1) << "the generator crashed or hung";
    EXPECT_TRUE(run.errors.contains("cannot create")) << run.errors.toStdString();

    const GeneratorRun noFolder = runGenerator({});
    EXPECT_EQ(noFolder.exitCode, 2);
    EXPECT_TRUE(noFolder.errors.contains("output folder")) << noFolder.errors.toStdString();
}

} // namespace
} // namespace korvante::skin
