// GIF recordings of the foreground window or a whole screen: ten frames a second, each shown for
// as long as it really lasted, looping forever, with a small counter of the elapsed time. The
// recording also ends by itself after the configured duration and when the recorded window loses
// the foreground.
//
// The recording thread only captures, on the frame clock, into a bounded queue; an encoding
// thread quantises what changed and hands it to FFmpeg's GIF encoder (gif_encoder.h). A frame
// without change is left out, so the one before lasts until the next change. When encoding falls
// behind, the oldest waiting frame is dropped (logged once), the one before it lasting longer. A
// stop ends the capture at once; what waits is encoded and the last frame lasts until the stop.
#pragma once

#include <windows.h>

#include <memory>

#include "config/app_config.h"
#include "recording/recording_backend.h"

namespace vistrel {

inline constexpr wchar_t kGifLogPrefix[] = L"GIF Recorder: ";

// A recording with the settings as they are at the request; in window mode of `target`.
std::unique_ptr<RecordingBackend> MakeGifBackend(AppConfig config, HWND target);

}  // namespace vistrel
