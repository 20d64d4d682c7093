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

// Shows the video being recorded, or the last one saved, in Explorer (a click on a balloon).
void OpenVideoLocation();

// At exit: every recording is stopped (a countdown cancelled) and nothing starts any more. True
// when none was left to finish.
bool BeginFinishingRecorders();
// True when no recording is left running or being finished.
bool RecordersIdle();
// Waits up to `limit` until RecordersIdle (on the interface thread only when Windows ends the
// session, which must not end before the files are finished).
bool WaitRecordersIdle(std::chrono::milliseconds limit);
// Windows is ending the session: finishes under way leave what the next start can do.
void HurryRecorders();
// At exit, once the recordings are finished: ends the look for unfinished recordings and waits
// for every thread of the recorders to end.
void ShutdownRecorders();

// Looks for recordings an earlier run left unfinished in the output folders, in the background,
// and tells the user of those it finished.
void StartRecovery();

}  // namespace vistrel
