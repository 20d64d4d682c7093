// Screenshots: PNG encoding, file writing and output paths; and the free-form selection, its
// geometry and the overlay driven through its own window messages.
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>
#include <wrl/client.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <tuple>
#include <utility>

#include <gtest/gtest.h>

#include "capture/capture_output.h"
#include "capture/freeform.h"
#include "capture/freeform_layout.h"
#include "config/app_config.h"
#include "core/handles.h"
#include "core/ui_task.h"
#include "core/unique_file.h"
#include "test_support.h"

using Microsoft::WRL::ComPtr;

namespace vistrel {
namespace {

using testing::TempFolder;

// A 4 x 3 bitmap of the screen's format. (That a capture's PNG file holds its pixels is checked
// end to end, against the display.)
UniqueBitmap TestBitmap() {
  ScreenDC screen;
  return UniqueBitmap(CreateCompatibleBitmap(screen.get(), 4, 3));
}

TEST(PngEncoding, ArgumentsAreCheckedAndABitmapBecomesAPngFile) {
  EXPECT_EQ(EncodeBitmapToPngStream(nullptr, nullptr), E_POINTER);
  IStream* unset = reinterpret_cast<IStream*>(1);
  EXPECT_EQ(EncodeBitmapToPngStream(nullptr, &unset), E_INVALIDARG);
  EXPECT_EQ(unset, nullptr);

  TempFolder folder;
  UniqueBitmap bitmap = TestBitmap();
  ComPtr<IStream> stream;
  ASSERT_EQ(EncodeBitmapToPngStream(static_cast<HBITMAP>(bitmap.get()), stream.GetAddressOf()), S_OK);
  const std::wstring path = folder / L"out.png";
  ASSERT_TRUE(SaveStreamToFile(path, stream.Get()));
  EXPECT_FALSE(SaveStreamToFile(folder / L"no\\such\\folder.png", stream.Get()));
  EXPECT_FALSE(SaveStreamToFile(folder / L"x.png", nullptr));
  EXPECT_EQ(testing::ReadBytes(path).substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
}

TEST(ClaimNewFile, NeverReturnsAnExistingFile) {
  TempFolder folder;
  const std::wstring wanted = folder / L"FullScreen_2026-01-01_00-00-00.png";
  EXPECT_EQ(ClaimNewFile(wanted), wanted);
  EXPECT_EQ(ClaimNewFile(wanted), folder / L"FullScreen_2026-01-01_00-00-00_2.png");
  EXPECT_EQ(ClaimNewFile(wanted), folder / L"FullScreen_2026-01-01_00-00-00_3.png");
  EXPECT_EQ(ClaimNewFile(folder / L"missing\\x.png"), L"");
}

class SavePath : public testing::LoggedTest {
 protected:
  void SetUp() override {
    LoggedTest::SetUp();
    saved_ = ConfigSnapshot();
  }
  void TearDown() override {
    ReplaceConfig(saved_);
    LoggedTest::TearDown();
  }
  void UseScreenshotFolder(const std::wstring& folder) {
    AppConfig config = saved_;
    config.ScreenshotPath = folder;
    ReplaceConfig(config);
  }

  AppConfig saved_;
};

TEST_F(SavePath, ConfiguredFolderIsCreatedAndNamesCountUp) {
  UseScreenshotFolder(folder_ / L"shots");
  const std::wstring first = BuildCaptureSavePath(kCaptureFullScreen);
  const std::wstring second = BuildCaptureSavePath(kCaptureFullScreen);
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(first.rfind(folder_ / L"shots\\FullScreen_", 0), 0u) << first.c_str();
  EXPECT_NE(first, second) << "a second capture in the same second keeps the first";
  EXPECT_NE(GetFileAttributesW(first.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_GE(LogCount("Capture: Using configured screenshot path: "), 1);
  EXPECT_GE(LogCount("Capture: Generated final save path: "), 1);
}

TEST_F(SavePath, EmptySettingUsesPicturesVistrel) {
  UseScreenshotFolder(L"");
  const std::wstring path = BuildCaptureSavePath(kCaptureMouseControl);
  ASSERT_FALSE(path.empty());
  EXPECT_NE(path.find(L"\\Pictures\\Vistrel\\Capture_"), std::wstring::npos) << path.c_str();
  DeleteFileW(path.c_str());
  EXPECT_GE(LogCount("Falling back to default Pictures folder."), 1);
}

TEST_F(SavePath, APictureThatCannotBeEncodedIsNeitherKeptNorCalledSaved) {
  AppConfig config = saved_;
  config.ScreenshotPath = folder_ / L"shots";
  config.OutputMode = 1;
  config.PlayCaptureSound = false;
  ReplaceConfig(config);
  ASSERT_TRUE(InitUiTasks());
  // A handle that no longer names a bitmap: GDI+ cannot read it.
  HBITMAP gone = static_cast<HBITMAP>(TestBitmap().release());
  DeleteObject(gone);
  ProcessCapture(UniqueBitmap(gone), kCaptureFullScreen);
  EXPECT_TRUE(WaitForScreenshotSaves(std::chrono::seconds(10))) << "encoded, and failed, on its worker";
  testing::PumpPending();  // the outcome is told on this thread
  ShutdownUiTasks();
  EXPECT_EQ(LogCount("Capture: Failed: The picture could not be converted to PNG, so it was not saved."), 1) << Log();
  EXPECT_TRUE(std::filesystem::is_empty(folder_ / L"shots")) << "the claimed file is removed";
}

// Free-form selection ---------------------------------------------------------------------------
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

// What the overlay delivered.
struct Received {
  int count = 0;
  int failures = 0;
  UniqueBitmap picture;
};
Received g_received;

class FreeformOverlay : public testing::LoggedTest {
 protected:
  void SetUp() override {
    LoggedTest::SetUp();
    g_received = {};
  }

  void TearDown() override {
    if (HWND overlay = Overlay()) DestroyWindow(overlay);
    testing::PumpPending();
    g_received = {};
    LoggedTest::TearDown();
  }

  static void Deliver(UniqueBitmap picture) {
    ++g_received.count;
    g_received.picture = std::move(picture);
  }
  static void Failed() { ++g_received.failures; }

  void Start() {
    StartFreeformCapture(GetModuleHandleW(nullptr), Deliver, Failed);
    ASSERT_TRUE(FreeformCaptureActive());
    ASSERT_NE(Overlay(), nullptr);
    testing::PumpPending();
  }

  static HWND Overlay() { return FindWindowW(L"FreeFormSelectWindowClass", nullptr); }

  static void Drag(HWND overlay, POINT from, POINT to) {
    SendMessageW(overlay, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(from.x, from.y));
    SendMessageW(overlay, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(to.x, to.y));
    SendMessageW(overlay, WM_LBUTTONUP, 0, MAKELPARAM(to.x, to.y));
  }
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
  EXPECT_EQ(LogCount("Freeform capture complete."), 1);
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
  int finished = 0;
  for (const auto cancel : cancels) {
    Start();
    cancel(Overlay());
    EXPECT_FALSE(FreeformCaptureActive()) << finished;
    EXPECT_EQ(LogCount("Freeform capture complete."), ++finished);
  }
  EXPECT_EQ(std::pair(g_received.count, g_received.failures), std::pair(0, 0));  // a cancel is no failure
  EXPECT_EQ(LogCount("Starting enhanced freeform capture mode."), finished);
}

TEST_F(FreeformOverlay, OtherKeysAStrayButtonUpAndASecondStartWhileOpenAreIgnored) {
  Start();
  const HWND first = Overlay();
  SendMessageW(first, WM_KEYDOWN, VK_RETURN, 0);
  SendMessageW(first, WM_KEYDOWN, VK_SPACE, 0);
  SendMessageW(first, WM_LBUTTONUP, 0, MAKELPARAM(400, 400));
  EXPECT_TRUE(FreeformCaptureActive());
  EXPECT_EQ(LogCount("Freeform capture complete."), 0);
  StartFreeformCapture(GetModuleHandleW(nullptr), Deliver, Failed);
  EXPECT_EQ(Overlay(), first);
  EXPECT_EQ(testing::WindowCount(L"FreeFormSelectWindowClass"), 1);
  EXPECT_EQ(LogCount("Starting enhanced freeform capture mode."), 1);
  SendMessageW(first, WM_KEYDOWN, VK_ESCAPE, 0);
  EXPECT_FALSE(FreeformCaptureActive());
  Start();  // and once closed it starts again
  EXPECT_EQ(LogCount("Starting enhanced freeform capture mode."), 2);
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
