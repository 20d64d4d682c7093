#include "app/commands.h"

#include <shellapi.h>

#include <string>

#include "app/app_state.h"
#include "app/maker.h"
#include "app/messages.h"
#include "app/tray.h"
#include "audio/audio_recorder.h"
#include "video/video_recorder.h"
#include "capture/capture_output.h"
#include "capture/window_capture.h"
#include "config/hotkeys.h"
#include "core/log.h"
#include "core/sound.h"
#include "ui/settings_dialog.h"
#include "ui/tracks_dialog.h"
#include "update/update_checker.h"
#include "gif/gif_recorder.h"
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

void ToggleHotkeysPaused() {
  AppState& app = App();
  app.hotkeysPaused = !app.hotkeysPaused;
  HWND core = app.coreWindow.load();
  if (app.hotkeysPaused) {
    UnregisterAllHotkeys(core);
    LogMessage(L"Hotkeys paused.");
  } else {
    RegisterHotkeys(core);
    LogMessage(L"Hotkeys resumed.");
  }
}

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
      TheVideoRecorder().ToggleRecording(App().coreWindow.load());
      break;
    case kHotkeyVideoPauseResume:
      if (TheVideoRecorder().GetRecorderState() == kStatePaused) {
        TheVideoRecorder().RequestResume(false);
      } else if (TheVideoRecorder().GetRecorderState() == kStateRecording) {
        TheVideoRecorder().RequestPause(false);
      }
      break;
    case kHotkeyAudioStartStop:
      TheAudioRecorder().Toggle(App().coreWindow.load());
      break;
    case kHotkeyAudioPauseResume:
      if (TheAudioRecorder().GetState() == kStatePaused) {
        TheAudioRecorder().Resume();
      } else if (TheAudioRecorder().GetState() == kStateRecording) {
        TheAudioRecorder().Pause();
      }
      break;
    case kHotkeyGifStartStop:
      TheGifRecorder().Toggle(App().coreWindow.load());
      break;
    case kHotkeyOpenConfig:
      ShowSettingsDialog();
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
      ShowSettingsDialog();
      break;
    case kCmdPauseHotkeys:
      ToggleHotkeysPaused();
      break;
    case kCmdWebsite:
      OpenAddress(maker::kWebsite);
      break;
    case kCmdExit:
      Exit();
      break;
    case kCmdVideoRecording:
      TheVideoRecorder().ToggleRecording(App().coreWindow.load());
      break;
    case kCmdAudioRecording:
      TheAudioRecorder().Toggle(App().coreWindow.load());
      break;
    case kCmdPauseResume:
      // The menu asks for a pause from any active state other than paused.
      if (TheVideoRecorder().GetRecorderState() != kStateIdle) {
        if (TheVideoRecorder().GetRecorderState() == kStatePaused) {
          TheVideoRecorder().RequestResume(false);
        } else {
          TheVideoRecorder().RequestPause(false);
        }
      } else if (TheAudioRecorder().GetState() != kStateIdle) {
        if (TheAudioRecorder().GetState() == kStatePaused) {
          TheAudioRecorder().Resume();
        } else {
          TheAudioRecorder().Pause();
        }
      }
      break;
    case kCmdStopRecording:
      if (TheVideoRecorder().GetRecorderState() != kStateIdle) {
        TheVideoRecorder().StopRecording();
      } else if (TheAudioRecorder().GetState() != kStateIdle) {
        TheAudioRecorder().Stop();
      }
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
      TheGifRecorder().Toggle(App().coreWindow.load());
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
