// The notification-area icon and its context menu.
#pragma once

#include <windows.h>

#include <string>

#include "core/handles.h"

namespace vistrel {

void AddTrayIcon(HWND owner, HICON icon, UINT callbackMessage);
void UpdateTrayIcon(HWND owner, HICON icon, const std::wstring& tooltip);
void RemoveTrayIcon(HWND owner);

// What the menu depends on besides the language.
struct TrayMenuState {
  int videoState = 0;  // RecorderState numbering: 0 idle, 3 paused
  int audioState = 0;
  bool gifActive = false;
  bool hotkeysPaused = false;
};

// The recorders' states and the hotkeys-paused flag as they are now.
TrayMenuState CurrentTrayMenuState();

// The context menu for a state, every label translated.
UniqueMenu BuildTrayMenu(const TrayMenuState& state);

// Builds the menu, tracks it at the cursor on the tray owner window and destroys it.
void ShowTrayMenu(HWND trayOwner);

// The icon and tooltip that say whether a video or GIF recording runs.
void RefreshTrayIcon();

}  // namespace vistrel
