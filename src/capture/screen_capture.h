// Copies of the live screen: a rectangle, the chosen monitor, and the cursor drawn into a copy.
#pragma once

#include <windows.h>

#include <string>

namespace vistrel {

// GDI+ for the whole process: started before any window exists, stopped after the message loop.
bool StartGdiPlus();
void StopGdiPlus();

// The monitor named by the ScreenID setting, falling back to the primary monitor and then to
// the whole virtual screen. The caller owns the bitmap; null on failure (logged).
HBITMAP CaptureScreen();

// The rectangle of the monitor `screenId` names (a display device name, or "Default" for the
// primary monitor), falling back to the primary monitor and then to the whole virtual screen;
// each choice is logged with `logPrefix` in front.
RECT ChooseScreenRect(const std::wstring& screenId, const std::wstring& logPrefix);

// Exactly the given screen rectangle (virtual-screen coordinates) as a new bitmap, or null.
HBITMAP CaptureRect(const RECT& rect);

// Draws the cursor into a capture of `rect` when IncludeCursor is on and the cursor is showing.
void DrawCursorOnCapture(HBITMAP bitmap, const RECT& rect);

// Draws the cursor, when it is showing, into a DC holding a copy of the screen from `origin` on.
void DrawCursorInto(HDC dc, POINT origin);

}  // namespace vistrel
