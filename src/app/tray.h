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

// Builds the menu, tracks it at `anchor` on the tray owner window and destroys it. Opened from the
// keyboard, its first item is selected so that the arrows and Enter work at once, and cancelling
// it gives the focus back to the notification area.
void ShowTrayMenu(HWND trayOwner, POINT anchor, bool fromKeyboard);

// The icon and tooltip that say whether a video or GIF recording runs.
void RefreshTrayIcon();

}  // namespace vistrel
