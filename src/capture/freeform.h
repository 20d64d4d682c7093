// Free-form capture: drag a rectangle over a frozen, dimmed picture of the screen.
#pragma once

#include <windows.h>

#include <functional>

#include "core/handles.h"

namespace vistrel {

// Takes the picture of a finished selection (on the UI thread, while the overlay closes).
using FreeformDelivery = std::function<void(UniqueBitmap picture)>;

// Opens the selection overlay (a second request while it is open is ignored). The selected
// rectangle is handed to `deliver`; a cancelled selection delivers nothing. Runs on the UI thread.
void StartFreeformCapture(HINSTANCE instance, FreeformDelivery deliver);

// True while the overlay is open.
bool FreeformCaptureActive();

}  // namespace vistrel
