// GIF recordings of the foreground window or a whole screen: about ten frames a second, each shown
// for as long as it really lasted, looping forever, with a small counter of the elapsed time. The
// recording also ends by itself after the configured duration and when the recorded window loses
// the foreground.
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
