// Captures aimed by focus: the active window with its pop-ups, the focused control, the control
// under the mouse; and the window picker.
#pragma once

#include <windows.h>

namespace vistrel {

// The window that owns the picker (the program's hidden tray owner window).
void SetPickerOwner(HWND owner);

// Lists the open top-level windows by title; the chosen window, or null.
HWND ShowWindowPicker();

// Whether a window is a sensible target for a window capture.
bool IsCapturableTopLevelWindow(HWND window);

// The window and its open menus and owned pop-ups; `control` (may be null) is outlined.
HBITMAP CaptureWindowWithPopups(HWND target, HWND control);

HBITMAP CaptureActiveWindow(bool* cancelled = nullptr);
HBITMAP CaptureKeyboardFocusedControl();
HBITMAP CaptureMouseFocusedControl();

// Brings a window to the foreground, restored and focused, on behalf of this thread.
void ActivateWindow(HWND window, bool setFocus);

}  // namespace vistrel
