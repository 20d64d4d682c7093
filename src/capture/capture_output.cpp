#include "capture/capture_output.h"

#include <objidl.h>
#include <gdiplus.h>
#include <knownfolders.h>
#include <process.h>
#include <shlobj.h>
#include <wrl/client.h>

#include <memory>
#include <vector>

#include "capture/capture_naming.h"
#include "capture/freeform.h"
#include "capture/screen_capture.h"
#include "capture/window_capture.h"
#include "config/app_config.h"
#include "core/balloon.h"
#include "core/file_names.h"
#include "core/handles.h"
#include "core/log.h"
#include "core/sound.h"
#include "core/system_error.h"
#include "core/ui_task.h"
#include "core/unique_file.h"
#include "i18n/tr.h"

using Microsoft::WRL::ComPtr;

namespace vistrel {
namespace {

struct CaptureRequest {
  std::uint32_t type;
  HWND target;
};

struct SaveJob {
  ComPtr<IStream> stream;
  std::wstring path;
};

// Runs `work` with ownership of `job` on a new thread whose handle is closed at once.
template <typename Job>
bool StartDetachedThread(std::unique_ptr<Job> job, unsigned(__stdcall* work)(void*)) {
  const uintptr_t handle = _beginthreadex(nullptr, 0, work, job.get(), 0, nullptr);
  if (handle == 0) return false;
  job.release();  // the thread owns it now
  CloseHandle(reinterpret_cast<HANDLE>(handle));
  return true;
}

HBITMAP CaptureByType(std::uint32_t type, HWND target) {
  switch (type) {
    case kCaptureFullScreen:
    case kCaptureTrayFullScreen:
      return CaptureScreen();
    case kCaptureActiveWindow:
      return CaptureActiveWindow();
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

unsigned __stdcall CaptureWorker(void* param) {
  std::unique_ptr<CaptureRequest> request(static_cast<CaptureRequest*>(param));
  Sleep(300);
  UniqueBitmap bitmap(CaptureByType(request->type, request->target));
  if (bitmap) Deliver(std::move(bitmap), request->type);
  return 0;
}

unsigned __stdcall SaveWorker(void* param) {
  std::unique_ptr<SaveJob> job(static_cast<SaveJob*>(param));
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (job->stream && !SaveStreamToFile(job->path, job->stream.Get())) {
    ShowError(tr(L"Failed to save capture to file: ") + job->path);
  }
  job->stream.Reset();
  if (SUCCEEDED(com)) CoUninitialize();
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


// The screenshot folder, created when missing; empty (and reported) on failure.
std::wstring ScreenshotFolder() {
  std::wstring folder = ConfigSnapshot().ScreenshotPath;
  if (!folder.empty()) {
    LogMessage(L"Capture: Using configured screenshot path: " + folder);
  } else {
    LogMessage(L"Capture: Configured screenshot path is empty. Falling back to default Pictures folder.");
    CoTaskMem<wchar_t> pictures;
    if (FAILED(SHGetKnownFolderPath(FOLDERID_Pictures, 0, nullptr, pictures.put())) || !pictures.get()) {
      ShowError(tr(L"Failed to get user's Pictures folder path."));
      LogMessage(L"Capture: [ERROR] Failed to get user's Pictures directory path.");
      return {};
    }
    folder = std::wstring(pictures.get()) + L"\\Vistrel";
  }
  if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    const DWORD error = GetLastError();
    const std::wstring text = L"Capture: [ERROR] Failed to create directory '" + folder +
                              L"'. Error: " + SystemErrorText(error);
    ShowError(text);
    LogMessage(text);
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

void StartSave(ComPtr<IStream> stream, std::uint32_t type) {
  const std::wstring path = BuildCaptureSavePath(type);
  if (path.empty()) return;  // already reported to the user
  auto job = std::make_unique<SaveJob>(SaveJob{std::move(stream), path});
  StartDetachedThread(std::move(job), SaveWorker);
}

}  // namespace

void StartCapture(std::uint32_t type, HWND target) {
  if (type == kCaptureFreeForm || type == kCaptureTrayFreeForm) {
    StartFreeformCapture(GetModuleHandleW(nullptr),
                         [](UniqueBitmap picture) { Deliver(std::move(picture), kCaptureFreeForm); });
    return;
  }
  StartDetachedThread(std::make_unique<CaptureRequest>(CaptureRequest{type, target}), CaptureWorker);
}

void ProcessCapture(UniqueBitmap owned, std::uint32_t type) {
  if (!owned) {
    LogMessage(L"ProcessCapture received a NULL bitmap.");
    return;
  }
  HBITMAP bitmap = static_cast<HBITMAP>(owned.get());
  const AppConfig config = ConfigSnapshot();
  if (config.PlayCaptureSound) PlaySoundAsync(CaptureSound(config.Sounds, type));
  const bool save = config.OutputMode == 1 || config.OutputMode == 2;
  const bool clip = config.OutputMode == 0 || config.OutputMode == 2;
  if (save) {
    ComPtr<IStream> stream;
    if (EncodeBitmapToPngStream(bitmap, stream.GetAddressOf()) == S_OK) {
      StartSave(std::move(stream), type);
    } else {
      LogMessage(L"Capture: [ERROR] Could not encode the capture as PNG.");
    }
  }
  if (clip) CopyBitmapToClipboard(static_cast<HBITMAP>(owned.release()));
  ShowCaptureNotification(type);
}

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

std::wstring BuildCaptureSavePath(std::uint32_t type) {
  const std::wstring folder = ScreenshotFolder();
  if (folder.empty()) return {};
  const bool titled = type == kCaptureActiveWindow || type == kCaptureTrayPickedWindow;
  const std::wstring name = CaptureFileName(type, titled ? ForegroundTitle() : L"", MakeTimestamp(), folder);
  const std::wstring wanted = folder + L"\\" + name;
  const std::wstring path = ClaimNewFile(wanted);
  if (path.empty()) {
    ShowError(tr(L"Failed to save capture to file: ") + wanted);
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

void CopyBitmapToClipboard(HBITMAP bitmap) {
  if (!bitmap) return;
  UniqueBitmap owned(bitmap);
  if (!OpenClipboard(nullptr)) {
    LogMessage(L"Failed to open clipboard.");
    return;
  }
  EmptyClipboard();
  if (SetClipboardData(CF_BITMAP, bitmap)) {
    owned.release();  // the clipboard owns it now
    LogMessage(L"Capture: Bitmap copied to the clipboard.");
  } else {
    LogMessage(L"Failed to set clipboard data.");
  }
  CloseClipboard();
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
