// The lines each recorder's log has always had at the turning points of a recording's life. People
// and tools that read the log for support look for them word for word, so the recording session
// writes them (with the recorder's prefix) at those points, beside its own state lines. Null where
// a recorder has no line for a point. Windows-free.
#pragma once

namespace vistrel {

struct LifecycleLines {
  const wchar_t* stopRequested = nullptr;    // the user (or the program's exit) asks for the end
  const wchar_t* active = nullptr;           // the sources capture: recording begins
  const wchar_t* loopStarted = nullptr;      // the recording loop begins
  const wchar_t* paused = nullptr;           // a pause has taken effect
  const wchar_t* recording = nullptr;        // a resume has taken effect
  const wchar_t* loopFinished = nullptr;     // the recording loop has ended
  const wchar_t* threadFinished = nullptr;   // capture is over; the file is finished next
  const wchar_t* cleanupStarts = nullptr;    // before the file is finished, or a failed start released
  const wchar_t* trailerSkipped = nullptr;   // a failed start: there is no file to finish
  const wchar_t* cleanupFinished = nullptr;  // everything released
  const wchar_t* stopped = nullptr;          // the end, after the stop sound
};

// What the video and audio recorders' logs share.
inline LifecycleLines RecorderLifecycle(bool multiTrack) {
  LifecycleLines lines;
  lines.stopRequested = L"Stop requested.";
  lines.active = L"All initializations successful. Recording is now active.";
  lines.loopStarted = multiTrack ? L"Multi-track recording thread started, entering main loop."
                                 : L"Recording thread started, entering main loop.";
  lines.loopFinished = multiTrack ? L"Multi-track recording loop finished." : L"Recording loop finished.";
  lines.threadFinished = L"Recording thread has finished.";
  return lines;
}

inline LifecycleLines VideoLifecycle(bool multiTrack) {
  LifecycleLines lines = RecorderLifecycle(multiTrack);
  if (multiTrack) lines.active = L"Multi-track mode active. Starting audio capture threads and main loop.";
  lines.cleanupStarts = L"Starting full cleanup and state reset.";
  lines.trailerSkipped = L"Skipping trailer write as recording did not fully start.";
  lines.cleanupFinished = L"Cleanup and state reset finished.";
  return lines;
}

inline LifecycleLines AudioLifecycle(bool multiTrack) {
  LifecycleLines lines = RecorderLifecycle(multiTrack);
  lines.paused = L"Now paused.";
  lines.recording = L"Now recording.";
  lines.cleanupStarts = L"Starting cleanup.";
  lines.trailerSkipped = L"Skipping trailer write due to initialization failure.";
  lines.cleanupFinished = L"Cleanup finished.";
  return lines;
}

// The GIF recorder logs its set-up and its clean-up itself; the session adds the last word.
inline LifecycleLines GifLifecycle() {
  LifecycleLines lines;
  lines.stopRequested = L"Stop requested by user.";
  lines.stopped = L"Stopped.";
  return lines;
}

}  // namespace vistrel
