#include "capture/window_capture.h"

#include <dwmapi.h>
#include <objidl.h>
#include <gdiplus.h>

#include <string>
#include <vector>

#include <atomic>
#include "capture/capture_output.h"
#include "capture/screen_capture.h"
#include "core/handles.h"
#include "core/log.h"
#include "i18n/tr.h"
#include "resource.h"

namespace vistrel {
namespace {

std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return name;
}

bool IsCloaked(HWND window) {
  DWORD cloaked = 0;
  return SUCCEEDED(DwmGetWindowAttribute(window, DWMWA_CLOAKED, &cloaked, sizeof cloaked)) &&
         cloaked != 0;
}

bool IsToolWindow(HWND window) {
  return (GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW) != 0;
}

bool BelongsInPicker(HWND window) {
  return IsWindowVisible(window) && GetWindowTextLengthW(window) != 0 && !GetParent(window) &&
         !IsToolWindow(window) && ClassOf(window) != L"Progman" && !IsCloaked(window);
}

BOOL CALLBACK AddPickerEntry(HWND window, LPARAM list) {
  if (!BelongsInPicker(window)) return TRUE;
  wchar_t title[256] = {};
  GetWindowTextW(window, title, 256);
  const LRESULT index = SendMessageW(reinterpret_cast<HWND>(list), LB_ADDSTRING, 0,
                                     reinterpret_cast<LPARAM>(title));
  if (index >= 0) {
    SendMessageW(reinterpret_cast<HWND>(list), LB_SETITEMDATA, index, reinterpret_cast<LPARAM>(window));
  }
  return TRUE;
}

INT_PTR CALLBACK PickerProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      SetWindowTextW(dialog, tr(L"Select Window to Capture").c_str());
      SetDlgItemTextW(dialog, IDC_PICKER_PROMPT, tr(L"Please select a window from the list below:").c_str());
      SetDlgItemTextW(dialog, IDOK, tr(L"OK").c_str());
      SetDlgItemTextW(dialog, IDCANCEL, tr(L"Cancel").c_str());
      EnumWindows(AddPickerEntry, reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_PICKER_LIST)));
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        HWND list = GetDlgItem(dialog, IDC_PICKER_LIST);
        const LRESULT selected = SendMessageW(list, LB_GETCURSEL, 0, 0);
        EndDialog(dialog, selected == LB_ERR ? 0 : SendMessageW(list, LB_GETITEMDATA, selected, 0));
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, 0);
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

struct PopupSearch {
  HWND target;
  std::vector<HWND> windows;
};

BOOL CALLBACK CollectPopup(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<PopupSearch*>(data);
  if (window == search->target || !IsWindowVisible(window)) return TRUE;
  if (!(GetWindowLongPtrW(window, GWL_STYLE) & WS_POPUP)) return TRUE;
  if (ClassOf(window) == L"#32768" || GetWindow(window, GW_OWNER) == search->target) {
    search->windows.push_back(window);
  }
  return TRUE;
}

// The target first, then its menus and owned pop-ups, top of the z-order first.
std::vector<HWND> WindowWithPopups(HWND target) {
  PopupSearch search{target, {target}};
  EnumThreadWindows(GetWindowThreadProcessId(target, nullptr), CollectPopup,
                    reinterpret_cast<LPARAM>(&search));
  return search.windows;
}

constexpr COLORREF kUnpainted = RGB(1, 2, 3);

// True when nothing was drawn over a bitmap filled with kUnpainted.
bool StillUnpainted(HDC memory, HBITMAP bitmap, int width, int height) {
  BITMAPINFO info = TopDownBitmapInfo(width, height);
  std::vector<DWORD> pixels(static_cast<size_t>(width) * static_cast<size_t>(height));
  if (!GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(), &info, DIB_RGB_COLORS)) {
    return false;
  }
  const DWORD sentinel = (GetRValue(kUnpainted) << 16) | (GetGValue(kUnpainted) << 8) | GetBValue(kUnpainted);
  for (DWORD pixel : pixels) {
    if ((pixel & 0xFFFFFF) != sentinel) return false;
  }
  return true;
}

// Lets the window render itself, also where other windows cover it; false when it drew nothing.
bool PrintWindowInto(HWND window, HDC memory, HBITMAP bitmap, int width, int height) {
  if (ClassOf(window) == L"#32768") return false;  // open menus are top-most: copy them from screen
  const RECT all{0, 0, width, height};
  UniqueGdiObject fill(CreateSolidBrush(kUnpainted));
  FillRect(memory, &all, static_cast<HBRUSH>(fill.get()));
  if (!PrintWindow(window, memory, PW_RENDERFULLCONTENT)) return false;
  // Some systems accept the request for another process's window but draw nothing.
  return !StillUnpainted(memory, bitmap, width, height);
}

// Renders one window into the capture at its place; a window that cannot render itself is
// copied from the screen.
void PaintWindowInto(HDC capture, const RECT& area, HWND window) {
  RECT rect{};
  if (!GetWindowRect(window, &rect)) return;
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  if (width < 1 || height < 1) return;
  ScreenDC screen;
  UniqueMemoryDC memory(CreateCompatibleDC(screen.get()));
  UniqueBitmap bitmap(CreateCompatibleBitmap(screen.get(), width, height));
  if (!memory || !bitmap) return;
  HGDIOBJ previous = SelectObject(memory.get(), bitmap.get());
  const bool printed = PrintWindowInto(window, memory.get(), static_cast<HBITMAP>(bitmap.get()), width, height);
  HDC source = printed ? memory.get() : screen.get();
  const int sourceX = printed ? 0 : rect.left;
  const int sourceY = printed ? 0 : rect.top;
  BitBlt(capture, rect.left - area.left, rect.top - area.top, width, height, source, sourceX, sourceY, SRCCOPY);
  SelectObject(memory.get(), previous);
}

void HighlightControl(Gdiplus::Graphics& graphics, const RECT& rect) {
  const Gdiplus::RectF outline(static_cast<Gdiplus::REAL>(rect.left - 2),
                               static_cast<Gdiplus::REAL>(rect.top - 2),
                               static_cast<Gdiplus::REAL>(rect.right - rect.left + 4),
                               static_cast<Gdiplus::REAL>(rect.bottom - rect.top + 4));
  graphics.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
  Gdiplus::Pen black(Gdiplus::Color(255, 0, 0, 0), 5.0f);
  Gdiplus::Pen yellow(Gdiplus::Color(255, 255, 255, 0), 3.0f);
  graphics.DrawRectangle(&black, outline);
  graphics.DrawRectangle(&yellow, outline);
}

void HighlightInCapture(HDC capture, const RECT& area, HWND control) {
  RECT rect{};
  if (!control || !IsWindow(control) || !GetWindowRect(control, &rect)) return;
  OffsetRect(&rect, -area.left, -area.top);
  Gdiplus::Graphics graphics(capture);
  HighlightControl(graphics, rect);
}

// Shows the cursor and the flash over a finished capture of a screen rectangle.
HBITMAP FinishCapture(HBITMAP bitmap, const RECT& rect) {
  if (!bitmap) return nullptr;
  DrawCursorOnCapture(bitmap, rect);
  ShowCaptureFlash(rect);
  return bitmap;
}

HBITMAP CaptureWindowRect(HWND window) {
  RECT rect{};
  if (!GetWindowRect(window, &rect)) return nullptr;
  return FinishCapture(CaptureRect(rect), rect);
}

}  // namespace

namespace {

std::atomic<HWND> g_pickerOwner{nullptr};

}  // namespace

void SetPickerOwner(HWND owner) { g_pickerOwner.store(owner); }

HWND ShowWindowPicker() {
  LogMessage(L"Showing window selection dialog.");
  const INT_PTR chosen = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_WINDOW_PICKER),
                                         g_pickerOwner.load(), PickerProc, 0);
  return chosen > 0 ? reinterpret_cast<HWND>(chosen) : nullptr;
}

bool IsCapturableTopLevelWindow(HWND window) {
  if (!IsWindow(window) || !IsWindowVisible(window) || IsIconic(window)) return false;
  if (GetAncestor(window, GA_ROOT) != window || IsToolWindow(window)) return false;
  const std::wstring cls = ClassOf(window);
  if (cls == L"Progman" || cls == L"WorkerW" || IsCloaked(window)) return false;
  RECT rect{};
  return GetWindowRect(window, &rect) && !IsRectEmpty(&rect);
}

void ActivateWindow(HWND window, bool setFocus) {
  const DWORD foregroundThread = GetWindowThreadProcessId(GetForegroundWindow(), nullptr);
  const DWORD thisThread = GetCurrentThreadId();
  const bool attached = foregroundThread && foregroundThread != thisThread &&
                        AttachThreadInput(thisThread, foregroundThread, TRUE);
  if (IsIconic(window)) ShowWindow(window, SW_RESTORE);
  SetForegroundWindow(window);
  if (setFocus) SetFocus(window);
  if (attached) AttachThreadInput(thisThread, foregroundThread, FALSE);
}

HBITMAP CaptureWindowWithPopups(HWND target, HWND control) {
  RECT area{};
  if (!IsWindow(target) || !GetWindowRect(target, &area)) return nullptr;
  const std::vector<HWND> windows = WindowWithPopups(target);
  for (size_t i = 1; i < windows.size(); ++i) {
    RECT rect{};
    if (GetWindowRect(windows[i], &rect)) UnionRect(&area, &area, &rect);
  }
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
  if (width < 1 || height < 1) return nullptr;
  ScreenDC screen;
  UniqueMemoryDC memory(CreateCompatibleDC(screen.get()));
  UniqueBitmap bitmap(CreateCompatibleBitmap(screen.get(), width, height));
  if (!memory || !bitmap) return nullptr;
  HGDIOBJ previous = SelectObject(memory.get(), bitmap.get());
  PatBlt(memory.get(), 0, 0, width, height, BLACKNESS);
  for (HWND window : windows) PaintWindowInto(memory.get(), area, window);
  HighlightInCapture(memory.get(), area, control);
  SelectObject(memory.get(), previous);
  return FinishCapture(static_cast<HBITMAP>(bitmap.release()), area);
}

HBITMAP CaptureActiveWindow(bool* cancelled) {
  LogMessage(L"Starting smart CaptureActiveWindow.");
  HWND window = GetForegroundWindow();
  if (!window || !IsCapturableTopLevelWindow(window)) {
    LogMessage(L"Foreground window not valid. Opening selection dialog.");
    window = ShowWindowPicker();
    if (!window) {
      LogMessage(L"Window selection cancelled.");
      if (cancelled) *cancelled = true;
      return nullptr;
    }
    LogMessage(L"User selected a window. Activating.");
    ActivateWindow(window, false);
    Sleep(200);
  }
  HWND control = nullptr;
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (GetGUIThreadInfo(0, &info) && info.hwndFocus && IsChild(window, info.hwndFocus)) {
    LogMessage(L"Found focused control to highlight.");
    control = info.hwndFocus;
  }
  return CaptureWindowWithPopups(window, control);
}

HBITMAP CaptureKeyboardFocusedControl() {
  LogMessage(L"Starting CaptureKeyboardFocusedControl.");
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  // The desktop window holds the focus when nothing else does: that is no control.
  if (!GetGUIThreadInfo(0, &info) || !info.hwndFocus || info.hwndFocus == GetDesktopWindow()) {
    LogMessage(L"GetGUIThreadInfo failed or no control has keyboard focus.");
    return nullptr;
  }
  if (!IsWindow(info.hwndFocus)) {
    LogMessage(L"Focused handle is not a valid window.");
    return nullptr;
  }
  RECT rect{};
  if (!GetWindowRect(info.hwndFocus, &rect)) {
    LogMessage(L"Could not get window rect for the focused control.");
    return nullptr;
  }
  if (IsRectEmpty(&rect)) {
    LogMessage(L"Focused control has an empty or invalid rectangle.");
    return nullptr;
  }
  LogMessage(L"Capturing the focused control's area directly.");
  return FinishCapture(CaptureRect(rect), rect);
}

HBITMAP CaptureMouseFocusedControl() {
  LogMessage(L"Starting CaptureMouseFocusedControl.");
  POINT cursor{};
  if (!GetCursorPos(&cursor)) return nullptr;
  HWND window = WindowFromPoint(cursor);
  if (!window) return nullptr;
  return CaptureWindowRect(window);
}

}  // namespace vistrel
