#include "capture/screen_capture.h"

#include <objidl.h>
#include <gdiplus.h>

#include "config/app_config.h"
#include "core/handles.h"
#include "core/log.h"
#include "core/system_error.h"

namespace vistrel {
namespace {

ULONG_PTR g_gdiplusToken = 0;

struct MonitorMatch {
  std::wstring wanted;
  RECT rect{};
  bool found = false;
};

BOOL CALLBACK MatchMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM data) {
  auto* match = reinterpret_cast<MonitorMatch*>(data);
  MONITORINFOEXW info{};
  info.cbSize = sizeof info;
  if (!GetMonitorInfoW(monitor, &info) || match->wanted != info.szDevice) return TRUE;
  match->rect = info.rcMonitor;
  match->found = true;
  return FALSE;
}

bool PrimaryMonitorRect(RECT& rect) {
  MONITORINFO info{};
  info.cbSize = sizeof info;
  if (!GetMonitorInfoW(MonitorFromWindow(nullptr, MONITOR_DEFAULTTOPRIMARY), &info)) return false;
  rect = info.rcMonitor;
  return true;
}

RECT VirtualScreenRect() {
  const int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
  const int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
  return {left, top, left + GetSystemMetrics(SM_CXVIRTUALSCREEN),
          top + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
}

// The rectangle of the monitor the ScreenID setting names, or of the primary monitor.
bool SelectedScreenRect(const std::wstring& screenId, const std::wstring& logPrefix, RECT& rect) {
  if (screenId == L"Default") return false;
  LogMessage(logPrefix + L"Attempting to capture selected screen: " + screenId);
  MonitorMatch match{screenId};
  EnumDisplayMonitors(nullptr, nullptr, MatchMonitor, reinterpret_cast<LPARAM>(&match));
  if (match.found) {
    LogMessage(logPrefix + L"Found selected screen. Capturing its area.");
    rect = match.rect;
    return true;
  }
  LogMessage(logPrefix + L"[WARNING] Selected screen not found. Falling back to primary monitor.");
  return PrimaryMonitorRect(rect);
}

// Draws a cursor shape with its hot spot at `position`; false when its picture cannot be read.
bool DrawCursorShape(HDC dc, HCURSOR shape, POINT position, POINT origin) {
  ICONINFO icon{};
  if (!shape || !GetIconInfo(shape, &icon)) return false;
  UniqueBitmap color(icon.hbmColor);
  UniqueBitmap mask(icon.hbmMask);
  const int x = position.x - origin.x - static_cast<int>(icon.xHotspot);
  const int y = position.y - origin.y - static_cast<int>(icon.yHotspot);
  return DrawIconEx(dc, x, y, shape, 0, 0, 0, nullptr, DI_NORMAL) != FALSE;
}

}  // namespace

bool StartGdiPlus() {
  Gdiplus::GdiplusStartupInput input;
  if (Gdiplus::GdiplusStartup(&g_gdiplusToken, &input, nullptr) != Gdiplus::Ok) {
    g_gdiplusToken = 0;
    LogMessage(L"GDI+ Startup failed.");
    return false;
  }
  LogMessage(L"GDI+ Initialized.");
  return true;
}

void StopGdiPlus() {
  if (!g_gdiplusToken) return;
  Gdiplus::GdiplusShutdown(g_gdiplusToken);
  g_gdiplusToken = 0;
  LogMessage(L"GDI+ Shutdown.");
}

RECT ChooseScreenRect(const std::wstring& screenId, const std::wstring& logPrefix) {
  RECT rect{};
  if (!SelectedScreenRect(screenId, logPrefix, rect)) {
    LogMessage(logPrefix + L"Capturing primary monitor as default.");
    if (!PrimaryMonitorRect(rect)) {
      LogMessage(logPrefix + L"[ERROR] Could not get primary monitor info. Capturing entire virtual screen as last resort.");
      rect = VirtualScreenRect();
    }
  }
  return rect;
}

HBITMAP CaptureScreen() {
  LogMessage(L"Starting CaptureScreen.");
  return CaptureRect(ChooseScreenRect(ConfigSnapshot().ScreenID, L""));
}

HBITMAP CaptureRect(const RECT& rect) {
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  if (width < 1 || height < 1) {
    LogMessage(L"CaptureRect failed: Invalid dimensions.");
    return nullptr;
  }
  ScreenDC screen;
  UniqueMemoryDC memory(CreateCompatibleDC(screen.get()));
  UniqueBitmap bitmap(CreateCompatibleBitmap(screen.get(), width, height));
  if (!bitmap) {
    LogMessage(L"CaptureRect failed: CreateCompatibleBitmap failed.");
    return nullptr;
  }
  HGDIOBJ previous = SelectObject(memory.get(), bitmap.get());
  // Windows refuses to copy the screen of a locked session or the secure desktop: the bitmap would
  // be black, and no capture at all.
  const BOOL copied = BitBlt(memory.get(), 0, 0, width, height, screen.get(), rect.left, rect.top, SRCCOPY);
  const DWORD error = GetLastError();
  SelectObject(memory.get(), previous);
  if (!copied) {
    LogMessage(L"CaptureRect failed: BitBlt failed. Error: " + SystemErrorText(error));
    return nullptr;
  }
  return static_cast<HBITMAP>(bitmap.release());
}

void DrawCursorInto(HDC dc, POINT origin) {
  CURSORINFO cursor{};
  cursor.cbSize = sizeof cursor;
  if (!GetCursorInfo(&cursor) || !(cursor.flags & CURSOR_SHOWING) || !cursor.hCursor) return;
  if (DrawCursorShape(dc, cursor.hCursor, cursor.ptScreenPos, origin)) return;
  // The picture of a cursor that belongs to another process cannot always be read (under Wine
  // never): the standard arrow stands in for it.
  DrawCursorShape(dc, LoadCursorW(nullptr, IDC_ARROW), cursor.ptScreenPos, origin);
}

void DrawCursorOnCapture(HBITMAP bitmap, const RECT& rect) {
  if (!bitmap || !ConfigSnapshot().IncludeCursor) return;
  ScreenDC screen;
  UniqueMemoryDC memory(CreateCompatibleDC(screen.get()));
  if (!memory) return;
  HGDIOBJ previous = SelectObject(memory.get(), bitmap);
  DrawCursorInto(memory.get(), POINT{rect.left, rect.top});
  SelectObject(memory.get(), previous);
}

}  // namespace vistrel
