// The settings dialog: a modeless frame with a tree of eight pages over a working copy of the
// settings. Save makes the working copy the live record; Cancel throws it away.
#pragma once

#include <windows.h>

#include <functional>
#include <vector>

#include "config/app_config.h"

namespace vistrel {

// What the dialog asks of the program around it; every call is on the UI thread.
struct SettingsDialogHost {
  HWND owner = nullptr;                   // null at the first start, before the program's windows
  std::function<void()> languageChanged;  // the interface language changed (the tray follows)
  std::function<void()> saved;            // Save replaced the live record (and wrote config.ini)
  // While a new combination is being caught: removes the registered hotkeys unless the user has
  // paused them, and says whether it did; restoreHotkeys registers a record's unless paused.
  std::function<bool()> suspendHotkeys;
  std::function<void(const AppConfig&)> restoreHotkeys;
  // The hotkeys that other programs hold, as the last registration found.
  std::function<std::vector<int>()> refusedHotkeys;
};

// Opens the dialog, or brings the open one to the front.
void ShowSettingsDialog(const SettingsDialogHost& host);

// The open dialog, for the message loop's dialog filter; null when none is open.
HWND SettingsDialogWindow();

// Sets every translated text of the open dialog and refills its option lists (at opening and
// after a language change).
void ApplySettingsDialogTexts(HWND dialog);

// Copies every page's controls into the working copy.
void ReadSettingsFromDialog();

// Lets the user pick a folder and puts its path into the edit `editId` of `page`.
void BrowseForFolder(HWND page, int editId);

}  // namespace vistrel
