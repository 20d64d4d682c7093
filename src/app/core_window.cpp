// The message-only core window: hotkeys, tray callbacks and everything worker threads post back.
#include <windows.h>
#include <shellapi.h>
#include <windowsx.h>

#include <chrono>

#include "app/app_state.h"
#include "app/hotkey_service.h"
#include "app/commands.h"
#include "app/messages.h"
#include "app/tray.h"
#include "core/balloon.h"
#include "config/hotkeys.h"
#include "config/settings.h"
#include "core/log.h"
#include "core/sound.h"
#include "core/ui_task.h"
#include "i18n/tr.h"
#include "app/recorders.h"
#include "ui/settings_dialog.h"
#include "update/update_checker.h"

namespace vistrel {
namespace {

HICON LoadTrayIcon(int resourceId) {
  // Loaded once for the process lifetime; the system frees them at exit.
  return static_cast<HICON>(
      LoadImageW(App().instance, MAKEINTRESOURCEW(resourceId), IMAGE_ICON, 16, 16, 0));
}

void OnCreate(HWND window) {
  AppState& app = App();
  app.coreWindow = window;
  app.normalTrayIcon = LoadTrayIcon(101);
  app.recordingTrayIcon = LoadTrayIcon(103);
  AddTrayIcon(window, app.normalTrayIcon, WM_TRAY_CALLBACK);
  SetBalloonWindow(window);
  Hotkeys().Attach(window);
  Hotkeys().RegisterLive();
  if (!Hotkeys().refused().empty()) {
    // Said once the program has started (its sound played, its windows there).
    PostUiTask([config = LiveConfig(), refused = Hotkeys().refused()] { TellRefusedHotkeys(config, refused); });
  }
  if (LiveConfig().AutoCheckUpdates) CheckForUpdatesAsync(window, true);
}

// Exit waits this long for recordings to be finished; what is on disk stays whatever happens.
constexpr std::chrono::seconds kFinishAtExit{60};

void OnDestroy(HWND window) {
  AppState& app = App();
  if (!ShutdownRecorders(kFinishAtExit)) {
    LogMessage(L"[WARNING] A recording was still being finished when the program had to exit.");
  }
  // The first-run settings dialog has no owner, so it does not go with this window by itself.
  if (HWND settings = SettingsDialogWindow()) DestroyWindow(settings);
  SetBalloonWindow(nullptr);
  RemoveTrayIcon(window);
  Hotkeys().UnregisterAll();
  Hotkeys().Attach(nullptr);
  if (app.trayOwner) {
    DestroyWindow(app.trayOwner);
    app.trayOwner = nullptr;
  }
  LogMessage(L"Application exiting.");
  PlaySoundSync(LiveConfig().Sounds.exit_app);
  PostQuitMessage(0);
}

// The icon speaks version 4 of the tray protocol: the low word of lParam is the event, wParam
// the anchor point in screen coordinates. A click or Enter/Space on the icon is NIN_SELECT or
// NIN_KEYSELECT; the right button, the Apps key and Shift+F10 end in WM_CONTEXTMENU, which the
// right button announces with WM_RBUTTONUP just before.
void OnTrayCallback(WPARAM wParam, LPARAM lParam) {
  static bool rightButtonUp = false;
  HWND owner = App().trayOwner;
  switch (LOWORD(lParam)) {
    case NIN_SELECT:
    case NIN_KEYSELECT:
      if (owner) PostMessageW(owner, WM_COMMAND, kCmdConfigure, 0);
      break;
    case WM_RBUTTONUP:
      rightButtonUp = true;
      break;
    case WM_CONTEXTMENU:
      if (owner) {
        const POINT anchor{GET_X_LPARAM(wParam), GET_Y_LPARAM(wParam)};
        ShowTrayMenu(owner, anchor, !rightButtonUp);
      }
      rightButtonUp = false;
      break;
    case NIN_BALLOONUSERCLICK:
      OpenVideoLocation();
      break;
    default:
      break;
  }
}

}  // namespace

LRESULT CALLBACK CoreWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      OnCreate(window);
      break;
    case WM_DESTROY:
      OnDestroy(window);
      break;
    case WM_HOTKEY:
      RunHotkey(window, static_cast<int>(wParam));
      break;
    case WM_SHOW_SETTINGS:
      OpenSettings();
      return 0;
    case WM_TRAY_CALLBACK:
      OnTrayCallback(wParam, lParam);
      return 0;
    case WM_LANGUAGE_CHANGED:
      LogMessage(L"Language changed message received. Updating tray icon tooltip.");
      UpdateTrayIcon(window, App().normalTrayIcon, tr(L"Vistrel"));
      return 0;
    case WM_PING:
      LogMessage(L"Ping " + std::to_wstring(lParam) + L".");
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace vistrel
