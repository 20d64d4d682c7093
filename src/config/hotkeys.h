// System-wide hotkeys 1..13 on the core window, and the start-with-Windows entry.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "config/app_config.h"
#include "config/hotkey_text.h"

namespace vistrel {

// Registers hotkeys 1..13 for `window` from `config`; refusals are logged, the rest still tried.
// Returns the identifiers the system refused (another program holds their combination).
std::vector<int> RegisterAllHotkeys(HWND window, const AppConfig& config);
// Removes hotkeys 1..13 of `window`.
void UnregisterAllHotkeys(HWND window);
// RegisterAllHotkeys with the live settings.
std::vector<int> RegisterHotkeys(HWND window);

// "Ctrl + Shift + F5", or the translation of "None" for an unassigned binding.
std::wstring HotkeyToText(const HotkeyBinding& binding);

bool IsRunAtStartup();
void SetRunAtStartup(bool enable);

}  // namespace vistrel
