// Audio recordings: the microphone, the system audio or both mixed into one MP3, M4A or WAV file;
// or, in multi-track mode, each configured source in an AAC stream of its own in one M4A file.
#pragma once

#include <memory>

#include "config/app_config.h"
#include "recording/recording_backend.h"
#include "tracks/track_config.h"

namespace vistrel {

inline constexpr wchar_t kAudioLogPrefix[] = L"AudioRecorder: ";

// A recording made with the settings and the multi-track configuration as they are at the request.
std::unique_ptr<RecordingBackend> MakeAudioBackend(AppConfig config, MultiTrackConfig tracks);

}  // namespace vistrel
