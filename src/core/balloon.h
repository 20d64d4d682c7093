// Balloon notifications on the tray icon (icon 1 of the core window).
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>

namespace vistrel {

// Copies text into a fixed notification field, cut so that the terminator always fits and no
// surrogate pair is split.
template <std::size_t N>
void CopyNotifyField(wchar_t (&field)[N], const std::wstring& text);

// The modification request for a balloon: information icon, title cut to 63 and text to 255
// characters.
NOTIFYICONDATAW MakeBalloonData(HWND coreWindow, const std::wstring& title, const std::wstring& text);

// The window whose tray icon carries the balloons (null: none are shown).
void SetBalloonWindow(HWND window);

// Shows a balloon on that icon, and has the screen reader tell it (core/screen_reader.h): the
// balloon cuts a long text, the screen reader gets all of it.
// Callable from any thread; callers pass translated texts.
void ShowBalloon(const std::wstring& title, const std::wstring& text);

}  // namespace vistrel

#include "core/text.h"

namespace vistrel {

template <std::size_t N>
void CopyNotifyField(wchar_t (&field)[N], const std::wstring& text) {
  const std::wstring cut = CutText(text, N - 1);
  cut.copy(field, cut.size());
  field[cut.size()] = L'\0';
}

}  // namespace vistrel
