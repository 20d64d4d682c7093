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

// Exits (the exit hotkey, the tray's Exit, a request to close): at once when no recording runs;
// otherwise every recording is stopped, the program says that it closes once they are saved, and
// goes on answering until then.
void RequestExit();
// Completes an exit that waits for recordings, once none is left (called when one changes state).
void ContinueExit();

// Hands the live settings to the parts below that keep a switch of their own (at start-up and
// after the settings dialog's Save).
void ApplyLiveSettings();

}  // namespace vistrel
