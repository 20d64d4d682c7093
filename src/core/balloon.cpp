#include "core/balloon.h"

#include <atomic>

#include "core/screen_reader.h"

namespace vistrel {

NOTIFYICONDATAW MakeBalloonData(HWND coreWindow, const std::wstring& title, const std::wstring& text) {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = coreWindow;
  data.uID = 1;
  data.uFlags = NIF_INFO;
  data.dwInfoFlags = NIIF_INFO;
  CopyNotifyField(data.szInfoTitle, title);
  CopyNotifyField(data.szInfo, text);
  return data;
}

namespace {

std::atomic<HWND> g_iconWindow{nullptr};

}  // namespace

void SetBalloonWindow(HWND window) { g_iconWindow.store(window); }

void ShowBalloon(const std::wstring& title, const std::wstring& text) {
  HWND window = g_iconWindow.load();
  if (!window) return;
  NOTIFYICONDATAW data = MakeBalloonData(window, title, text);
  Shell_NotifyIconW(NIM_MODIFY, &data);
  AnnounceToScreenReader(title, text);
}

}  // namespace vistrel
