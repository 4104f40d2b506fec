#include "core/playback/metadata_poller.h"

#include "core/playback/media_engine.h"
#include "core/playback/sensor_records.h"

namespace korvante {

int RunMetadataPoller(MediaEngine &engine, CQDRVTextData &sensorData)
{
    // The state is checked before a packet is taken, so a packet is never
    // taken and then dropped because the graph stopped in between.
    while (engine.pollMetadataPacket(sensorData)) {
    }
    return 0;
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
