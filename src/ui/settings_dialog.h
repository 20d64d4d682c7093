// The settings dialog: a modeless frame with a tree of eight pages over a working copy of the
// settings. Save makes the working copy the live record; Cancel throws it away.
#pragma once

#include <windows.h>

namespace vistrel {

// Opens the dialog, or brings the open one to the front.
void ShowSettingsDialog();

// Sets every translated text of the open dialog and refills its option lists (at opening and
// after a language change).
void ApplySettingsDialogTexts(HWND dialog);

// Copies every page's controls into the working copy.
void ReadSettingsFromDialog();

// Lets the user pick a folder and puts its path into the edit `editId` of `page`.
void BrowseForFolder(HWND page, int editId);

}  // namespace vistrel
