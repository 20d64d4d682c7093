// The hidden top-level window that owns the tray menu and modal dialogs.
#include <windows.h>

#include "app/app_state.h"
#include "app/commands.h"

namespace vistrel {
namespace {

void RestoreForegroundBeforeMenu() {
  HWND previous = App().foregroundBeforeMenu;
  if (previous && IsWindow(previous)) SetForegroundWindow(previous);
}

}  // namespace

LRESULT CALLBACK TrayOwnerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CLOSE:
      // The window is never meant to go away while the program runs.
      ShowWindow(window, SW_HIDE);
      RestoreForegroundBeforeMenu();
      return 0;
    case WM_INITMENUPOPUP:
      EnableMenuItem(GetSystemMenu(window, FALSE), SC_CLOSE, MF_BYCOMMAND | MF_DISABLED | MF_GRAYED);
      break;
    case WM_COMMAND:
      // The action applies to what the user was working in before the menu opened.
      RestoreForegroundBeforeMenu();
      RunTrayCommand(window, LOWORD(wParam));
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace vistrel
