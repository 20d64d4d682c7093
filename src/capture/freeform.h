// Free-form capture: drag a rectangle over a frozen, dimmed picture of the screen.
#pragma once

#include <windows.h>

namespace vistrel {

// Opens the selection overlay (a second request while it is open is ignored). The selected
// rectangle arrives later as WM_CAPTURE_READY with capture type 2 at `receiver`; a cancelled
// selection posts nothing. Runs on the core window's thread.
void StartFreeformCapture(HINSTANCE instance, HWND receiver);

// True while the overlay is open.
bool FreeformCaptureActive();

}  // namespace vistrel
