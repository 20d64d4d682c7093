// Entry point: single instance, start-up in order, the message loop, shutdown.
#include <windows.h>
#include <commctrl.h>

#include <chrono>

#include "app/app_state.h"
#include "app/messages.h"
#include "app/recorders.h"
#include "app/commands.h"
#include "capture/capture_output.h"
#include "capture/screen_capture.h"
#include "capture/window_capture.h"
#include "config/settings.h"
#include "core/com_apartment.h"
#include "core/handles.h"
#include "core/log.h"
#include "core/screen_reader.h"
#include "core/sound.h"
#include "core/text.h"
#include "core/ui_task.h"
#include "i18n/translator.h"
#include "tracks/track_store.h"
#include "ui/settings_dialog.h"

namespace vistrel {
namespace {

// Exit waits this long for screenshots still being saved.
constexpr std::chrono::seconds kScreenshotSavesAtExit{15};

// GDI+ for the lifetime of the message loop.
class GdiplusSession {
 public:
  GdiplusSession() : ok_(StartGdiPlus()) {}
  GdiplusSession(const GdiplusSession&) = delete;
  GdiplusSession& operator=(const GdiplusSession&) = delete;
  ~GdiplusSession() {
    if (ok_) StopGdiPlus();
  }
  bool ok() const { return ok_; }
  // Left running at exit: a save still encoding on its worker must not lose GDI+ under it.
  void Abandon() { ok_ = false; }

 private:
  bool ok_;
};

// Another copy runs: ask it to open its settings dialog. This copy was just started by the user
// and so may bring a window to the front; it hands that right to the running copy first, or the
// system would leave the dialog behind the window the user works in (and the screen reader silent).
void NotifyRunningInstance() {
  HWND running = FindWindowExW(HWND_MESSAGE, nullptr, kCoreWindowClass, nullptr);
  if (!running) return;
  DWORD process = 0;
  GetWindowThreadProcessId(running, &process);
  if (process) AllowSetForegroundWindow(process);
  PostMessageW(running, WM_SHOW_SETTINGS, 0, 0);
}

void InitCommonControlsForApp() {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES |
                                                     ICC_HOTKEY_CLASS};
  InitCommonControlsEx(&controls);
}

bool RegisterWindowClasses(HINSTANCE instance) {
  WNDCLASSEXW core{};
  core.cbSize = sizeof core;
  core.lpfnWndProc = CoreWindowProc;
  core.hInstance = instance;
  core.hIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(101), IMAGE_ICON, 32, 32, 0));
  core.lpszClassName = kCoreWindowClass;
  WNDCLASSEXW owner{};
  owner.cbSize = sizeof owner;
  owner.lpfnWndProc = TrayOwnerWindowProc;
  owner.hInstance = instance;
  owner.lpszClassName = kTrayOwnerClass;
  return RegisterClassExW(&core) != 0 && RegisterClassExW(&owner) != 0;
}

int RunMessageLoop() {
  MSG msg{};
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    HWND dialog = SettingsDialogWindow();
    if (dialog && IsDialogMessageW(dialog, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}

int Run(HINSTANCE instance) {
  AppState& app = App();
  app.instance = instance;

  UniqueKernelHandle mutex(CreateMutexW(nullptr, TRUE, kInstanceMutexName));
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    NotifyRunningInstance();
    return 0;
  }

  // The interface thread is a COM apartment: the shell's dialogs and UI Automation expect one.
  ComApartment com;
  InitCommonControlsForApp();
  InitLogging(GetConfigPath());
  LogMessage(L"Application starting up.");
  LogMessage(L"setting up translation system...");
  Translator::init(WideToUtf8(ProgramFolder() + L"\\languages"), "LC_MESSAGES", "messages");

  GdiplusSession gdiplus;
  if (!gdiplus.ok()) {
    ShowError(L"Failed to initialize GDI+.");
    return 1;
  }

  LoadConfig();
  ApplyLiveSettings();
  // First run: the settings dialog opens before the windows exist, so it has no owner.
  if (GetFileAttributesW(GetConfigPath().c_str()) == INVALID_FILE_ATTRIBUTES) OpenSettings();

  InitUiTasks();
  RegisterWindowClasses(instance);
  HWND core = CreateWindowExW(0, kCoreWindowClass, L"Vistrel Main", 0, 0, 0, 0, 0, HWND_MESSAGE,
                              nullptr, instance, nullptr);
  if (!core) {
    ShowError(L"Failed to create main message window.");
    return 1;
  }
  app.trayOwner = CreateWindowExW(0, kTrayOwnerClass, L"Vistrel UI Owner", WS_OVERLAPPEDWINDOW,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                  nullptr, nullptr, instance, nullptr);
  if (!app.trayOwner) {
    ShowError(L"Failed to create tray owner window.");
    return 1;
  }
  SetPickerOwner(app.trayOwner);
  SetScreenReaderWindow(app.trayOwner);
  StartRecovery();

  if (LiveConfig().PlayStartupSound) PlaySoundSync(L"startup.wav");
  // Read once the tray icon is there: a file that cannot be used is told with a balloon.
  TrackStore::Instance().Load();

  const int code = RunMessageLoop();
  // A screenshot being written is finished: cut off, it would leave an empty file.
  if (!WaitForScreenshotSaves(kScreenshotSavesAtExit)) {
    LogMessage(L"[WARNING] A screenshot was still being saved when the program had to exit.");
    gdiplus.Abandon();
  }
  ShutdownScreenReader();
  ShutdownSounds();
  ShutdownUiTasks();
  return code;
}

}  // namespace
}  // namespace vistrel

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) { return vistrel::Run(instance); }
