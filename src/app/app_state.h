// Process-wide state of the shell. Everything here is touched only on the UI thread, except the
// core window handle, which worker threads read to post back to it.
#pragma once

#include <windows.h>

#include <atomic>

namespace vistrel {

inline constexpr wchar_t kCoreWindowClass[] = L"VistrelCoreWindowClass";
inline constexpr wchar_t kTrayOwnerClass[] = L"VistrelTrayOwnerClass";
inline constexpr wchar_t kInstanceMutexName[] = L"Vistrel_Mutex_v2";

struct AppState {
  HINSTANCE instance = nullptr;
  std::atomic<HWND> coreWindow{nullptr};
  HWND trayOwner = nullptr;
  HICON normalTrayIcon = nullptr;
  HICON recordingTrayIcon = nullptr;
  HWND foregroundBeforeMenu = nullptr;
  bool exitRequested = false;  // the program closes once no recording is left
  bool sessionEnding = false;  // Windows is ending the session: close without a sound
};

AppState& App();

LRESULT CALLBACK CoreWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK TrayOwnerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace vistrel
