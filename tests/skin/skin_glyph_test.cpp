// Glyphs and button faces drawn directly: every picture stays inside the box
// it is given (a glyph that spills over is cut off on a small button) and sits
// in the middle of its face.

#include "faces.h"
#include "glyphs.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QPainter>

namespace korvante::skin {
namespace {

// Text in glyphs needs the font database; the tests run on the offscreen platform.
void ensureApplication()
{
    static int argc = 1;
    static char name[] = "skin_glyph_test";
    static char *argv[] = {name, nullptr};
    if (!QGuiApplication::instance()) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        new QGuiApplication(argc, argv); // lives until the process ends
    }
}

QRect visibleBounds(const QImage &image)
{
    QRect bounds;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) > 0)
                bounds |= QRect(x, y, 1, 1);
    return bounds;
}

TEST(SkinGlyphs, EveryGlyphDrawsInsideItsBox)
{
    ensureApplication();
    const Glyph pictures[] = {
        Glyph::Play, Glyph::Pause, Glyph::Stop, Glyph::Previous, Glyph::Next, Glyph::Rewind, Glyph::Forward,
        Glyph::Print, Glyph::Capture, Glyph::RearFlip, Glyph::Swap, Glyph::Sensor, Glyph::Map, Glyph::List,
        Glyph::Adjust, Glyph::Card, Glyph::Gear, Glyph::Close, Glyph::FullScreen, Glyph::FitScreen,
        Glyph::Minimise, Glyph::DefaultScreen, Glyph::Pin, Glyph::Reset, Glyph::Speaker, Glyph::Gps,
        Glyph::Latitude, Glyph::Longitude, Glyph::Speed, Glyph::MapBadge, Glyph::ArrowLeft, Glyph::ArrowRight,
        Glyph::ArrowUp, Glyph::ArrowDown, Glyph::FolderOpen, Glyph::SortAscending, Glyph::SortDescending,
        Glyph::SearchDate, Glyph::SearchSpeed, Glyph::Convert, Glyph::Overview, Glyph::AppIcon};
    for (Glyph glyph : pictures) {
        for (bool tilted : {false, true}) {
            QImage image(96, 96, QImage::Format_ARGB32);
            image.fill(Qt::transparent);
            // Wide glyphs take a 3:2 box, the rest a square one.
            const QRect box = glyph == Glyph::RearFlip ? QRect(24, 32, 48, 32) : QRect(32, 32, 32, 32);
            QPainter p(&image);
            drawGlyph(p, glyph, box, {Qt::white, Qt::gray, tilted});
            p.end();
            const QRect drawn = visibleBounds(image);
            ASSERT_FALSE(drawn.isEmpty()) << "glyph " << int(glyph) << " draws nothing";
            // One pixel of antialiasing may fall just outside.
            EXPECT_TRUE(box.adjusted(-1, -1, 1, 1).contains(drawn))
                << "glyph " << int(glyph) << (tilted ? " (tilted)" : "") << " spills out of its box: drawn "
                << drawn.x() << "," << drawn.y() << " " << drawn.width() << "x" << drawn.height();
        }
    }
}

TEST(SkinGlyphs, ButtonGlyphsAreCentredOnTheirFaces)
{
    ensureApplication();
    for (const SkinImage &entry : allImages()) {
        if (entry.kind != Kind::ButtonNormal || !entry.caption.empty() || entry.width > 36)
            continue;
        QImage image(entry.width, entry.height, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        QPainter p(&image);
        drawButtonFace(p, QRectF(0, 0, entry.width, entry.height), entry.kind, entry.glyph, {});
        p.end();
        const QRect drawn = visibleBounds(image);
        ASSERT_FALSE(drawn.isEmpty()) << entry.id;
        const QPointF offset = QRectF(drawn).center() - QRectF(image.rect()).center();
        EXPECT_LE(std::abs(offset.x()), 2.5) << entry.id << " glyph is off centre horizontally";
        EXPECT_LE(std::abs(offset.y()), 2.5) << entry.id << " glyph is off centre vertically";
        // A margin stays free so the hover frame does not touch the glyph.
        EXPECT_GE(drawn.left(), 1) << entry.id;
        EXPECT_GE(drawn.top(), 1) << entry.id;
    }
}

} // namespace
} // namespace korvante::skin
