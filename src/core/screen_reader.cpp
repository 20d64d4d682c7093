#include "core/screen_reader.h"

#include <oleauto.h>
#include <wrl/client.h>

#include <atomic>
#include <memory>

#include "core/handles.h"
#include "core/log.h"
#include "core/system_error.h"
#include "core/ui_task.h"

namespace vistrel {
namespace {

// From uiautomationcore.h of Windows 10 1709 and later; declared here because the notification
// call is looked up at run time.
constexpr int kNotificationKindActionCompleted = 2;
constexpr int kNotificationProcessingImportantAll = 0;
using HostProviderFromHwndFn = HRESULT(WINAPI*)(HWND, IUnknown**);
using RaiseNotificationEventFn = HRESULT(WINAPI*)(IUnknown*, int, int, BSTR, BSTR);

inline BOOL WINAPI ReleaseLibrary(HMODULE module) { return FreeLibrary(module); }
using UniqueModule = UniqueHandle<NullHandleTraits<HMODULE, ReleaseLibrary>>;

struct BstrDeleter {
  void operator()(BSTR text) const { SysFreeString(text); }
};
using UniqueBstr = std::unique_ptr<OLECHAR, BstrDeleter>;

std::atomic<bool> g_enabled{true};
std::atomic<HWND> g_window{nullptr};

// The UI Automation entry points, resolved on first use. UI thread only.
class Notifier {
 public:
  void Raise(HWND window, const std::wstring& text) {
    if (!Resolve()) return;
    Microsoft::WRL::ComPtr<IUnknown> provider;
    HRESULT hr = hostProvider_(window, provider.GetAddressOf());
    if (FAILED(hr) || !provider) {
      ReportOnce(L"UiaHostProviderFromHwnd failed (" + HresultCode(hr) + L").");
      return;
    }
    UniqueBstr display(SysAllocString(text.c_str()));
    UniqueBstr activity(SysAllocString(L"Vistrel"));
    hr = raise_(provider.Get(), kNotificationKindActionCompleted, kNotificationProcessingImportantAll,
                display.get(), activity.get());
    if (FAILED(hr)) ReportOnce(L"UiaRaiseNotificationEvent failed (" + HresultCode(hr) + L").");
  }

 private:
  bool Resolve() {
    if (resolved_) return raise_ != nullptr;
    resolved_ = true;
    module_.reset(LoadLibraryExW(L"uiautomationcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    if (!module_) {
      ReportOnce(L"uiautomationcore.dll could not be loaded.");
      return false;
    }
    hostProvider_ = reinterpret_cast<HostProviderFromHwndFn>(
        reinterpret_cast<void*>(GetProcAddress(module_.get(), "UiaHostProviderFromHwnd")));
    raise_ = reinterpret_cast<RaiseNotificationEventFn>(
        reinterpret_cast<void*>(GetProcAddress(module_.get(), "UiaRaiseNotificationEvent")));
    if (!hostProvider_ || !raise_) {
      ReportOnce(L"uiautomationcore.dll has no UiaRaiseNotificationEvent.");
      raise_ = nullptr;
      return false;
    }
    return true;
  }

  void ReportOnce(const std::wstring& reason) {
    if (reported_) return;
    reported_ = true;
    LogMessage(L"Screen reader notifications are not available: " + reason);
  }

  UniqueModule module_;
  HostProviderFromHwndFn hostProvider_ = nullptr;
  RaiseNotificationEventFn raise_ = nullptr;
  bool resolved_ = false;
  bool reported_ = false;
};

void RaiseOnUiThread(const std::wstring& text) {
  HWND window = g_window.load();
  if (!g_enabled.load() || !window || !IsWindow(window)) return;
  static Notifier notifier;
  notifier.Raise(window, text);
}

}  // namespace

void SetScreenReaderNotifications(bool enabled) { g_enabled.store(enabled); }

void SetScreenReaderWindow(HWND window) { g_window.store(window); }

void AnnounceToScreenReader(const std::wstring& text) {
  if (!g_enabled.load() || !g_window.load() || text.empty()) return;
  PostUiTask([text] { RaiseOnUiThread(text); });
}

std::wstring AnnouncementFor(const std::wstring& title, const std::wstring& text) {
  if (title.empty()) return text;
  if (text.empty()) return title;
  return title + L". " + text;
}

}  // namespace vistrel
