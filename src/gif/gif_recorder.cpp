#include "gif/gif_recorder.h"

#include <knownfolders.h>
#include <mmsystem.h>
#include <process.h>
#include <shlobj.h>

#include <cwchar>
#include <utility>

#include "app/app_state.h"
#include "app/countdown.h"
#include "app/messages.h"
#include "audio/ffmpeg_util.h"
#include "audio/recorder_util.h"
#include "capture/screen_capture.h"
#include "config/app_config.h"
#include "core/balloon.h"
#include "core/file_names.h"
#include "core/log.h"
#include "core/sound.h"
#include "core/system_error.h"
#include "core/unique_file.h"
#include "i18n/tr.h"

namespace vistrel {
namespace {

constexpr wchar_t kLogPrefix[] = L"GIF Recorder: ";

void Log(const std::wstring& text) { LogMessage(kLogPrefix + text); }

std::int64_t CounterFrequency() {
  static const std::int64_t frequency = [] {
    LARGE_INTEGER value{};
    QueryPerformanceFrequency(&value);
    return value.QuadPart > 0 ? value.QuadPart : 1;
  }();
  return frequency;
}

std::int64_t NowMs() {
  const std::int64_t counter = CounterNow();
  const std::int64_t frequency = CounterFrequency();
  return counter / frequency * 1000 + counter % frequency * 1000 / frequency;
}

double TicksToMs(std::int64_t ticks) { return static_cast<double>(ticks) * 1000.0 / static_cast<double>(CounterFrequency()); }

// The window the user works in. A tray menu command can arrive while the hidden owner of the
// menu still has the foreground; the window it hands the foreground back to is the one meant.
HWND ForegroundTarget() {
  HWND window = GetForegroundWindow();
  const AppState& app = App();
  if (window && window == app.trayOwner && app.foregroundBeforeMenu) window = app.foregroundBeforeMenu;
  return window;
}

// One-millisecond timer resolution while frames are being taken, so that sleeps end on time.
class FineTimer {
 public:
  FineTimer() : active_(timeBeginPeriod(1) == TIMERR_NOERROR) {}
  FineTimer(const FineTimer&) = delete;
  FineTimer& operator=(const FineTimer&) = delete;
  ~FineTimer() {
    if (active_) timeEndPeriod(1);
  }

 private:
  bool active_;
};

}  // namespace

GifRecorder& TheGifRecorder() {
  static GifRecorder recorder;
  return recorder;
}

std::uint32_t GifRecorder::IsRecording() const {
  // Atomic, so that the user-interface thread never waits while a recorder thread holds the lock
  // (it does through the start and stop sounds).
  return state_.load();
}

void GifRecorder::Toggle(HWND owner) {
  if (IsRecording()) {
    Stop();
  } else {
    Start(owner);
  }
}

bool GifRecorder::Start(HWND owner) {
  std::lock_guard guard(lock_);
  if (state_ != kGifIdle) return false;
  if (starting_) {
    Log(L"[WARNING] A recording is already starting. Request ignored.");
    return false;
  }
  owner_ = owner;
  windowMode_ = ConfigSnapshot().GifMode == 1;
  if (windowMode_) {
    target_ = ForegroundTarget();
    if (!target_ || !IsWindow(target_) || !IsWindowVisible(target_)) {
      Log(L"Invalid target window for capture. Aborting start.");
      return false;
    }
  } else {
    target_ = GetDesktopWindow();
  }
  starting_ = true;
  const uintptr_t thread = _beginthreadex(nullptr, 0, CountdownThreadMain, this, 0, nullptr);
  if (thread == 0) {
    starting_ = false;
    Log(L"[FATAL] Failed to create countdown thread.");
    return false;
  }
  CloseHandle(reinterpret_cast<HANDLE>(thread));
  return true;
}

unsigned __stdcall GifRecorder::CountdownThreadMain(void* self) {
  static_cast<GifRecorder*>(self)->RunCountdownThread();
  return 0;
}

void GifRecorder::RunCountdownThread() {
  const CountdownResult countdown = RunCountdown(App().instance);
  if (countdown == CountdownResult::kBusy || countdown == CountdownResult::kInterrupted) {
    Log(L"[WARNING] Another recording is counting down. Start cancelled.");
    starting_ = false;
    return;
  }
  std::lock_guard guard(lock_);
  starting_ = false;
  const AppConfig config = ConfigSnapshot();
  playSounds_ = config.PlayGifEventSounds;
  if (playSounds_) PlaySoundSync(config.Sounds.RecordingStart);
  SetState(kGifRecording);
  const uintptr_t thread = _beginthreadex(nullptr, 0, RecordingThreadMain, this, 0, nullptr);
  if (thread == 0) {
    Log(L"[ERROR] Failed to create recording thread.");
    Cleanup();
    SetState(kGifIdle);
    return;
  }
  recordingThread_.reset(reinterpret_cast<HANDLE>(thread));
}

unsigned __stdcall GifRecorder::RecordingThreadMain(void* self) {
  ComApartment com;
  static_cast<GifRecorder*>(self)->RunRecordingThread();
  return 0;
}

void GifRecorder::RunRecordingThread() {
  if (FAILED(Initialize())) {
    Log(L"[ERROR] Initialization failed.");
    std::lock_guard guard(lock_);
    Cleanup();
    SetState(kGifIdle);
    recordingThread_.reset();  // ended on its own: nobody waits for this thread
    return;
  }
  Log(L"Initialization successful. Starting record loop.");
  counter_.Create(App().instance);
  RecordLoop();

  Log(L"Finalizing GIF file.");
  std::wstring saved = savePath_;
  const int frames = writer_.FrameCount();
  if (FAILED(writer_.Finish())) {
    Log(L"[ERROR] The GIF file could not be finalized.");
    saved.clear();
  } else if (frames == 0) {
    Log(L"[WARNING] No frame was recorded. The empty file is removed.");
    DeleteFileW(saved.c_str());
    saved.clear();
  }
  LogFrameCosts();
  Cleanup();

  std::lock_guard guard(lock_);
  SetState(kGifIdle);
  recordingThread_.reset();  // a no-op when Stop has taken the handle to wait on it
  if (playSounds_) PlaySoundSync(ConfigSnapshot().Sounds.RecordingStop);
  Log(L"Stopped.");
  if (!saved.empty()) AnnounceSaved(saved);
}

void GifRecorder::Stop() {
  UniqueKernelHandle thread;
  {
    std::lock_guard guard(lock_);
    if (state_ != kGifRecording) return;
    Log(L"Stop requested by user.");
    state_ = kGifStopping;
    thread = std::move(recordingThread_);
  }
  if (thread) WaitForSingleObject(thread.get(), INFINITE);
}

HRESULT GifRecorder::Initialize() {
  const AppConfig config = ConfigSnapshot();
  duration_ = config.GifDuration;
  includeCursor_ = config.IncludeCursor;
  if (windowMode_) {
    if (!GetWindowRect(target_, &captureRect_)) return E_FAIL;
  } else {
    captureRect_ = ChooseScreenRect(config.ScreenID, kLogPrefix);
  }
  // Even sizes, anchored at the top-left corner.
  width_ = (captureRect_.right - captureRect_.left) & ~1;
  height_ = (captureRect_.bottom - captureRect_.top) & ~1;
  if (width_ <= 0 || height_ <= 0) {
    Log(L"[ERROR] The capture area is empty.");
    return E_FAIL;
  }
  if (!CreateCaptureBuffers()) return E_OUTOFMEMORY;
  savePath_ = MakeSavePath();
  if (savePath_.empty()) return E_FAIL;
  return writer_.Open(savePath_, width_, height_);
}

bool GifRecorder::CreateCaptureBuffers() {
  ScreenDC screen;
  memoryDc_.reset(CreateCompatibleDC(screen.get()));
  bitmap_.reset(CreateCompatibleBitmap(screen.get(), width_, height_));
  if (!memoryDc_ || !bitmap_) {
    Log(L"[ERROR] Could not create the capture bitmap.");
    return false;
  }
  bitmapInfo_ = TopDownBitmapInfo(width_, height_).bmiHeader;
  const auto size = static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_) * 4;
  pixels_.assign(size, 0);
  pendingPixels_.assign(size, 0);
  hasPending_ = false;
  captureTicks_ = 0;
  return true;
}

std::wstring GifRecorder::MakeSavePath() const {
  std::wstring folder = ConfigSnapshot().GifPath;
  if (folder.empty()) {
    CoTaskMem<wchar_t> pictures;
    if (FAILED(SHGetKnownFolderPath(FOLDERID_Pictures, 0, nullptr, pictures.put())) || !pictures.get()) {
      Log(L"[ERROR] Could not find the Pictures folder.");
      return {};
    }
    folder = std::wstring(pictures.get()) + L"\\Vistrel";
  }
  while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
  if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    const DWORD error = GetLastError();
    Log(L"[ERROR] Could not create the folder '" + folder + L"': " + SystemErrorText(error));
    return {};
  }
  SYSTEMTIME now{};
  GetLocalTime(&now);
  const std::wstring name = L"Recording_" +
                            FormatFileTimestamp({now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond}) +
                            L".gif";
  // Claimed atomically: a recording never replaces an earlier one of the same second.
  const std::wstring path = ClaimNewFile(folder + L"\\" + name);
  if (path.empty()) {
    Log(L"[ERROR] Could not create a file in '" + folder + L"'.");
  } else {
    LogMessage(L"Generated save path: " + path);
  }
  return path;
}

void GifRecorder::RecordLoop() {
  FineTimer timer;
  clock_.Start(NowMs());
  for (;;) {
    {
      std::lock_guard guard(lock_);
      if (state_ == kGifStopping) break;
    }
    const auto seconds = static_cast<unsigned>(clock_.Elapsed() / 1000);
    counter_.Show(seconds);
    if (duration_ > 0 && seconds >= static_cast<unsigned>(duration_)) {
      Log(L"Duration reached. Stopping automatically.");
      break;
    }
    if (windowMode_ && GetForegroundWindow() != target_) {
      Log(L"Target window lost focus. Stopping automatically.");
      break;
    }
    if (!WriteVideoFrame(clock_.FrameTime())) {
      Log(L"[ERROR] WriteVideoFrame failed. Stopping.");
      break;
    }
    WaitPumpingMessages(clock_.Advance(NowMs()));
  }
  LogRecordedTime(kLogPrefix, clock_.Elapsed(), 1000);
  // The last frame lasts until the recording ended.
  EncodePendingFrame(clock_.FrameTime());
}

// A frame is written once the next one has been taken: only then is its length known.
bool GifRecorder::WriteVideoFrame(std::int64_t frameTime) {
  const std::int64_t began = CounterNow();
  if (!CaptureFrame(pixels_)) return false;
  captureTicks_ += CounterNow() - began;
  if (!EncodePendingFrame(frameTime)) return false;
  std::swap(pixels_, pendingPixels_);
  pendingTime_ = frameTime;
  hasPending_ = true;
  return true;
}

bool GifRecorder::CaptureFrame(std::vector<std::uint8_t>& pixels) {
  if (windowMode_) {
    // The frame follows the window when it moves; its size stays the one of the start.
    if (!IsWindow(target_) || !GetWindowRect(target_, &captureRect_)) return false;
  }
  ScreenDC screen;
  HGDIOBJ previous = SelectObject(memoryDc_.get(), bitmap_.get());
  const bool copied = BitBlt(memoryDc_.get(), 0, 0, width_, height_, screen.get(), captureRect_.left,
                             captureRect_.top, SRCCOPY) != FALSE;
  if (copied && includeCursor_) DrawCursorInto(memoryDc_.get(), POINT{captureRect_.left, captureRect_.top});
  SelectObject(memoryDc_.get(), previous);
  if (!copied) return false;
  return GetDIBits(memoryDc_.get(), static_cast<HBITMAP>(bitmap_.get()), 0, static_cast<UINT>(height_),
                   pixels.data(), reinterpret_cast<BITMAPINFO*>(&bitmapInfo_), DIB_RGB_COLORS) == height_;
}

bool GifRecorder::EncodePendingFrame(std::int64_t until) {
  if (!hasPending_) return true;
  hasPending_ = false;
  const HRESULT hr = writer_.AddFrame(pendingPixels_.data(), clock_.DelayCentiseconds(pendingTime_, until));
  if (FAILED(hr)) {
    LogHresultError(kLogPrefix, L"Writing a GIF frame", hr);
    return false;
  }
  return true;
}

// Sleeps while keeping the counter window (owned by this thread) responsive.
void GifRecorder::WaitPumpingMessages(std::int64_t milliseconds) {
  const std::int64_t end = NowMs() + milliseconds;
  for (;;) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    const std::int64_t left = end - NowMs();
    if (left <= 0) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left), QS_ALLINPUT);
  }
}

void GifRecorder::LogFrameCosts() const {
  const int frames = writer_.FrameCount();
  if (frames == 0) return;
  wchar_t line[200];
  std::swprintf(line, 200, L"%d frames of %dx%d; per frame: capture %.1f ms, quantise %.1f ms, encode %.1f ms.",
                frames, width_, height_, TicksToMs(captureTicks_) / frames, TicksToMs(writer_.QuantiseTicks()) / frames,
                TicksToMs(writer_.EncodeTicks()) / frames);
  Log(line);
}

void GifRecorder::Cleanup() {
  Log(L"Cleaning up resources.");
  counter_.Destroy();
  memoryDc_.reset();
  bitmap_.reset();
  pixels_ = {};
  pendingPixels_ = {};
  hasPending_ = false;
  writer_.Release();
}

void GifRecorder::SetState(std::uint32_t state) {
  state_ = state;
  PostMessageW(owner_, WM_RECORDING_STATE, 0, 0);
}

void GifRecorder::AnnounceSaved(const std::wstring& path) const {
  NOTIFYICONDATAW data = MakeBalloonData(owner_, tr(L"GIF Recording Saved"), tr(L"GIF saved to: %s", path));
  Shell_NotifyIconW(NIM_MODIFY, &data);
}

}  // namespace vistrel
