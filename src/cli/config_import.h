#pragma once
// Hands the configured folders, extensions, captions and recursion switches to
// a catalogue, as the viewer does when it starts.

namespace korvante {
class RecordingCatalogue;
class ViewerConfig;
}

namespace korvante::cli {

void importConfiguration(const ViewerConfig &config, RecordingCatalogue &catalogue);

} // namespace korvante::cli
