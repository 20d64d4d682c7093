// Outcomes told to the user's screen reader, whichever it is, through exactly one channel for each
// announcement, chosen when it is made: NVDA through its controller interface when NVDA runs
// (speech, and the same words on the braille display), JAWS through its scripting object when JAWS
// runs, otherwise a UI Automation notification (Narrator and the others read those; NVDA ignores
// them from a program in the background, which a tray program always is). NVDA and JAWS are called
// on the announcer's own thread, so a slow or vanished screen reader never holds up the program.
#pragma once

#include <windows.h>

#include <chrono>
#include <string>

namespace vistrel {

// Whether outcomes are announced at all (the ScreenReaderNotifications setting). On until told.
void SetScreenReaderNotifications(bool enabled);

// The window the UI Automation notifications come from (the hidden tray owner window); null:
// none are raised.
void SetScreenReaderWindow(HWND window);

// Has the screen reader tell a balloon's title and text. Callable from any thread; returns at once.
void AnnounceToScreenReader(const std::wstring& title, const std::wstring& text);

// At exit: drops what is still queued and waits up to `limit` for a call in progress.
void ShutdownScreenReader(std::chrono::milliseconds limit = std::chrono::milliseconds(1000));

// What is spoken for a balloon: its title and text as one sentence pair.
std::wstring AnnouncementFor(const std::wstring& title, const std::wstring& text);
// What the braille display shows: the same words in one line, the title as a label.
std::wstring BrailleFor(const std::wstring& title, const std::wstring& text);

}  // namespace vistrel
