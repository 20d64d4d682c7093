// The program's own window messages, command identifiers and hotkey identifiers.
#pragma once

#include <windows.h>

namespace vistrel {

// Posted to the core window, never sent.
inline constexpr UINT WM_SHOW_SETTINGS = WM_APP + 1;
inline constexpr UINT WM_TRAY_CALLBACK = WM_APP + 3;
inline constexpr UINT WM_LANGUAGE_CHANGED = WM_APP + 11;
// Logs "Ping <lParam>." once every message posted before it has been handled: lets a caller
// (support, the end-to-end tests) know that its earlier requests have been acted on.
inline constexpr UINT WM_PING = WM_APP + 20;

// Sent, by the installer: answers 1 while a recording is being set up, made or finished, else 0.
inline constexpr UINT WM_QUERY_RECORDING = WM_APP + 21;

// Hotkey identifiers (WM_HOTKEY wParam).
enum HotkeyId : int {
  kHotkeyFullScreen = 1,
  kHotkeyFreeForm = 2,
  kHotkeyActiveWindow = 3,
  kHotkeyKeyboardControl = 4,
  kHotkeyMouseControl = 5,
  kHotkeyVideoStartStop = 6,
  kHotkeyVideoPauseResume = 7,
  kHotkeyAudioStartStop = 8,
  kHotkeyAudioPauseResume = 9,
  kHotkeyGifStartStop = 10,
  kHotkeyOpenConfig = 11,
  kHotkeyOpenTracks = 12,
  kHotkeyExitApp = 13,
};

// Tray menu commands (WM_COMMAND low word, delivered to the tray owner window).
enum TrayCommand : int {
  kCmdCaptureFullScreen = 40001,
  kCmdCaptureFreeForm = 40002,
  kCmdCaptureActiveWindow = 40003,
  kCmdConfigure = 40004,
  kCmdPauseHotkeys = 40005,
  kCmdWebsite = 40006,
  kCmdExit = 40007,
  kCmdVideoRecording = 40008,
  kCmdAudioRecording = 40009,
  kCmdPauseResume = 40010,
  kCmdStopRecording = 40011,
  kCmdAbout = 40012,
  kCmdHelp = 40013,
  kCmdCheckUpdate = 40014,
  kCmdGifRecording = 40015,
  kCmdTelegram = 40020,
  kCmdFacebook = 40021,
  kCmdTwitter = 40022,
  kCmdYouTube = 40023,
  kCmdGitHub = 40024,
  kCmdContact = 40025,
  kCmdManageTracks = 40026,
};

}  // namespace vistrel
