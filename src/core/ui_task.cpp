#include "core/ui_task.h"

#include <windows.h>

#include <atomic>

namespace vistrel {
namespace {

constexpr wchar_t kUiTaskWindowClass[] = L"VistrelUiTaskWindowClass";
constexpr UINT kRunTask = WM_APP + 30;

std::atomic<HWND> g_window{nullptr};

LRESULT CALLBACK UiTaskWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kRunTask) {
    std::unique_ptr<UiTask> task(reinterpret_cast<UiTask*>(lParam));
    if (task) task->Run();
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

bool InitUiTasks() {
  if (g_window.load()) return true;
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSW wc{};
  wc.lpfnWndProc = UiTaskWindowProc;
  wc.hInstance = instance;
  wc.lpszClassName = kUiTaskWindowClass;
  RegisterClassW(&wc);  // a failure shows as the window failing to create
  HWND window = CreateWindowExW(0, kUiTaskWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
  g_window.store(window);
  return window != nullptr;
}

void ShutdownUiTasks() {
  HWND window = g_window.exchange(nullptr);
  if (!window) return;
  MSG msg;
  while (PeekMessageW(&msg, window, kRunTask, kRunTask, PM_REMOVE)) {
    std::unique_ptr<UiTask> dropped(reinterpret_cast<UiTask*>(msg.lParam));
  }
  DestroyWindow(window);
}

bool PostUiTask(std::unique_ptr<UiTask> task) {
  HWND window = g_window.load();
  if (!task || !window) return false;
  if (!PostMessageW(window, kRunTask, 0, reinterpret_cast<LPARAM>(task.get()))) return false;
  task.release();  // the window's procedure owns it now
  return true;
}

}  // namespace vistrel
