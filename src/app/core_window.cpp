// The message-only core window: hotkeys, tray callbacks and everything worker threads post back.
#include <windows.h>

#include "app/app_state.h"
#include "app/messages.h"
#include "core/log.h"

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
}

void OnDestroy() {
  AppState& app = App();
  if (app.trayOwner) {
    DestroyWindow(app.trayOwner);
    app.trayOwner = nullptr;
  }
  LogMessage(L"Application exiting.");
  PostQuitMessage(0);
}

void OnHotkey(HWND window, WPARAM id) {
  switch (id) {
    case kHotkeyExitApp:
      DestroyWindow(window);
      break;
    default:
      break;
  }
}

}  // namespace

void ShowSettingsDialog() {
  LogMessage(L"Settings dialog requested.");
}

LRESULT CALLBACK CoreWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      OnCreate(window);
      break;
    case WM_DESTROY:
      OnDestroy();
      break;
    case WM_HOTKEY:
      OnHotkey(window, wParam);
      break;
    case WM_SHOW_SETTINGS:
      ShowSettingsDialog();
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace vistrel
