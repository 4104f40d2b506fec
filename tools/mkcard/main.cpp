// korvante-mkcard: plays the camera and writes a sample card (a folder tree,
// a card image, or both). Exit codes: 0 done, 2 bad command line or output
// that cannot be written, 1 an encoder failure.

#include "core/platform/log.h"
#include "mkcard/card_output.h"
#include "mkcard/options.h"
#include "mkcard/recording.h"

extern "C" {
#include <libavutil/log.h>
}

#include <cstdio>
#include <string>
#include <vector>

namespace {

int refuse(const std::string &message)
{
    korvante::logError("korvante-mkcard: " + message);
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    using namespace mkcard;
    Options options;
    std::string error;
    if (!parseOptions(std::vector<std::string>(argv + 1, argv + argc), options, &error))
        return refuse(error + " (see --help)");
    if (options.help) {
        std::fputs(usageText(), stdout);
        return 0;
    }
    av_log_set_level(AV_LOG_ERROR); // the encoders' statistics are noise here
    const CardSettings &card = options.card;
    const std::vector<RecordingPlan> plans = planRecordings(card);

    std::unique_ptr<FolderCard> folder;
    if (!options.folder.empty()) {
        folder = FolderCard::create(options.folder, unixTimeOf(card.startLocal), &error);
        if (!folder)
            return refuse(error);
    }
    std::unique_ptr<CardImageStage> stage;
    if (!options.image.empty()) {
        stage = CardImageStage::create(options.image, &error);
        if (!stage)
            return refuse(error);
    }
    for (const auto &plan : plans) {
        RecordingMedia media;
        if (!produceMedia(plan, card, media, &error)) {
            korvante::logError("korvante-mkcard: " + error);
            return 1;
        }
        const int64_t time = unixTimeOf(plan.startLocal);
        if (folder) {
            if (!folder->addFile(plan.folder, plainName(plan, 'F'), buildFrontFile(plan, card, media), time, &error))
                return refuse(error);
            if (plan.twoChannels &&
                !folder->addFile(plan.folder, plainName(plan, 'R'), buildRearFile(plan, card, media),
                                 time + plan.rearOffset, &error))
                return refuse(error);
        }
        if (stage && !stage->add(plan.folder, cardName(plan), time, buildCardFile(plan, card, media), &error))
            return refuse(error);
    }
    if (stage) {
        const std::vector<CardImageFile> &imageFiles = stage->files();
        const uint64_t needed = defaultImageMib(imageFiles);
        const uint64_t mib = options.imageMib ? options.imageMib : needed;
        if (mib < needed)
            return refuse("--image-mib " + std::to_string(mib) + " is too small for these recordings: at least " +
                          std::to_string(needed) + " MiB are needed");
        const uint32_t volumeId = static_cast<uint32_t>(0x4B560000u ^ (card.seed * 2654435761u));
        if (!writeCardImage(options.image, mib, imageFiles, card.startLocal, volumeId, &error))
            return refuse(error);
    }
    return 0;
}
