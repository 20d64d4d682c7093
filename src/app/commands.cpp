#include "app/commands.h"

#include <shellapi.h>

#include <string>

#include "app/app_state.h"
#include "app/hotkey_service.h"
#include "core/maker.h"
#include "app/messages.h"
#include "app/tray.h"
#include "app/recorders.h"
#include "capture/capture_output.h"
#include "capture/window_capture.h"
#include "config/app_config.h"
#include "config/hotkeys.h"
#include "core/log.h"
#include "core/screen_reader.h"
#include "core/sound.h"
#include "ui/settings_dialog.h"
#include "ui/tracks_dialog.h"
#include "update/update_checker.h"
#include "version.h"

namespace vistrel {
namespace {

void OpenAddress(const wchar_t* address) {
  ShellExecuteW(nullptr, L"open", address, nullptr, nullptr, SW_SHOWNORMAL);
}

void ShowAbout(HWND owner) {
  const std::wstring text = std::wstring(L"Vistrel\n") + L"Version " + VISTREL_VERSION_WTEXT +
                            L"\n\nA comprehensive utility for accessible screen captures, video, "
                            L"and audio recordings.\n\n" +
                            maker::kName + L"\n" + maker::kProductPage;
  MessageBoxW(owner, text.c_str(), L"About Vistrel", MB_OK | MB_ICONINFORMATION);
}

void OpenHelp(HWND owner) {
  const std::wstring help = ProgramFolder() + L"\\help.html";
  ShellExecuteW(owner, L"open", help.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

// The tray's window capture: the user picks the window, which is then brought to the front.
void CapturePickedWindow() {
  HWND window = ShowWindowPicker();
  if (!window) {
    LogMessage(L"Window selection cancelled.");
    return;
  }
  ActivateWindow(window, true);
  StartCapture(kCaptureTrayPickedWindow, window);
}

void Exit() {
  HWND core = App().coreWindow.load();
  if (core) DestroyWindow(core);
}

}  // namespace

void OpenSettings() {
  SettingsDialogHost host;
  host.owner = App().coreWindow.load();
  host.languageChanged = [] {
    if (HWND core = App().coreWindow.load()) PostMessageW(core, WM_LANGUAGE_CHANGED, 0, 0);
  };
  host.saved = [] { ApplyLiveSettings(); };
  host.suspendHotkeys = [] { return Hotkeys().Suspend(); };
  host.restoreHotkeys = [](const AppConfig& config) { Hotkeys().Restore(config); };
  host.refusedHotkeys = [] { return Hotkeys().refused(); };
  ShowSettingsDialog(host);
}

void ApplyLiveSettings() { SetScreenReaderNotifications(LiveConfig().ScreenReaderNotifications); }

void RunHotkey(HWND, int id) {
  LogMessage(L"Hotkey " + std::to_wstring(id) + L" pressed.");
  switch (id) {
    case kHotkeyFullScreen:
    case kHotkeyFreeForm:
    case kHotkeyActiveWindow:
    case kHotkeyKeyboardControl:
    case kHotkeyMouseControl:
      StartCapture(static_cast<std::uint32_t>(id), nullptr);
      break;
    case kHotkeyVideoStartStop:
      ToggleRecorder(Recorder::kVideo);
      break;
    case kHotkeyVideoPauseResume:
      TogglePauseRecorder(Recorder::kVideo);
      break;
    case kHotkeyAudioStartStop:
      ToggleRecorder(Recorder::kAudio);
      break;
    case kHotkeyAudioPauseResume:
      TogglePauseRecorder(Recorder::kAudio);
      break;
    case kHotkeyGifStartStop:
      ToggleRecorder(Recorder::kGif);
      break;
    case kHotkeyOpenConfig:
      OpenSettings();
      break;
    case kHotkeyOpenTracks:
      ShowTracksDialog(App().instance, App().coreWindow.load());
      break;
    case kHotkeyExitApp:
      Exit();
      break;
    default:
      break;
  }
}

void RunTrayCommand(HWND trayOwner, int command) {
  switch (command) {
    case kCmdCaptureFullScreen:
    case kCmdCaptureFreeForm:
      StartCapture(static_cast<std::uint32_t>(command), nullptr);
      break;
    case kCmdCaptureActiveWindow:
      CapturePickedWindow();
      break;
    case kCmdConfigure:
      OpenSettings();
      break;
    case kCmdPauseHotkeys:
      Hotkeys().TogglePaused();
      break;
    case kCmdWebsite:
      OpenAddress(maker::kWebsite);
      break;
    case kCmdExit:
      Exit();
      break;
    case kCmdVideoRecording:
      ToggleRecorder(Recorder::kVideo);
      break;
    case kCmdAudioRecording:
      ToggleRecorder(Recorder::kAudio);
      break;
    case kCmdPauseResume:
      // The menu's recording sub-menu is the video's while one runs, else the audio's.
      TogglePauseRecorder(IsRecordingOrStopping(SessionOf(Recorder::kVideo).phase()) ? Recorder::kVideo
                                                                                      : Recorder::kAudio);
      break;
    case kCmdStopRecording:
      SessionOf(IsRecordingOrStopping(SessionOf(Recorder::kVideo).phase()) ? Recorder::kVideo : Recorder::kAudio).Stop();
      break;
    case kCmdAbout:
      ShowAbout(trayOwner);
      break;
    case kCmdHelp:
      OpenHelp(trayOwner);
      break;
    case kCmdCheckUpdate:
      CheckForUpdatesAsync(trayOwner, false);
      break;
    case kCmdGifRecording:
      ToggleRecorder(Recorder::kGif);
      break;
    case kCmdTelegram: OpenAddress(maker::kTelegram); break;
    case kCmdFacebook: OpenAddress(maker::kFacebook); break;
    case kCmdTwitter: OpenAddress(maker::kTwitter); break;
    case kCmdYouTube: OpenAddress(maker::kYouTube); break;
    case kCmdGitHub: OpenAddress(maker::kGitHub); break;
    case kCmdContact: OpenAddress(maker::kContact); break;
    case kCmdManageTracks:
      // Owned by the core window like the hotkey's, so that the tray owner stays enabled for the
      // menu while the dialog is open.
      ShowTracksDialog(App().instance, App().coreWindow.load());
      break;
    default:
      break;
  }
}

}  // namespace vistrel
