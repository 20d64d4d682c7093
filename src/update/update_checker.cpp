#include "update/update_checker.h"

#include <shellapi.h>
#include <wininet.h>

#include <optional>
#include <string>
#include <thread>

#include "core/maker.h"
#include "core/handles.h"
#include "core/log.h"
#include "i18n/tr.h"
#include "update/update_reply.h"
#include "version.h"

namespace vistrel {
namespace {

struct InternetHandleTraits {
  using Handle = HINTERNET;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { InternetCloseHandle(h); }
};
using UniqueInternet = UniqueHandle<InternetHandleTraits>;

// Long enough for a slow server, short enough that a dead network does not keep a thread forever.
constexpr DWORD kTimeoutMs = 15000;

const wchar_t* const kCouldNotConnect =
    N_(L"Could not connect to the update server. Please check your internet connection.");

struct Check {
  HWND owner;
  bool silent;

  // A box that only a manual check shows.
  void Report(const wchar_t* title, const std::wstring& text, UINT icon) const {
    if (silent) {
      LogMessage(L"Update check: \"" + std::wstring(title) + L"\" is not shown after a silent check.");
      return;
    }
    MessageBoxW(owner, text.c_str(), tr(title).c_str(), MB_OK | icon);
  }
  void Fail(const wchar_t* msgid) const { Report(N_(L"Update Error"), tr(msgid), MB_ICONERROR); }
};

std::wstring EnvironmentValue(const wchar_t* name) {
  const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return {};
  std::wstring value(size, L'\0');
  value.resize(GetEnvironmentVariableW(name, value.data(), size));
  return value;
}

// WinINet connects only when the request is sent, so an unreachable server shows up there.
bool IsConnectionFailure(DWORD error) {
  switch (error) {
    case ERROR_INTERNET_CANNOT_CONNECT:
    case ERROR_INTERNET_NAME_NOT_RESOLVED:
    case ERROR_INTERNET_TIMEOUT:
    case ERROR_INTERNET_CONNECTION_ABORTED:
    case ERROR_INTERNET_CONNECTION_RESET:
      return true;
    default:
      return false;
  }
}

// The reply, read in pieces of up to 4095 bytes until the server stops or the limit is passed;
// `complete` tells whether it ended within the limit.
std::string ReadReply(HINTERNET request, bool& complete) {
  std::string reply;
  char piece[4095];
  DWORD read = 0;
  complete = true;
  while (InternetReadFile(request, piece, sizeof piece, &read) && read > 0) {
    reply.append(piece, read);
    if (reply.size() > kMaxUpdateReplyBytes) {
      complete = false;
      reply.resize(kMaxUpdateReplyBytes);
      break;
    }
  }
  return reply;
}

void OpenDownloadPage() {
  const std::wstring page = std::wstring(maker::kWebsite) + L"/software/" + kUpdateProgramCode;
  ShellExecuteW(nullptr, L"open", page.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void ShowVerdict(const Check& check, const UpdateVerdict& verdict) {
  switch (verdict.kind) {
    case UpdateVerdict::Kind::kEmptyReply:
      check.Report(N_(L"Update Error"), tr(L"Received an empty response from the update server."), MB_ICONWARNING);
      break;
    case UpdateVerdict::Kind::kServerError:
      check.Report(N_(L"Update Check Failed"),
                   verdict.message.empty() ? tr(L"An unknown error occurred on the server.") : verdict.message,
                   MB_ICONWARNING);
      break;
    case UpdateVerdict::Kind::kUpToDate:
      check.Report(N_(L"No Updates Available"), tr(L"You are using the latest version of Vistrel."),
                   MB_ICONINFORMATION);
      break;
    case UpdateVerdict::Kind::kUpdateAvailable: {
      // One literal: the message extractor does not join wide literals.
      const std::wstring text = tr(
          L"A new version of Vistrel is available!\n\n  Your Version: %s\n  Latest Version: %s\n\nWould you like to visit the download page now?",
          VISTREL_VERSION_WTEXT, verdict.latestVersion);
      if (MessageBoxW(check.owner, text.c_str(), tr(L"Update Available").c_str(),
                      MB_YESNO | MB_ICONINFORMATION) == IDYES) {
        OpenDownloadPage();
      }
      break;
    }
  }
}

void RunCheck(Check check) {
  const std::optional<UpdateServer> server =
      ChooseUpdateServer(maker::kUpdateHost, EnvironmentValue(kUpdateServerVariable));
  if (!server) {
    LogMessage(L"Update check: the update server must be reached over HTTPS; request refused.");
    check.Fail(kCouldNotConnect);
    return;
  }
  UniqueInternet internet(InternetOpenW(kUpdateUserAgent, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
  if (!internet) {
    check.Fail(N_(L"Failed to initialize network connection."));
    return;
  }
  for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT}) {
    DWORD timeout = kTimeoutMs;
    InternetSetOptionW(internet.get(), option, &timeout, sizeof timeout);
  }
  UniqueInternet connection(InternetConnectW(internet.get(), server->host.c_str(), server->port, nullptr, nullptr,
                                             INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection) {
    check.Fail(kCouldNotConnect);
    return;
  }
  // Always over TLS with the certificate checked, never from the cache, and no redirects (which
  // could lead away from HTTPS).
  constexpr DWORD kFlags = INTERNET_FLAG_SECURE | INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                           INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_NO_UI;
  UniqueInternet request(HttpOpenRequestW(connection.get(), L"GET", kUpdatePath, nullptr, nullptr, nullptr, kFlags, 0));
  if (!request) {
    check.Fail(N_(L"Failed to create the update request."));
    return;
  }
  const std::wstring headers = UpdateRequestHeaders(VISTREL_VERSION_WTEXT);
  HttpAddRequestHeadersW(request.get(), headers.c_str(), static_cast<DWORD>(headers.size()),
                         HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
  if (!HttpSendRequestW(request.get(), nullptr, 0, nullptr, 0)) {
    const DWORD error = GetLastError();
    LogMessage(L"Update check: the request failed with error " + std::to_wstring(error) + L".");
    check.Fail(IsConnectionFailure(error) ? kCouldNotConnect : N_(L"Failed to send the update request to the server."));
    return;
  }
  bool complete = true;
  const std::string reply = ReadReply(request.get(), complete);
  request.reset();
  connection.reset();
  internet.reset();
  if (!complete) LogMessage(L"Update check: the reply is longer than 64 KiB and was not read further.");
  const UpdateVerdict verdict = ReadUpdateReply(reply, complete);
  LogMessage(L"Update check: reply of " + std::to_wstring(reply.size()) + L" bytes read.");
  ShowVerdict(check, verdict);
}

}  // namespace

void CheckForUpdatesAsync(HWND owner, bool silent) {
  std::thread(RunCheck, Check{owner, silent}).detach();
}

}  // namespace vistrel
