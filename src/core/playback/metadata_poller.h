#pragma once
// The metadata poller: a worker thread that reads the front stream-parse
// filter's metadata packets one by one while the graph runs or is paused,
// decodes each and appends it to the sensor lists. It ends on its own when
// no packet is left (and none is still to come from a walk of the file that
// goes on), the graph is gone, or the graph leaves the running and paused
// states. Each packet is read once per open; several pollers on one
// open share the reads and never append a packet twice or out of order.

#include <thread>

namespace korvante {

class CQDRVTextData;
class MediaEngine;

// The thread's loop; returns 0 when it ends.
int RunMetadataPoller(MediaEngine &engine, CQDRVTextData &sensorData);

// Starts the loop in a thread of its own and lets it go (the caller keeps no
// handle). The engine waits for it in waitForPollers() and its destructor;
// `sensorData` must live until then.
void StartMetadataPoller(MediaEngine &engine, CQDRVTextData &sensorData);

} // namespace korvante
