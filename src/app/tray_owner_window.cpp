// The hidden top-level window that owns the tray menu and modal dialogs, and hears of the end of
// the Windows session (a message-only window does not).
#include <windows.h>

#include <chrono>

#include "app/app_state.h"
#include "app/commands.h"
#include "app/recorders.h"
#include "core/log.h"
#include "core/system_error.h"
#include "i18n/tr.h"

namespace vistrel {
namespace {

using namespace std::chrono_literals;

// When Windows ends the session, a fragmented recording is made an ordinary file only when that
// takes no longer than this; otherwise it stays in fragments (it plays) and the next start does it.
constexpr auto kSessionEndCopyTime = 5s;
// The encoders' last packets and the trailers after that.
constexpr auto kSessionEndFinishTime = 20s;

void RestoreForegroundBeforeMenu() {
  HWND previous = App().foregroundBeforeMenu;
  if (previous && IsWindow(previous)) SetForegroundWindow(previous);
}

// Windows asks whether the session may end: it may, but while recordings are stopped and finished
// the reason is shown to the user who waits.
void OnQueryEndSession(HWND window) {
  if (RecordersIdle()) return;
  LogMessage(L"Windows is about to end the session while a recording runs.");
  if (!ShutdownBlockReasonCreate(window, tr(L"Finishing a recording").c_str())) {
    LogMessage(L"[WARNING] ShutdownBlockReasonCreate failed: " + SystemErrorText(GetLastError()));
  }
}

// The session ends when this returns: every recording is finished first, or left as a file that
// plays. The thread waits here, as Windows expects; the recordings' threads never wait for it.
void OnEndSession(HWND window, bool ending) {
  if (ending) {
    LogMessage(L"Windows is ending the session.");
    AppState& app = App();
    app.sessionEnding = true;
    app.exitRequested = true;
    if (!BeginFinishingRecorders() && !WaitRecordersIdle(kSessionEndCopyTime)) {
      LogMessage(L"The recordings are still being finished; what a later start can do is left to it.");
      HurryRecorders();
      if (!WaitRecordersIdle(kSessionEndFinishTime)) {
        LogMessage(L"[WARNING] A recording was still being finished when the session ended.");
      }
    }
    // Windows may end the process now; where it does not, the program closes.
    if (HWND core = app.coreWindow.load()) PostMessageW(core, WM_CLOSE, 0, 0);
  }
  ShutdownBlockReasonDestroy(window);
}

}  // namespace

LRESULT CALLBACK TrayOwnerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CLOSE:
      // The window is never meant to go away while the program runs.
      ShowWindow(window, SW_HIDE);
      RestoreForegroundBeforeMenu();
      return 0;
    case WM_QUERYENDSESSION:
      OnQueryEndSession(window);
      return TRUE;
    case WM_ENDSESSION:
      OnEndSession(window, wParam != FALSE);
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
