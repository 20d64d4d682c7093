#include "core/screen_reader.h"

#include <oleauto.h>
#include <wrl/client.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "core/com_apartment.h"
#include "core/handles.h"
#include "core/jaws_client.h"
#include "core/log.h"
#include "core/no_destructor.h"
#include "core/nvda_client.h"
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

struct Announcement {
  std::wstring speech;
  std::wstring braille;
};

// One thread that makes the announcements in order. Never destroyed: at exit it may still be in a
// call to a screen reader that does not answer, and it must not outlive its own state.
class Announcer {
 public:
  void Post(Announcement announcement) {
    std::lock_guard guard(lock_);
    if (stopping_) return;
    // A screen reader that hangs must not make the queue grow without end.
    if (queue_.size() >= kMaxQueued) queue_.pop_front();
    queue_.push_back(std::move(announcement));
    if (!running_) {
      try {
        std::thread(&Announcer::Run, this).detach();
        running_ = true;
      } catch (const std::system_error&) {
        LogMessage(L"Screen reader: [ERROR] The announcer's thread could not be started.");
        queue_.clear();
        return;
      }
    }
    wake_.notify_one();
  }

  void Shutdown(std::chrono::milliseconds limit) {
    std::unique_lock guard(lock_);
    stopping_ = true;
    queue_.clear();
    wake_.notify_all();
    ended_.wait_for(guard, limit, [this] { return !running_; });
  }

 private:
  static constexpr std::size_t kMaxQueued = 16;

  void Run() {
    {
      const ComApartment com;  // the JAWS object is apartment-threaded
      NvdaClient nvda;
      JawsClient jaws;
      for (;;) {
        Announcement next;
        {
          std::unique_lock guard(lock_);
          wake_.wait(guard, [this] { return stopping_ || !queue_.empty(); });
          if (stopping_) break;
          next = std::move(queue_.front());
          queue_.pop_front();
        }
        if (g_enabled.load()) Deliver(next, nvda, jaws);
      }
    }
    std::lock_guard guard(lock_);
    running_ = false;
    ended_.notify_all();
  }

  // Exactly one channel speaks each announcement: the first that takes it.
  static void Deliver(const Announcement& announcement, NvdaClient& nvda, JawsClient& jaws) {
    if (nvda.Running()) {
      const unsigned long status = nvda.Speak(announcement.speech);
      if (status == 0) {
        nvda.Braille(announcement.braille);
        LogMessage(L"Screen reader: spoken through NVDA.");
        return;
      }
      LogMessage(L"Screen reader: NVDA did not take the announcement (RPC error " + std::to_wstring(status) + L").");
    }
    if (JawsRunning()) {
      if (jaws.Say(announcement.speech)) {
        jaws.Braille(announcement.braille);
        LogMessage(L"Screen reader: spoken through JAWS.");
        return;
      }
      LogMessage(L"Screen reader: JAWS did not take the announcement.");
    }
    if (!g_window.load()) return;
    LogMessage(L"Screen reader: raised as a UI Automation notification.");
    PostUiTask([speech = announcement.speech] { RaiseOnUiThread(speech); });
  }

  std::mutex lock_;
  std::condition_variable wake_;
  std::condition_variable ended_;
  std::deque<Announcement> queue_;
  bool running_ = false;
  bool stopping_ = false;
};

Announcer& TheAnnouncer() {
  static NoDestructor<Announcer> announcer;
  return *announcer;
}

}  // namespace

void SetScreenReaderNotifications(bool enabled) { g_enabled.store(enabled); }

void SetScreenReaderWindow(HWND window) { g_window.store(window); }

void AnnounceToScreenReader(const std::wstring& title, const std::wstring& text) {
  if (!g_enabled.load() || (title.empty() && text.empty())) return;
  TheAnnouncer().Post({AnnouncementFor(title, text), BrailleFor(title, text)});
}

void ShutdownScreenReader(std::chrono::milliseconds limit) { TheAnnouncer().Shutdown(limit); }

std::wstring AnnouncementFor(const std::wstring& title, const std::wstring& text) {
  if (title.empty()) return text;
  if (text.empty()) return title;
  return title + L". " + text;
}

std::wstring BrailleFor(const std::wstring& title, const std::wstring& text) {
  if (title.empty()) return text;
  if (text.empty()) return title;
  return title + L": " + text;
}

}  // namespace vistrel
