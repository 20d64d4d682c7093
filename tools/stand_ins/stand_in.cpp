// vistrel-stand-in: what Wine cannot run, behaving as Windows documents it, for the tests only.
//
//   vistrel-stand-in nvda RECORD [--endpoint NAME] [--delay-ms MS]
//       A server of NVDA's controller interface, generated from the program's own
//       nvda_controller.idl, on NAME (default: NVDA's endpoint of this session and desktop). Each
//       speakText and brailleMessage appends "operation<TAB>text" to RECORD (UTF-8); with
//       --delay-ms it first appends "pending<TAB>operation" and answers that much later.
//   vistrel-stand-in jaws RECORD
//       JAWS as a program sees it: a window of the class JFWUI2 and the scripting object
//       "FreedomSci.JawsApi" (vistrel-stand-in.dll), which appends "SayString<TAB>text" and
//       "RunFunction<TAB>call" to RECORD.
//   vistrel-stand-in block-overlay
//       A program whose hook refuses to let the free-form selection overlay be created.
//
// Each prints "ready" once in place and runs until its standard input ends (or it is killed);
// "jaws" then removes its registration.
#include <windows.h>
#include <rpc.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <mutex>
#include <string>
#include <thread>

#include "nvda_controller.h"

extern "C" void* __RPC_USER MIDL_user_allocate(size_t size) { return std::malloc(size); }
extern "C" void __RPC_USER MIDL_user_free(void* memory) { std::free(memory); }

namespace {

constexpr wchar_t kClsid[] = L"{6F1C2A54-3B7D-4E8A-9C21-5D0E7B4A9F13}";  // the DLL's object
constexpr wchar_t kProgIdKey[] = L"Software\\Classes\\FreedomSci.JawsApi";
const std::wstring kClsidKey = std::wstring(L"Software\\Classes\\CLSID\\") + kClsid;

std::wstring g_record;
DWORD g_delayMs = 0;
std::mutex g_lock;

void Record(const wchar_t* what, const wchar_t* text) {
  const std::wstring line = std::wstring(what) + L"\t" + (text ? text : L"") + L"\n";
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), utf8.data(), bytes, nullptr, nullptr);
  std::lock_guard guard(g_lock);
  HANDLE file = CreateFileW(g_record.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
  CloseHandle(file);
}

error_status_t Answer(const wchar_t* operation, const wchar_t* text) {
  if (g_delayMs) {
    Record(L"pending", operation);
    Sleep(g_delayMs);
  }
  Record(operation, text);
  return 0;
}

std::wstring Sibling(const wchar_t* name) {
  wchar_t exe[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring path = exe;
  return path.substr(0, path.find_last_of(L'\\') + 1) + name;
}

bool ServeNvda(std::wstring endpoint) {
  if (endpoint.empty()) {
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    wchar_t desktop[256] = L"Default";
    GetUserObjectInformationW(GetThreadDesktop(GetCurrentThreadId()), UOI_NAME, desktop, sizeof desktop, nullptr);
    endpoint = L"NvdaCtlr." + std::to_wstring(session) + L"." + desktop;
  }
  std::wstring protocol = L"ncalrpc";
  return RpcServerUseProtseqEpW(reinterpret_cast<RPC_WSTR>(protocol.data()), RPC_C_PROTSEQ_MAX_REQS_DEFAULT,
                                reinterpret_cast<RPC_WSTR>(endpoint.data()), nullptr) == RPC_S_OK &&
         RpcServerRegisterIf2(NvdaController_v1_0_s_ifspec, nullptr, nullptr, RPC_IF_ALLOW_LOCAL_ONLY,
                              RPC_C_LISTEN_MAX_CALLS_DEFAULT, static_cast<unsigned>(-1), nullptr) == RPC_S_OK &&
         RpcServerListen(1, RPC_C_LISTEN_MAX_CALLS_DEFAULT, TRUE) == RPC_S_OK;
}

bool SetValue(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  HKEY opened = nullptr;
  if (RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &opened, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const LSTATUS status = RegSetValueExW(opened, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(opened);
  return status == ERROR_SUCCESS;
}

// Per user, as a program without administrator rights registers it. Wine 8's COM reads classes
// from the machine's Software\Classes only, so there as well.
bool RegisterJaws(bool add) {
  bool ok = true;
  for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    RegDeleteTreeW(root, kProgIdKey);
    RegDeleteTreeW(root, kClsidKey.c_str());
    if (!add) continue;
    ok = ok && SetValue(root, std::wstring(kProgIdKey) + L"\\CLSID", nullptr, kClsid) &&
         SetValue(root, kClsidKey + L"\\InprocServer32", nullptr, Sibling(L"vistrel-stand-in.dll")) &&
         SetValue(root, kClsidKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment") &&
         SetValue(root, kClsidKey + L"\\Record", nullptr, g_record);
  }
  return ok;
}

HWND CreateJawsWindow() {
  WNDCLASSW wc{};
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"JFWUI2";
  RegisterClassW(&wc);
  return CreateWindowExW(0, L"JFWUI2", L"JAWS", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr);
}

HHOOK BlockOverlay() {
  HMODULE dll = LoadLibraryW(Sibling(L"vistrel-stand-in.dll").c_str());
  auto hook = reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(dll, "RefuseOverlayHook")));
  return hook ? SetWindowsHookExW(WH_CBT, hook, dll, 0) : nullptr;
}

// Answers messages (hooks and windows need that) until standard input ends.
void RunUntilInputEnds() {
  const DWORD thread = GetCurrentThreadId();
  std::thread([thread] {
    char buffer[64];
    DWORD read = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &read, nullptr) && read > 0) {
    }
    PostThreadMessageW(thread, WM_QUIT, 0, 0);
  }).detach();
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
}

}  // namespace

extern "C" {
error_status_t __stdcall testIfRunning(handle_t) { return 0; }
error_status_t __stdcall speakText(handle_t, const wchar_t* text) { return Answer(L"speakText", text); }
error_status_t __stdcall cancelSpeech(handle_t) { return 0; }
error_status_t __stdcall brailleMessage(handle_t, const wchar_t* text) { return Answer(L"brailleMessage", text); }
}

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  const std::wstring verb = argv[1];
  if (argc >= 3) g_record = argv[2];
  std::wstring endpoint;
  for (int i = 3; i + 1 < argc; i += 2) {
    if (std::wcscmp(argv[i], L"--endpoint") == 0) endpoint = argv[i + 1];
    if (std::wcscmp(argv[i], L"--delay-ms") == 0) g_delayMs = std::wcstoul(argv[i + 1], nullptr, 10);
  }
  MSG msg;
  PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // this thread's queue, for the quit message
  bool ready = false;
  if (verb == L"nvda" && !g_record.empty()) ready = ServeNvda(endpoint);
  if (verb == L"jaws" && !g_record.empty()) ready = RegisterJaws(true) && CreateJawsWindow();
  HHOOK hook = verb == L"block-overlay" ? BlockOverlay() : nullptr;
  if (verb == L"block-overlay") ready = hook != nullptr;
  if (!ready) {
    std::fwprintf(stderr, L"%ls: could not be set up\n", verb.c_str());
    if (verb == L"jaws") RegisterJaws(false);
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  RunUntilInputEnds();
  if (verb == L"jaws") RegisterJaws(false);
  if (hook) UnhookWindowsHookEx(hook);
  return 0;
}
