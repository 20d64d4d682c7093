// Actions started from the two window procedures.
#pragma once

#include <windows.h>

namespace vistrel {

// Runs a tray menu command (WM_COMMAND on the tray owner window).
void RunTrayCommand(HWND trayOwner, int command);

// Runs the action of a global hotkey (WM_HOTKEY on the core window).
void RunHotkey(HWND coreWindow, int id);

// Opens the settings dialog (or brings it to the front).
void OpenSettings();

// Hands the live settings to the parts below that keep a switch of their own (at start-up and
// after the settings dialog's Save).
void ApplyLiveSettings();

}  // namespace vistrel
