// The free-form selection overlay: a frozen, dimmed picture of the virtual screen on which the
// user drags a rectangle, with a crosshair at the pointer, the selection's size and a round
// magnifying loupe. Everything runs on the core window's thread.
#include "capture/freeform.h"

#include <objidl.h>
#include <gdiplus.h>

#include <optional>
#include <string>
#include <utility>

#include "capture/capture_output.h"
#include "capture/freeform_layout.h"
#include "capture/screen_capture.h"
#include "core/handles.h"
#include "core/log.h"

namespace vistrel {
namespace {

constexpr wchar_t kOverlayClass[] = L"FreeFormSelectWindowClass";
constexpr wchar_t kLoupeClass[] = L"MagnifierLoupeClass";
constexpr int kLoupeZoomOffset = kLoupeSourceSize / 2;  // centres the source square on the pointer
constexpr DWORD kRepaintPauseMs = 50;  // lets the screen repaint without the overlay before capturing

struct FreeformState {
  // An overlay still open when the program ends is a cancel, not a capture.
  ~FreeformState() { cancelled = true; }

  FreeformDelivery deliver;
  FreeformFailure failed;
  UniqueBitmap snapshot;
  UniqueWindow loupe;
  POINT start{};
  POINT end{};
  bool dragging = false;
  bool cancelled = false;
  bool closing = false;  // the overlay is on its way out: losing the focus now is not a cancel
  // Declared last so that, at exit, it is destroyed while the rest of the state still exists.
  UniqueWindow overlay;
};

FreeformState& State() {
  static FreeformState state;
  return state;
}

// Small scoped helpers for painting ---------------------------------------------------------

class PaintScope {
 public:
  explicit PaintScope(HWND window) : window_(window), dc_(BeginPaint(window, &paint_)) {}
  PaintScope(const PaintScope&) = delete;
  PaintScope& operator=(const PaintScope&) = delete;
  ~PaintScope() { EndPaint(window_, &paint_); }
  HDC dc() const { return dc_; }

 private:
  HWND window_;
  PAINTSTRUCT paint_{};
  HDC dc_;
};

RECT VirtualScreen() {
  const int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
  const int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
  return RECT{left, top, left + GetSystemMetrics(SM_CXVIRTUALSCREEN),
              top + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
}

HBITMAP AsBitmap(const UniqueBitmap& bitmap) { return static_cast<HBITMAP>(bitmap.get()); }

SIZE ClientSize(HWND window) {
  RECT client{};
  GetClientRect(window, &client);
  return SIZE{client.right, client.bottom};
}

POINT PointerInClient(HWND window) {
  POINT pointer{};
  GetCursorPos(&pointer);
  ScreenToClient(window, &pointer);
  return pointer;
}

POINT PointFromLParam(LPARAM lParam) {
  return POINT{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
}

// The selection while it is being dragged and at least one pixel each way.
std::optional<RECT> VisibleSelection() {
  const FreeformState& s = State();
  if (!s.dragging) return std::nullopt;
  const RECT r = SelectionRect(s.start, s.end);
  if (r.right - r.left < 1 || r.bottom - r.top < 1) return std::nullopt;
  return r;
}

// Start-up ----------------------------------------------------------------------------------

LRESULT CALLBACK OverlayProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK LoupeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

void RegisterWindowClasses(HINSTANCE instance) {
  // Registering again at every start fails harmlessly once the classes exist.
  WNDCLASSEXW overlay{sizeof overlay};
  overlay.lpfnWndProc = OverlayProc;
  overlay.hInstance = instance;
  overlay.hCursor = LoadCursorW(nullptr, IDC_CROSS);
  overlay.lpszClassName = kOverlayClass;
  RegisterClassExW(&overlay);

  WNDCLASSEXW loupe{sizeof loupe};
  loupe.lpfnWndProc = LoupeProc;
  loupe.hInstance = instance;
  loupe.lpszClassName = kLoupeClass;
  RegisterClassExW(&loupe);
}

UniqueBitmap TakeSnapshot() {
  const RECT screen = VirtualScreen();
  const int width = screen.right - screen.left;
  const int height = screen.bottom - screen.top;
  ScreenDC screenDc;
  if (!screenDc) return {};
  UniqueMemoryDC memory(CreateCompatibleDC(screenDc.get()));
  UniqueBitmap bitmap(CreateCompatibleBitmap(screenDc.get(), width, height));
  if (!memory || !bitmap) return {};
  SelectedObject selected(memory.get(), bitmap.get());
  if (!BitBlt(memory.get(), 0, 0, width, height, screenDc.get(), screen.left, screen.top, SRCCOPY)) return {};
  return bitmap;
}

// The overlay covers the whole virtual screen, so its client origin is the virtual screen's
// origin: the snapshot is drawn at (0, 0) and client positions map to the screen one to one.
// SW_SHOW keeps that placement (maximizing would move it onto the primary monitor alone).
bool OpenOverlay(HINSTANCE instance) {
  const RECT screen = VirtualScreen();
  HWND window = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kOverlayClass, L"FreeFormSelect",
                                WS_POPUP, screen.left, screen.top, screen.right - screen.left,
                                screen.bottom - screen.top, nullptr, nullptr, instance, nullptr);
  if (!window) return false;
  State().overlay.reset(window);
  ShowWindow(window, SW_SHOW);
  SetForegroundWindow(window);
  UpdateWindow(window);
  return true;
}

// The loupe ---------------------------------------------------------------------------------

void CreateLoupe(HWND overlay) {
  const auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(overlay, GWLP_HINSTANCE));
  // Shown, the loupe must still let every click and move through to the overlay: a fast
  // pointer can land on it before it has moved away (hence WS_EX_TRANSPARENT).
  UniqueWindow loupe(CreateWindowExW(
      WS_EX_LAYERED | WS_EX_TRANSPARENT | WS_EX_TOOLWINDOW | WS_EX_TOPMOST, kLoupeClass, L"Loupe",
      WS_POPUP, 0, 0, kLoupeSize, kLoupeSize, overlay, nullptr, instance, nullptr));
  if (!loupe) return;
  // A layered window stays invisible until it has an opacity; fully opaque, it paints as usual.
  SetLayeredWindowAttributes(loupe.get(), 0, 255, LWA_ALPHA);
  UniqueGdiObject circle(CreateEllipticRgn(0, 0, kLoupeSize, kLoupeSize));
  if (circle && SetWindowRgn(loupe.get(), static_cast<HRGN>(circle.get()), TRUE)) {
    circle.release();  // the window owns its region now
  }
  State().loupe = std::move(loupe);
}

void MoveLoupe(HWND overlay, POINT pointer) {
  const PointerDecorations place = PlacePointerDecorations(pointer, ClientSize(overlay));
  POINT topLeft{place.loupe.left, place.loupe.top};
  ClientToScreen(overlay, &topLeft);
  HWND loupe = State().loupe.get();
  SetWindowPos(loupe, HWND_TOPMOST, topLeft.x, topLeft.y, 0, 0,
               SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
  InvalidateRect(loupe, nullptr, FALSE);
}

// An 8-fold enlargement of the snapshot around the pointer's pixel.
void DrawMagnifiedSnapshot(HDC dc) {
  const FreeformState& s = State();
  if (!s.snapshot) return;
  POINT pointer{};
  GetCursorPos(&pointer);
  const RECT screen = VirtualScreen();
  const int px = pointer.x - screen.left;
  const int py = pointer.y - screen.top;
  UniqueMemoryDC memory(CreateCompatibleDC(dc));
  if (!memory) return;
  SelectedObject selected(memory.get(), s.snapshot.get());
  SetStretchBltMode(dc, HALFTONE);
  SetBrushOrgEx(dc, 0, 0, nullptr);
  StretchBlt(dc, 0, 0, kLoupeSize, kLoupeSize, memory.get(), px - kLoupeZoomOffset,
             py - kLoupeZoomOffset, kLoupeSourceSize, kLoupeSourceSize, SRCCOPY);
}

void DrawLoupeRing(HDC dc) {
  UniqueGdiObject pen(CreatePen(PS_SOLID, 3, RGB(0, 0, 0)));
  SelectedObject selectedPen(dc, pen.get());
  SelectedObject selectedBrush(dc, GetStockObject(NULL_BRUSH));
  Ellipse(dc, 0, 0, kLoupeSize, kLoupeSize);
}

void DrawLoupeCross(HDC dc, int width, COLORREF colour) {
  UniqueGdiObject pen(CreatePen(PS_SOLID, width, colour));
  SelectedObject selected(dc, pen.get());
  const int centre = kLoupeSize / 2;
  MoveToEx(dc, centre, 0, nullptr);
  LineTo(dc, centre, kLoupeSize);
  MoveToEx(dc, 0, centre, nullptr);
  LineTo(dc, kLoupeSize, centre);
}

void PaintLoupe(HWND window) {
  PaintScope paint(window);
  DrawMagnifiedSnapshot(paint.dc());
  DrawLoupeRing(paint.dc());
  DrawLoupeCross(paint.dc(), 3, RGB(255, 255, 255));
  DrawLoupeCross(paint.dc(), 1, RGB(255, 0, 0));
}

LRESULT CALLBACK LoupeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      PaintLoupe(window);
      return 0;
    case WM_NCDESTROY:
      // Destroyed with its owner: the handle must not be destroyed a second time.
      if (State().loupe.get() == window) State().loupe.release();
      break;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// Overlay painting --------------------------------------------------------------------------

void DrawSnapshot(HDC target) {
  const FreeformState& s = State();
  BITMAP info{};
  if (!s.snapshot || !GetObjectW(s.snapshot.get(), sizeof info, &info)) return;
  UniqueMemoryDC memory(CreateCompatibleDC(target));
  if (!memory) return;
  SelectedObject selected(memory.get(), s.snapshot.get());
  BitBlt(target, 0, 0, info.bmWidth, info.bmHeight, memory.get(), 0, 0, SRCCOPY);
}

Gdiplus::Rect ToGdiplus(const RECT& r) {
  return Gdiplus::Rect(r.left, r.top, r.right - r.left, r.bottom - r.top);
}

// Everything but the selection is darkened by half.
void DimOutsideSelection(Gdiplus::Graphics& g, SIZE client, const std::optional<RECT>& selection) {
  Gdiplus::Region dimmed(Gdiplus::Rect(0, 0, client.cx, client.cy));
  if (selection) dimmed.Exclude(ToGdiplus(*selection));
  Gdiplus::SolidBrush shade(Gdiplus::Color(128, 0, 0, 0));
  g.FillRegion(&shade, &dimmed);
}

// Lines drawn twice, wide black under thin colour, stay visible on any background.
void DrawCrosshair(Gdiplus::Graphics& g, SIZE client, POINT pointer) {
  Gdiplus::Pen shadow(Gdiplus::Color(255, 0, 0, 0), 3.0f);
  Gdiplus::Pen line(Gdiplus::Color(255, 255, 255, 0), 1.0f);
  const INT x = pointer.x;
  const INT y = pointer.y;
  for (Gdiplus::Pen* pen : {&shadow, &line}) {
    g.DrawLine(pen, 0, y, static_cast<INT>(client.cx), y);
    g.DrawLine(pen, x, 0, x, static_cast<INT>(client.cy));
  }
}

void DrawSelectionOutline(Gdiplus::Graphics& g, const RECT& selection) {
  Gdiplus::Pen shadow(Gdiplus::Color(255, 0, 0, 0), 3.0f);
  Gdiplus::Pen line(Gdiplus::Color(255, 255, 255, 255), 1.0f);
  const Gdiplus::Rect r = ToGdiplus(selection);
  g.DrawRectangle(&shadow, r);
  g.DrawRectangle(&line, r);
}

void DrawSizeLabel(Gdiplus::Graphics& g, const RECT& box, const RECT& selection) {
  g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
  g.SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAlias);
  const Gdiplus::RectF area(static_cast<Gdiplus::REAL>(box.left), static_cast<Gdiplus::REAL>(box.top),
                            static_cast<Gdiplus::REAL>(kSizeLabelWidth),
                            static_cast<Gdiplus::REAL>(kSizeLabelHeight));
  Gdiplus::SolidBrush background(Gdiplus::Color(200, 0, 0, 0));
  g.FillRectangle(&background, area);

  Gdiplus::Font font(L"Arial", 16.0f, Gdiplus::FontStyleBold, Gdiplus::UnitPixel);
  if (font.GetLastStatus() != Gdiplus::Ok) return;
  const std::wstring text = std::to_wstring(selection.right - selection.left) + L" x " +
                            std::to_wstring(selection.bottom - selection.top);
  Gdiplus::StringFormat format;
  format.SetAlignment(Gdiplus::StringAlignmentCenter);
  format.SetLineAlignment(Gdiplus::StringAlignmentCenter);
  Gdiplus::SolidBrush white(Gdiplus::Color(255, 255, 255, 255));
  g.DrawString(text.c_str(), static_cast<INT>(text.size()), &font, area, &format, &white);
}

void ComposeOverlay(HWND window, HDC target, SIZE client) {
  DrawSnapshot(target);
  Gdiplus::Graphics g(target);
  const std::optional<RECT> selection = VisibleSelection();
  DimOutsideSelection(g, client, selection);
  g.SetSmoothingMode(Gdiplus::SmoothingModeNone);
  const POINT pointer = PointerInClient(window);
  DrawCrosshair(g, client, pointer);
  if (!selection) return;
  DrawSelectionOutline(g, *selection);
  DrawSizeLabel(g, PlacePointerDecorations(pointer, client).label, *selection);
}

// Drawn off screen and copied in one go, so the picture never flickers.
void PaintOverlay(HWND window) {
  PaintScope paint(window);
  const SIZE client = ClientSize(window);
  UniqueMemoryDC memory(CreateCompatibleDC(paint.dc()));
  UniqueBitmap frame(CreateCompatibleBitmap(paint.dc(), client.cx, client.cy));
  if (!memory || !frame) return;
  SelectedObject selected(memory.get(), frame.get());
  ComposeOverlay(window, memory.get(), client);
  BitBlt(paint.dc(), 0, 0, client.cx, client.cy, memory.get(), 0, 0, SRCCOPY);
}

// Overlay input and end ---------------------------------------------------------------------

void Cancel(HWND window) {
  State().cancelled = true;
  State().closing = true;
  DestroyWindow(window);
}

// Asked for when the overlay loses the focus (Alt+Tab, the Windows key, another program's window):
// the keyboard could no longer reach it, so it goes as Escape makes it go. Posted, because the
// deactivation may come in the middle of the overlay's own destruction.
constexpr UINT kCancelOnDeactivation = WM_APP + 1;

void OnLeftButtonDown(HWND window, POINT position) {
  FreeformState& s = State();
  s.start = position;
  s.end = position;
  s.dragging = true;
  SetCapture(window);
}

void OnMouseMove(HWND window, POINT position) {
  FreeformState& s = State();
  if (s.dragging) s.end = position;
  if (s.loupe) MoveLoupe(window, position);
  InvalidateRect(window, nullptr, FALSE);
}

// The end point is that of the last pointer move, not of the button-up message.
void OnLeftButtonUp(HWND window) {
  FreeformState& s = State();
  if (!s.dragging) return;
  ReleaseCapture();
  s.dragging = false;
  if (!SelectionIsCapturable(s.start, s.end)) {
    Cancel(window);
    return;
  }
  s.closing = true;
  ShowWindow(window, SW_HIDE);
  if (s.loupe) ShowWindow(s.loupe.get(), SW_HIDE);
  Sleep(kRepaintPauseMs);
  DestroyWindow(window);
}

// The selection is copied from the live screen, not from the snapshot.
UniqueBitmap CaptureSelection(HWND overlay, const RECT& selection) {
  POINT topLeft{selection.left, selection.top};
  POINT bottomRight{selection.right, selection.bottom};
  ClientToScreen(overlay, &topLeft);
  ClientToScreen(overlay, &bottomRight);
  const RECT screen{topLeft.x, topLeft.y, bottomRight.x, bottomRight.y};
  UniqueBitmap bitmap(CaptureRect(screen));
  if (bitmap) {
    DrawCursorOnCapture(AsBitmap(bitmap), screen);
    ShowCaptureFlash(screen);
  }
  return bitmap;
}

void Finish(HWND window) {
  FreeformState& s = State();
  UniqueBitmap capture;
  const bool wanted = !s.cancelled && SelectionIsCapturable(s.start, s.end);
  if (wanted) capture = CaptureSelection(window, SelectionRect(s.start, s.end));
  s.snapshot.reset();
  s.loupe.reset();
  s.dragging = false;
  if (capture && s.deliver) s.deliver(std::move(capture));
  if (wanted && !capture && s.failed) s.failed();
  s.overlay.release();  // being destroyed right now
  LogMessage(L"Freeform capture complete.");
}

LRESULT CALLBACK OverlayProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      CreateLoupe(window);
      return 0;
    case WM_LBUTTONDOWN:
      OnLeftButtonDown(window, PointFromLParam(lParam));
      return 0;
    case WM_MOUSEMOVE:
      OnMouseMove(window, PointFromLParam(lParam));
      return 0;
    case WM_LBUTTONUP:
      OnLeftButtonUp(window);
      return 0;
    case WM_RBUTTONDOWN:
      Cancel(window);
      return 0;
    case WM_KEYDOWN:
      if (wParam == VK_ESCAPE) Cancel(window);
      return 0;
    case WM_ACTIVATE:
      if (LOWORD(wParam) == WA_INACTIVE && !State().closing) PostMessageW(window, kCancelOnDeactivation, 0, 0);
      return DefWindowProcW(window, message, wParam, lParam);
    case kCancelOnDeactivation:
      if (!State().closing) {
        LogMessage(L"The free-form overlay lost the focus and was closed.");
        Cancel(window);
      }
      return 0;
    case WM_PAINT:
      PaintOverlay(window);
      return 0;
    case WM_DESTROY:
      Finish(window);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace

void StartFreeformCapture(HINSTANCE instance, FreeformDelivery deliver, FreeformFailure failed) {
  FreeformState& s = State();
  if (s.overlay) return;
  LogMessage(L"Starting enhanced freeform capture mode.");
  s.deliver = std::move(deliver);
  s.failed = std::move(failed);
  s.start = s.end = POINT{};
  s.dragging = false;
  s.cancelled = false;
  s.closing = false;
  RegisterWindowClasses(instance);
  s.snapshot = TakeSnapshot();
  if (!s.snapshot) {
    LogMessage(L"Failed to take initial screen snapshot for freeform mode.");
    if (s.failed) s.failed();
    return;
  }
  if (!OpenOverlay(instance)) {
    LogMessage(L"CreateWindowEx failed for freeform overlay.");
    s.snapshot.reset();
    if (s.failed) s.failed();
  }
}

bool FreeformCaptureActive() { return static_cast<bool>(State().overlay); }

}  // namespace vistrel
