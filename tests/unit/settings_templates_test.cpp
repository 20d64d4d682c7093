// The compiled dialogs (settings and multi-track), as Vistrel.exe carries them: each template is created from the
// program's resources and walked control by control, in tab order, in English and in every
// shipped language.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cwctype>
#include <map>
#include <set>
#include <span>
#include <utility>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "core/sound.h"
#include "core/text.h"
#include "i18n/translator.h"
#include "resource.h"
#include "ui/settings_texts.h"
#include "ui/track_dialog_texts.h"

namespace vistrel {
namespace {

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
  switch (id) {
    case IDD_SETTINGS: return {550, 350};
    case IDD_CHANGE_HOTKEY: return {250, 100};
    case IDD_TRACKS: return {450, 270};
    case IDD_TRACK_EDITOR: return {350, 280};
    default: return {400, 310};
  }
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

std::wstring Lower(std::wstring text) {
  for (auto& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

bool IsGroupBox(const Control& c) { return c.cls == L"button" && (c.style & BS_TYPEMASK) == BS_GROUPBOX; }
bool IsRadio(const Control& c) {
  const DWORD type = c.style & BS_TYPEMASK;
  return c.cls == L"button" && (type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON);
}
bool IsCheckBox(const Control& c) {
  const DWORD type = c.style & BS_TYPEMASK;
  return c.cls == L"button" && (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX);
}
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
      std::wstring text(static_cast<size_t>(GetWindowTextLengthW(child)) + 1, L'\0');
      text.resize(static_cast<size_t>(GetWindowTextW(child, text.data(), static_cast<int>(text.size()))));
      RECT rect{};
      GetWindowRect(child, &rect);
      MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&rect), 2);
      controls_.push_back({child, GetDlgCtrlID(child), Lower(cls),
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

class SettingsTemplates : public testing::Test {
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
    if (page) {
      EXPECT_TRUE((style & DS_CONTROL) && (exStyle & WS_EX_CONTROLPARENT) && !(style & WS_VISIBLE)) << id;
    }
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
