// skin-gen: draws the viewer's skin images and the resource collections that
// rcc packs into ResourceDll.rcc and the executable.
//
//   skin-gen <output folder> [--contact-sheet <png>] [--reference <md>] [--app-icon <png>]

#include "output.h"

#include "core/platform/log.h"

#include <QCommandLineParser>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    // Text needs a font database, which needs a platform; the offscreen one
    // works without a display, so the build never depends on one.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Draws the viewer's skin images."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("folder"), QStringLiteral("Output folder for images and .qrc files."));
    const QCommandLineOption sheet(QStringLiteral("contact-sheet"), QStringLiteral("Also write a contact sheet PNG."),
                                   QStringLiteral("png"));
    const QCommandLineOption reference(QStringLiteral("reference"),
                                       QStringLiteral("Also write the list of ids in Markdown."), QStringLiteral("md"));
    const QCommandLineOption appIcon(QStringLiteral("app-icon"),
                                     QStringLiteral("Also write the application icon at 256 x 256 pixels."),
                                     QStringLiteral("png"));
    parser.addOption(sheet);
    parser.addOption(reference);
    parser.addOption(appIcon);
    parser.process(app);

    const QStringList folders = parser.positionalArguments();
    if (folders.size() != 1) {
        korvante::logError("skin-gen: expected exactly one output folder (see --help)");
        return 2;
    }

    QString error;
    bool ok = korvante::skin::writeImagesAndCollections(folders.front(), error);
    if (ok && parser.isSet(sheet))
        ok = korvante::skin::writeContactSheet(parser.value(sheet), error);
    if (ok && parser.isSet(reference))
        ok = korvante::skin::writeReference(parser.value(reference), error);
    if (ok && parser.isSet(appIcon))
        ok = korvante::skin::writeAppIcon(parser.value(appIcon), 256, error);
    if (!ok) {
        korvante::logError("skin-gen: " + error.toStdString());
        return 1;
    }
    return 0;
}
