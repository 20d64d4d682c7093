// The multi-track management dialog and its track editor. Every change is saved to
// multy_tracs.json at once.
#pragma once

#include <windows.h>

namespace vistrel {

// Runs the management dialog modally, owned by `owner`; when it is already open, brings it to the
// front instead.
void ShowTracksDialog(HINSTANCE instance, HWND owner);

}  // namespace vistrel
