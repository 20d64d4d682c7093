#include "app/countdown.h"

#include <objidl.h>
#include <gdiplus.h>

#include <algorithm>
#include <atomic>
#include <string>

#include "core/handles.h"
#include "core/log.h"

namespace vistrel {
namespace {

constexpr UINT_PTR kTimerId = 1;
constexpr UINT kTickMs = 1000;
constexpr DWORD kBeepMs = 150;
constexpr DWORD kExtendedStyle = WS_EX_LAYERED | WS_EX_TRANSPARENT | WS_EX_TOPMOST;
// How long past its own length a countdown may run before its waiter closes it. Beeps and a busy
// machine make it a little late; a timer that never fires would make it last for ever.
constexpr ULONGLONG kOverrunMs = 5000;

// The claim makes "is there a countdown?" and "create one" a single step across threads; the
// window handle is published once the window exists.
std::atomic<bool> g_claimed{false};
std::atomic<HWND> g_window{nullptr};
std::atomic<int> g_remaining{0};

// The figure over a fully transparent 32-bit top-down surface: a black shadow 2 px down and right,
// then the white face. Nothing is drawn for the blank first second (count above 3). The surface
// is wrapped as premultiplied ARGB, which is the form UpdateLayeredWindow reads.
void DrawFigure(void* bits, int width, int height, int count) {
  Gdiplus::Bitmap canvas(width, height, width * 4, PixelFormat32bppPARGB, static_cast<BYTE*>(bits));
  Gdiplus::Graphics graphics(&canvas);
  graphics.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
  graphics.SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAlias);
  graphics.Clear(Gdiplus::Color(0, 0, 0, 0));
  if (count > 3) return;

  Gdiplus::FontFamily family(L"Arial");
  if (family.GetLastStatus() != Gdiplus::Ok) return;
  Gdiplus::Font font(&family, 128.0f, Gdiplus::FontStyleBold, Gdiplus::UnitPixel);
  Gdiplus::StringFormat format;
  format.SetAlignment(Gdiplus::StringAlignmentCenter);
  format.SetLineAlignment(Gdiplus::StringAlignmentCenter);
  const std::wstring text = std::to_wstring(count);
  const auto w = static_cast<Gdiplus::REAL>(width);
  const auto h = static_cast<Gdiplus::REAL>(height);
  Gdiplus::SolidBrush shadow(Gdiplus::Color(255, 0, 0, 0));
  Gdiplus::SolidBrush face(Gdiplus::Color(220, 255, 255, 255));
  graphics.DrawString(text.c_str(), -1, &font, Gdiplus::RectF(2, 2, w, h), &format, &shadow);
  graphics.DrawString(text.c_str(), -1, &font, Gdiplus::RectF(0, 0, w, h), &format, &face);
  graphics.Flush(Gdiplus::FlushIntentionSync);
}

// The picture is pushed with UpdateLayeredWindow; nothing is painted through BeginPaint.
void RenderCountdown(HWND window) {
  RECT client{};
  GetClientRect(window, &client);
  const int width = client.right - client.left;
  const int height = client.bottom - client.top;
  {
    ScreenDC windowDC(window);
    UniqueMemoryDC memory(CreateCompatibleDC(windowDC.get()));
    BITMAPINFO info = TopDownBitmapInfo(width, height);
    void* bits = nullptr;
    UniqueBitmap surface(CreateDIBSection(windowDC.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (memory && surface && bits && width > 0 && height > 0) {
      SelectedObject selected(memory.get(), surface.get());
      DrawFigure(bits, width, height, g_remaining.load());
      POINT source{0, 0};
      SIZE size{width, height};
      BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
      UpdateLayeredWindow(window, windowDC.get(), nullptr, &size, memory.get(), &source, 0, &blend,
                          ULW_ALPHA);
    }
  }
  ValidateRect(window, nullptr);
}

void OnTick(HWND window) {
  const int count = g_remaining.fetch_sub(1) - 1;
  if (const DWORD hz = CountdownBeepHz(count)) Beep(hz, kBeepMs);
  if (count <= 0) {
    KillTimer(window, kTimerId);
    DestroyWindow(window);
  } else {
    InvalidateRect(window, nullptr, FALSE);
  }
}

void OnDestroyed(HWND window) {
  HWND expected = window;
  g_window.compare_exchange_strong(expected, nullptr);
  g_remaining.store(0);
  g_claimed.store(false);
  PostQuitMessage(0);
}

LRESULT CALLBACK CountdownWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_TIMER:
      if (wParam == kTimerId) OnTick(window);
      return 0;
    case WM_PAINT:
      RenderCountdown(window);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_DESTROY:
      OnDestroyed(window);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

void RegisterCountdownClass(HINSTANCE instance) {
  WNDCLASSW existing{};
  if (GetClassInfoW(instance, kCountdownWindowClass, &existing)) return;
  WNDCLASSW wc{};
  wc.lpfnWndProc = CountdownWindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
  wc.lpszClassName = kCountdownWindowClass;
  RegisterClassW(&wc);  // a failure shows as the window failing to create
}

// The WM_QUIT a countdown window posts when it is destroyed, removed when nobody waits for it.
void DiscardQuitMessage() {
  MSG msg{};
  while (PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
  }
}

// Raises the live countdown above every other top-most window without activating it: the user
// keeps the keyboard focus, and the caller never waits on the thread that owns the window.
void BringToFront(HWND window) {
  SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_ASYNCWINDOWPOS);
}

// Creates the window on this thread; `created` receives it on kShown.
CountdownShow CreateCountdown(HINSTANCE instance, int seconds, HWND& created) {
  created = nullptr;
  if (g_claimed.exchange(true)) {
    if (HWND existing = g_window.load()) BringToFront(existing);
    return CountdownShow::kAlreadyShown;
  }
  RegisterCountdownClass(instance);
  g_remaining.store(seconds + 1);
  const int x = (GetSystemMetrics(SM_CXSCREEN) - kCountdownWindowSize) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - kCountdownWindowSize) / 2;
  UniqueWindow window(CreateWindowExW(kExtendedStyle, kCountdownWindowClass, kCountdownWindowTitle,
                                      WS_POPUP, x, y, kCountdownWindowSize, kCountdownWindowSize,
                                      nullptr, nullptr, instance, nullptr));
  if (!window) {
    g_remaining.store(0);
    g_claimed.store(false);
    return CountdownShow::kFailed;
  }
  g_window.store(window.get());
  ShowWindow(window.get(), SW_SHOWNOACTIVATE);
  UpdateWindow(window.get());
  if (!SetTimer(window.get(), kTimerId, kTickMs, nullptr)) {
    LogMessage(L"Countdown: [ERROR] SetTimer failed; the countdown is not shown.");
    window.reset();  // WM_DESTROY clears the state
    DiscardQuitMessage();
    return CountdownShow::kFailed;
  }
  created = window.release();  // from here the window destroys itself when the count runs out
  return CountdownShow::kShown;
}

// Dispatches this thread's messages until WM_QUIT (true) or the deadline (false).
bool PumpUntilQuit(ULONGLONG deadline) {
  for (;;) {
    MSG msg{};
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) return true;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return false;
    MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(deadline - now), QS_ALLINPUT,
                                MWMO_INPUTAVAILABLE);
  }
}

}  // namespace

CountdownShow ShowCountdownWindow(HINSTANCE instance, int seconds) {
  HWND created = nullptr;
  return CreateCountdown(instance, seconds, created);
}

CountdownResult RunCountdown(HINSTANCE instance, int seconds) {
  HWND created = nullptr;
  switch (CreateCountdown(instance, seconds, created)) {
    case CountdownShow::kAlreadyShown:
      return CountdownResult::kBusy;
    case CountdownShow::kFailed:
      return CountdownResult::kNotShown;
    case CountdownShow::kShown:
      break;
  }
  UniqueWindow window(created);
  const ULONGLONG length = static_cast<ULONGLONG>(std::max(seconds + 1, 0)) * kTickMs;
  const bool quit = PumpUntilQuit(GetTickCount64() + length + kOverrunMs);
  if (!IsWindow(window.get())) {
    window.release();  // it destroyed itself at the end of the count
    if (!quit) DiscardQuitMessage();
    return CountdownResult::kFinished;
  }
  LogMessage(quit ? L"Countdown: This thread was asked to quit; closing the countdown."
                  : L"Countdown: [WARNING] The countdown overran its length; closing it.");
  window.reset();
  DiscardQuitMessage();
  return quit ? CountdownResult::kInterrupted : CountdownResult::kFinished;
}

HWND CountdownWindow() { return g_window.load(); }

bool IsCountdownRunning() { return g_claimed.load(); }

int CountdownRemaining() { return g_remaining.load(); }

DWORD CountdownBeepHz(int count) {
  switch (count) {
    case 3:
      return 440;
    case 2:
      return 660;
    case 1:
      return 880;
    default:
      return 0;
  }
}

}  // namespace vistrel
