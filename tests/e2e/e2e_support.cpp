#include "e2e_support.h"

#include "frame_code.h"

#include <QGuiApplication>
#include <QProcess>

#include <filesystem>

namespace korvante::testing {

void ensureGuiApp()
{
    static int argc = 1;
    static char name[] = "e2e_viewer_tests";
    static char *argv[] = {name, nullptr};
    static QGuiApplication *instance = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QGuiApplication(argc, argv);
    }();
    (void)instance;
}

bool haveXTools()
{
    return QProcess::execute(QStringLiteral("sh"),
                             {QStringLiteral("-c"),
                              QStringLiteral("command -v xvfb-run && command -v import && command -v xdotool")}) == 0;
}

int frameIn(const QImage &shot, const QRect &area)
{
    const QImage part = shot.copy(area).convertToFormat(QImage::Format_RGB32);
    return framecode::decodeFrameNumber(part.constBits(), part.width(), part.height(),
                                        static_cast<int>(part.bytesPerLine()));
}

int luma(QRgb c)
{
    return (qRed(c) * 77 + qGreen(c) * 150 + qBlue(c) * 29) >> 8;
}

std::string runMkcardTool(const QStringList &args)
{
    QProcess mkcard;
    mkcard.start(QString::fromUtf8(KORVANTE_BINARY_DIR "/bin/korvante-mkcard"), args);
    if (!mkcard.waitForFinished(300000))
        return "korvante-mkcard did not finish";
    if (mkcard.exitStatus() != QProcess::NormalExit || mkcard.exitCode() != 0)
        return "korvante-mkcard failed: " + mkcard.readAllStandardError().toStdString();
    return {};
}

QProcessEnvironment viewerEnvironment(const TempDir &dir, int quitAfterMs)
{
    std::filesystem::create_directories(dir.path() / "tmp");
    std::filesystem::create_directories(dir.path() / "config");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.remove(QStringLiteral("KORVANTE_HEADLESS"));
    env.insert(QStringLiteral("KORVANTE_DEBUG"), QStringLiteral("1"));
    env.insert(QStringLiteral("KORVANTE_QUIT_AFTER_MS"), QString::number(quitAfterMs));
    env.insert(QStringLiteral("TMPDIR"), QString::fromStdString((dir.path() / "tmp").string()));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString((dir.path() / "config").string()));
    env.remove(QStringLiteral("XDG_RUNTIME_DIR")); // the socket then goes below TMPDIR
    return env;
}

} // namespace korvante::testing
