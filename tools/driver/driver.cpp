// vistrel-driver: drives Vistrel from inside the same Wine prefix for the end-to-end tests.
//
//   vistrel-driver wait-window CLASS [--message-only] [--visible] [--timeout MS]
//                                                                       prints the handle when found
//                                                                       (and shown, with --visible)
//   vistrel-driver wait-gone CLASS [--message-only] [--timeout MS]     waits until no such window
//   vistrel-driver post CLASS MSG WPARAM LPARAM [--message-only]       PostMessage to the window
//   vistrel-driver keys COMBO...                                       SendInput, e.g. ctrl+shift+f5
//   vistrel-driver hold-hotkey MODIFIERS VK SECONDS                      keeps a hotkey registered
//   vistrel-driver hold-clipboard SECONDS                               keeps the clipboard open
//   vistrel-driver tooltips                                             every tooltip text, one a line;
//                                                                       balloon titles as "[title] ..."
//   vistrel-driver program CLASS [--message-only]                      the full path of the program
//                                                                       that owns the window
//   vistrel-driver remove-tray-icon HWND ID                              removes a dead program's icon
//   vistrel-driver latency CLASS [--message-only] --timeout MS         how fast the window's thread
//                                                                       answers, for MS milliseconds
//   (mouse commands: driver_mouse.cpp; test windows: driver_windows.cpp; dialog controls:
//   driver_dialogs.cpp; audio endpoints: driver_devices.cpp)
//
// --title TITLE narrows a window lookup to that title. Numbers take C syntax (0x8001, 13). Exit code 0 on success, 1 on time-out or failure, 2 on bad use.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <memory>
#include <string>
#include <vector>

#include "driver.h"

namespace {

Options Parse(int argc, wchar_t** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (arg == L"--message-only") {
      options.messageOnly = true;
    } else if (arg == L"--visible") {
      options.visible = true;
    } else if (arg == L"--title" && i + 1 < argc) {
      options.title = argv[++i];
      options.hasTitle = true;
    } else if (arg == L"--timeout" && i + 1 < argc) {
      options.timeoutMs = static_cast<DWORD>(std::wcstoul(argv[++i], nullptr, 0));
    } else {
      options.words.push_back(arg);
    }
  }
  return options;
}

HWND Find(const Options& o) {
  return FindWindowExW(o.messageOnly ? HWND_MESSAGE : nullptr, nullptr, o.words[1].c_str(),
                       o.hasTitle ? o.title.c_str() : nullptr);
}

int WaitWindow(const Options& o, bool wantPresent) {
  const ULONGLONG deadline = GetTickCount64() + o.timeoutMs;
  for (;;) {
    HWND window = Find(o);
    if (wantPresent && window && (!o.visible || IsWindowVisible(window))) {
      RECT r{};
      GetWindowRect(window, &r);
      std::wprintf(L"0x%llx %ld %ld %ld %ld\n", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(window)),
                   r.left, r.top, r.right, r.bottom);
      return 0;
    }
    if (!wantPresent && !window) return 0;
    if (GetTickCount64() >= deadline) return 1;
    Sleep(50);
  }
}


int Post(const Options& o) {
  if (o.words.size() != 5) return 2;
  HWND window = Find(o);
  if (!window) {
    std::fwprintf(stderr, L"no window of class %ls\n", o.words[1].c_str());
    return 1;
  }
  return PostMessageW(window, static_cast<UINT>(Number(o.words[2])), Number(o.words[3]),
                      static_cast<LPARAM>(Number(o.words[4])))
             ? 0
             : 1;
}

// "ctrl+alt+shift+f5", "enter", "esc", "tab", "0x28".
bool KeyCodes(const std::wstring& combo, std::vector<WORD>& codes) {
  size_t start = 0;
  while (start <= combo.size()) {
    size_t end = combo.find(L'+', start);
    if (end == std::wstring::npos) end = combo.size();
    std::wstring name = combo.substr(start, end - start);
    for (auto& c : name) c = static_cast<wchar_t>(std::towlower(c));
    WORD vk = 0;
    if (name == L"ctrl") vk = VK_CONTROL;
    else if (name == L"alt") vk = VK_MENU;
    else if (name == L"shift") vk = VK_SHIFT;
    else if (name == L"enter") vk = VK_RETURN;
    else if (name == L"esc" || name == L"escape") vk = VK_ESCAPE;
    else if (name == L"tab") vk = VK_TAB;
    else if (name.size() >= 2 && name[0] == L'f' && std::iswdigit(name[1])) vk = static_cast<WORD>(VK_F1 + std::wcstoul(name.c_str() + 1, nullptr, 10) - 1);
    else if (name.rfind(L"0x", 0) == 0) vk = static_cast<WORD>(std::wcstoul(name.c_str(), nullptr, 16));
    if (vk == 0) return false;
    codes.push_back(vk);
    start = end + 1;
  }
  return !codes.empty();
}

int Keys(const Options& o) {
  for (size_t i = 1; i < o.words.size(); ++i) {
    std::vector<WORD> codes;
    if (!KeyCodes(o.words[i], codes)) {
      std::fwprintf(stderr, L"unknown key combination %ls\n", o.words[i].c_str());
      return 2;
    }
    // Each key down in order, then up in the reverse order.
    std::vector<INPUT> inputs(codes.size() * 2);
    for (size_t k = 0; k < codes.size(); ++k) {
      INPUT& down = inputs[k];
      INPUT& up = inputs[inputs.size() - 1 - k];
      down.type = up.type = INPUT_KEYBOARD;
      down.ki.wVk = up.ki.wVk = codes[k];
      up.ki.dwFlags = KEYEVENTF_KEYUP;
    }
    // Wine refuses input now and then while another process changes the foreground; nothing was
    // sent then, so the whole combination can be sent again.
    UINT sent = 0;
    for (int attempt = 0; attempt < 10 && sent == 0; ++attempt) {
      if (attempt > 0) Sleep(200);
      sent = SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
    }
    if (sent != inputs.size()) {
      std::fwprintf(stderr, L"SendInput sent %u of %zu events (error %lu)\n", sent, inputs.size(), GetLastError());
      return 1;
    }
    Sleep(100);
  }
  return 0;
}

// Prints "held" and keeps this process, and what it holds, for SECONDS while answering messages.
int Hold(const std::wstring& seconds) {
  std::wprintf(L"held\n");
  std::fflush(stdout);
  const ULONGLONG deadline = GetTickCount64() + Number(seconds) * 1000;
  while (GetTickCount64() < deadline) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    Sleep(50);
  }
  return 0;
}

// Registers a hotkey for this process and keeps it for a while, so that another program cannot.
int HoldHotkey(const Options& o) {
  if (o.words.size() != 4) return 2;
  if (!RegisterHotKey(nullptr, 1, static_cast<UINT>(Number(o.words[1])), static_cast<UINT>(Number(o.words[2])))) {
    std::fwprintf(stderr, L"could not register the hotkey\n");
    return 1;
  }
  return Hold(o.words[3]);
}

// A program that keeps the clipboard open, as a stuck clipboard manager does.
int HoldClipboard(const Options& o) {
  if (o.words.size() != 2) return 2;
  // Opened for a window: Wine lets a second opener without a window in while the first has none.
  HWND owner = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  if (!OpenClipboard(owner)) {
    std::fwprintf(stderr, L"could not open the clipboard\n");
    return 1;
  }
  return Hold(o.words[1]);
}

// Tooltip controls belong to other processes (the notification area's among them), so their
// texts are read through memory allocated in the owner process: a TTTOOLINFOW or TTGETTITLE at its
// start, pointing at the text buffer behind it.
constexpr SIZE_T kTextChars = 1024;

std::wstring ReadText(const RemoteBuffer& remote) {
  std::wstring text(kTextChars, L'\0');
  remote.read(sizeof(TTTOOLINFOW), text.data(), (kTextChars - 1) * sizeof(wchar_t));
  text.resize(std::wcslen(text.c_str()));
  return text;
}

BOOL CALLBACK PrintTooltips(HWND window, LPARAM) {
  wchar_t cls[64] = {};
  GetClassNameW(window, cls, 64);
  if (std::wstring(cls) != TOOLTIPS_CLASSW) return TRUE;
  const RemoteBuffer remote(window, sizeof(TTTOOLINFOW) + kTextChars * sizeof(wchar_t));
  if (!remote.ok()) return TRUE;
  auto* text = reinterpret_cast<wchar_t*>(remote.at(sizeof(TTTOOLINFOW)));
  const std::wstring zero(kTextChars, L'\0');
  const auto count = static_cast<UINT>(SendMessageW(window, TTM_GETTOOLCOUNT, 0, 0));
  for (UINT i = 0; i < count; ++i) {
    TTTOOLINFOW info{};
    info.cbSize = sizeof info;
    info.lpszText = text;
    remote.write(sizeof(TTTOOLINFOW), zero.data(), kTextChars * sizeof(wchar_t));
    remote.write(0, &info, sizeof info);
    if (!SendMessageW(window, TTM_ENUMTOOLSW, i, reinterpret_cast<LPARAM>(remote.at(0)))) continue;
    remote.write(0, &info, sizeof info);
    SendMessageW(window, TTM_GETTEXTW, kTextChars, reinterpret_cast<LPARAM>(remote.at(0)));
    const std::wstring tip = ReadText(remote);
    if (!tip.empty()) PrintUtf8Line(tip.c_str());
  }
  // A balloon's title, which a tooltip keeps apart from its text.
  const TTGETTITLE title{sizeof(TTGETTITLE), 0, kTextChars, text};
  remote.write(sizeof(TTTOOLINFOW), zero.data(), kTextChars * sizeof(wchar_t));
  remote.write(0, &title, sizeof title);
  SendMessageW(window, TTM_GETTITLE, 0, reinterpret_cast<LPARAM>(remote.at(0)));
  if (const std::wstring read = ReadText(remote); !read.empty()) PrintUtf8Line((L"[title] " + read).c_str());
  return TRUE;
}

int Tooltips() {
  EnumWindows(PrintTooltips, 0);
  return 0;
}

int Program(const Options& o) {
  HWND window = Find(o);
  DWORD processId = 0;
  if (!window || !GetWindowThreadProcessId(window, &processId)) return 1;
  const std::unique_ptr<void, decltype(&CloseHandle)> process(
      OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId), &CloseHandle);
  std::wstring path(32768, L'\0');
  DWORD size = static_cast<DWORD>(path.size());
  if (!process || !QueryFullProcessImageNameW(process.get(), 0, path.data(), &size)) return 1;
  path.resize(size);
  PrintUtf8Line(path.c_str());
  return 0;
}

// Removes a notification-area icon by its owner window and identifier: the icon a killed program
// leaves behind (the shell does not notice that its window went with the process).
int RemoveTrayIcon(const Options& o) {
  if (o.words.size() != 3) return 2;
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = reinterpret_cast<HWND>(Number(o.words[1]));
  data.uID = static_cast<UINT>(Number(o.words[2]));
  return Shell_NotifyIconW(NIM_DELETE, &data) ? 0 : 1;
}

// How long the window's thread takes to answer, asked over and over for --timeout milliseconds:
// prints "watching" at once and "answers N slowest MS mean MS" at the end. A thread that does not answer within ten seconds counts
// as that slow.
int Latency(const Options& o) {
  HWND window = Find(o);
  if (!window) {
    std::fwprintf(stderr, L"no window of class %ls\n", o.words[1].c_str());
    return 1;
  }
  LARGE_INTEGER frequency{};
  QueryPerformanceFrequency(&frequency);
  PrintUtf8Line(L"watching");
  const ULONGLONG deadline = GetTickCount64() + o.timeoutMs;
  double slowest = 0.0;
  double total = 0.0;
  int answers = 0;
  while (GetTickCount64() < deadline && IsWindow(window)) {
    LARGE_INTEGER before{};
    LARGE_INTEGER after{};
    QueryPerformanceCounter(&before);
    DWORD_PTR result = 0;
    SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &result);
    QueryPerformanceCounter(&after);
    const double ms = static_cast<double>(after.QuadPart - before.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
    slowest = ms > slowest ? ms : slowest;
    total += ms;
    ++answers;
    Sleep(10);
  }
  std::wprintf(L"answers %d slowest %.1f mean %.1f\n", answers, slowest, answers ? total / answers : 0.0);
  return 0;
}

}  // namespace

UINT_PTR Number(const std::wstring& text) {
  return static_cast<UINT_PTR>(std::wcstoull(text.c_str(), nullptr, 0));
}

void PrintUtf8Line(const wchar_t* text) {
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 1) return;
  std::string utf8(static_cast<size_t>(bytes - 1), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), bytes, nullptr, nullptr);
  utf8 += "\n";
  std::fflush(stdout);
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

int wmain(int argc, wchar_t** argv) {
  const Options o = Parse(argc, argv);
  if (o.words.empty()) return 2;
  const std::wstring& verb = o.words[0];
  if (verb == L"wait-window" && o.words.size() == 2) return WaitWindow(o, true);
  if (verb == L"wait-gone" && o.words.size() == 2) return WaitWindow(o, false);
  if (verb == L"post") return Post(o);
  if (verb == L"keys" && o.words.size() >= 2) return Keys(o);
  if (verb == L"hold-hotkey") return HoldHotkey(o);
  if (verb == L"hold-clipboard") return HoldClipboard(o);
  if (verb == L"tooltips") return Tooltips();
  if (verb == L"latency" && o.words.size() == 2) return Latency(o);
  if (verb == L"remove-tray-icon") return RemoveTrayIcon(o);
  if (verb == L"program" && o.words.size() == 2) return Program(o);
  if (const int code = RunMouseCommand(o); code >= 0) return code;
  if (const int code = RunWindowCommand(o); code >= 0) return code;
  if (const int code = RunDeviceCommand(o); code >= 0) return code;
  if (const int code = RunDialogCommand(o); code >= 0) return code;
  if (const int code = RunCertificateCommand(o); code >= 0) return code;
  std::fwprintf(stderr, L"usage: vistrel-driver wait-window|wait-gone|post|keys|hold-hotkey|tooltips ...\n");
  return 2;
}
