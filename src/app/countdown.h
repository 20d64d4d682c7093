// The 3-2-1 countdown every recorder waits out before it captures: a 300 x 300 borderless,
// click-through, top-most, per-pixel-alpha window centred on the primary screen. It stays blank
// for one second, then shows 3, 2 and 1 for a second each with a rising beep, and then destroys
// itself, posting WM_QUIT to the thread that owns it. At most one exists in the process.
//
// A recorder's start thread calls RunCountdown and acts on its result:
//   kFinished, kNotShown  start recording (kNotShown: log that the window failed to create);
//   kBusy                 another start is counting down: refuse this one with a log line;
//   kInterrupted          this thread was asked to quit: do not start.
// RunCountdown never waits on another thread's countdown and never outlives its own by more
// than a few seconds, so a start request cannot hang on it.
#pragma once

#include <windows.h>

namespace vistrel {

inline constexpr wchar_t kCountdownWindowClass[] = L"CountdownWindowClass";
inline constexpr wchar_t kCountdownWindowTitle[] = L"Countdown";
inline constexpr int kCountdownWindowSize = 300;

enum class CountdownResult {
  kFinished,     // shown to its end on this thread
  kNotShown,     // the window could not be created
  kBusy,         // a countdown already runs (or is being created): nothing was shown or awaited
  kInterrupted,  // a WM_QUIT for this thread arrived first; the window has been closed
};

enum class CountdownShow {
  kShown,         // created on this thread, which must now pump messages until WM_QUIT
  kAlreadyShown,  // one exists: it was brought to the front, its count left alone
  kFailed,        // the window could not be created
};

// Creates the countdown window on the calling thread and starts its one-second timer. The thread
// must then run a message loop until the window's WM_QUIT. GDI+ must have been started.
CountdownShow ShowCountdownWindow(HINSTANCE instance, int seconds);

// Shows the countdown and pumps this thread's messages until it has gone.
CountdownResult RunCountdown(HINSTANCE instance, int seconds = 3);

// The live countdown window, or null. Readable from any thread.
HWND CountdownWindow();

// True from the moment a countdown is claimed until its window has been destroyed.
bool IsCountdownRunning();

// Seconds + 1 when the window is created (nothing drawn), then the number on screen; 0 at the end.
int CountdownRemaining();

// The pitch of the beep that comes with a number: 440, 660 and 880 Hz for 3, 2 and 1; else 0.
DWORD CountdownBeepHz(int count);

}  // namespace vistrel
