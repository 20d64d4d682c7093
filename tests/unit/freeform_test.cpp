// Free-form selection: its geometry, and the overlay driven through its own window messages.
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <array>
#include <initializer_list>
#include <tuple>
#include <utility>
#include <string>

#include <gtest/gtest.h>

#include "app/messages.h"
#include "capture/freeform.h"
#include "capture/freeform_layout.h"
#include "core/handles.h"
#include "core/log.h"
#include "temp_folder.h"

namespace vistrel {
namespace {

using testing::ReadBytes;
using testing::TempFolder;

std::array<LONG, 4> Box(const RECT& r) { return {r.left, r.top, r.right, r.bottom}; }

TEST(FreeformLayout, TheSelectionIsTheSameFromAnyCornerAndSixPixelsEachWayIsTheSmallestCapture) {
  for (const auto& [from, to] :
       {std::pair<POINT, POINT>{{10, 20}, {16, 26}}, {{16, 26}, {10, 20}}, {{16, 20}, {10, 26}}}) {
    EXPECT_EQ(Box(SelectionRect(from, to)), (std::array<LONG, 4>{10, 20, 16, 26}));
    EXPECT_TRUE(SelectionIsCapturable(from, to));
  }
  EXPECT_EQ(Box(SelectionRect({-5, -8}, {3, 2})), (std::array<LONG, 4>{-5, -8, 3, 2}));
  for (const auto& [from, to] : {std::pair<POINT, POINT>{{0, 0}, {5, 100}}, {{0, 0}, {100, 5}}, {{10, 10}, {5, 40}},
                                 {{10, 10}, {10, 10}}}) {
    EXPECT_FALSE(SelectionIsCapturable(from, to)) << from.x << "," << from.y << " " << to.x << "," << to.y;
  }
}

// Below and right of the pointer, the label under the loupe; near the right edge both go left, near
// the bottom both go above with the label on top.
TEST(FreeformLayout, LoupeAndLabelGoToTheSideOfThePointerWhereTheyFit) {
  // {pointer, loupe, label} on a 1920 x 1080 screen
  const std::tuple<POINT, std::array<LONG, 4>, std::array<LONG, 4>> rows[] = {
      {{100, 200}, {120, 220, 240, 340}, {120, 346, 240, 376}},
      {{1780, 200}, {1800, 220, 1920, 340}, {1800, 346, 1920, 376}},
      {{1781, 200}, {1641, 220, 1761, 340}, {1641, 346, 1761, 376}},
      {{100, 904}, {120, 924, 240, 1044}, {120, 1050, 240, 1080}},
      {{100, 905}, {120, 765, 240, 885}, {120, 729, 240, 759}},
  };
  for (const auto& [pointer, loupe, label] : rows) {
    const PointerDecorations d = PlacePointerDecorations(pointer, {1920, 1080});
    EXPECT_EQ(std::pair(Box(d.loupe), Box(d.label)), std::pair(loupe, label)) << pointer.x << "," << pointer.y;
  }
}

// The overlay -----------------------------------------------------------------------------------

// What the overlay delivered.
struct Received {
  int count = 0;
  UniqueBitmap picture;
};
Received g_received;

// Handles this thread's pending messages.
void PumpPending() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

int OverlayCount() {
  int count = 0;
  for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, L"FreeFormSelectWindowClass", nullptr)) != nullptr;) ++count;
  return count;
}

class FreeformOverlay : public ::testing::Test {
 protected:
  void SetUp() override {
    UseLogFile(folder_ / L"log.txt");
    Gdiplus::GdiplusStartupInput input;
    ASSERT_EQ(Gdiplus::GdiplusStartup(&gdiplus_, &input, nullptr), Gdiplus::Ok);
    g_received = {};
  }

  void TearDown() override {
    if (HWND overlay = Overlay()) DestroyWindow(overlay);
    PumpPending();
    g_received = {};
    Gdiplus::GdiplusShutdown(gdiplus_);
    UseLogFile(L"");
  }

  static void Deliver(UniqueBitmap picture) {
    ++g_received.count;
    g_received.picture = std::move(picture);
  }

  void Start() {
    StartFreeformCapture(GetModuleHandleW(nullptr), Deliver);
    ASSERT_TRUE(FreeformCaptureActive());
    ASSERT_NE(Overlay(), nullptr);
    PumpPending();
  }

  static HWND Overlay() { return FindWindowW(L"FreeFormSelectWindowClass", nullptr); }

  static void Drag(HWND overlay, POINT from, POINT to) {
    SendMessageW(overlay, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(from.x, from.y));
    SendMessageW(overlay, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(to.x, to.y));
    SendMessageW(overlay, WM_LBUTTONUP, 0, MAKELPARAM(to.x, to.y));
  }

  size_t LogCount(const std::string& line) {
    const std::string log = ReadBytes(folder_ / L"log.txt");
    size_t count = 0;
    for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) ++count;
    return count;
  }

  TempFolder folder_;
  ULONG_PTR gdiplus_ = 0;
};

TEST_F(FreeformOverlay, ASixBySixDragDeliversASixBySixBitmap) {
  Start();
  Drag(Overlay(), {300, 200}, {294, 194});
  EXPECT_FALSE(FreeformCaptureActive());
  EXPECT_EQ(Overlay(), nullptr);
  ASSERT_EQ(g_received.count, 1);
  BITMAP info{};
  ASSERT_NE(GetObjectW(g_received.picture.get(), sizeof info, &info), 0);
  EXPECT_EQ(info.bmWidth, 6);
  EXPECT_EQ(info.bmHeight, 6);
  EXPECT_EQ(LogCount("Freeform capture complete."), 1u);
}

TEST_F(FreeformOverlay, SmallDragsEscapeAndTheRightButtonCancel) {
  const auto cancels = {
      +[](HWND o) { Drag(o, {100, 100}, {105, 140}); },
      +[](HWND o) { Drag(o, {100, 100}, {140, 95}); },
      +[](HWND o) { SendMessageW(o, WM_KEYDOWN, VK_ESCAPE, 0); },
      +[](HWND o) { SendMessageW(o, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(50, 50)); },
      +[](HWND o) {
        SendMessageW(o, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10));
        SendMessageW(o, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(200, 200));
        SendMessageW(o, WM_KEYDOWN, VK_ESCAPE, 0);
      },
  };
  size_t finished = 0;
  for (const auto cancel : cancels) {
    Start();
    cancel(Overlay());
    EXPECT_FALSE(FreeformCaptureActive()) << finished;
    EXPECT_EQ(LogCount("Freeform capture complete."), ++finished);
  }
  EXPECT_EQ(g_received.count, 0);
  EXPECT_EQ(LogCount("Starting enhanced freeform capture mode."), finished);
}

TEST_F(FreeformOverlay, OtherKeysAStrayButtonUpAndASecondStartWhileOpenAreIgnored) {
  Start();
  const HWND first = Overlay();
  SendMessageW(first, WM_KEYDOWN, VK_RETURN, 0);
  SendMessageW(first, WM_KEYDOWN, VK_SPACE, 0);
  SendMessageW(first, WM_LBUTTONUP, 0, MAKELPARAM(400, 400));
  EXPECT_TRUE(FreeformCaptureActive());
  EXPECT_EQ(LogCount("Freeform capture complete."), 0u);
  StartFreeformCapture(GetModuleHandleW(nullptr), Deliver);
  EXPECT_EQ(Overlay(), first);
  EXPECT_EQ(OverlayCount(), 1);
  EXPECT_EQ(LogCount("Starting enhanced freeform capture mode."), 1u);
  SendMessageW(first, WM_KEYDOWN, VK_ESCAPE, 0);
  EXPECT_FALSE(FreeformCaptureActive());
  Start();  // and once closed it starts again
  EXPECT_EQ(LogCount("Starting enhanced freeform capture mode."), 2u);
}

TEST_F(FreeformOverlay, CoversTheVirtualScreenWithAVisibleLoupeThatLetsInputThrough) {
  Start();
  RECT overlay{};
  GetWindowRect(Overlay(), &overlay);
  const int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
  const int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
  EXPECT_EQ(Box(overlay), (std::array<LONG, 4>{left, top, left + GetSystemMetrics(SM_CXVIRTUALSCREEN),
                                                top + GetSystemMetrics(SM_CYVIRTUALSCREEN)}));

  SendMessageW(Overlay(), WM_MOUSEMOVE, 0, MAKELPARAM(300, 200));
  HWND loupe = FindWindowW(L"MagnifierLoupeClass", nullptr);
  ASSERT_NE(loupe, nullptr);
  EXPECT_EQ(GetWindow(loupe, GW_OWNER), Overlay());
  EXPECT_TRUE(IsWindowVisible(loupe));
  RECT at{};
  GetWindowRect(loupe, &at);
  EXPECT_EQ(Box(at), (std::array<LONG, 4>{left + 320, top + 220, left + 440, top + 340}));
  BYTE alpha = 0;
  DWORD flags = 0;
  ASSERT_TRUE(GetLayeredWindowAttributes(loupe, nullptr, &alpha, &flags));
  EXPECT_EQ(alpha, 255);
  EXPECT_NE(flags & LWA_ALPHA, 0u);
  EXPECT_NE(GetWindowLongW(loupe, GWL_EXSTYLE) & WS_EX_TRANSPARENT, 0);

  SendMessageW(Overlay(), WM_KEYDOWN, VK_ESCAPE, 0);
  EXPECT_FALSE(IsWindow(loupe)) << "the loupe goes with the overlay";
}

}  // namespace
}  // namespace vistrel
