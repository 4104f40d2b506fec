#pragma once
// Hands the configured folders, extensions, captions and recursion switches to
// a catalogue: the viewer's shared state does it when it is made, the
// command-line tool before it lists.

namespace korvante {
class RecordingCatalogue;
class ViewerConfig;
}

namespace korvante {

void importConfiguration(const ViewerConfig &config, RecordingCatalogue &catalogue);

} // namespace korvante::cli
