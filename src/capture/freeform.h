// Free-form capture: drag a rectangle over a frozen, dimmed picture of the screen.
#pragma once

#include <windows.h>

#include <functional>

#include "core/handles.h"

namespace vistrel {

// Takes the picture of a finished selection (on the UI thread, while the overlay closes).
using FreeformDelivery = std::function<void(UniqueBitmap picture)>;
// Hears that the capture failed: the screen could not be read, or the overlay not opened.
using FreeformFailure = std::function<void()>;

// Opens the selection overlay (a second request while it is open is ignored). The selected
// rectangle is handed to `deliver`; a cancelled selection delivers nothing; a failure (logged)
// calls `failed`. Runs on the UI thread.
void StartFreeformCapture(HINSTANCE instance, FreeformDelivery deliver, FreeformFailure failed);

// True while the overlay is open.
bool FreeformCaptureActive();

}  // namespace vistrel
