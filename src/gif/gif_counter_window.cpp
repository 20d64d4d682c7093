#include "gif/gif_counter_window.h"

#include <cwchar>

namespace vistrel {
namespace {

constexpr BYTE kOpacity = 204;

void Paint(HWND window) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  wchar_t text[32] = {};
  const int length = GetWindowTextW(window, text, 32);
  SetBkColor(dc, RGB(0, 0, 0));
  SetBkMode(dc, OPAQUE);
  SetTextColor(dc, RGB(255, 255, 255));
  UniqueGdiObject font(CreateFontW(24, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                   OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                   DEFAULT_PITCH | FF_DONTCARE, L"Arial"));
  HGDIOBJ previous = font ? SelectObject(dc, font.get()) : nullptr;
  TextOutW(dc, 5, 2, text, length);
  if (previous) SelectObject(dc, previous);
  EndPaint(window, &paint);
}

LRESULT CALLBACK CounterWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_PAINT) {
    Paint(window);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void RegisterCounterClass(HINSTANCE instance) {
  WNDCLASSW existing{};
  if (GetClassInfoW(instance, kGifCounterWindowClass, &existing)) return;
  WNDCLASSW wc{};
  wc.lpfnWndProc = CounterWindowProc;
  wc.hInstance = instance;
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = kGifCounterWindowClass;
  RegisterClassW(&wc);
}

}  // namespace

bool GifCounterWindow::Create(HINSTANCE instance) {
  RegisterCounterClass(instance);
  window_.reset(CreateWindowExW(WS_EX_LAYERED | WS_EX_TOOLWINDOW | WS_EX_TOPMOST, kGifCounterWindowClass,
                                L"00:00", WS_POPUP, 10, 10, 80, 30, nullptr, nullptr, instance, nullptr));
  if (!window_) return false;
  SetLayeredWindowAttributes(window_.get(), 0, kOpacity, LWA_ALPHA);
  ShowWindow(window_.get(), SW_SHOWNOACTIVATE);
  UpdateWindow(window_.get());
  shown_ = 0;
  return true;
}

void GifCounterWindow::Show(unsigned seconds) {
  if (!window_ || seconds == shown_) return;
  shown_ = seconds;
  wchar_t text[16];
  std::swprintf(text, 16, L"%02u:%02u", seconds / 60, seconds % 60);
  SetWindowTextW(window_.get(), text);
  InvalidateRect(window_.get(), nullptr, TRUE);
  UpdateWindow(window_.get());
}

}  // namespace vistrel
