#include "gif/gif_backend.h"

#include <mmsystem.h>

#include <cstdio>
#include <optional>
#include <utility>
#include <vector>

#include "capture/screen_capture.h"
#include "core/handles.h"
#include "core/log.h"
#include "gif/gif_counter_window.h"
#include "gif/gif_timing.h"
#include "gif/gif_writer.h"
#include "i18n/tr.h"
#include "media/com_apartment.h"
#include "media/ffmpeg_util.h"
#include "media/media_clock.h"
#include "media/output_file.h"

namespace vistrel {
namespace {

void Log(const std::wstring& text) { LogMessage(kGifLogPrefix + text); }

std::int64_t NowMs() {
  const std::int64_t counter = CounterNow();
  const std::int64_t frequency = CounterFrequency();
  return counter / frequency * 1000 + counter % frequency * 1000 / frequency;
}

// One-millisecond timer resolution while frames are being taken, so that waits end on time.
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

// A GIF recording cannot pause; it plays only the start and stop sounds.
RecordingBackend::Facts GifFacts(const AppConfig& config) {
  RecordingBackend::Facts facts;
  facts.prefix = kGifLogPrefix;
  facts.sounds = RecordingSoundsOf(config.Sounds, config.PlayGifEventSounds != 0, false);
  facts.saved = {N_(L"GIF Recording Saved"), N_(L"GIF saved to: %s")};
  facts.startFailed = {N_(L"GIF Recording Failed"), N_(L"Could not start the GIF recorder.")};
  return facts;
}

class GifBackend final : public RecordingBackend {
 public:
  GifBackend(AppConfig config, HWND target)
      : RecordingBackend(GifFacts(config)), config_(std::move(config)), target_(target), windowMode_(config_.GifMode == 1) {}

  std::wstring ClaimOutput() override {
    const OutputPlace place{kGifLogPrefix, L"GIF", L"Pictures", &FOLDERID_Pictures, config_.GifPath};
    return ClaimRecordingFile(place, L"Recording", L"gif");
  }

  bool Open(const std::wstring& path, const Notify&) override {
    com_.emplace();
    if (!Initialize(path)) {
      Log(L"[ERROR] Initialization failed.");
      return false;
    }
    Log(L"Initialization successful. Starting record loop.");
    counter_.Create(GetModuleHandleW(nullptr));
    timer_.emplace();
    return true;
  }

  TickResult Tick(const TickInfo& info) override {
    if (!started_) {
      // Frame times count from the session's start, so that the frames add up to its time.
      startMs_ = NowMs() - info.recorded * 1000 / info.frequency;
      clock_.Start(startMs_);
      started_ = true;
    }
    TickResult result;
    result.action = TakeFrame();
    if (result.action == TickResult::Action::kContinue) clock_.Advance(NowMs());
    // The next frame's slot, on the session's time.
    result.nextDue = (clock_.FrameTime() - startMs_) * info.frequency / 1000;
    PumpCounterWindow();
    return result;
  }

  void Pause() override {}
  void Resume() override {}

  FinishResult Finish(const TickInfo& end) override {
    // The last frame lasts until the recording ended.
    const std::int64_t endMs = startMs_ + end.recorded * 1000 / end.frequency;
    EncodePendingFrame(std::max(endMs, pendingTime_));
    LogFrameCosts();
    Log(L"Finalizing GIF file.");
    const int frames = writer_.FrameCount();
    const HRESULT finished = writer_.Finish();
    Release();
    if (FAILED(finished)) {
      Log(L"[ERROR] The GIF file could not be finalized.");
      return FinishResult::Failed({N_(L"GIF Recording Failed"), N_(L"The GIF file could not be completed.")});
    }
    if (frames == 0) {
      Log(L"[WARNING] No frame was recorded. The empty file is removed.");
      return {FinishResult::Outcome::kDiscarded, {}};
    }
    return {};
  }

  void Abort() override { Release(); }

 private:
  bool Initialize(const std::wstring& path) {
    if (windowMode_) {
      if (!IsWindow(target_) || !GetWindowRect(target_, &captureRect_)) return false;
    } else {
      captureRect_ = ChooseScreenRect(config_.ScreenID, kGifLogPrefix);
    }
    // Even sizes, anchored at the top-left corner.
    width_ = (captureRect_.right - captureRect_.left) & ~1;
    height_ = (captureRect_.bottom - captureRect_.top) & ~1;
    if (width_ <= 0 || height_ <= 0) {
      Log(L"[ERROR] The capture area is empty.");
      return false;
    }
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
    return SUCCEEDED(writer_.Open(path, width_, height_));
  }

  TickResult::Action TakeFrame() {
    const auto seconds = static_cast<unsigned>(clock_.Elapsed() / 1000);
    counter_.Show(seconds);
    const int duration = config_.GifDuration;
    if (duration > 0 && seconds >= static_cast<unsigned>(duration)) {
      Log(L"Duration reached. Stopping automatically.");
      return TickResult::Action::kStop;
    }
    if (windowMode_ && GetForegroundWindow() != target_) {
      Log(L"Target window lost focus. Stopping automatically.");
      return TickResult::Action::kStop;
    }
    // A frame is written once the next one has been taken: only then is its length known.
    const std::int64_t frameTime = clock_.FrameTime();
    const std::int64_t began = CounterNow();
    const bool captured = CaptureFrame();
    captureTicks_ += CounterNow() - began;
    if (!captured || !EncodePendingFrame(frameTime)) {
      Log(L"[ERROR] WriteVideoFrame failed. Stopping.");
      return TickResult::Action::kStop;
    }
    std::swap(pixels_, pendingPixels_);
    pendingTime_ = frameTime;
    hasPending_ = true;
    return TickResult::Action::kContinue;
  }

  bool CaptureFrame() {
    if (windowMode_) {
      // The frame follows the window when it moves; its size stays the one of the start.
      if (!IsWindow(target_) || !GetWindowRect(target_, &captureRect_)) return false;
    }
    ScreenDC screen;
    bool copied = false;
    {
      SelectedObject selected(memoryDc_.get(), bitmap_.get());
      copied = BitBlt(memoryDc_.get(), 0, 0, width_, height_, screen.get(), captureRect_.left, captureRect_.top,
                      SRCCOPY) != FALSE;
      if (copied && config_.IncludeCursor) {
        DrawCursorInto(memoryDc_.get(), POINT{captureRect_.left, captureRect_.top});
      }
    }
    if (!copied) return false;
    return GetDIBits(memoryDc_.get(), static_cast<HBITMAP>(bitmap_.get()), 0, static_cast<UINT>(height_),
                     pixels_.data(), reinterpret_cast<BITMAPINFO*>(&bitmapInfo_), DIB_RGB_COLORS) == height_;
  }

  bool EncodePendingFrame(std::int64_t until) {
    if (!hasPending_) return true;
    hasPending_ = false;
    const HRESULT hr = writer_.AddFrame(pendingPixels_.data(), clock_.DelayCentiseconds(pendingTime_, until));
    if (FAILED(hr)) {
      LogHresultError(kGifLogPrefix, L"Writing a GIF frame", hr);
      return false;
    }
    return true;
  }

  // The counter window belongs to this thread, which answers its messages between frames.
  static void PumpCounterWindow() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }

  void LogFrameCosts() const {
    const int frames = writer_.FrameCount();
    if (frames == 0) return;
    wchar_t line[200];
    std::swprintf(line, 200, L"%d frames of %dx%d; per frame: capture %.1f ms, quantise %.1f ms, encode %.1f ms.",
                  frames, width_, height_, CounterMs(captureTicks_) / frames, CounterMs(writer_.QuantiseTicks()) / frames,
                  CounterMs(writer_.EncodeTicks()) / frames);
    Log(line);
  }

  void Release() {
    counter_.Destroy();
    writer_.Release();
    timer_.reset();
    memoryDc_.reset();
    bitmap_.reset();
    pixels_ = {};
    pendingPixels_ = {};
    hasPending_ = false;
  }

  const AppConfig config_;
  HWND target_;
  const bool windowMode_;
  std::optional<ComApartment> com_;  // on the recording thread, for the imaging component
  std::optional<FineTimer> timer_;
  GifCounterWindow counter_;
  UniqueMemoryDC memoryDc_;
  UniqueBitmap bitmap_;
  BITMAPINFOHEADER bitmapInfo_{};
  RECT captureRect_{};
  int width_ = 0;
  int height_ = 0;
  std::vector<std::uint8_t> pixels_;         // the frame just captured
  std::vector<std::uint8_t> pendingPixels_;  // the frame before it, written once its length is known
  bool hasPending_ = false;
  std::int64_t pendingTime_ = 0;
  std::int64_t startMs_ = 0;
  bool started_ = false;
  GifFrameClock clock_;
  GifWriter writer_;
  std::int64_t captureTicks_ = 0;
};

}  // namespace

std::unique_ptr<RecordingBackend> MakeGifBackend(AppConfig config, HWND target) {
  return std::make_unique<GifBackend>(std::move(config), target);
}

}  // namespace vistrel
