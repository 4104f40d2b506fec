// The packed images: every id of the table is present at its size, in the
// right set, and looks like what its users expect (keyed backgrounds keep a
// clean magenta key, controls are transparent around their shape, hover faces
// differ from resting ones).

#include "packed_skin.h"

#include <gtest/gtest.h>

#include <QDir>

#include <map>
#include <tuple>

namespace korvante::skin {
namespace {

using packed::packedImage;

QString resourcePath(const SkinImage &entry) { return packed::resourcePath(entry.set, entry.id); }

class PackedImages : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(packed::registerPackedImages()); }

    static QImage load(const SkinImage &entry) { return packedImage(entry.set, entry.id); }
};

TEST_F(PackedImages, EveryIdIsPresentAtItsSizeAndNothingElse)
{
    std::map<ImageSet, int> counts;
    for (const SkinImage &entry : allImages()) {
        const QImage image = load(entry);
        ASSERT_FALSE(image.isNull()) << resourcePath(entry).toStdString();
        EXPECT_EQ(image.width(), entry.width) << entry.id;
        EXPECT_EQ(image.height(), entry.height) << entry.id;
        ++counts[entry.set];
    }
    EXPECT_EQ(QDir(QStringLiteral(":/skin")).entryList().size(), counts[ImageSet::Skin]);
    EXPECT_EQ(QDir(QStringLiteral(":/app")).entryList().size(), counts[ImageSet::App]);
}

TEST_F(PackedImages, IdsNamedByThePanelsAreInTheTable)
{
    // Spot checks across panels and both sets, with the sizes the panels draw them at.
    const std::tuple<ImageSet, int, int, int> expected[] = {
        {ImageSet::Skin, 105, 520, 13}, {ImageSet::Skin, 117, 85, 13},   {ImageSet::Skin, 112, 15, 15},
        {ImageSet::Skin, 149, 936, 701}, {ImageSet::Skin, 151, 41, 41},  {ImageSet::Skin, 154, 91, 87},
        {ImageSet::Skin, 157, 907, 803}, {ImageSet::Skin, 165, 20, 20},  {ImageSet::Skin, 239, 15, 14},
        {ImageSet::Skin, 249, 280, 106}, {ImageSet::Skin, 250, 32, 20},  {ImageSet::Skin, 254, 55, 44},
        {ImageSet::Skin, 268, 30, 20},   {ImageSet::App, 143, 26, 12},   {ImageSet::App, 146, 26, 12},
        {ImageSet::App, 147, 12, 26},    {ImageSet::App, 152, 12, 26},   {ImageSet::App, 141, 1, 20}};
    for (const auto &[set, id, w, h] : expected) {
        const SkinImage *entry = findImage(set, id);
        ASSERT_NE(entry, nullptr) << id;
        EXPECT_EQ(entry->width, w) << id;
        EXPECT_EQ(entry->height, h) << id;
    }
    // Same number, different pictures in the two sets.
    EXPECT_NE(findImage(ImageSet::Skin, 149)->width, findImage(ImageSet::App, 149)->width);
}

TEST_F(PackedImages, KeyedBackgroundsHaveACleanMagentaKey)
{
    for (int id : {149, 157}) {
        const QImage image = load(*findImage(ImageSet::Skin, id));
        EXPECT_EQ(image.pixel(0, 0), qRgb(255, 0, 255)) << id;
        EXPECT_EQ(image.pixel(image.width() - 1, image.height() - 1), qRgb(255, 0, 255)) << id;
        EXPECT_NE(image.pixel(image.width() / 2, image.height() / 2), qRgb(255, 0, 255)) << id;
        int fringe = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QRgb p = image.pixel(x, y);
                EXPECT_EQ(qAlpha(p), 255);
                if (p != qRgb(255, 0, 255) && qRed(p) > 120 && qBlue(p) > 120 && qGreen(p) < 90)
                    ++fringe;
            }
        }
        EXPECT_EQ(fringe, 0) << "pinkish pixels at the key's edge of " << id;
    }
}

TEST_F(PackedImages, ControlsAreTransparentAroundTheirShapeAndNotEmpty)
{
    for (const SkinImage &entry : allImages()) {
        const bool shaped = entry.kind == Kind::ButtonNormal || entry.kind == Kind::ButtonHover
                            || entry.kind == Kind::ButtonPressed || entry.kind == Kind::OptionSelected
                            || entry.kind == Kind::OptionUnselected || entry.kind == Kind::OptionHover
                            || entry.kind == Kind::SliderChannel || entry.kind == Kind::SliderActiveChannel
                            || entry.kind == Kind::SliderThumb || entry.kind == Kind::SliderActiveThumb;
        const QImage image = load(entry);
        int visible = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                visible += qAlpha(image.pixel(x, y)) > 0 ? 1 : 0;
        EXPECT_GT(visible * 50, image.width() * image.height()) << entry.id << " is almost empty";
        if (shaped) {
            EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << entry.id;
        }
        const bool opaque = entry.kind == Kind::Background || entry.kind == Kind::HeaderBackground
                            || entry.kind == Kind::HeaderFace || entry.kind == Kind::HeaderEdge
                            || entry.kind == Kind::ScrollArrow || entry.kind == Kind::ScrollArrowPressed
                            || entry.kind == Kind::ScrollTrack || entry.kind == Kind::ScrollThumb;
        if (opaque) {
            EXPECT_EQ(visible, image.width() * image.height()) << entry.id << " must be opaque";
        }
    }
}

TEST_F(PackedImages, EveryRestingButtonHasADifferentHoverFace)
{
    int pairs = 0;
    for (const SkinImage &normal : allImages()) {
        if (normal.kind != Kind::ButtonNormal)
            continue;
        const SkinImage *hover = nullptr;
        for (const SkinImage &other : allImages())
            if (other.kind == Kind::ButtonHover && other.glyph == normal.glyph && other.caption == normal.caption
                && other.width == normal.width && other.height == normal.height)
                hover = &other;
        ASSERT_NE(hover, nullptr) << "no hover face for " << normal.id;
        EXPECT_NE(load(normal), load(*hover)) << normal.id << " and " << hover->id;
        ++pairs;
    }
    EXPECT_GT(pairs, 20);
}

} // namespace
} // namespace korvante::skin
