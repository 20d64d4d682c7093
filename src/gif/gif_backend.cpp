#include "gif/gif_backend.h"

#include <mmsystem.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "capture/screen_capture.h"
#include "core/handles.h"
#include "core/log.h"
#include "gif/gif_counter_window.h"
#include "gif/gif_encoder.h"
#include "gif/gif_frames.h"
#include "gif/gif_palette.h"
#include "gif/gif_timing.h"
#include "i18n/tr.h"
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
  facts.lines = GifLifecycle();
  return facts;
}

class GifBackend final : public RecordingBackend {
 public:
  GifBackend(AppConfig config, HWND target)
      : RecordingBackend(GifFacts(config)), config_(std::move(config)), target_(target), windowMode_(config_.GifMode == 1) {}

  ~GifBackend() override { StopWorker(); }

  std::wstring ClaimOutput() override {
    const OutputPlace place{kGifLogPrefix, L"GIF", L"Pictures", &FOLDERID_Pictures, config_.GifPath};
    return ClaimRecordingFile(place, L"Recording", L"gif");
  }

  bool Open(const std::wstring& path, const Notify&) override {
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
    if (result.action == TickResult::Action::kFail) result.failure = EncodingFailure();
    // The next frame's slot, on the session's time.
    result.nextDue = (clock_.FrameTime() - startMs_) * info.frequency / 1000;
    PumpCounterWindow();
    return result;
  }

  void Pause() override {}
  void Resume() override {}

  FinishResult Finish(const TickInfo& end, const std::atomic<bool>&) override {
    // Capture has ended: what waits is encoded, and the last frame lasts until the end.
    const std::int64_t stopped = CounterNow();
    const std::int64_t endMs = startMs_ + end.recorded * 1000 / end.frequency;
    StopWorker();
    Log(L"Finalizing GIF file.");
    const int frames = encoder_.frames();
    const HRESULT closed = encoder_.Close(clock_.Stamp(endMs));
    LogFrameCosts(CounterMs(CounterNow() - stopped));
    Release();
    if (FAILED(closed)) {
      Log(L"[ERROR] The GIF file could not be finalized.");
      return FinishResult::Failed({N_(L"GIF Recording Failed"), N_(L"The GIF file could not be completed.")});
    }
    if (frames == 0) {
      Log(L"[WARNING] No frame was recorded. The empty file is removed.");
      return FinishResult::Discarded(
          {N_(L"Nothing Recorded"), failed_.load()
                                        ? N_(L"The GIF encoder failed before the first frame was written. No file was kept.")
                                        : N_(L"The recording ended before any frame was taken. No file was kept.")});
    }
    return {};
  }

  void Abort() override {
    StopWorker();
    encoder_.Discard();
    Release();
  }

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
    frameBytes_ = static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_) * 4;
    if (FAILED(encoder_.Open(path, width_, height_))) return false;
    queue_.emplace(std::clamp<std::size_t>(kMaxWaitingBytes / frameBytes_, 1, kMaxWaitingFrames));
    try {
      worker_ = std::thread(&GifBackend::EncodeFrames, this);
    } catch (const std::system_error&) {
      Log(L"[ERROR] Could not start the encoding thread.");
      return false;
    }
    return true;
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
    if (failed_.load()) {
      // The encoder gave up: what it wrote is kept, and the user hears that it failed.
      Log(L"[ERROR] WriteVideoFrame failed. Stopping.");
      return TickResult::Action::kFail;
    }
    const std::int64_t began = CounterNow();
    GifCapture capture{queue_->TakeBuffer(frameBytes_), clock_.Stamp(clock_.FrameTime())};
    const bool captured = CaptureFrame(capture.pixels.data());
    captureTicks_ += CounterNow() - began;
    if (!captured) {
      queue_->GiveBack(std::move(capture.pixels));
      Log(L"[ERROR] WriteVideoFrame failed. Stopping.");
      return TickResult::Action::kStop;
    }
    ++captured_;
    if (queue_->Push(std::move(capture)) && !dropTold_) {
      dropTold_ = true;
      Log(L"[WARNING] Encoding falls behind the capture: a waiting frame is dropped, and the one before it is "
          L"shown for longer.");
    }
    return TickResult::Action::kContinue;
  }

  bool CaptureFrame(std::uint8_t* pixels) {
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
    return GetDIBits(memoryDc_.get(), static_cast<HBITMAP>(bitmap_.get()), 0, static_cast<UINT>(height_), pixels,
                     reinterpret_cast<BITMAPINFO*>(&bitmapInfo_), DIB_RGB_COLORS) == height_;
  }

  // The encoding thread: frames as they come, until the queue is closed and empty.
  void EncodeFrames() {
    std::vector<std::uint8_t> previous;
    while (std::optional<GifCapture> capture = queue_->Pop()) {
      if (!failed_.load() && !EncodeFrame(*capture, previous)) failed_.store(true);
      queue_->GiveBack(std::move(capture->pixels));
    }
  }

  // Encodes what changed since `previous`, which then becomes this frame; a frame without change
  // is left out, so that the one before lasts until the next change.
  bool EncodeFrame(GifCapture& capture, std::vector<std::uint8_t>& previous) {
    const std::int64_t began = CounterNow();
    GifRect region{0, 0, width_, height_};
    if (!previous.empty()) {
      region = ChangedRegion(previous.data(), capture.pixels.data(), width_, height_);
      // A GIF delay ends at 655.35 s: a still picture is written again before that.
      if (region.empty() && capture.stamp - lastStamp_ < kLongestDelay) {
        ++unchanged_;
        return true;
      }
      if (region.empty()) region = GifRect{0, 0, 1, 1};
    }
    AVFrame* frame = encoder_.frame();
    if (!frame) {
      Log(L"[ERROR] No memory for a GIF frame.");
      return false;
    }
    const std::uint8_t* pixels = capture.pixels.data();
    if (previous.empty() || !(palette_.Map(pixels, width_, region, frame->data[0], frame->linesize[0]) ||
                              palette_.Extend(pixels, width_, region, frame->data[0], frame->linesize[0]))) {
      palette_.Build(pixels, width_, height_, frame->data[0], frame->linesize[0]);
    }
    const auto argb = palette_.Argb();
    std::memcpy(frame->data[1], argb.data(), sizeof argb);
    const std::int64_t quantised = CounterNow();
    const HRESULT hr = encoder_.Write(capture.stamp);
    lastStamp_ = capture.stamp;
    quantiseTicks_ += quantised - began;
    encodeTicks_ += CounterNow() - quantised;
    std::swap(previous, capture.pixels);
    if (FAILED(hr)) LogHresultError(kGifLogPrefix, L"Writing a GIF frame", hr);
    return SUCCEEDED(hr);
  }

  void StopWorker() {
    if (queue_) queue_->Close();
    if (worker_.joinable()) worker_.join();
  }

  // The counter window belongs to this thread, which answers its messages between frames.
  static void PumpCounterWindow() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }

  void LogFrameCosts(double finishMs) const {
    if (captured_ == 0) return;
    const int written = encoder_.frames();
    const double perWritten = written > 0 ? 1.0 / written : 0.0;
    wchar_t line[300];
    std::swprintf(line, 300,
                  L"%d frames of %dx%d captured (%.1f ms each): %d written with %d palettes, %d unchanged, %d dropped; "
                  L"per written frame: quantise %.1f ms, encode %.1f ms.",
                  captured_, width_, height_, CounterMs(captureTicks_) / captured_, written, encoder_.palettes(),
                  unchanged_, static_cast<int>(queue_ ? queue_->dropped() : 0), CounterMs(quantiseTicks_) * perWritten,
                  CounterMs(encodeTicks_) * perWritten);
    Log(line);
    std::swprintf(line, 300, L"The file was complete %.0f ms after capture ended.", finishMs);
    Log(line);
  }

  // Why the encoder gave up, and what is kept.
  RecordingMessage EncodingFailure() const {
    if (encoder_.writeFailed()) {
      return {N_(L"GIF Recording Failed"), N_(L"The GIF recording stopped: %s The frames recorded until then are kept."),
              encoder_.WriteFailure()};
    }
    return {N_(L"GIF Recording Failed"),
            N_(L"The GIF recording stopped: a frame could not be encoded. The frames recorded until then are kept.")};
  }

  void Release() {
    Log(L"Cleaning up resources.");
    counter_.Destroy();
    timer_.reset();
    memoryDc_.reset();
    bitmap_.reset();
  }

  // At most this much waits for the encoder (4 frames of 1920x1080; fewer of a bigger screen).
  static constexpr std::size_t kMaxWaitingFrames = 4;
  static constexpr std::size_t kMaxWaitingBytes = 32u << 20;
  static constexpr std::int64_t kLongestDelay = 60000;  // hundredths of a second

  const AppConfig config_;
  HWND target_;
  const bool windowMode_;
  std::optional<FineTimer> timer_;
  GifCounterWindow counter_;
  UniqueMemoryDC memoryDc_;
  UniqueBitmap bitmap_;
  BITMAPINFOHEADER bitmapInfo_{};
  RECT captureRect_{};
  int width_ = 0;
  int height_ = 0;
  std::size_t frameBytes_ = 0;
  std::int64_t startMs_ = 0;
  bool started_ = false;
  GifFrameClock clock_;
  bool dropTold_ = false;
  int captured_ = 0;
  std::int64_t captureTicks_ = 0;
  // Shared with the encoding thread: the queue, and whether encoding failed.
  std::optional<GifFrameQueue> queue_;
  std::atomic<bool> failed_{false};
  std::thread worker_;
  // The encoding thread's own until it is joined.
  GifEncoder encoder_{kGifLogPrefix};
  GifPalette palette_;
  int unchanged_ = 0;
  std::int64_t lastStamp_ = 0;  // of the last frame written
  std::int64_t quantiseTicks_ = 0;
  std::int64_t encodeTicks_ = 0;
};

}  // namespace

std::unique_ptr<RecordingBackend> MakeGifBackend(AppConfig config, HWND target) {
  return std::make_unique<GifBackend>(std::move(config), target);
}

}  // namespace vistrel
