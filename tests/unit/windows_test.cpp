// The program's own windows: the tray menu as the program builds it, read back through the menu
// API; the compiled dialogs (settings and multi-track), as Vistrel.exe carries them, each created
// from the program's resources and walked control by control, in tab order, in English and in every
// shipped language; and the countdown window as the user sees it: real screenshots of the primary
// screen while a countdown runs on its own thread, its window's styles and place, and the waiting
// protocol.
#include <windows.h>
#include <commctrl.h>
#include <objidl.h>
#include <gdiplus.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cwctype>
#include <map>
#include <set>
#include <span>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "app/countdown.h"
#include "app/messages.h"
#include "app/tray.h"
#include "core/handles.h"
#include "core/sound.h"
#include "core/text.h"
#include "i18n/translator.h"
#include "resource.h"
#include "test_support.h"
#include "ui/settings_texts.h"
#include "ui/track_dialog_texts.h"

namespace vistrel {
namespace {

// One line an item: "id:label", "-" for a separator, "label>" for a sub-menu, whose items follow
// it with a leading '>'.
void ReadMenu(HMENU menu, std::vector<std::wstring>& lines, const std::wstring& indent = L"") {
  for (int i = 0; i < GetMenuItemCount(menu); ++i) {
    wchar_t text[256] = {};
    MENUITEMINFOW info{sizeof info};
    info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING | MIIM_SUBMENU;
    info.dwTypeData = text;
    info.cch = 255;
    EXPECT_TRUE(GetMenuItemInfoW(menu, i, TRUE, &info));
    if (info.fType & MFT_SEPARATOR) {
      lines.push_back(indent + L"-");
    } else if (info.hSubMenu) {
      lines.push_back(indent + text + L">");
      ReadMenu(info.hSubMenu, lines, indent + L">");
    } else {
      lines.push_back(indent + std::to_wstring(info.wID) + L":" + text);
    }
  }
}

std::vector<std::wstring> Menu(const TrayMenuState& state) {
  UniqueMenu menu = BuildTrayMenu(state);
  EXPECT_TRUE(menu);
  std::vector<std::wstring> lines;
  if (menu) ReadMenu(menu.get(), lines);
  return lines;
}

// The whole menu: the capture items, the recorders' items, then the rest.
std::vector<std::wstring> Expected(const std::vector<std::wstring>& recorders, bool hotkeysPaused = false) {
  std::vector<std::wstring> all = {L"40001:Capture Full Screen", L"40002:Capture Free Form",
                                   L"40003:Capture Active Window", L"-"};
  all.insert(all.end(), recorders.begin(), recorders.end());
  all.insert(all.end(), {L"-", L"40004:Configure...", L"40026:Manage multy tracks...",
                         hotkeysPaused ? L"40005:Resume Hotkeys" : L"40005:Pause Hotkeys", L"-",
                         L"Connect with us>", L">40020:Telegram Channel", L">40021:Facebook", L">40022:X (Twitter)",
                         L">40023:YouTube", L">-", L">40024:GitHub", L">-", L">40025:Contact us",
                         L"40013:Help file...", L"40014:Check for Update...", L"40006:Orvanta Website",
                         L"40012:About Vistrel...", L"40007:Exit"});
  return all;
}

TEST(TrayMenu, EachRecorderStateShowsItsOwnItemsVideoBeforeAudioBeforeGif) {
  const std::vector<std::wstring> video = {L"Video Recording>", L">40010:Pause Video",
                                           L">40011:Stop Video Recording"};
  const std::vector<std::wstring> audio = {L"Audio Recording>", L">40010:Pause Audio",
                                           L">40011:Stop Audio Recording"};
  const std::pair<TrayMenuState, std::vector<std::wstring>> rows[] = {
      {{}, {L"40008:Start Video Recording", L"40009:Start Audio Recording", L"40015:Record Animated GIF"}},
      {{1, 0, false, false}, video}, {{2, 0, false, false}, video}, {{4, 0, false, false}, video},
      {{5, 0, false, false}, video}, {{1, 1, true, false}, video},
      {{3, 0, false, false}, {L"Video Recording>", L">40010:Resume Video", L">40011:Stop Video Recording"}},
      {{0, 1, false, false}, audio},
      {{0, 3, true, false}, {L"Audio Recording>", L">40010:Resume Audio", L">40011:Stop Audio Recording"}},
      {{0, 0, true, false}, {L"40015:Stop Recording GIF"}},
  };
  for (const auto& [state, recorders] : rows) {
    EXPECT_EQ(Menu(state), Expected(recorders))
        << "video " << state.videoState << " audio " << state.audioState << " gif " << state.gifActive;
  }
  EXPECT_EQ(Menu({0, 0, false, true}), Expected(rows[0].second, true));
}

TEST(TrayMenu, EveryShippedLanguageTranslatesTheLabelsWithoutARestart) {
  Translator::init(WideToUtf8(ProgramFolder() + L"\\languages"), "LC_MESSAGES", "messages");
  const auto english = Menu({1, 0, false, false});
  // {language, one of its labels, which only its own catalogue gives}
  const std::pair<const wchar_t*, const wchar_t*> languages[] = {
      {L"de", L"40007:Beenden"}, {L"pt-BR", L">40011:Parar grava\u00e7\u00e3o de v\u00eddeo"}, {L"ar", nullptr}};
  for (const auto& [code, label] : languages) {
    Translator::instance().setLanguage(code);
    ASSERT_EQ(Translator::instance().getLanguageCode(), code);
    const auto translated = Menu({1, 0, false, false});
    ASSERT_EQ(translated.size(), english.size());
    int differing = 0;
    for (size_t i = 0; i < english.size(); ++i) {
      EXPECT_NE(translated[i].back(), L':') << WideToUtf8(code) << ": no label for " << WideToUtf8(english[i]);
      differing += translated[i] != english[i];
    }
    EXPECT_GE(differing, 17) << WideToUtf8(code) << ": only the four brand names may stay as they are";
    EXPECT_TRUE(!label || std::count(translated.begin(), translated.end(), label) == 1) << WideToUtf8(code);
  }
  Translator::instance().setLanguage(L"en");
  EXPECT_EQ(Menu({1, 0, false, false}), english);
}

// The countdown ---------------------------------------------------------------------------------

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

// A DIB section of the countdown's size and its bits.
struct Surface {
  UniqueBitmap bitmap;
  std::uint32_t* bits = nullptr;
};

Surface MakeSurface(HDC dc) {
  BITMAPINFO info{{sizeof(BITMAPINFOHEADER), kSize, -kSize, 1, 32, BI_RGB}};  // top-down rows
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
  const HGDIOBJ previous = SelectObject(memory.get(), surface.bitmap.get());
  BitBlt(memory.get(), 0, 0, kSize, kSize, screen.get(), area.left, area.top, SRCCOPY | CAPTUREBLT);
  SelectObject(memory.get(), previous);
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

// RunCountdown on a thread of its own, as a recorder's start thread runs it: its thread, its result,
// and whether a WM_QUIT was left in its queue afterwards.
struct CountdownThread {
  explicit CountdownThread(int seconds)
      : thread_([this, seconds] {
          threadId = GetCurrentThreadId();
          result = RunCountdown(GetModuleHandleW(nullptr), seconds);
          MSG msg{};
          leftoverQuit = PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != 0;
          done = true;
        }) {}
  ~CountdownThread() {
    if (!done && threadId) PostThreadMessageW(threadId, WM_QUIT, 0, 0);
    thread_.join();
  }
  // Waits for the thread's countdown to end, pumping this thread; false when it hangs.
  bool WaitDone() { return testing::PumpUntil([this] { return done.load(); }); }

  std::atomic<DWORD> threadId{0};
  std::atomic<bool> done{false};
  CountdownResult result = CountdownResult::kNotShown;
  bool leftoverQuit = false;
  std::thread thread_;
};

class CountdownWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(IsCountdownRunning());
    // A plain dark grey window under the countdown: a known picture behind it, and the window a
    // click at the centre must reach. (Registering its class again fails harmlessly.)
    const WNDCLASSW backdrop{0, DefWindowProcW, 0, 0, GetModuleHandleW(nullptr), nullptr, nullptr,
                             static_cast<HBRUSH>(GetStockObject(DKGRAY_BRUSH)), nullptr, L"VistrelTestBackdrop"};
    RegisterClassW(&backdrop);
    RECT area = CountdownArea();
    InflateRect(&area, 100, 100);
    backdrop_.reset(CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, backdrop.lpszClassName, L"Backdrop", WS_POPUP,
                                    area.left, area.top, area.right - area.left, area.bottom - area.top, nullptr,
                                    nullptr, backdrop.hInstance, nullptr));
    ASSERT_TRUE(backdrop_);
    ShowWindow(backdrop_.get(), SW_SHOWNOACTIVATE);
    UpdateWindow(backdrop_.get());
    // Shown once the countdown's area is one plain colour.
    ASSERT_TRUE(testing::PumpUntil([] {
      const std::vector<std::uint32_t> pixels = GrabScreen(CountdownArea());
      return !pixels.empty() &&
             std::all_of(pixels.begin(), pixels.end(), [&](std::uint32_t p) { return p == pixels[0]; });
    })) << "the backdrop was never shown";
  }

  UniqueWindow backdrop_;
};

TEST_F(CountdownWindowTest, ShowsThreeTwoOneCentredClickThroughAndCloses) {
  const RECT area = CountdownArea();
  const POINT centre{(area.left + area.right) / 2, (area.top + area.bottom) / 2};
  ASSERT_EQ(WindowFromPoint(centre), backdrop_.get())
      << "another window covers the screen centre: is something else using this display?";
  const std::vector<std::uint32_t> before = GrabScreen(area);
  ASSERT_EQ(before.size(), static_cast<size_t>(kSize * kSize));
  ASSERT_EQ(CountOf(before, IsBright), 0) << "the backdrop should be plain grey";

  CountdownThread countdown(3);
  ASSERT_TRUE(testing::PumpUntil([] { return CountdownWindow() != nullptr; }));
  HWND window = CountdownWindow();
  EXPECT_EQ(GetWindowThreadProcessId(window, nullptr), countdown.threadId);

  // Each number is grabbed half a second after it first appears, and the grab counts only when
  // the number was the same before and after it.
  std::map<int, ULONGLONG> firstSeen;
  std::map<int, std::vector<std::uint32_t>> grabs;
  std::vector<int> unstable;
  bool checkedWindow = false;
  const ULONGLONG deadline = GetTickCount64() + kHangLimitMs;
  while (!countdown.done && GetTickCount64() < deadline) {
    testing::PumpPending();
    const int count = CountdownRemaining();
    const ULONGLONG now = GetTickCount64();
    if (count > 0 && !firstSeen.count(count)) firstSeen[count] = now;
    if (count > 0 && !grabs.count(count) && now - firstSeen[count] >= 500) {
      grabs[count] = GrabScreen(area);
      if (CountdownRemaining() != count) unstable.push_back(count);
    }
    // The same window all along, as it shows the 3.
    if (count == 3 && !checkedWindow && CountdownWindow() == window) {
      checkedWindow = true;
      wchar_t text[64] = {};
      GetClassNameW(window, text, 64);
      EXPECT_STREQ(text, kCountdownWindowClass);
      GetWindowTextW(window, text, 64);
      EXPECT_STREQ(text, kCountdownWindowTitle);
      const LONG_PTR required = WS_EX_LAYERED | WS_EX_TRANSPARENT | WS_EX_TOPMOST;
      EXPECT_EQ(GetWindowLongPtrW(window, GWL_EXSTYLE) & required, required);
      EXPECT_EQ(GetWindowLongPtrW(window, GWL_STYLE) & (WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_BORDER | WS_THICKFRAME),
                WS_POPUP | WS_VISIBLE) << "a visible popup without a frame";
      RECT rect{};
      GetWindowRect(window, &rect);
      EXPECT_TRUE(EqualRect(&rect, &area)) << rect.left << "," << rect.top << " " << rect.right << "," << rect.bottom;
      EXPECT_EQ(WindowFromPoint(centre), backdrop_.get()) << "a click at the centre must pass through";
      EXPECT_NE(GetForegroundWindow(), window) << "the countdown must not take the focus";
    }
    Sleep(10);
  }
  ASSERT_TRUE(countdown.WaitDone()) << "the countdown did not end";
  EXPECT_EQ(countdown.result, CountdownResult::kFinished);
  EXPECT_FALSE(countdown.leftoverQuit) << "the window's WM_QUIT must be consumed by the wait";
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
  EXPECT_EQ(testing::WindowCount(kCountdownWindowClass), 0);
  EXPECT_TRUE(testing::PumpUntil([&] { return CountDifferent(GrabScreen(area), before) < kSize * kSize / 100; }));
}

TEST_F(CountdownWindowTest, ASecondRequestIsRefusedAtOnceAndAQuitRequestClosesALaterCountdown) {
  CountdownThread first(1);
  ASSERT_TRUE(testing::PumpUntil([] { return CountdownWindow() != nullptr; }));
  HWND window = CountdownWindow();

  // From another thread: refused without waiting, nothing new on screen, the count kept.
  EXPECT_EQ(RunCountdown(GetModuleHandleW(nullptr), 3), CountdownResult::kBusy);
  EXPECT_EQ(ShowCountdownWindow(GetModuleHandleW(nullptr), 3), CountdownShow::kAlreadyShown);
  EXPECT_EQ(CountdownWindow(), window);
  EXPECT_TRUE(IsWindow(window)) << "the refusal waited for the first countdown";
  EXPECT_EQ(testing::WindowCount(kCountdownWindowClass), 1);
  EXPECT_LE(CountdownRemaining(), 2) << "the count was restarted";
  MSG msg{};
  EXPECT_FALSE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  ASSERT_TRUE(first.WaitDone());
  EXPECT_EQ(first.result, CountdownResult::kFinished);
  EXPECT_FALSE(IsCountdownRunning());

  // A later countdown gets a fresh window; a quit request for its thread closes it.
  CountdownThread second(3);
  ASSERT_TRUE(testing::PumpUntil([] { return CountdownWindow() != nullptr; }));
  HWND again = CountdownWindow();
  EXPECT_NE(again, window);
  ASSERT_TRUE(PostThreadMessageW(second.threadId, WM_QUIT, 0, 0));
  ASSERT_TRUE(second.WaitDone());
  EXPECT_EQ(second.result, CountdownResult::kInterrupted);
  EXPECT_FALSE(second.leftoverQuit);
  EXPECT_FALSE(IsWindow(again));
  EXPECT_EQ(CountdownWindow(), nullptr);
  EXPECT_FALSE(IsCountdownRunning());
  EXPECT_EQ(CountdownRemaining(), 0);
}

// Dialog templates ---------------------------------------------------------------------------------

constexpr int kTemplates[] = {IDD_SETTINGS,     IDD_PAGE_VIDEO, IDD_PAGE_SCREEN, IDD_PAGE_AUDIO,
                              IDD_PAGE_HOTKEYS, IDD_CHANGE_HOTKEY, IDD_PAGE_GENERAL, IDD_PAGE_GIF,
                              IDD_PAGE_SOUNDS,  IDD_PAGE_DEVICES, IDD_TRACKS,    IDD_TRACK_EDITOR};
// Dialogs of their own; every other template is a page of the settings frame.
const std::set<int> kTopLevel = {IDD_SETTINGS, IDD_CHANGE_HOTKEY, IDD_TRACKS, IDD_TRACK_EDITOR};
// Controls whose text the program writes itself.
const std::set<int> kFilledInTexts = {IDC_VIDEO_VOLUME_VALUE, IDC_AUDIO_VOLUME_VALUE, IDC_HOTKEY_FEATURE};
const wchar_t* const kLanguages[] = {L"en", L"de", L"pt-BR", L"ar"};

std::span<const ControlText> TextsOf(int templateId) {
  const auto tracks = TrackDialogTexts(templateId);
  return tracks.empty() ? TemplateTexts(templateId) : tracks;
}

// Width and height in dialog units.
std::pair<int, int> LayoutSize(int id) {
  static const std::map<int, std::pair<int, int>> dialogs = {
      {IDD_SETTINGS, {550, 350}}, {IDD_CHANGE_HOTKEY, {250, 100}}, {IDD_TRACKS, {450, 270}},
      {IDD_TRACK_EDITOR, {350, 280}}};
  return dialogs.count(id) ? dialogs.at(id) : std::pair(400, 310);  // a page
}

HMODULE ProgramResources() {
  static HMODULE module = LoadLibraryExW((ProgramFolder() + L"\\Vistrel.exe").c_str(), nullptr,
                                         LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  return module;
}

const BYTE* TemplateBytes(int id) {
  HRSRC resource = FindResourceW(ProgramResources(), MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(5));  // RT_DIALOG
  if (!resource) return nullptr;
  return static_cast<const BYTE*>(LockResource(LoadResource(ProgramResources(), resource)));
}

INT_PTR CALLBACK InertProc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

struct Control {
  HWND window;
  int id;
  std::wstring cls;
  DWORD style;
  std::wstring text;
  RECT rect;  // in dialog client coordinates
};

// A button's kind (BS_...); none for other controls.
DWORD ButtonType(const Control& c) { return c.cls == L"button" ? c.style & BS_TYPEMASK : ~DWORD{0}; }
bool IsGroupBox(const Control& c) { return ButtonType(c) == BS_GROUPBOX; }
bool IsRadio(const Control& c) { return ButtonType(c) == BS_RADIOBUTTON || ButtonType(c) == BS_AUTORADIOBUTTON; }
bool IsCheckBox(const Control& c) { return ButtonType(c) == BS_CHECKBOX || ButtonType(c) == BS_AUTOCHECKBOX; }
bool IsLabel(const Control& c) { return c.cls == L"static"; }
bool IsUpDown(const Control& c) { return c.cls == L"msctls_updown32"; }
// Controls that show no text of their own, so a screen reader names them by the label before them.
bool NeedsLabel(const Control& c) {
  static const std::set<std::wstring> kinds = {L"edit", L"combobox", L"syslistview32", L"systreeview32",
                                               L"msctls_trackbar32", L"msctls_hotkey32"};
  return kinds.count(c.cls) != 0;
}
bool Interactive(const Control& c) { return !IsLabel(c) && !IsGroupBox(c) && !IsUpDown(c); }

// A dialog created from a template of the program, hidden, with its controls in tab order.
class TemplateDialog {
 public:
  explicit TemplateDialog(int id) {
    const BYTE* bytes = TemplateBytes(id);
    if (!bytes) return;
    // A page is a child window and needs a parent; the host stands in for the settings frame.
    host_ = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1200, 900, nullptr, nullptr,
                            GetModuleHandleW(nullptr), nullptr);
    window_ = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(bytes),
                                         host_, InertProc, 0);
    for (HWND child = GetWindow(window_, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
      wchar_t cls[64] = {};
      GetClassNameW(child, cls, 64);
      CharLowerW(cls);
      std::wstring text(static_cast<size_t>(GetWindowTextLengthW(child)) + 1, L'\0');
      text.resize(static_cast<size_t>(GetWindowTextW(child, text.data(), static_cast<int>(text.size()))));
      RECT rect{};
      GetWindowRect(child, &rect);
      MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&rect), 2);
      controls_.push_back({child, GetDlgCtrlID(child), cls,
                           static_cast<DWORD>(GetWindowLongPtrW(child, GWL_STYLE)), text, rect});
    }
  }
  TemplateDialog(const TemplateDialog&) = delete;
  TemplateDialog& operator=(const TemplateDialog&) = delete;
  ~TemplateDialog() {
    if (window_) DestroyWindow(window_);
    if (host_) DestroyWindow(host_);
  }

  HWND window() const { return window_; }
  const std::vector<Control>& controls() const { return controls_; }
  // Dialog units to pixels of this dialog.
  RECT Pixels(RECT units) const {
    MapDialogRect(window_, &units);
    return units;
  }

 private:
  HWND host_ = nullptr;
  HWND window_ = nullptr;
  std::vector<Control> controls_;
};

std::wstring Describe(int templateId, const Control& c) {
  return L"template " + std::to_wstring(templateId) + L", control " + std::to_wstring(c.id) + L" (" +
         c.cls + L" \"" + c.text + L"\")";
}

// The character after a single '&', lower-cased; 0 when the text has none.
wchar_t Mnemonic(const std::wstring& text) {
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != L'&') continue;
    if (text[i + 1] == L'&') {
      ++i;
      continue;
    }
    return static_cast<wchar_t>(std::towlower(text[i + 1]));
  }
  return 0;
}

std::wstring Shown(const std::wstring& text) {
  std::wstring shown;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'&' && i + 1 < text.size()) ++i;
    shown += text[i];
  }
  return shown;
}

class SettingsTemplates : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES |
                                                       ICC_BAR_CLASSES | ICC_UPDOWN_CLASS | ICC_HOTKEY_CLASS};
    InitCommonControlsEx(&controls);
  }
  void SetUp() override { ASSERT_NE(ProgramResources(), nullptr) << "Vistrel.exe beside the tests"; }
};

// Each template: the layout's size and font, pages that the frame's Tab enters, and control by control
// in tab order: its text from the translation table, inside the dialog and apart from the others, in
// reading order, a label before each control without a text of its own, and Tab reaching each (a
// radio group once).
TEST_F(SettingsTemplates, EveryTemplateFollowsTheLayoutAndReadsInTabOrder) {
  for (int id : kTemplates) {
    const TemplateDialog dialog(id);
    ASSERT_NE(dialog.window(), nullptr) << id;
    RECT client{};
    GetClientRect(dialog.window(), &client);
    const RECT layout = dialog.Pixels({0, 0, LayoutSize(id).first, LayoutSize(id).second});
    EXPECT_TRUE(EqualRect(&client, &layout)) << id << ": " << client.right << " x " << client.bottom << " pixels";
    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HGDIOBJ>(SendMessageW(dialog.window(), WM_GETFONT, 0, 0)), sizeof font, &font);
    const HDC screen = GetDC(nullptr);
    const int nine = -MulDiv(9, GetDeviceCaps(screen, LOGPIXELSY), 72);  // points
    ReleaseDC(nullptr, screen);
    EXPECT_EQ(std::tuple(std::wstring(font.lfFaceName), font.lfHeight), std::tuple(std::wstring(L"MS Shell Dlg"), nine))
        << id;
    const auto style = static_cast<DWORD>(GetWindowLongPtrW(dialog.window(), GWL_STYLE));
    const auto exStyle = static_cast<DWORD>(GetWindowLongPtrW(dialog.window(), GWL_EXSTYLE));
    const bool page = !kTopLevel.count(id);
    EXPECT_EQ((style & WS_CHILD) != 0, page) << id;
    if (page) EXPECT_TRUE((style & DS_CONTROL) && (exStyle & WS_EX_CONTROLPARENT) && !(style & WS_VISIBLE)) << id;
    std::map<int, std::wstring> table;
    for (const ControlText& entry : TextsOf(id)) {
      table[entry.id] = entry.msgid;
      EXPECT_NE(GetDlgItem(dialog.window(), entry.id), nullptr) << "template " << id << " has no control " << entry.id;
    }
    const int sameRow = dialog.Pixels({0, 0, 0, 5}).bottom;
    const auto& controls = dialog.controls();
    const Control* previous = nullptr;  // in reading order, group boxes and up-down buttons left out
    bool inRadioGroup = false;
    for (size_t i = 0; i < controls.size(); ++i) {
      const Control& c = controls[i];
      const std::string where = WideToUtf8(Describe(id, c));
      if (!c.text.empty() && !kFilledInTexts.count(c.id)) {
        EXPECT_TRUE(table.count(c.id) && table.at(c.id) == c.text) << where << " is not translated from the table";
      }
      RECT inside{};
      IntersectRect(&inside, &c.rect, &client);
      EXPECT_TRUE(EqualRect(&inside, &c.rect)) << where << " reaches outside";
      if (!IsGroupBox(c) && !IsUpDown(c)) {
        for (size_t j = i + 1; j < controls.size(); ++j) {
          const Control& b = controls[j];
          RECT overlap{};
          if (IsGroupBox(b) || IsUpDown(b) || !IntersectRect(&overlap, &c.rect, &b.rect)) continue;
          ADD_FAILURE() << where << " overlaps " << WideToUtf8(Describe(id, b));
        }
        if (previous) {
          const bool nextRow = c.rect.top > previous->rect.top + sameRow;
          const bool rightOnSameRow = std::abs(c.rect.top - previous->rect.top) <= sameRow &&
                                      c.rect.left >= previous->rect.right - 1;
          EXPECT_TRUE(nextRow || rightOnSameRow) << where << " comes after " << WideToUtf8(Describe(id, *previous));
        }
        previous = &c;
      }
      EXPECT_TRUE(c.style & WS_VISIBLE) << where;
      if (NeedsLabel(c)) {
        ASSERT_GT(i, 0u) << where << " has no label before it";
        const Control& before = controls[i - 1];
        EXPECT_TRUE(IsLabel(before) && !before.text.empty())
            << where << " follows " << WideToUtf8(Describe(id, before));
      }
      if (i > 0 && IsRadio(controls[i - 1]) && !IsRadio(c)) {
        EXPECT_TRUE(c.style & WS_GROUP) << where << " must end the radio group before it";
      }
      if (IsRadio(c) && inRadioGroup && !(c.style & WS_GROUP)) continue;  // Tab enters a group once
      inRadioGroup = IsRadio(c);
      if (Interactive(c)) {
        EXPECT_TRUE(c.style & WS_TABSTOP) << where << " cannot be reached with Tab";
        EXPECT_TRUE(!IsRadio(c) || (c.style & WS_GROUP)) << where << " starts a radio group";
      }
    }
  }
}

// Every language: the texts fit their controls, and no page (with the frame around it) uses a
// mnemonic twice.
TEST_F(SettingsTemplates, TranslatedTextsFitAndMnemonicsAreUnique) {
  Translator translator(WideToUtf8(ProgramFolder() + L"\\languages"), "LC_MESSAGES", "messages");
  for (const wchar_t* language : kLanguages) {
    translator.setLanguage(language);
    ASSERT_EQ(translator.getLanguageCode(), language);
    std::map<wchar_t, std::wstring> frameMnemonics;
    for (const ControlText& entry : TemplateTexts(IDD_SETTINGS)) {
      if (const wchar_t m = Mnemonic(translator.translate(entry.msgid))) frameMnemonics[m] = entry.msgid;
    }
    for (int id : kTemplates) {
      if (id == IDD_SETTINGS) continue;
      const TemplateDialog dialog(id);
      auto used = kTopLevel.count(id) ? std::map<wchar_t, std::wstring>{} : frameMnemonics;
      HDC dc = GetDC(dialog.window());
      HGDIOBJ oldFont = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(dialog.window(), WM_GETFONT, 0, 0)));
      for (const ControlText& entry : TextsOf(id)) {
        const std::wstring text = translator.translate(entry.msgid);
        const std::string where = WideToUtf8(std::wstring(language) + L": \"" + text + L"\" in template " +
                                             std::to_wstring(id));
        if (const wchar_t m = Mnemonic(text)) {
          EXPECT_FALSE(used.count(m)) << where << " repeats the mnemonic of \"" << WideToUtf8(used[m]) << "\"";
          used[m] = text;
        }
        const auto found = std::find_if(dialog.controls().begin(), dialog.controls().end(),
                                        [&](const Control& c) { return c.id == entry.id; });
        ASSERT_NE(found, dialog.controls().end()) << where;
        const std::wstring shown = Shown(text);
        SIZE size{};
        GetTextExtentPoint32W(dc, shown.c_str(), static_cast<int>(shown.size()), &size);
        // Room taken by the control itself: the box of a check box or radio button, a group box's
        // frame, a push button's edges.
        const int frame = IsCheckBox(*found) || IsRadio(*found) ? 18 : IsLabel(*found) ? 0 : 10;
        EXPECT_LE(size.cx + frame, found->rect.right - found->rect.left) << where << " is cut off";
      }
      SelectObject(dc, oldFont);
      ReleaseDC(dialog.window(), dc);
    }
  }
}

}  // namespace
}  // namespace vistrel
