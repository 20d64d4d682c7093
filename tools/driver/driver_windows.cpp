// Test windows of vistrel-driver.
//
//   window TITLE X Y W H RRGGBB SECONDS [--edit] [--menu]
//       a top-level window filled with one colour, brought to the foreground; --edit adds a focused
//       edit box at client (20, 20) sized 200 x 24, --menu opens a pop-up menu of the window 20 px
//       above its client bottom, so that it reaches below the window. Prints "ready <window rect> <edit rect>" as screen coordinates
//       (left top right bottom each) once shown, then stays for SECONDS or until closed.
//   pattern SECONDS [--moving|--noise]
//       a top-most window over the primary monitor in four coloured quadrants
//       (red, green / blue, white), for checking captured pixels; --moving adds a square of
//       120 x 120 centred on the middle row whose left edge steps 40 px to the right every 50 ms
//       (x = 40 * step mod (width - 120)) and whose colour changes every 10 steps (black, 204060,
//       8010c0, 339966 in turn), each picture put on the screen in one piece; --noise paints
//       random pixels instead, a picture that takes long to compress.
//   animate SECONDS
//       a top-most window over the primary monitor whose colour changes about every 5 ms, so
//       that every captured picture of a recording differs from the one before.
//   activate TITLE
//       brings a test window with that title to the foreground.
//   window-text CLASS
//       the title of the first top-level window of that class (exit code 1 when there is none).
#include "driver.h"

#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <vector>

namespace {

constexpr UINT kOpenMenu = WM_APP + 1;
constexpr UINT kActivateSelf = WM_APP + 2;  // a process may always bring its own window forward

COLORREF ParseColor(const std::wstring& hex) {
  const auto rgb = static_cast<unsigned long>(std::wcstoul(hex.c_str(), nullptr, 16));
  return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

LRESULT CALLBACK TestWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case kOpenMenu: {
      HMENU menu = CreatePopupMenu();
      for (const wchar_t* item : {L"First item", L"Second item", L"Third item", L"Fourth item"}) {
        AppendMenuW(menu, MF_STRING, 1, item);
      }
      RECT client{};
      GetClientRect(window, &client);
      POINT at{40, client.bottom - 20};  // reaches below the window
      ClientToScreen(window, &at);
      TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_TOPALIGN, at.x, at.y, 0, window, nullptr);
      DestroyMenu(menu);
      return 0;
    }
    case kActivateSelf:
      SetForegroundWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

// Pumps messages until the deadline or WM_QUIT.
void RunFor(ULONGLONG milliseconds) {
  const ULONGLONG deadline = GetTickCount64() + milliseconds;
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) return;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (GetTickCount64() >= deadline) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
}

int TestWindow(const Options& o) {
  if (o.words.size() < 8) return 2;
  int at[4];  // x y w h
  for (int i = 0; i < 4; ++i) at[i] = static_cast<int>(std::wcstol(o.words[2 + i].c_str(), nullptr, 10));
  bool withEdit = false;
  bool withMenu = false;
  for (size_t i = 8; i < o.words.size(); ++i) {
    if (o.words[i] == L"--edit") withEdit = true;
    if (o.words[i] == L"--menu") withMenu = true;
  }
  WNDCLASSW wc{};
  wc.lpfnWndProc = TestWindowProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = CreateSolidBrush(ParseColor(o.words[6]));  // lives as long as the process
  wc.lpszClassName = L"VistrelTestWindow";
  RegisterClassW(&wc);
  HWND window = CreateWindowExW(0, wc.lpszClassName, o.words[1].c_str(), WS_OVERLAPPEDWINDOW, at[0], at[1], at[2],
                                at[3], nullptr, nullptr, wc.hInstance, nullptr);
  if (!window) return 1;
  HWND edit = nullptr;
  if (withEdit) {
    edit = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"focused", WS_CHILD | WS_VISIBLE | WS_TABSTOP,
                           20, 20, 200, 24, window, nullptr, GetModuleHandleW(nullptr), nullptr);
  }
  ShowWindow(window, SW_SHOW);
  UpdateWindow(window);
  SetForegroundWindow(window);
  SetFocus(edit ? edit : window);
  RunFor(300);
  RECT windowRect{};
  RECT editRect{};
  GetWindowRect(window, &windowRect);
  if (edit) GetWindowRect(edit, &editRect);
  wchar_t line[160];
  std::swprintf(line, 160, L"ready %ld %ld %ld %ld %ld %ld %ld %ld", windowRect.left, windowRect.top,
                windowRect.right, windowRect.bottom, editRect.left, editRect.top, editRect.right,
                editRect.bottom);
  PrintUtf8Line(line);
  if (withMenu) PostMessageW(window, kOpenMenu, 0, 0);
  RunFor(static_cast<ULONGLONG>(Number(o.words[7])) * 1000);
  return 0;
}

constexpr int kSquare = 120;
constexpr int kSquareStep = 40;
unsigned patternStep = 0;
bool patternMoving = false;
bool patternNoise = false;
bool animated = false;  // the animation: the whole window in a colour that changes every step

// The quadrants and, when moving, the square, drawn into `dc`.
void DrawPattern(HDC dc, const RECT& client) {
  const int midX = client.right / 2;
  const int midY = client.bottom / 2;
  const RECT quads[4] = {{0, 0, midX, midY}, {midX, 0, client.right, midY},
                         {0, midY, midX, client.bottom}, {midX, midY, client.right, client.bottom}};
  const COLORREF colors[4] = {RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255), RGB(255, 255, 255)};
  if (patternNoise) {
    BITMAPINFO info{{sizeof(BITMAPINFOHEADER), client.right, -client.bottom, 1, 32, BI_RGB}};
    std::vector<std::uint32_t> pixels(static_cast<size_t>(client.right) * static_cast<size_t>(client.bottom));
    std::uint32_t state = 2463534242u;
    for (std::uint32_t& pixel : pixels) pixel = (state ^= state << 13, state ^= state >> 17, state ^= state << 5);
    SetDIBitsToDevice(dc, 0, 0, client.right, client.bottom, 0, 0, 0, client.bottom, pixels.data(), &info, DIB_RGB_COLORS);
    return;
  }
  for (int i = 0; i < 4; ++i) {
    HBRUSH brush = CreateSolidBrush(colors[i]);
    FillRect(dc, &quads[i], brush);
    DeleteObject(brush);
  }
  if (!patternMoving || client.right <= kSquare) return;
  const int left = static_cast<int>(patternStep * kSquareStep % static_cast<unsigned>(client.right - kSquare));
  const RECT square{left, midY - kSquare / 2, left + kSquare, midY + kSquare / 2};
  static const COLORREF kColours[] = {RGB(0, 0, 0), RGB(0x20, 0x40, 0x60), RGB(0x80, 0x10, 0xC0), RGB(0x33, 0x99, 0x66)};
  HBRUSH brush = CreateSolidBrush(kColours[patternStep / 10 % 4]);
  FillRect(dc, &square, brush);
  DeleteObject(brush);
}

LRESULT CALLBACK PatternProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_ERASEBKGND) return 1;
  if (message == WM_TIMER) {
    ++patternStep;
    InvalidateRect(window, nullptr, FALSE);
    return 0;
  }
  if (message == WM_PAINT && animated) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    HBRUSH brush = CreateSolidBrush(RGB((patternStep * 37) & 0xFF, (patternStep * 101) & 0xFF, (patternStep * 13) & 0xFF));
    FillRect(dc, &paint.rcPaint, brush);
    DeleteObject(brush);
    EndPaint(window, &paint);
    return 0;
  }
  if (message == WM_PAINT) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client{};
    GetClientRect(window, &client);
    // Drawn aside and copied in one piece, so that a capture never sees half a picture.
    HDC memory = CreateCompatibleDC(dc);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, client.right, client.bottom);
    HGDIOBJ old = SelectObject(memory, bitmap);
    DrawPattern(memory, client);
    BitBlt(dc, 0, 0, client.right, client.bottom, memory, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    EndPaint(window, &paint);
    return 0;
  }
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// A top-most window over the primary monitor, redrawn by `proc` on a timer of `timerMs` (none
// when 0); prints "ready" once shown and stays for the seconds in words[1].
int FullScreenWindow(const Options& o, WNDPROC proc, const wchar_t* cls, UINT timerMs) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = cls;
  RegisterClassW(&wc);
  MONITORINFO info{};
  info.cbSize = sizeof info;
  GetMonitorInfoW(MonitorFromWindow(nullptr, MONITOR_DEFAULTTOPRIMARY), &info);
  const RECT& r = info.rcMonitor;
  HWND window = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, cls, L"", WS_POPUP, r.left, r.top,
                                r.right - r.left, r.bottom - r.top, nullptr, nullptr, wc.hInstance, nullptr);
  if (!window) return 1;
  ShowWindow(window, SW_SHOWNOACTIVATE);
  UpdateWindow(window);
  if (timerMs) SetTimer(window, 1, timerMs, nullptr);
  RunFor(300);
  PrintUtf8Line(L"ready");
  RunFor(static_cast<ULONGLONG>(Number(o.words[1])) * 1000);
  return 0;
}

int Pattern(const Options& o) {
  if (o.words.size() < 2) return 2;
  patternMoving = o.words.size() > 2 && o.words[2] == L"--moving";
  patternNoise = o.words.size() > 2 && o.words[2] == L"--noise";
  return FullScreenWindow(o, PatternProc, L"VistrelTestPattern", patternMoving ? 50 : 0);
}

int Animate(const Options& o) {
  animated = true;
  return o.words.size() == 2 ? FullScreenWindow(o, PatternProc, L"VistrelTestAnimation", 5) : 2;
}

int Activate(const Options& o) {
  HWND window = FindWindowW(nullptr, o.words[1].c_str());
  if (!window) return 1;
  PostMessageW(window, kActivateSelf, 0, 0);
  for (int i = 0; i < 100 && GetForegroundWindow() != window; ++i) Sleep(20);
  return GetForegroundWindow() == window ? 0 : 1;
}

int WindowText(const Options& o) {
  if (o.words.size() != 2) return 2;
  HWND window = FindWindowW(o.words[1].c_str(), nullptr);
  if (!window) return 1;
  wchar_t text[256] = {};
  GetWindowTextW(window, text, 256);
  PrintUtf8Line(text);
  return 0;
}

}  // namespace

int RunWindowCommand(const Options& o) {
  const std::wstring& verb = o.words[0];
  if (verb == L"activate" && o.words.size() == 2) return Activate(o);
  if (verb == L"animate") return Animate(o);
  if (verb == L"window") return TestWindow(o);
  if (verb == L"pattern") return Pattern(o);
  if (verb == L"window-text") return WindowText(o);
  return -1;
}
