// The countdown window as the user sees it: real screenshots of the primary screen while a
// countdown runs on its own thread, its window's styles and place, and the waiting protocol.
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/countdown.h"
#include "core/handles.h"

namespace vistrel {
namespace {

constexpr int kSize = kCountdownWindowSize;
constexpr ULONGLONG kHangLimitMs = 15000;

// Screen pixels are 0x00RRGGBB.
std::uint32_t Red(std::uint32_t p) { return (p >> 16) & 0xFF; }
std::uint32_t Green(std::uint32_t p) { return (p >> 8) & 0xFF; }
std::uint32_t Blue(std::uint32_t p) { return p & 0xFF; }
bool IsBright(std::uint32_t p) { return Red(p) > 150 && Green(p) > 150 && Blue(p) > 150; }
bool IsDark(std::uint32_t p) { return Red(p) < 30 && Green(p) < 30 && Blue(p) < 30; }

RECT CountdownArea() {
  const int x = (GetSystemMetrics(SM_CXSCREEN) - kSize) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - kSize) / 2;
  return {x, y, x + kSize, y + kSize};
}

class SelectedObject {
 public:
  SelectedObject(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
  SelectedObject(const SelectedObject&) = delete;
  SelectedObject& operator=(const SelectedObject&) = delete;
  ~SelectedObject() { SelectObject(dc_, previous_); }

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

// A DIB section of the countdown's size and its bits.
struct Surface {
  UniqueBitmap bitmap;
  std::uint32_t* bits = nullptr;
};

Surface MakeSurface(HDC dc) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = kSize;
  info.bmiHeader.biHeight = -kSize;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  Surface surface;
  surface.bitmap.reset(CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  surface.bits = static_cast<std::uint32_t*>(bits);
  return surface;
}

// The screen under `area`, row by row, layered windows included (CAPTUREBLT).
std::vector<std::uint32_t> GrabScreen(const RECT& area) {
  ScreenDC screen;
  UniqueMemoryDC memory(CreateCompatibleDC(screen.get()));
  Surface surface = MakeSurface(screen.get());
  if (!memory || !surface.bitmap) return {};
  {
    SelectedObject selected(memory.get(), surface.bitmap.get());
    BitBlt(memory.get(), 0, 0, kSize, kSize, screen.get(), area.left, area.top, SRCCOPY | CAPTUREBLT);
  }
  GdiFlush();
  std::vector<std::uint32_t> pixels(surface.bits, surface.bits + kSize * kSize);
  for (auto& p : pixels) p &= 0xFFFFFF;
  return pixels;
}

int CountDifferent(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b) {
  int different = 0;
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
    const auto d = [](std::uint32_t x, std::uint32_t y) { return x > y ? x - y : y - x; };
    if (d(Red(a[i]), Red(b[i])) > 24 || d(Green(a[i]), Green(b[i])) > 24 ||
        d(Blue(a[i]), Blue(b[i])) > 24) {
      ++different;
    }
  }
  return different;
}

int CountOf(const std::vector<std::uint32_t>& pixels, bool (*test)(std::uint32_t)) {
  int n = 0;
  for (auto p : pixels) n += test(p) ? 1 : 0;
  return n;
}

// The centre of the bright pixels' bounding box, relative to the grabbed area.
POINT BrightCentre(const std::vector<std::uint32_t>& pixels) {
  int left = kSize, top = kSize, right = -1, bottom = -1;
  for (int y = 0; y < kSize; ++y) {
    for (int x = 0; x < kSize; ++x) {
      if (!IsBright(pixels[y * kSize + x])) continue;
      left = std::min(left, x);
      right = std::max(right, x);
      top = std::min(top, y);
      bottom = std::max(bottom, y);
    }
  }
  return {(left + right) / 2, (top + bottom) / 2};
}

// How a digit in bold 128-pixel Arial, centred in the countdown's square, covers it.
std::vector<bool> DigitMask(int digit) {
  ScreenDC screen;
  Surface surface = MakeSurface(screen.get());
  std::vector<bool> mask(kSize * kSize);
  if (!surface.bitmap) return mask;
  {
    Gdiplus::Bitmap canvas(kSize, kSize, kSize * 4, PixelFormat32bppPARGB,
                           reinterpret_cast<BYTE*>(surface.bits));
    Gdiplus::Graphics graphics(&canvas);
    graphics.SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAlias);
    graphics.Clear(Gdiplus::Color(255, 0, 0, 0));
    Gdiplus::FontFamily family(L"Arial");
    Gdiplus::Font font(&family, 128.0f, Gdiplus::FontStyleBold, Gdiplus::UnitPixel);
    Gdiplus::StringFormat format;
    format.SetAlignment(Gdiplus::StringAlignmentCenter);
    format.SetLineAlignment(Gdiplus::StringAlignmentCenter);
    Gdiplus::SolidBrush white(Gdiplus::Color(255, 255, 255, 255));
    const std::wstring text = std::to_wstring(digit);
    graphics.DrawString(text.c_str(), -1, &font, Gdiplus::RectF(0, 0, kSize, kSize), &format, &white);
    graphics.Flush(Gdiplus::FlushIntentionSync);
  }
  for (size_t i = 0; i < mask.size(); ++i) mask[i] = Red(surface.bits[i]) > 170;
  return mask;
}

double Overlap(const std::vector<bool>& a, const std::vector<bool>& b) {
  int both = 0, either = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    both += a[i] && b[i];
    either += a[i] || b[i];
  }
  return either ? static_cast<double>(both) / either : 0.0;
}

// The digit 0-9 whose shape best matches the bright pixels, and how well (intersection over union).
std::pair<int, double> ReadDigit(const std::vector<std::uint32_t>& pixels) {
  std::vector<bool> seen(pixels.size());
  for (size_t i = 0; i < pixels.size(); ++i) seen[i] = IsBright(pixels[i]);
  std::pair<int, double> best{-1, 0.0};
  for (int digit = 0; digit <= 9; ++digit) {
    const double overlap = Overlap(seen, DigitMask(digit));
    if (overlap > best.second) best = {digit, overlap};
  }
  return best;
}

void PumpPending() {
  MSG msg{};
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

// Pumps this thread's messages until `condition` holds, for at most kHangLimitMs; its last value.
template <typename Condition>
bool PumpUntil(Condition condition) {
  const ULONGLONG deadline = GetTickCount64() + kHangLimitMs;
  while (!condition() && GetTickCount64() < deadline) {
    PumpPending();
    Sleep(10);
  }
  return condition();
}

int CountdownWindowCount() {
  int n = 0;
  for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, kCountdownWindowClass, nullptr)) != nullptr;) ++n;
  return n;
}

// RunCountdown on a thread of its own, as a recorder's start thread runs it.
class CountdownThread {
 public:
  explicit CountdownThread(int seconds)
      : thread_([this, seconds] {
          threadId_ = GetCurrentThreadId();
          result_ = RunCountdown(GetModuleHandleW(nullptr), seconds);
          MSG msg{};
          leftoverQuit_ = PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != 0;
          done_ = true;
        }) {}
  CountdownThread(const CountdownThread&) = delete;
  CountdownThread& operator=(const CountdownThread&) = delete;
  ~CountdownThread() {
    if (!done_ && threadId_) PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
    thread_.join();
  }

  bool done() const { return done_; }
  DWORD threadId() const { return threadId_; }
  CountdownResult result() const { return result_; }
  bool leftoverQuit() const { return leftoverQuit_; }

  // Waits for the thread's countdown to end, pumping this thread; false when it hangs.
  bool WaitDone() {
    return PumpUntil([this] { return done_.load(); });
  }

 private:
  std::atomic<DWORD> threadId_{0};
  std::atomic<bool> done_{false};
  CountdownResult result_ = CountdownResult::kNotShown;
  bool leftoverQuit_ = false;
  std::thread thread_;
};

// Waits for a countdown window to appear, pumping this thread.
HWND WaitForCountdownWindow() {
  PumpUntil([] { return CountdownWindow() != nullptr; });
  return CountdownWindow();
}

class CountdownWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Gdiplus::GdiplusStartupInput input;
    ASSERT_EQ(Gdiplus::GdiplusStartup(&gdiplusToken_, &input, nullptr), Gdiplus::Ok);
    ASSERT_FALSE(IsCountdownRunning());
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW wc{};
    if (!GetClassInfoW(instance, kBackdropClass, &wc)) {
      wc.lpfnWndProc = DefWindowProcW;
      wc.hInstance = instance;
      wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(DKGRAY_BRUSH));
      wc.lpszClassName = kBackdropClass;
      ASSERT_NE(RegisterClassW(&wc), 0);
    }
    // A plain window under the countdown: a known picture behind it, and the window a click
    // at the centre must reach.
    RECT area = CountdownArea();
    InflateRect(&area, 100, 100);
    backdrop_.reset(CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kBackdropClass, L"Backdrop",
                                    WS_POPUP, area.left, area.top, area.right - area.left,
                                    area.bottom - area.top, nullptr, nullptr, instance, nullptr));
    ASSERT_TRUE(backdrop_);
    ShowWindow(backdrop_.get(), SW_SHOWNOACTIVATE);
    UpdateWindow(backdrop_.get());
    // Shown once the countdown's area is one plain colour.
    PumpUntil([] {
      const std::vector<std::uint32_t> pixels = GrabScreen(CountdownArea());
      return !pixels.empty() &&
             std::all_of(pixels.begin(), pixels.end(), [&](std::uint32_t p) { return p == pixels[0]; });
    });
  }

  void TearDown() override {
    backdrop_.reset();
    if (gdiplusToken_) Gdiplus::GdiplusShutdown(gdiplusToken_);
  }

  static constexpr wchar_t kBackdropClass[] = L"VistrelCountdownTestBackdrop";
  ULONG_PTR gdiplusToken_ = 0;
  UniqueWindow backdrop_;
};

TEST(CountdownBeep, PitchRisesThroughThreeTwoOne) {
  EXPECT_EQ(CountdownBeepHz(4), 0u);
  EXPECT_EQ(CountdownBeepHz(3), 440u);
  EXPECT_EQ(CountdownBeepHz(2), 660u);
  EXPECT_EQ(CountdownBeepHz(1), 880u);
  EXPECT_EQ(CountdownBeepHz(0), 0u);
  EXPECT_EQ(CountdownBeepHz(-1), 0u);
}

TEST_F(CountdownWindowTest, ShowsThreeTwoOneCentredClickThroughAndCloses) {
  const RECT area = CountdownArea();
  const POINT centre{(area.left + area.right) / 2, (area.top + area.bottom) / 2};
  ASSERT_EQ(WindowFromPoint(centre), backdrop_.get())
      << "another window covers the screen centre: is something else using this display?";
  const std::vector<std::uint32_t> before = GrabScreen(area);
  ASSERT_EQ(before.size(), static_cast<size_t>(kSize * kSize));
  ASSERT_EQ(CountOf(before, IsBright), 0) << "the backdrop should be plain grey";

  CountdownThread countdown(3);
  HWND window = WaitForCountdownWindow();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(GetWindowThreadProcessId(window, nullptr), countdown.threadId());

  // Each number is grabbed half a second after it first appears, and the grab counts only when
  // the number was the same before and after it.
  std::map<int, ULONGLONG> firstSeen;
  std::map<int, std::vector<std::uint32_t>> grabs;
  std::vector<int> unstable;
  bool checkedWindow = false;
  const ULONGLONG deadline = GetTickCount64() + kHangLimitMs;
  while (!countdown.done() && GetTickCount64() < deadline) {
    PumpPending();
    const int count = CountdownRemaining();
    const ULONGLONG now = GetTickCount64();
    if (count > 0 && !firstSeen.count(count)) firstSeen[count] = now;
    if (count > 0 && !grabs.count(count) && now - firstSeen[count] >= 500) {
      grabs[count] = GrabScreen(area);
      if (CountdownRemaining() != count) unstable.push_back(count);
    }
    if (count == 3 && !checkedWindow && CountdownWindow()) {
      checkedWindow = true;
      HWND shown = CountdownWindow();
      EXPECT_EQ(shown, window);
      wchar_t text[64] = {};
      GetClassNameW(shown, text, 64);
      EXPECT_STREQ(text, kCountdownWindowClass);
      GetWindowTextW(shown, text, 64);
      EXPECT_STREQ(text, kCountdownWindowTitle);
      const LONG_PTR required = WS_EX_LAYERED | WS_EX_TRANSPARENT | WS_EX_TOPMOST;
      EXPECT_EQ(GetWindowLongPtrW(shown, GWL_EXSTYLE) & required, required);
      EXPECT_EQ(GetWindowLongPtrW(shown, GWL_STYLE) & (WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_BORDER | WS_THICKFRAME),
                WS_POPUP | WS_VISIBLE) << "a visible popup without a frame";
      RECT rect{};
      GetWindowRect(shown, &rect);
      EXPECT_TRUE(EqualRect(&rect, &area)) << rect.left << "," << rect.top << " " << rect.right << "," << rect.bottom;
      EXPECT_EQ(WindowFromPoint(centre), backdrop_.get()) << "a click at the centre must pass through";
      EXPECT_NE(GetForegroundWindow(), shown) << "the countdown must not take the focus";
    }
    Sleep(10);
  }
  ASSERT_TRUE(countdown.WaitDone()) << "the countdown did not end";
  EXPECT_EQ(countdown.result(), CountdownResult::kFinished);
  EXPECT_FALSE(countdown.leftoverQuit()) << "the window's WM_QUIT must be consumed by the wait";
  EXPECT_TRUE(checkedWindow);
  EXPECT_TRUE(unstable.empty()) << "the machine was too slow to grab a number while it was shown";

  // The count went through 4 (blank), 3, 2, 1 and nothing else.
  std::vector<int> seen;
  for (auto it = firstSeen.rbegin(); it != firstSeen.rend(); ++it) seen.push_back(it->first);
  EXPECT_EQ(seen, (std::vector<int>{4, 3, 2, 1}));
  ASSERT_TRUE(grabs.count(4) && grabs.count(3) && grabs.count(2) && grabs.count(1));

  EXPECT_LT(CountDifferent(grabs[4], before), kSize * kSize / 100) << "the first second must show nothing";
  for (int number : {3, 2, 1}) {
    const auto& pixels = grabs[number];
    SCOPED_TRACE("number " + std::to_string(number));
    EXPECT_GT(CountDifferent(pixels, before), 1000) << "nothing drawn over the screen";
    EXPECT_GT(CountOf(pixels, IsBright), 1000) << "no white face";
    EXPECT_GT(CountOf(pixels, IsDark), 100) << "no black shadow";
    const auto [digit, overlap] = ReadDigit(pixels);
    EXPECT_EQ(digit, number) << "best match overlap " << overlap;
    EXPECT_GT(overlap, 0.6);
    // Centred on the primary screen: the figure's middle is within a few pixels of the
    // screen's middle (the line box puts a digit's ink slightly above the centre).
    const POINT middle = BrightCentre(pixels);
    EXPECT_NEAR(area.left + middle.x, GetSystemMetrics(SM_CXSCREEN) / 2, 12);
    EXPECT_NEAR(area.top + middle.y, GetSystemMetrics(SM_CYSCREEN) / 2, 20);
  }
  EXPECT_GT(CountDifferent(grabs[3], grabs[2]), 1000) << "3 and 2 look alike";

  // Gone afterwards, and the backdrop repaints what the countdown covered.
  EXPECT_FALSE(IsWindow(window));
  EXPECT_FALSE(IsCountdownRunning());
  EXPECT_EQ(CountdownWindowCount(), 0);
  EXPECT_TRUE(PumpUntil([&] { return CountDifferent(GrabScreen(area), before) < kSize * kSize / 100; }));
}

TEST_F(CountdownWindowTest, ASecondRequestIsRefusedAtOnceAndAQuitRequestClosesALaterCountdown) {
  CountdownThread first(1);
  HWND window = WaitForCountdownWindow();
  ASSERT_NE(window, nullptr);
  const int countBefore = CountdownRemaining();

  // From another thread: refused without waiting, nothing new on screen, the count kept.
  EXPECT_EQ(RunCountdown(GetModuleHandleW(nullptr), 3), CountdownResult::kBusy);
  EXPECT_EQ(ShowCountdownWindow(GetModuleHandleW(nullptr), 3), CountdownShow::kAlreadyShown);
  EXPECT_EQ(CountdownWindow(), window);
  EXPECT_TRUE(IsWindow(window)) << "the refusal waited for the first countdown";
  EXPECT_EQ(CountdownWindowCount(), 1);
  EXPECT_LE(CountdownRemaining(), countBefore);
  EXPECT_LE(CountdownRemaining(), 2) << "the count was restarted";
  EXPECT_NE(GetForegroundWindow(), window) << "the countdown must not take the focus";
  MSG msg{};
  EXPECT_FALSE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  ASSERT_TRUE(first.WaitDone());
  EXPECT_EQ(first.result(), CountdownResult::kFinished);
  EXPECT_FALSE(IsCountdownRunning());

  // A later countdown gets a fresh window; a quit request for its thread closes it.
  CountdownThread second(3);
  HWND again = WaitForCountdownWindow();
  ASSERT_NE(again, nullptr);
  EXPECT_NE(again, window);
  ASSERT_TRUE(PostThreadMessageW(second.threadId(), WM_QUIT, 0, 0));
  ASSERT_TRUE(second.WaitDone());
  EXPECT_EQ(second.result(), CountdownResult::kInterrupted);
  EXPECT_FALSE(second.leftoverQuit());
  EXPECT_FALSE(IsWindow(again));
  EXPECT_EQ(CountdownWindow(), nullptr);
  EXPECT_FALSE(IsCountdownRunning());
  EXPECT_EQ(CountdownRemaining(), 0);
}

}  // namespace
}  // namespace vistrel
