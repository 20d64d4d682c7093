// Outcomes spoken by the user's screen reader: each balloon is also raised as a UI Automation
// notification, which screen readers read out whatever window has the focus. Systems without the
// notification call (before Windows 10 1709) start and work as before, with balloons only.
#pragma once

#include <windows.h>

#include <string>

namespace vistrel {

// Whether outcomes are announced at all (the ScreenReaderNotifications setting). On until told.
void SetScreenReaderNotifications(bool enabled);

// The window the notifications come from (the hidden tray owner window); null: none are raised.
void SetScreenReaderWindow(HWND window);

// Asks the screen reader to read `text` out. Callable from any thread: the notification is raised
// on the user-interface thread. The first failure is logged; the program goes on without them.
void AnnounceToScreenReader(const std::wstring& text);

// The text announced for a balloon: its title and text as one sentence pair.
std::wstring AnnouncementFor(const std::wstring& title, const std::wstring& text);

}  // namespace vistrel
