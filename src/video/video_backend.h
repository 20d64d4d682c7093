// Video recordings: the screen or one application window to H.264 in MP4, with the microphone
// and/or the system audio mixed into one AAC stream; or, in multi-track mode, a video stream per
// screen, window or camera track and an AAC stream per audio source.
#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "config/app_config.h"
#include "recording/recording_backend.h"
#include "tracks/track_config.h"

namespace vistrel {

class VideoDevices;

inline constexpr wchar_t kVideoLogPrefix[] = L"Recorder: ";

// What a video recording is made from, fixed when it is asked for.
struct VideoPlan {
  AppConfig config;               // the settings at the request
  MultiTrackConfig tracks;        // the multi-track configuration, read from its file at the request
  HWND target = nullptr;          // window mode: the window to record
  std::vector<HWND> ownWindows;   // this program's windows, never recorded as a target
  std::shared_ptr<VideoDevices> devices;  // the screens' and cameras' stacks; null: Windows' own
};

// A window the recorder can follow: visible, not minimised, not the desktop, the shell or one of
// `own`, and at least 50 x 50 pixels.
bool IsValidTargetWindow(HWND window, const std::vector<HWND>& own);

std::unique_ptr<RecordingBackend> MakeVideoBackend(VideoPlan plan);

}  // namespace vistrel
