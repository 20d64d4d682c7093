#include "core/balloon.h"

#include "app/app_state.h"

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

void ShowBalloon(const std::wstring& title, const std::wstring& text) {
  NOTIFYICONDATAW data = MakeBalloonData(App().coreWindow.load(), title, text);
  Shell_NotifyIconW(NIM_MODIFY, &data);
}

}  // namespace vistrel
