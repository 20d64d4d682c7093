// Records the screen or one application window, with the microphone and/or the system audio, to
// an H.264/AAC MP4 file. One process-wide instance, driven by the video hotkeys and tray commands.
#pragma once

#include <windows.h>
#include <d3d11.h>
#include <dxgi1_2.h>
#include <endpointvolume.h>
#include <wrl/client.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/audio_mixer.h"
#include "audio/ffmpeg_util.h"
#include "audio/recorder_util.h"
#include "config/app_config.h"
#include "core/handles.h"
#include "tracks/track_config.h"
#include "video/video_layout.h"
#include "video/video_streams.h"

namespace vistrel {

inline constexpr wchar_t kVideoLogPrefix[] = L"Recorder: ";

struct TrackRuntime;  // video/video_tracks.h

// Copies the cursor, when it is showing, into 32-bit BGRA rows
// `pitch` bytes apart that show the screen area `area` (screen coordinates).
void DrawCursor(std::uint8_t* pixels, int pitch, const RECT& area);

// A window the recorder can follow: visible, not minimised, not the desktop, the shell or one of
// this program's windows, and at least 50 x 50 pixels.
bool IsValidTargetWindow(HWND window);

class VideoRecorder {
 public:
  VideoRecorder();
  VideoRecorder(const VideoRecorder&) = delete;
  VideoRecorder& operator=(const VideoRecorder&) = delete;
  ~VideoRecorder();

  void ToggleRecording(HWND coreWindow);
  // Starts the countdown and then the recording; false when refused (logged).
  bool StartRecording(HWND coreWindow);
  // Ends the recording, finalises the file and waits for the recording thread.
  void StopRecording();
  void RequestPause(bool automatic);
  void RequestResume(bool automatic);
  std::uint32_t GetRecorderState() const;
  // Shows the last finished (or the running) recording in Explorer.
  void OpenLastVideoLocation();

 private:
  // Controller (video_recorder.cpp).
  static unsigned __stdcall CountdownThreadMain(void* self);
  void StartAfterCountdown();
  void StartRecordingThread();
  void OpenAudioSources(const AppConfig& config);
  HRESULT InitializeForQuality(int quality);
  static unsigned __stdcall RecordingThreadMain(void* self);
  void RecordingLoop();
  bool WatchTarget(std::uint32_t state);
  void RequestStopFromRecordingThread();
  void FinishRecording();
  void CleanupAndReset();
  void ReleaseForNextAttempt();
  std::wstring BuildOutputPath();
  void PostState(WPARAM state) const;
  void ShowRecorderBalloon(const wchar_t* title, const wchar_t* text) const;
  std::int64_t RecordingTicks() const;
  void PlayEventSound(const std::wstring& sound) const;

  // A source picture: BGRA rows `pitch` bytes apart; `mapped` when they are the mapped staging
  // texture, which ReleasePicture unmaps.
  struct Picture {
    const std::uint8_t* pixels = nullptr;
    int pitch = 0;
    bool mapped = false;
  };

  // Sources (video_capture.cpp).
  HRESULT InitializeDxgiCapture();
  HRESULT InitializeGdiForDesktop();
  HRESULT InitializeWindowCapture();
  bool ReinitializeGdiForWindow(HWND window);
  HRESULT ReinitializeDxgi();
  HRESULT CaptureFrame();
  // S_OK with a picture; S_FALSE when the desktop has not changed; a failure otherwise (logged;
  // an unexpected duplication error also requests the stop).
  HRESULT TakePicture(Picture& picture, bool multiTrack);
  void ReleasePicture(Picture& picture);
  HRESULT CreateGdiCaptureSet();
  void ReleaseDxgi();
  void ReleaseGdi();

  // Multi-track recording (video_tracks.cpp).
  HRESULT InitializeMultiTrack();
  HRESULT InitVideoTrack(TrackRuntime& runtime, int quality);
  HRESULT InitAudioTrack(TrackRuntime& runtime, bool microphone);
  static unsigned __stdcall AudioCaptureThreadMain(void* runtime);
  void StartTrackSources();
  void PauseTrackSources();
  void ResetTrackFifos();
  bool MultiTrackTick();
  void WriteTrackVideoFrames(const std::uint8_t* pixels, int pitch, std::int64_t index);
  void WriteTrackAudioFrames(bool finishing);
  void FinishTrackStreams(std::int64_t elapsed, bool paused);
  void CleanupMultiTrack();

  // Encoding (video_encoder.cpp).
  HRESULT InitializeFfmpeg(int quality);
  // The output path, announced in the log, and the MP4 muxer for it; `path` is the UTF-8 name.
  HRESULT CreateOutputFile(const wchar_t* announcement, std::string& path);
  HRESULT OpenFileAndWriteHeader(const std::string& path);
  HRESULT InitVideoEncoder(int quality);
  HRESULT InitAudioEncoder();
  HRESULT MakeScaler();
  void RunTick();
  HRESULT WriteVideoFrame(std::int64_t pts);
  HRESULT WriteAudioFrames(bool finishing);
  HRESULT ScaleIntoFrame(const std::uint8_t* pixels, int pitch);
  HRESULT EncodeAndWriteFrame(AVFrame* frame, AVStream* stream, AVCodecContext* codec, const wchar_t* label);
  void FinishStreams();
  void ReleaseEncoding();
  void LogBacklogDrop(const std::wstring& source, std::int64_t samples);

  // State, guarded by lock_ (re-entrant: the start path holds it while it calls back in).
  mutable std::recursive_mutex lock_;
  // Written under lock_; atomic so that the multi-track capture threads can read it without the
  // lock, which the clean-up holds while it waits for them.
  std::atomic<std::uint32_t> state_{kStateIdle};
  std::atomic<bool> starting_{false};  // a countdown or start path is running
  bool selfStopped_ = false;           // the recording thread ended the recording itself
  UniqueKernelHandle recordingThread_;
  HWND coreWindow_ = nullptr;
  HWND targetWindow_ = nullptr;
  DWORD targetProcess_ = 0;
  bool windowMode_ = false;
  bool gdiMode_ = false;
  bool automatic_ = false;
  bool pausedByUser_ = false;
  bool dxgiLost_ = false;
  std::wstring outputPath_;
  std::wstring lastVideoPath_;  // survives the clean-up, for a click on the "saved" balloon
  AppConfig config_;            // the settings at the start of this recording
  int framerate_ = kFallbackFramerate;

  // Timing.
  std::int64_t frequency_ = 0;
  std::int64_t startTime_ = 0;
  std::int64_t pauseStart_ = 0;
  std::int64_t pausedSince_ = 0;  // counter value while paused, 0 otherwise
  std::int64_t pausedTotal_ = 0;
  std::unique_ptr<FrameClock> clock_;
  TickStatistics ticks_;
  std::int64_t samplesWritten_ = 0;
  bool backlogLogged_ = false;

  // Sources.
  Microsoft::WRL::ComPtr<ID3D11Device> d3dDevice_;
  Microsoft::WRL::ComPtr<ID3D11DeviceContext> m_pD3DContext;
  Microsoft::WRL::ComPtr<IDXGIOutputDuplication> duplication_;
  Microsoft::WRL::ComPtr<ID3D11Texture2D> staging_;
  RECT sourceArea_{};  // the captured output's desktop rectangle (DXGI)
  int sourceWidth_ = 0;
  int sourceHeight_ = 0;
  int outputWidth_ = 0;
  int outputHeight_ = 0;
  UniqueMemoryDC memoryDc_;
  UniqueBitmap bitmap_;
  std::vector<std::uint8_t> frameBuffer_;
  BITMAPINFO bitmapInfo_{};

  // Audio.
  bool useTrackSources_ = false;
  bool multiTrack_ = false;
  std::vector<TrackConfig> tracks_;
  AudioMixer mixer_;
  std::vector<std::unique_ptr<TrackRuntime>> runtimes_;  // multi-track: one a stream, in file order

  // FFmpeg.
  OutputContextPtr format_;
  CodecContextPtr videoCodec_;
  AVStream* videoStream_ = nullptr;
  CodecContextPtr audioCodec_;
  AVStream* audioStream_ = nullptr;
  SwsPtr scaler_;
  int scalerWidth_ = 0;   // the source size the scaler was made for
  int scalerHeight_ = 0;
  FramePtr videoFrame_;
  FramePtr lastFrame_;
  FramePtr audioFrame_;
  bool headerWritten_ = false;
  std::mutex writeLock_;
};

VideoRecorder& TheVideoRecorder();

}  // namespace vistrel
