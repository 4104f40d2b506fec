#include "core/playback/metadata_poller.h"

#include "core/playback/media_engine.h"
#include "core/playback/sensor_records.h"

#include <chrono>
#include <thread>

namespace korvante {

namespace {
constexpr int kWaitMs = 50;
}

int RunMetadataPoller(MediaEngine &engine, CQDRVTextData &sensorData)
{
    // The state is checked before a packet is taken, so a packet is never
    // taken and then dropped because the graph stopped in between.
    // A recording still walked hands its packets out as the walk passes
    // them: the poller looks again now and then until the walk is over.
    for (;;) {
        while (engine.pollMetadataPacket(sensorData)) {
        }
        if (!engine.metadataStillComing())
            return 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(kWaitMs));
    }
}

void StartMetadataPoller(MediaEngine &engine, CQDRVTextData &sensorData)
{
    engine.pollerStarted();
    std::thread([&engine, &sensorData] {
        RunMetadataPoller(engine, sensorData);
        engine.pollerEnded();
    }).detach();
}

} // namespace korvante
