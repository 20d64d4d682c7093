#include "app/tray.h"

#include <shellapi.h>

#include "app/app_state.h"
#include "app/hotkey_service.h"
#include "app/messages.h"
#include "app/recorders.h"
#include "core/balloon.h"
#include "i18n/tr.h"
#include "i18n/translator.h"

namespace vistrel {
namespace {

constexpr UINT kTrayIconId = 1;
constexpr int kRecorderPaused = 3;

NOTIFYICONDATAW IconData(HWND owner) {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = owner;
  data.uID = kTrayIconId;
  return data;
}

void SetTooltip(NOTIFYICONDATAW& data, const std::wstring& tooltip) {
  CopyNotifyField(data.szTip, tooltip);
}

void Append(HMENU menu, UINT id, const std::wstring& label) {
  AppendMenuW(menu, MF_STRING, id, label.c_str());
}

void AppendSeparator(HMENU menu) { AppendMenuW(menu, MF_SEPARATOR, 0, nullptr); }

// A "Video Recording" or "Audio Recording" sub-menu at position 4, after the first separator.
void InsertRecordingSubmenu(HMENU menu, const std::wstring& title, const std::wstring& pauseOrResume,
                            const std::wstring& stop) {
  HMENU sub = CreatePopupMenu();
  if (!sub) return;
  Append(sub, kCmdPauseResume, pauseOrResume);
  Append(sub, kCmdStopRecording, stop);
  // The menu owns the sub-menu from here on.
  InsertMenuW(menu, 4, MF_BYPOSITION | MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(sub),
              title.c_str());
}

void AppendConnectSubmenu(HMENU menu) {
  HMENU sub = CreatePopupMenu();
  if (!sub) return;
  Append(sub, kCmdTelegram, tr(L"Telegram Channel"));
  Append(sub, kCmdFacebook, tr(L"Facebook"));
  Append(sub, kCmdTwitter, tr(L"X (Twitter)"));
  Append(sub, kCmdYouTube, tr(L"YouTube"));
  AppendSeparator(sub);
  Append(sub, kCmdGitHub, tr(L"GitHub"));
  AppendSeparator(sub);
  Append(sub, kCmdContact, tr(L"Contact us"));
  AppendMenuW(menu, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(sub),
              tr(L"Connect with us").c_str());
}

}  // namespace

void AddTrayIcon(HWND owner, HICON icon, UINT callbackMessage) {
  NOTIFYICONDATAW data = IconData(owner);
  // Version 4 icons show their tooltip only with NIF_SHOWTIP.
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP;
  data.uCallbackMessage = callbackMessage;
  data.hIcon = icon;
  SetTooltip(data, tr(L"Vistrel"));
  Shell_NotifyIconW(NIM_ADD, &data);
  data.uVersion = NOTIFYICON_VERSION_4;
  Shell_NotifyIconW(NIM_SETVERSION, &data);
}

void UpdateTrayIcon(HWND owner, HICON icon, const std::wstring& tooltip) {
  NOTIFYICONDATAW data = IconData(owner);
  data.uFlags = NIF_ICON | NIF_TIP | NIF_SHOWTIP;
  data.hIcon = icon;
  SetTooltip(data, tooltip);
  Shell_NotifyIconW(NIM_MODIFY, &data);
}

void RemoveTrayIcon(HWND owner) {
  NOTIFYICONDATAW data = IconData(owner);
  Shell_NotifyIconW(NIM_DELETE, &data);
}

TrayMenuState CurrentTrayMenuState() {
  TrayMenuState state;
  state.videoState = LegacyState(SessionOf(Recorder::kVideo).phase());
  state.audioState = LegacyState(SessionOf(Recorder::kAudio).phase());
  state.gifActive = IsRecordingOrStopping(SessionOf(Recorder::kGif).phase());
  state.hotkeysPaused = Hotkeys().paused();
  return state;
}

void RefreshTrayIcon() {
  const AppState& app = App();
  HWND core = app.coreWindow.load();
  if (!core) return;
  if (AnyRecordingShownInTray()) {
    UpdateTrayIcon(core, app.recordingTrayIcon, L"Vistrel (Recording)");
  } else {
    UpdateTrayIcon(core, app.normalTrayIcon, L"Vistrel");
  }
}

UniqueMenu BuildTrayMenu(const TrayMenuState& state) {
  UniqueMenu menu(CreatePopupMenu());
  if (!menu) return menu;
  HMENU m = menu.get();
  Append(m, kCmdCaptureFullScreen, tr(L"Capture Full Screen"));
  Append(m, kCmdCaptureFreeForm, tr(L"Capture Free Form"));
  Append(m, kCmdCaptureActiveWindow, tr(L"Capture Active Window"));
  AppendSeparator(m);

  if (state.videoState != 0) {
    InsertRecordingSubmenu(m, tr(L"Video Recording"),
                           state.videoState == kRecorderPaused ? tr(L"Resume Video") : tr(L"Pause Video"),
                           tr(L"Stop Video Recording"));
  } else if (state.audioState != 0) {
    InsertRecordingSubmenu(m, tr(L"Audio Recording"),
                           state.audioState == kRecorderPaused ? tr(L"Resume Audio") : tr(L"Pause Audio"),
                           tr(L"Stop Audio Recording"));
  } else if (state.gifActive) {
    Append(m, kCmdGifRecording, tr(L"Stop Recording GIF"));
  } else {
    Append(m, kCmdVideoRecording, tr(L"Start Video Recording"));
    Append(m, kCmdAudioRecording, tr(L"Start Audio Recording"));
    Append(m, kCmdGifRecording, tr(L"Record Animated GIF"));
  }

  AppendSeparator(m);
  Append(m, kCmdConfigure, tr(L"Configure..."));
  Append(m, kCmdManageTracks, tr(L"Manage multy tracks..."));
  Append(m, kCmdPauseHotkeys, state.hotkeysPaused ? tr(L"Resume Hotkeys") : tr(L"Pause Hotkeys"));
  AppendSeparator(m);
  AppendConnectSubmenu(m);
  Append(m, kCmdHelp, tr(L"Help file..."));
  Append(m, kCmdCheckUpdate, tr(L"Check for Update..."));
  Append(m, kCmdWebsite, tr(L"Orvanta Website"));
  Append(m, kCmdAbout, tr(L"About Vistrel..."));
  Append(m, kCmdExit, tr(L"Exit"));
  return menu;
}

void ShowTrayMenu(HWND trayOwner, POINT anchor, bool fromKeyboard) {
  UniqueMenu menu = BuildTrayMenu(CurrentTrayMenuState());
  if (!menu) return;
  App().foregroundBeforeMenu = GetForegroundWindow();
  // The menu takes the keyboard only when its owner is the foreground window.
  SetForegroundWindow(trayOwner);
  if (fromKeyboard) PostMessageW(trayOwner, WM_KEYDOWN, VK_DOWN, 0);  // the menu loop selects the first item
  UINT flags = TPM_BOTTOMALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD;
  flags |= GetSystemMetrics(SM_MENUDROPALIGNMENT) ? TPM_RIGHTALIGN : TPM_LEFTALIGN;
  if (Translator::instance().isRightToLeft()) flags |= TPM_LAYOUTRTL;
  const UINT command = static_cast<UINT>(TrackPopupMenu(menu.get(), flags, anchor.x, anchor.y, 0, trayOwner, nullptr));
  // Lets the menu close properly when the user clicks elsewhere after it was dismissed.
  PostMessageW(trayOwner, WM_NULL, 0, 0);
  if (command != 0) {
    PostMessageW(trayOwner, WM_COMMAND, command, 0);
  } else if (fromKeyboard) {
    NOTIFYICONDATAW data = IconData(App().coreWindow.load());
    Shell_NotifyIconW(NIM_SETFOCUS, &data);
  }
}

}  // namespace vistrel
