#pragma once
// FFmpeg for the viewer executable, loaded on a thread of its own while the
// windows are being made. Linked the usual way, FFmpeg's five libraries and
// the hundred codec and network libraries behind them were all loaded and
// relocated before main() ran, the largest part of the time to the first
// window. The viewer links media_loader.cpp instead: it defines each FFmpeg
// function the program calls, and each waits for the load (usually done by
// then) and jumps to the real one. The command-line tools and tests link
// FFmpeg directly and never see this.
//
// Any thread.

#include <string>

namespace korvante::media_loader {

// Starts loading FFmpeg on a background thread; later calls do nothing.
// Without it, the first FFmpeg call loads it on the calling thread.
void startLoading();

// Waits for the load; true when every library and function was found, else
// false with the reason in `problem`. Without FFmpeg the look-ups the
// component check makes (av_find_input_format, avcodec_find_decoder) find
// nothing, so the viewer says it cannot play and ends; any other FFmpeg call
// would end the program with the reason on standard error.
bool waitLoaded(std::string *problem = nullptr);

} // namespace korvante::media_loader
