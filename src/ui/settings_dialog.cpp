#include "ui/settings_dialog.h"

#include <commctrl.h>
#include <shobjidl.h>
#include <wrl/client.h>

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "config/hotkeys.h"
#include "config/settings.h"
#include "core/com_apartment.h"
#include "core/handles.h"
#include "i18n/language_list.h"
#include "i18n/system_language.h"
#include "i18n/tr.h"
#include "i18n/translator.h"
#include "resource.h"
#include "ui/combo_values.h"
#include "ui/device_lists.h"
#include "ui/dialog_direction.h"
#include "ui/settings_pages.h"
#include "ui/settings_texts.h"

namespace vistrel {
namespace {

struct DialogState {
  SettingsDialogHost host;
  HWND window = nullptr;
  int currentPage = 0;
  std::array<HWND, kSettingsPageCount> pages{};
  AppConfig working;
  std::optional<ComApartment> com;  // the folder picker and the endpoint lists
  // The dialog switched the interface language; closing without saving switches it back.
  bool languageChanged = false;
  // The dialog is being created again in the other reading direction: it keeps the working copy.
  bool rebuilding = false;
};

// Posted to the dialog when a chosen language reads in the other direction than the dialog's layout.
constexpr UINT kRebuildInDirection = WM_APP + 50;

DialogState& State() {
  static DialogState state;
  return state;
}

HWND Page(int index) { return State().pages[static_cast<size_t>(index)]; }
HWND Control(int page, int id) { return GetDlgItem(Page(page), id); }

bool Checked(int page, int id) { return IsDlgButtonChecked(Page(page), id) == BST_CHECKED; }
void SetChecked(int page, int id, bool on) {
  CheckDlgButton(Page(page), id, on ? BST_CHECKED : BST_UNCHECKED);
}

// Checks button first + value of a radio group first..last (none when out of range).
void SetRadio(int page, int first, int last, int value) {
  for (int id = first; id <= last; ++id) SetChecked(page, id, id == first + value);
}
// The offset of the checked button of first..last from first; `otherwise` when none is checked
// or the last one is.
int CheckedRadio(int page, int first, int last, int otherwise) {
  for (int id = first; id < last; ++id) {
    if (Checked(page, id)) return id - first;
  }
  return otherwise;
}

std::wstring TextOf(int page, int id) {
  HWND control = Control(page, id);
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
  return text;
}

// A path edit's text, cut where a path buffer of 260 characters would cut it.
std::wstring PathText(int page, int id) { return TextOf(page, id).substr(0, MAX_PATH - 1); }

void SetPosition(int page, int trackbar, int label, int value) {
  SendMessageW(Control(page, trackbar), TBM_SETPOS, TRUE, value);
  SetDlgItemTextW(Page(page), label, tr(L"%d%%", value).c_str());
}

void ActivateLanguageQuietly(const std::wstring& setting) {
  if (!Translator::initialized()) return;
  const bool system = setting.empty() || setting == L"Default";
  Translator::instance().setLanguage(system ? DetectSystemLanguage() : setting);
}

void PostLanguageChanged() {
  if (State().host.languageChanged) State().host.languageChanged();
}

// --- Option lists ---------------------------------------------------------------------------

template <size_t N>
void FillIndexList(HWND combo, const std::array<const wchar_t*, N>& names, int selected) {
  SendMessageW(combo, CB_RESETCONTENT, 0, 0);
  for (const wchar_t* name : names) {
    SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(tr(name).c_str()));
  }
  SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);  // out of range: none
}

int SelectedIndex(HWND combo) { return static_cast<int>(SendMessageW(combo, CB_GETCURSEL, 0, 0)); }

void FillFrameRates(HWND combo, int stored) {
  SendMessageW(combo, CB_RESETCONTENT, 0, 0);
  std::vector<int> rates;
  for (const FrameRateChoice& choice : kFrameRates) {
    const std::wstring label = FrameRateLabel(choice.fps, tr(choice.description));
    const LRESULT item = SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(label.c_str()));
    if (item >= 0) SendMessageW(combo, CB_SETITEMDATA, static_cast<WPARAM>(item), choice.fps);
    rates.push_back(choice.fps);
  }
  SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(FrameRateItemFor(rates, stored)), 0);
}

std::optional<int> SelectedFrameRate(HWND combo) {
  const LRESULT item = SendMessageW(combo, CB_GETCURSEL, 0, 0);
  if (item < 0) return std::nullopt;
  return static_cast<int>(SendMessageW(combo, CB_GETITEMDATA, static_cast<WPARAM>(item), 0));
}

void FillLanguageList(HWND combo, const std::wstring& current) {
  ClearComboItems(combo);
  AddComboItem(combo, tr(L"System Default"), L"Default");
  for (const LanguageInfo& language : RefillSharedAvailableLanguages()) {
    std::wstring text = language.name;
    if (!language.translatorName.empty()) {
      text += L" (" + tr(L"Translator") + L": " + language.translatorName + L")";
    }
    AddComboItem(combo, text, language.code);
  }
  SelectItemByValue(combo, current);
}

// The option lists, refilled in the current language. A choice already made in them is
// taken into the working copy first, so that a language change keeps it.
void FillOptionLists(bool keepChoices) {
  AppConfig& working = State().working;
  HWND quality = Control(kPageVideo, IDC_VIDEO_QUALITY);
  HWND rate = Control(kPageVideo, IDC_FRAME_RATE);
  HWND format = Control(kPageAudio, IDC_AUDIO_FORMAT);
  HWND audioQuality = Control(kPageAudio, IDC_AUDIO_QUALITY);
  HWND announce = Control(kPageGeneral, IDC_ANNOUNCE_RESULTS);
  if (keepChoices) {
    working.ScreenReaderNotifications = SelectedIndex(announce) != 1;
    working.VideoQuality = SelectedIndex(quality);
    if (const auto fps = SelectedFrameRate(rate)) working.VideoFramerate = *fps;
    working.AudioFormat = SelectedIndex(format);
    working.AudioQuality = SelectedIndex(audioQuality);
  }
  FillIndexList(quality, kVideoQualityNames, working.VideoQuality);
  FillFrameRates(rate, working.VideoFramerate);
  FillIndexList(format, kAudioFormatNames, working.AudioFormat);
  FillIndexList(audioQuality, kAudioQualityNames, working.AudioQuality);
  FillIndexList(announce, kAnnounceChoices, working.ScreenReaderNotifications ? 0 : 1);
}

// --- Loading and saving the controls ----------------------------------------------------------

void LoadControls() {
  const AppConfig& c = State().working;
  SetChecked(kPageGeneral, IDC_START_WITH_WINDOWS, IsRunAtStartup());
  SetChecked(kPageGeneral, IDC_INCLUDE_CURSOR, c.IncludeCursor);
  SetChecked(kPageGeneral, IDC_AUTO_CHECK_UPDATES, c.AutoCheckUpdates);
  SetChecked(kPageGeneral, IDC_PLAY_STARTUP_SOUND, c.PlayStartupSound);

  SetRadio(kPageScreenCapture, IDC_OUTPUT_CLIPBOARD, IDC_OUTPUT_BOTH, c.OutputMode);
  SetChecked(kPageScreenCapture, IDC_CAPTURE_SOUND, c.PlayCaptureSound);
  SetDlgItemTextW(Page(kPageScreenCapture), IDC_SCREENSHOT_PATH, c.ScreenshotPath.c_str());

  SetRadio(kPageVideo, IDC_VIDEO_FULL_SCREEN, IDC_VIDEO_ACTIVE_WINDOW, c.VideoMode);
  SetRadio(kPageVideo, IDC_VIDEO_AUDIO_NONE, IDC_VIDEO_AUDIO_MIXED, c.VideoAudioSource);
  SetPosition(kPageVideo, IDC_VIDEO_VOLUME, IDC_VIDEO_VOLUME_VALUE, c.SystemAudioVolume);
  SetChecked(kPageVideo, IDC_VIDEO_EVENT_SOUNDS, c.PlayVideoEventSounds);
  SetDlgItemTextW(Page(kPageVideo), IDC_VIDEO_PATH, c.VideoPath.c_str());

  SetRadio(kPageAudio, IDC_AUDIO_SOURCE_NONE, IDC_AUDIO_SOURCE_MIXED, c.AudioSource);
  SetPosition(kPageAudio, IDC_AUDIO_VOLUME, IDC_AUDIO_VOLUME_VALUE, c.SystemAudioRecVolume);
  SetChecked(kPageAudio, IDC_AUDIO_EVENT_SOUNDS, c.PlayAudioEventSounds);
  SetDlgItemTextW(Page(kPageAudio), IDC_AUDIO_PATH, c.AudioPath.c_str());

  SetRadio(kPageGif, IDC_GIF_FULL_SCREEN, IDC_GIF_ACTIVE_WINDOW, c.GifMode);
  SetDlgItemInt(Page(kPageGif), IDC_GIF_DURATION, static_cast<UINT>(c.GifDuration), FALSE);
  SetChecked(kPageGif, IDC_GIF_EVENT_SOUNDS, c.PlayGifEventSounds);
  SetDlgItemTextW(Page(kPageGif), IDC_GIF_PATH, c.GifPath.c_str());
}

std::wstring DeviceValue(int id) {
  return SelectedComboValue(Control(kPageDevices, id)).value_or(L"Default");
}

void ReadGeneralPages(AppConfig& c) {
  if (const auto language = SelectedComboValue(Control(kPageGeneral, IDC_LANGUAGE))) c.Language = *language;
  c.IncludeCursor = Checked(kPageGeneral, IDC_INCLUDE_CURSOR);
  c.AutoCheckUpdates = Checked(kPageGeneral, IDC_AUTO_CHECK_UPDATES);
  c.PlayStartupSound = Checked(kPageGeneral, IDC_PLAY_STARTUP_SOUND);
  c.ScreenReaderNotifications = SelectedIndex(Control(kPageGeneral, IDC_ANNOUNCE_RESULTS)) != 1;

  c.OutputMode = CheckedRadio(kPageScreenCapture, IDC_OUTPUT_CLIPBOARD, IDC_OUTPUT_BOTH, 2);
  c.PlayCaptureSound = Checked(kPageScreenCapture, IDC_CAPTURE_SOUND);
  c.ScreenshotPath = PathText(kPageScreenCapture, IDC_SCREENSHOT_PATH);

  c.MicrophoneID = DeviceValue(IDC_MICROPHONE);
  c.SystemAudioID = DeviceValue(IDC_SYSTEM_AUDIO);
  c.ScreenID = DeviceValue(IDC_SCREEN);
}

void ReadRecordingPages(AppConfig& c) {
  c.VideoMode = CheckedRadio(kPageVideo, IDC_VIDEO_FULL_SCREEN, IDC_VIDEO_ACTIVE_WINDOW, 1);
  c.VideoQuality = SelectedIndex(Control(kPageVideo, IDC_VIDEO_QUALITY));
  if (const auto fps = SelectedFrameRate(Control(kPageVideo, IDC_FRAME_RATE))) c.VideoFramerate = *fps;
  c.VideoAudioSource = CheckedRadio(kPageVideo, IDC_VIDEO_AUDIO_NONE, IDC_VIDEO_AUDIO_MIXED, 3);
  c.SystemAudioVolume = static_cast<int>(SendMessageW(Control(kPageVideo, IDC_VIDEO_VOLUME), TBM_GETPOS, 0, 0));
  c.PlayVideoEventSounds = Checked(kPageVideo, IDC_VIDEO_EVENT_SOUNDS);
  c.VideoPath = PathText(kPageVideo, IDC_VIDEO_PATH);

  c.AudioFormat = SelectedIndex(Control(kPageAudio, IDC_AUDIO_FORMAT));
  c.AudioQuality = SelectedIndex(Control(kPageAudio, IDC_AUDIO_QUALITY));
  c.AudioSource = CheckedRadio(kPageAudio, IDC_AUDIO_SOURCE_NONE, IDC_AUDIO_SOURCE_MIXED, 3);
  c.SystemAudioRecVolume = static_cast<int>(SendMessageW(Control(kPageAudio, IDC_AUDIO_VOLUME), TBM_GETPOS, 0, 0));
  c.PlayAudioEventSounds = Checked(kPageAudio, IDC_AUDIO_EVENT_SOUNDS);
  c.AudioPath = PathText(kPageAudio, IDC_AUDIO_PATH);

  c.GifMode = CheckedRadio(kPageGif, IDC_GIF_FULL_SCREEN, IDC_GIF_ACTIVE_WINDOW, 1);
  c.GifDuration = static_cast<int>(GetDlgItemInt(Page(kPageGif), IDC_GIF_DURATION, nullptr, FALSE));
  c.PlayGifEventSounds = Checked(kPageGif, IDC_GIF_EVENT_SOUNDS);
  c.GifPath = PathText(kPageGif, IDC_GIF_PATH);
}

// --- Pages -----------------------------------------------------------------------------------

void ShowPage(HWND dialog, int index) {
  if (index < 0 || index >= kSettingsPageCount) return;
  State().currentPage = index;
  for (int i = 0; i < kSettingsPageCount; ++i) {
    if (i != index) ShowWindow(Page(i), SW_HIDE);
  }
  // Directly after the tree in the z-order, so that Tab goes from the tree into the page.
  SetWindowPos(Page(index), GetDlgItem(dialog, IDC_PAGE_TREE), 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  ShowWindow(Page(index), SW_SHOW);
}

bool Mirrored(HWND window) { return (GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_LAYOUTRTL) != 0; }

void OnLanguageSelected(HWND combo) {
  const auto value = SelectedComboValue(combo);
  if (!value) return;
  State().working.Language = *value;
  ActivateLanguageQuietly(*value);
  State().languageChanged = true;
  if (Mirrored(State().window) != InterfaceIsRightToLeft()) {
    // A mirrored layout is fixed when a window is created: the dialog is made anew, after this
    // notification has been handled.
    PostMessageW(State().window, kRebuildInDirection, 0, 0);
  } else {
    ApplySettingsDialogTexts(State().window);
  }
  PostLanguageChanged();
}

int EditForBrowseButton(int button) {
  switch (button) {
    case IDC_SCREENSHOT_BROWSE: return IDC_SCREENSHOT_PATH;
    case IDC_VIDEO_BROWSE: return IDC_VIDEO_PATH;
    case IDC_AUDIO_BROWSE: return IDC_AUDIO_PATH;
    case IDC_GIF_BROWSE: return IDC_GIF_PATH;
    default: return 0;
  }
}

// General, Screen Capture, Video, Audio and GIF pages.
INT_PTR CALLBACK CommonPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (const int edit = EditForBrowseButton(LOWORD(wParam)); edit && HIWORD(wParam) == BN_CLICKED) {
        BrowseForFolder(page, edit);
        return TRUE;
      }
      if (LOWORD(wParam) == IDC_LANGUAGE && HIWORD(wParam) == CBN_SELCHANGE) {
        OnLanguageSelected(reinterpret_cast<HWND>(lParam));
        return TRUE;
      }
      return FALSE;
    case WM_HSCROLL: {
      HWND bar = reinterpret_cast<HWND>(lParam);
      const int id = GetDlgCtrlID(bar);
      const int label = id == IDC_VIDEO_VOLUME ? IDC_VIDEO_VOLUME_VALUE
                        : id == IDC_AUDIO_VOLUME ? IDC_AUDIO_VOLUME_VALUE
                                                 : 0;
      if (!label) return FALSE;
      const auto position = static_cast<int>(SendMessageW(bar, TBM_GETPOS, 0, 0));
      SetDlgItemTextW(page, label, tr(L"%d%%", position).c_str());
      return TRUE;
    }
    default:
      return FALSE;
  }
}

INT_PTR CALLBACK DevicesPageProc(HWND page, UINT message, WPARAM, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: {
      const AppConfig& c = State().working;
      FillEndpointList(GetDlgItem(page, IDC_MICROPHONE), eCapture);
      FillEndpointList(GetDlgItem(page, IDC_SYSTEM_AUDIO), eRender);
      FillScreenList(GetDlgItem(page, IDC_SCREEN));
      SelectItemByValue(GetDlgItem(page, IDC_MICROPHONE), c.MicrophoneID);
      SelectItemByValue(GetDlgItem(page, IDC_SYSTEM_AUDIO), c.SystemAudioID);
      SelectItemByValue(GetDlgItem(page, IDC_SCREEN), c.ScreenID);
      return TRUE;
    }
    case WM_DESTROY:
      for (int id : {IDC_MICROPHONE, IDC_SYSTEM_AUDIO, IDC_SCREEN}) ForgetComboValues(GetDlgItem(page, id));
      return FALSE;
    default:
      return FALSE;
  }
}

DLGPROC PageProcedure(int index) {
  switch (index) {
    case kPageHotkeys: return HotkeysPageProc;
    case kPageSoundEffects: return SoundEffectsPageProc;
    case kPageDevices: return DevicesPageProc;
    default: return CommonPageProc;
  }
}

void CreatePages(HWND dialog) {
  HWND tree = GetDlgItem(dialog, IDC_PAGE_TREE);
  for (int i = 0; i < kSettingsPageCount; ++i) {
    TVINSERTSTRUCTW insert{};
    insert.hParent = TVI_ROOT;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_PARAM;
    const std::wstring label = tr(kSettingsPages[static_cast<size_t>(i)].label);
    insert.item.pszText = const_cast<wchar_t*>(label.c_str());
    insert.item.lParam = i;
    const auto item = reinterpret_cast<HTREEITEM>(
        SendMessageW(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
    if (i == 0) TreeView_SelectItem(tree, item);
  }
  for (int i = 0; i < kSettingsPageCount; ++i) {
    State().pages[static_cast<size_t>(i)] = CreateDialogInDirection(
        GetModuleHandleW(nullptr), kSettingsPages[static_cast<size_t>(i)].templateId, dialog, PageProcedure(i), 0);
  }
}

void PlacePages(HWND dialog) {
  RECT area{};
  GetWindowRect(GetDlgItem(dialog, IDC_PAGE_AREA), &area);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&area), 2);
  for (HWND page : State().pages) {
    SetWindowPos(page, nullptr, area.left, area.top, area.right - area.left, area.bottom - area.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

void OpenFirstTime() {
  if (LiveConfig().AutoOpenedConf != 0) return;
  AppConfig live = LiveConfig();
  live.AutoOpenedConf = 1;
  ReplaceConfig(live);
  SaveConfigValue(L"General", L"AutoOpenedConf", L"1");
}

BOOL OnInitDialog(HWND dialog) {
  DialogState& state = State();
  state.window = dialog;
  if (!state.rebuilding) {
    state.working = LiveConfig();
    state.languageChanged = false;
    OpenFirstTime();
    state.working.AutoOpenedConf = LiveConfig().AutoOpenedConf;
  }
  CreatePages(dialog);
  SendMessageW(Control(kPageVideo, IDC_VIDEO_VOLUME), TBM_SETRANGE, TRUE, MAKELPARAM(1, 100));
  SendMessageW(Control(kPageAudio, IDC_AUDIO_VOLUME), TBM_SETRANGE, TRUE, MAKELPARAM(1, 100));
  SendMessageW(Control(kPageGif, IDC_GIF_DURATION_SPIN), UDM_SETRANGE32, 0, 300);
  PlacePages(dialog);
  FillLanguageList(Control(kPageGeneral, IDC_LANGUAGE), state.working.Language);
  ApplySettingsDialogTexts(dialog);
  LoadControls();
  ShowPage(dialog, 0);
  return TRUE;
}

// --- Closing ---------------------------------------------------------------------------------

// Both ways out leave the live record's hotkeys registered, or none while the user has paused them.
void ReregisterLiveHotkeys() {
  if (UnregisterHotkeysUnlessPaused()) RegisterHotkeysUnlessPaused(LiveConfig());
}

void Save(HWND dialog) {
  const bool startWithWindows = Checked(kPageGeneral, IDC_START_WITH_WINDOWS);
  if (startWithWindows != IsRunAtStartup()) SetRunAtStartup(startWithWindows);
  ReadSettingsFromDialog();
  ReplaceConfig(State().working);
  SaveConfig();
  if (State().host.saved) State().host.saved();
  ReregisterLiveHotkeys();
  DestroyWindow(dialog);
}

void Cancel(HWND dialog) {
  ActivateLanguageQuietly(LiveConfig().Language);
  if (State().languageChanged) PostLanguageChanged();
  ReregisterLiveHotkeys();
  DestroyWindow(dialog);
}

void OnDestroy() {
  DialogState& state = State();
  ForgetComboValues(Control(kPageGeneral, IDC_LANGUAGE));
  state.pages = {};
  state.window = nullptr;
  if (!state.rebuilding) state.com.reset();
}

INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The same dialog in the reading direction of the language just chosen, with every choice made so
// far, on the same page, the keyboard back on the language list.
void RebuildInDirection(HWND dialog) {
  DialogState& state = State();
  ReadSettingsFromDialog();
  const bool startWithWindows = Checked(kPageGeneral, IDC_START_WITH_WINDOWS);
  const int page = state.currentPage;
  state.rebuilding = true;
  DestroyWindow(dialog);
  HWND again = CreateDialogInDirection(GetModuleHandleW(nullptr), IDD_SETTINGS, state.host.owner,
                                       SettingsDialogProc, 0);
  state.rebuilding = false;
  if (!again) {
    // Nothing to show the choices in: they go as with Cancel.
    ActivateLanguageQuietly(LiveConfig().Language);
    PostLanguageChanged();
    ReregisterLiveHotkeys();
    state.com.reset();
    return;
  }
  SetChecked(kPageGeneral, IDC_START_WITH_WINDOWS, startWithWindows);
  HWND tree = GetDlgItem(again, IDC_PAGE_TREE);
  HTREEITEM item = TreeView_GetRoot(tree);
  for (int i = 0; item && i < page; ++i) item = TreeView_GetNextSibling(tree, item);
  if (item) TreeView_SelectItem(tree, item);
  ShowWindow(again, SW_SHOW);
  SetForegroundWindow(again);
  SendMessageW(again, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Control(kPageGeneral, IDC_LANGUAGE)), TRUE);
}

INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog(dialog);
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        Save(dialog);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        Cancel(dialog);
        return TRUE;
      }
      return FALSE;
    case WM_CLOSE:
      Cancel(dialog);
      return TRUE;
    case kRebuildInDirection:
      RebuildInDirection(dialog);
      return TRUE;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header->idFrom == IDC_PAGE_TREE && header->code == TVN_SELCHANGEDW) {
        ShowPage(dialog, static_cast<int>(reinterpret_cast<const NMTREEVIEWW*>(lParam)->itemNew.lParam));
        return TRUE;
      }
      return FALSE;
    }
    case WM_DESTROY:
      OnDestroy();
      return FALSE;
    default:
      return FALSE;
  }
}

void SetTexts(HWND window, int templateId) {
  for (const ControlText& entry : TemplateTexts(templateId)) {
    SetDlgItemTextW(window, entry.id, tr(entry.msgid).c_str());
  }
}

void SetTreeLabels(HWND tree) {
  HTREEITEM item = TreeView_GetRoot(tree);
  for (int i = 0; item && i < kSettingsPageCount; ++i) {
    const std::wstring label = tr(kSettingsPages[static_cast<size_t>(i)].label);
    TVITEMW change{};
    change.mask = TVIF_TEXT;
    change.hItem = item;
    change.pszText = const_cast<wchar_t*>(label.c_str());
    SendMessageW(tree, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&change));
    item = TreeView_GetNextSibling(tree, item);
  }
}

}  // namespace

AppConfig& SettingsWorkingCopy() { return State().working; }

bool UnregisterHotkeysUnlessPaused() {
  const SettingsDialogHost& host = State().host;
  return host.suspendHotkeys && host.suspendHotkeys();
}

void RegisterHotkeysUnlessPaused(const AppConfig& config) {
  const SettingsDialogHost& host = State().host;
  if (host.restoreHotkeys) host.restoreHotkeys(config);
}

bool HotkeyRefused(int id) {
  const SettingsDialogHost& host = State().host;
  if (!host.refusedHotkeys) return false;
  const std::vector<int> refused = host.refusedHotkeys();
  return std::find(refused.begin(), refused.end(), id) != refused.end();
}

HWND SettingsDialogWindow() { return State().window; }

void ShowSettingsDialog(const SettingsDialogHost& host) {
  DialogState& state = State();
  if (state.window) {
    // Raised as the user left it: the dialog gives the focus back to the control that had it.
    if (IsIconic(state.window)) ShowWindow(state.window, SW_RESTORE);
    SetForegroundWindow(state.window);
    SetActiveWindow(state.window);
    return;
  }
  state.host = host;
  state.com.emplace(COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  state.currentPage = 0;
  HWND dialog =
      CreateDialogInDirection(GetModuleHandleW(nullptr), IDD_SETTINGS, host.owner, SettingsDialogProc, 0);
  if (!dialog) {
    RegisterHotkeysUnlessPaused(LiveConfig());
    state.com.reset();
    return;
  }
  ShowWindow(dialog, SW_SHOW);
  SetForegroundWindow(dialog);
  SetActiveWindow(dialog);
  // A new dialog starts on the page tree, its first control: a screen reader then says where the
  // user is ("Pages, General") and the arrow keys choose another page.
  SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, IDC_PAGE_TREE)), TRUE);
}

void ApplySettingsDialogTexts(HWND dialog) {
  if (!dialog) return;
  const bool reopening = SendMessageW(Control(kPageVideo, IDC_VIDEO_QUALITY), CB_GETCOUNT, 0, 0) > 0;
  SetWindowTextW(dialog, tr(kSettingsCaption).c_str());
  SetTreeLabels(GetDlgItem(dialog, IDC_PAGE_TREE));
  SetTexts(dialog, IDD_SETTINGS);
  for (int i = 0; i < kSettingsPageCount; ++i) SetTexts(Page(i), kSettingsPages[static_cast<size_t>(i)].templateId);
  FillOptionLists(reopening);
  FillHotkeyList(Control(kPageHotkeys, IDC_HOTKEY_LIST));
  RefreshSoundEventNames(Control(kPageSoundEffects, IDC_SOUND_LIST));
}

void ReadSettingsFromDialog() {
  AppConfig& working = State().working;
  ReadGeneralPages(working);
  ReadRecordingPages(working);
}

void BrowseForFolder(HWND page, int editId) {
  Microsoft::WRL::ComPtr<IFileDialog> picker;
  if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&picker)))) {
    return;
  }
  picker->SetTitle(tr(L"Select Folder").c_str());
  FILEOPENDIALOGOPTIONS options = 0;
  picker->GetOptions(&options);
  picker->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM);
  if (FAILED(picker->Show(page))) return;
  Microsoft::WRL::ComPtr<IShellItem> item;
  if (FAILED(picker->GetResult(&item))) return;
  CoTaskMem<wchar_t> path;
  if (FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, path.put())) || !path.get()) return;
  SetDlgItemTextW(page, editId, path.get());
}

}  // namespace vistrel
