// Copies of the live screen: a rectangle, the chosen monitor, and the cursor drawn into a copy.
#pragma once

#include <windows.h>

namespace vistrel {

// GDI+ for the whole process: started before any window exists, stopped after the message loop.
bool StartGdiPlus();
void StopGdiPlus();

// The monitor named by the ScreenID setting, falling back to the primary monitor and then to
// the whole virtual screen. The caller owns the bitmap; null on failure (logged).
HBITMAP CaptureScreen();

// Exactly the given screen rectangle (virtual-screen coordinates) as a new bitmap, or null.
HBITMAP CaptureRect(const RECT& rect);

// Draws the cursor into a capture of `rect` when IncludeCursor is on and the cursor is showing.
void DrawCursorOnCapture(HBITMAP bitmap, const RECT& rect);

}  // namespace vistrel
