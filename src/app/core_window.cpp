// The message-only core window: hotkeys, tray callbacks and everything worker threads post back.
#include <windows.h>

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

void OnTrayCallback(LPARAM lParam) {
  HWND owner = App().trayOwner;
  switch (LOWORD(lParam)) {
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
      if (owner) PostMessageW(owner, WM_COMMAND, kCmdConfigure, 0);
      break;
    case WM_RBUTTONUP:
      if (owner) ShowTrayMenu(owner);
      break;
    case NIN_BALLOONUSERCLICK:
      OpenVideoLocation();
      break;
    default:
      break;
  }
}

void OnKeyDown(WPARAM key) {
  const bool shift = (GetKeyState(VK_SHIFT) & 0x8000) != 0;
  if (key == VK_RETURN || key == VK_APPS || (key == VK_F10 && shift)) {
    if (App().trayOwner) ShowTrayMenu(App().trayOwner);
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
      OnTrayCallback(lParam);
      return 0;
    case WM_LANGUAGE_CHANGED:
      LogMessage(L"Language changed message received. Updating tray icon tooltip.");
      UpdateTrayIcon(window, App().normalTrayIcon, tr(L"Vistrel"));
      return 0;
    case WM_PING:
      LogMessage(L"Ping " + std::to_wstring(lParam) + L".");
      return 0;
    case WM_KEYDOWN:
      OnKeyDown(wParam);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace vistrel
