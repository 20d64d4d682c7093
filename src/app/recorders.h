// The program's three recorders: a recording session each for video, audio and GIF, the host that
// connects them to the countdown, the sounds, the tray and the balloons, and the requests the
// hotkeys and the tray menu make of them.
#pragma once

#include <windows.h>

#include <chrono>
#include <string>

#include "recording/recording_session.h"

namespace vistrel {

enum class Recorder { kVideo, kAudio, kGif };

RecordingSession& SessionOf(Recorder recorder);

// Start when idle (the settings and the multi-track configuration are read now), stop otherwise.
void ToggleRecorder(Recorder recorder);
// Pause or resume a video or audio recording.
void TogglePauseRecorder(Recorder recorder);

// What the tray menu and icon show: the video and audio recorders by their states' numbers (0 idle,
// also during the countdown and set-up; 3 paused), the GIF recorder as running or not.
int LegacyState(RecordingPhase phase);
bool AnyRecordingShownInTray();
// Whether any recorder is anywhere between its countdown and the end of finishing its file.
bool AnyRecorderActive();

// Shows the video being recorded, or the last one saved, in Explorer (a click on a balloon).
void OpenVideoLocation();

// At exit: stops every recording and waits (up to `limit` in all) for them to be finished. False
// when one is still running.
bool ShutdownRecorders(std::chrono::milliseconds limit);

}  // namespace vistrel
