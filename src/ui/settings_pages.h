// Shared between the settings dialog and its list pages (Hotkeys, Sound Effects). UI thread only.
#pragma once

#include <windows.h>

#include "config/app_config.h"

namespace vistrel {

// The working copy that the open settings dialog edits.
AppConfig& SettingsWorkingCopy();

// Removes the core window's hotkeys, unless the user has paused them (then none are registered).
// Returns whether they were removed.
bool UnregisterHotkeysUnlessPaused();
// Registers the core window's hotkeys from `config`, unless the user has paused them.
void RegisterHotkeysUnlessPaused(const AppConfig& config);
// Whether another program holds the combination of hotkey `id` (the last registration said so).
bool HotkeyRefused(int id);

// Hotkeys page (template 205) and the Change Hotkey dialog (206).
INT_PTR CALLBACK HotkeysPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
// (Re)fills the 13 rows of the feature list from the working copy, keeping the selection.
void FillHotkeyList(HWND list);

// Sound Effects page (template 209).
INT_PTR CALLBACK SoundEffectsPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
// Rewrites the event names of the sound list in the current language.
void RefreshSoundEventNames(HWND list);

// List-view helpers shared by both pages.
void AddListColumn(HWND list, int index, const std::wstring& title, int width);
void SetListText(HWND list, int row, int column, const std::wstring& text);
int SelectedListRow(HWND list);

}  // namespace vistrel
