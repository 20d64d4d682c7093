// Records the foreground window or a whole screen as an animated GIF: about ten frames a second,
// each shown for as long as it really lasted, looping forever. A small counter window shows the
// elapsed time; the recording ends when toggled off, after the configured duration, when the
// recorded window loses the foreground, or when a frame cannot be written.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "core/handles.h"
#include "gif/gif_counter_window.h"
#include "gif/gif_timing.h"
#include "gif/gif_writer.h"

namespace vistrel {

enum GifRecorderState : std::uint32_t {
  kGifIdle = 0,
  kGifRecording = 1,
  kGifStopping = 2,
};

class GifRecorder {
 public:
  GifRecorder() = default;
  GifRecorder(const GifRecorder&) = delete;
  GifRecorder& operator=(const GifRecorder&) = delete;
  ~GifRecorder() { Stop(); }

  // Picks the target and starts the countdown; false when refused (no usable foreground window,
  // a recording running or starting) or when the countdown thread cannot start.
  bool Start(HWND owner);
  // Asks the recording to end and waits until the file is written.
  void Stop();
  void Toggle(HWND owner);
  // Non-zero while recording or stopping.
  std::uint32_t IsRecording() const;

 private:
  static unsigned __stdcall CountdownThreadMain(void* self);
  static unsigned __stdcall RecordingThreadMain(void* self);
  void RunCountdownThread();
  void RunRecordingThread();
  HRESULT Initialize();
  RECT ChooseCaptureRect() const;
  bool CreateCaptureBuffers();
  std::wstring MakeSavePath() const;
  void RecordLoop();
  bool WriteVideoFrame(std::int64_t frameTime);
  bool CaptureFrame(std::vector<std::uint8_t>& pixels);
  bool EncodePendingFrame(std::int64_t until);
  void WaitPumpingMessages(std::int64_t milliseconds);
  void LogFrameCosts() const;
  void Cleanup();
  // Under the lock: the state, and the owner window told about it.
  void SetState(std::uint32_t state);
  void AnnounceSaved(const std::wstring& path) const;

  mutable std::mutex lock_;
  std::atomic<std::uint32_t> state_{kGifIdle};
  std::atomic<bool> starting_{false};
  // Whoever takes the handle under the lock closes it: Stop (after waiting), or the recording
  // thread itself when it ends on its own.
  UniqueKernelHandle recordingThread_;
  GifCounterWindow counter_;
  HWND owner_ = nullptr;
  HWND target_ = nullptr;
  bool windowMode_ = true;
  bool playSounds_ = true;
  bool includeCursor_ = true;
  int duration_ = 0;

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
  GifFrameClock clock_;
  GifWriter writer_;
  std::wstring savePath_;
  std::int64_t captureTicks_ = 0;
};

// The process-wide GIF recorder.
GifRecorder& TheGifRecorder();

}  // namespace vistrel
