#include "capture/capture_output.h"

#include <objidl.h>
#include <gdiplus.h>
#include <knownfolders.h>
#include <process.h>
#include <shlobj.h>
#include <wrl/client.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "capture/capture_naming.h"
#include "capture/freeform.h"
#include "capture/screen_capture.h"
#include "capture/window_capture.h"
#include "config/app_config.h"
#include "core/balloon.h"
#include "core/com_apartment.h"
#include "core/file_names.h"
#include "core/handles.h"
#include "core/log.h"
#include "core/no_destructor.h"
#include "core/sound.h"
#include "core/system_error.h"
#include "core/ui_task.h"
#include "core/unique_file.h"
#include "i18n/text_format.h"
#include "i18n/tr.h"

using Microsoft::WRL::ComPtr;

namespace vistrel {
namespace {

struct CaptureRequest {
  std::uint32_t type;
  HWND target;
};

// What became of one capture's outputs. It is announced once every output is done, so the user
// hears the capture sound only for a capture that went where it was meant to go.
struct CaptureOutcome {
  std::uint32_t type = 0;
  bool copied = false;  // true only when the clipboard was asked for and holds the picture
  bool saved = false;   // true only when a file was asked for and written
  std::vector<CaptureFailure> failures;
};

// A picture to encode as PNG and write to its claimed file, on a worker.
struct SaveJob {
  UniqueBitmap bitmap;
  std::wstring path;
  CaptureOutcome outcome;
};

// The saves still running, so that an exit can wait for them.
class SavesInProgress {
 public:
  void Begin() {
    std::lock_guard guard(lock_);
    ++count_;
  }
  void End() {
    std::lock_guard guard(lock_);
    if (--count_ == 0) done_.notify_all();
  }
  bool WaitAll(std::chrono::milliseconds limit) {
    std::unique_lock guard(lock_);
    return done_.wait_for(guard, limit, [this] { return count_ == 0; });
  }

 private:
  std::mutex lock_;
  std::condition_variable done_;
  int count_ = 0;
};

SavesInProgress& Saves() {
  static NoDestructor<SavesInProgress> saves;  // outlives a save still running at exit
  return *saves;
}

constexpr const wchar_t* kPngFailure =
    N_(L"The picture could not be converted to PNG, so it was not saved. Try again; if it keeps failing, restart "
       "Vistrel.");

constexpr wchar_t kCaptureFailedSound[] = L"capture_failed.wav";
constexpr wchar_t kSaveFailedSound[] = L"save_failed.wav";
constexpr wchar_t kClipboardFailedSound[] = L"clipboard_failed.wav";

CaptureFailure FolderFailure(const std::wstring& folder, DWORD error) {
  return {kSaveFailedSound,
          N_(L"The picture could not be saved in %s: %s Choose another screenshot folder in the settings."),
          folder, SystemErrorText(error)};
}

void Announce(const CaptureOutcome& outcome);

// Runs `work` with ownership of `job` on a new thread whose handle is closed at once.
template <typename Job>
bool StartDetachedThread(std::unique_ptr<Job> job, unsigned(__stdcall* work)(void*)) {
  const uintptr_t handle = _beginthreadex(nullptr, 0, work, job.get(), 0, nullptr);
  if (handle == 0) return false;
  job.release();  // the thread owns it now
  CloseHandle(reinterpret_cast<HANDLE>(handle));
  return true;
}

HBITMAP CaptureByType(std::uint32_t type, HWND target, bool& cancelled) {
  switch (type) {
    case kCaptureFullScreen:
    case kCaptureTrayFullScreen:
      return CaptureScreen();
    case kCaptureActiveWindow:
      return CaptureActiveWindow(&cancelled);
    case kCaptureKeyboardControl:
      return CaptureKeyboardFocusedControl();
    case kCaptureMouseControl:
      return CaptureMouseFocusedControl();
    case kCaptureTrayPickedWindow:
      return target ? CaptureWindowWithPopups(target, nullptr) : nullptr;
    default:
      return nullptr;
  }
}

// Hands a picture to the UI thread for its outputs.
void Deliver(UniqueBitmap bitmap, std::uint32_t type) {
  PostUiTask([bitmap = std::move(bitmap), type]() mutable { ProcessCapture(std::move(bitmap), type); });
}

// Nothing was captured: the failure sound and what to do.
void AnnounceNothingCaptured(std::uint32_t type) {
  CaptureOutcome outcome{type};
  outcome.failures.push_back(
      {kCaptureFailedSound,
       N_(L"Nothing was captured: the screen, window or control could not be read. Bring what you want "
          "to capture to the front, give it the focus and try again.")});
  PostUiTask([outcome = std::move(outcome)] { Announce(outcome); });
}

unsigned __stdcall CaptureWorker(void* param) {
  std::unique_ptr<CaptureRequest> request(static_cast<CaptureRequest*>(param));
  Sleep(300);
  bool cancelled = false;
  UniqueBitmap bitmap(CaptureByType(request->type, request->target, cancelled));
  if (bitmap) {
    Deliver(std::move(bitmap), request->type);
  } else if (!cancelled) {
    AnnounceNothingCaptured(request->type);
  }
  return 0;
}

// Encodes the picture and writes it; the outcome goes back to the UI thread to be announced.
void Save(SaveJob& job) {
  ComPtr<IStream> stream;
  const HRESULT encoded = EncodeBitmapToPngStream(static_cast<HBITMAP>(job.bitmap.get()), stream.GetAddressOf());
  job.bitmap.reset();
  SetLastError(ERROR_SUCCESS);
  if (encoded != S_OK) {
    LogMessage(L"Capture: [ERROR] Could not encode the capture as PNG.");
    DeleteFileW(job.path.c_str());  // the claimed name stays free
    job.outcome.failures.push_back({kSaveFailedSound, kPngFailure});
  } else if (SaveStreamToFile(job.path, stream.Get())) {
    job.outcome.saved = true;
  } else {
    const DWORD error = GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
    LogMessage(L"Capture: [ERROR] Failed to write '" + job.path + L"'. Error: " + SystemErrorText(error));
    DeleteFileW(job.path.c_str());  // nothing half written stays behind
    const auto slash = job.path.find_last_of(L'\\');
    job.outcome.failures.push_back(FolderFailure(job.path.substr(0, slash), error));
  }
}

unsigned __stdcall SaveWorker(void* param) {
  std::unique_ptr<SaveJob> job(static_cast<SaveJob*>(param));
  {
    const ComApartment com;
    Save(*job);
  }
  PostUiTask([outcome = std::move(job->outcome)] { Announce(outcome); });
  Saves().End();
  return 0;
}

const std::wstring& CaptureSound(const SoundEffects& sounds, std::uint32_t type) {
  switch (type) {
    case kCaptureFullScreen:
    case kCaptureTrayFullScreen:
      return sounds.CaptureFullscreen;
    case kCaptureActiveWindow:
    case kCaptureTrayPickedWindow:
      return sounds.CaptureWindow;
    case kCaptureKeyboardControl:
      return sounds.CaptureKeyboard;
    case kCaptureMouseControl:
      return sounds.CaptureMouse;
    default:
      return sounds.CaptureFreeform;
  }
}

bool FindPngEncoder(CLSID& clsid) {
  UINT count = 0;
  UINT size = 0;
  if (Gdiplus::GetImageEncodersSize(&count, &size) != Gdiplus::Ok || size == 0) return false;
  std::vector<BYTE> buffer(size);
  auto* encoders = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
  if (Gdiplus::GetImageEncoders(count, size, encoders) != Gdiplus::Ok) return false;
  for (UINT i = 0; i < count; ++i) {
    if (encoders[i].MimeType && std::wstring(encoders[i].MimeType) == L"image/png") {
      clsid = encoders[i].Clsid;
      return true;
    }
  }
  return false;
}


// The screenshot folder, created when missing; empty on failure, with `failure` saying why.
std::wstring ScreenshotFolder(CaptureFailure& failure) {
  std::wstring folder = ConfigSnapshot().ScreenshotPath;
  if (!folder.empty()) {
    LogMessage(L"Capture: Using configured screenshot path: " + folder);
  } else {
    LogMessage(L"Capture: Configured screenshot path is empty. Falling back to default Pictures folder.");
    CoTaskMem<wchar_t> pictures;
    if (FAILED(SHGetKnownFolderPath(FOLDERID_Pictures, 0, nullptr, pictures.put())) || !pictures.get()) {
      LogMessage(L"Capture: [ERROR] Failed to get user's Pictures directory path.");
      failure = {kSaveFailedSound, N_(L"Failed to get user's Pictures folder path.")};
      return {};
    }
    folder = std::wstring(pictures.get()) + L"\\Vistrel";
  }
  if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    const DWORD error = GetLastError();
    LogMessage(L"Capture: [ERROR] Failed to create directory '" + folder + L"'. Error: " + SystemErrorText(error));
    failure = FolderFailure(folder, error);
    return {};
  }
  return folder;
}

std::wstring ForegroundTitle() {
  HWND foreground = GetForegroundWindow();
  if (!foreground) return L"ActiveWindow";
  wchar_t title[256] = {};
  GetWindowTextW(foreground, title, 256);
  return title;
}

void Announce(const CaptureOutcome& outcome) {
  const AppConfig config = ConfigSnapshot();
  if (outcome.failures.empty()) {
    if (config.PlayCaptureSound) PlaySoundAsync(CaptureSound(config.Sounds, outcome.type));
    ShowCaptureNotification(outcome.type);
    return;
  }
  // What did work is said first, then every failure with what to do about it.
  std::wstring text;
  if (outcome.saved) text = tr(L"Saved to file.") + L" ";
  if (outcome.copied) text += tr(L"Copied to clipboard.") + L" ";
  for (const CaptureFailure& failure : outcome.failures) {
    LogMessage(L"Capture: Failed: " + FormatText(failure.msgid, std::array<FormatArg, 2>{
                                                                     FormatArg(failure.first), FormatArg(failure.second)}));
    text += tr(failure.msgid, failure.first, failure.second) + L" ";
  }
  if (config.PlayCaptureSound) PlaySoundAsync(outcome.failures.front().sound);
  ShowBalloon(tr(L"Capture Failed"), text.substr(0, text.size() - 1));
}

}  // namespace

void StartCapture(std::uint32_t type, HWND target) {
  if (type == kCaptureFreeForm || type == kCaptureTrayFreeForm) {
    StartFreeformCapture(GetModuleHandleW(nullptr),
                         [](UniqueBitmap picture) { Deliver(std::move(picture), kCaptureFreeForm); },
                         [] { AnnounceNothingCaptured(kCaptureFreeForm); });
    return;
  }
  StartDetachedThread(std::make_unique<CaptureRequest>(CaptureRequest{type, target}), CaptureWorker);
}

void ProcessCapture(UniqueBitmap owned, std::uint32_t type) {
  if (!owned) {
    LogMessage(L"ProcessCapture received a NULL bitmap.");
    return;
  }
  const AppConfig config = ConfigSnapshot();
  const bool save = config.OutputMode == 1 || config.OutputMode == 2;
  const bool clip = config.OutputMode == 0 || config.OutputMode == 2;
  CaptureOutcome outcome{type};
  std::wstring path;
  UniqueBitmap forFile;  // the worker's own picture: the clipboard takes the other
  if (save) {
    CaptureFailure failure;
    path = BuildCaptureSavePath(type, &failure);
    if (path.empty()) {
      outcome.failures.push_back(std::move(failure));
    } else if (!clip) {
      forFile = std::move(owned);
    } else if (!(forFile = UniqueBitmap(CopyImage(owned.get(), IMAGE_BITMAP, 0, 0, 0)))) {
      LogMessage(L"Capture: [ERROR] Could not copy the capture for its file.");
      DeleteFileW(path.c_str());
      path.clear();
      outcome.failures.push_back({kSaveFailedSound, kPngFailure});
    }
  }
  if (clip) {
    if (CopyBitmapToClipboard(static_cast<HBITMAP>(owned.release()))) {
      outcome.copied = true;
    } else {
      outcome.failures.push_back({kClipboardFailedSound,
                                  N_(L"Another program is using the clipboard, so the picture was not copied. Try "
                                     "again in a moment.")});
    }
  }
  if (path.empty()) {
    Announce(outcome);
    return;
  }
  // The picture is encoded and written on a worker, which announces the whole outcome when done.
  auto job = std::make_unique<SaveJob>(SaveJob{std::move(forFile), path, outcome});
  Saves().Begin();
  if (!StartDetachedThread(std::move(job), SaveWorker)) {
    const DWORD error = GetLastError();
    Saves().End();
    DeleteFileW(path.c_str());
    outcome.failures.push_back(FolderFailure(path.substr(0, path.find_last_of(L'\\')), error));
    Announce(outcome);
  }
}

bool WaitForScreenshotSaves(std::chrono::milliseconds limit) { return Saves().WaitAll(limit); }

HRESULT EncodeBitmapToPngStream(HBITMAP bitmap, IStream** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!bitmap) return E_INVALIDARG;
  std::unique_ptr<Gdiplus::Bitmap> image(Gdiplus::Bitmap::FromHBITMAP(bitmap, nullptr));
  if (!image || image->GetLastStatus() != Gdiplus::Ok) return E_FAIL;
  CLSID png{};
  if (!FindPngEncoder(png)) return E_FAIL;
  ComPtr<IStream> stream;
  const HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, stream.GetAddressOf());
  if (FAILED(hr)) return hr;
  if (image->Save(stream.Get(), &png, nullptr) != Gdiplus::Ok) return E_FAIL;
  const LARGE_INTEGER start{};
  stream->Seek(start, STREAM_SEEK_SET, nullptr);
  *out = stream.Detach();
  return S_OK;
}

bool SaveStreamToFile(const std::wstring& path, IStream* stream) {
  if (!stream) return false;
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  STATSTG stat{};
  if (FAILED(stream->Stat(&stat, STATFLAG_NONAME))) return false;
  const auto size = static_cast<ULONG>(stat.cbSize.LowPart);
  if (size == 0) return true;
  std::vector<BYTE> bytes(size);
  const LARGE_INTEGER start{};
  ULONG read = 0;
  if (FAILED(stream->Seek(start, STREAM_SEEK_SET, nullptr)) ||
      FAILED(stream->Read(bytes.data(), size, &read)) || read != size) {
    return false;
  }
  DWORD written = 0;
  return WriteFile(file.get(), bytes.data(), read, &written, nullptr) && written == read;
}

std::wstring BuildCaptureSavePath(std::uint32_t type, CaptureFailure* failure) {
  CaptureFailure why;
  const std::wstring folder = ScreenshotFolder(why);
  if (folder.empty()) {
    if (failure) *failure = std::move(why);
    return {};
  }
  const bool titled = type == kCaptureActiveWindow || type == kCaptureTrayPickedWindow;
  const std::wstring name = CaptureFileName(type, titled ? ForegroundTitle() : L"", MakeTimestamp(), folder);
  const std::wstring wanted = folder + L"\\" + name;
  const std::wstring path = ClaimNewFile(wanted);
  if (path.empty()) {
    const DWORD error = GetLastError();
    LogMessage(L"Capture: [ERROR] Failed to create '" + wanted + L"'. Error: " + SystemErrorText(error));
    if (failure) *failure = FolderFailure(folder, error);
    return {};
  }
  LogMessage(L"Capture: Generated final save path: " + path);
  return path;
}

std::wstring MakeTimestamp() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  return FormatFileTimestamp({now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond});
}

bool CopyBitmapToClipboard(HBITMAP bitmap) {
  if (!bitmap) return false;
  UniqueBitmap owned(bitmap);
  // Another program may hold the clipboard for a moment (a clipboard manager reading what changed):
  // a few short retries, then the failure is told.
  bool open = false;
  for (int attempt = 0; attempt < 5 && !(open = OpenClipboard(nullptr)); ++attempt) Sleep(20);
  if (!open) {
    LogMessage(L"Failed to open clipboard.");
    return false;
  }
  bool copied = false;
  if (EmptyClipboard() && SetClipboardData(CF_BITMAP, bitmap)) {
    owned.release();  // the clipboard owns it now
    copied = true;
    LogMessage(L"Capture: Bitmap copied to the clipboard.");
  } else {
    LogMessage(L"Failed to set clipboard data.");
  }
  CloseClipboard();
  return copied;
}

void ShowCaptureNotification(std::uint32_t) {
  std::wstring body;
  switch (ConfigSnapshot().OutputMode) {
    case 0: body = tr(L"Copied to clipboard."); break;
    case 1: body = tr(L"Saved to file."); break;
    case 2: body = tr(L"Saved to file and copied to clipboard."); break;
    default: break;
  }
  ShowBalloon(tr(L"Capture Successful"), body);
}

void ShowCaptureFlash(const RECT& rect) {
  static bool registered = false;
  HINSTANCE instance = GetModuleHandleW(nullptr);
  if (!registered) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = instance;
    wc.lpszClassName = L"CaptureFlashWindowClass";
    RegisterClassW(&wc);
    registered = true;
  }
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  UniqueWindow flash(CreateWindowExW(WS_EX_LAYERED | WS_EX_TOOLWINDOW | WS_EX_TOPMOST,
                                     L"CaptureFlashWindowClass", L"", WS_POPUP, rect.left, rect.top,
                                     width, height, nullptr, nullptr, instance, nullptr));
  if (!flash) return;
  ScreenDC screen;
  UniqueMemoryDC memory(CreateCompatibleDC(screen.get()));
  UniqueBitmap white(CreateCompatibleBitmap(screen.get(), width > 0 ? width : 1, height > 0 ? height : 1));
  HGDIOBJ previous = SelectObject(memory.get(), white.get());
  const RECT area{0, 0, width, height};
  FillRect(memory.get(), &area, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  POINT position{rect.left, rect.top};
  SIZE size{width, height};
  POINT source{0, 0};
  BLENDFUNCTION blend{AC_SRC_OVER, 0, 200, 0};
  UpdateLayeredWindow(flash.get(), screen.get(), &position, &size, memory.get(), &source, 0, &blend,
                      ULW_ALPHA);
  ShowWindow(flash.get(), SW_SHOWNA);  // never take the focus from the window being captured
  for (BYTE alpha : {200, 160, 120, 80, 40, 0}) {
    blend.SourceConstantAlpha = alpha;
    UpdateLayeredWindow(flash.get(), screen.get(), &position, &size, memory.get(), &source, 0, &blend,
                        ULW_ALPHA);
    Sleep(30);
  }
  SelectObject(memory.get(), previous);
}

}  // namespace vistrel
