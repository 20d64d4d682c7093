// DirectShow first: see camera_source.h.
#include "video/camera_source.h"
#include "video/video_backend.h"


#include <algorithm>
#include <cstdio>
#include <optional>
#include <set>

#include "core/com_apartment.h"
#include "core/log.h"
#include "i18n/tr.h"
#include "media/audio_mix.h"
#include "media/media_clock.h"
#include "media/muxed_file.h"
#include "media/output_file.h"
#include "media/recording_audio.h"
#include "media/video_stream.h"
#include "tracks/device_list.h"
#include "video/screen_source.h"
#include "video/video_layout.h"

extern "C" {
#include <libavutil/mathematics.h>
}

namespace vistrel {
namespace {

constexpr int kAudioBitRate = 192000;

void Log(const std::wstring& text) { LogMessage(kVideoLogPrefix + text); }

// One video stream of a multi-track recording: the shared screen (or window) source, or a camera.
struct VideoTrack {
  std::wstring name;
  std::unique_ptr<CameraSource> camera;  // null: the screen
  VideoEncoderStream stream;
  bool silenceTold = false;  // the user has heard that the camera stopped sending
  bool formatTold = false;   // the user has heard that its pictures cannot be used
};

// A camera that sends nothing for this long has been unplugged (or has failed).
constexpr ULONGLONG kCameraSilenceMs = 3000;

class VideoBackend final : public RecordingBackend {
 public:
  explicit VideoBackend(VideoPlan plan)
      : RecordingBackend({kVideoLogPrefix,
                          RecordingSoundsOf(plan.config.Sounds, plan.config.PlayVideoEventSounds != 0, true), true,
                          {N_(L"Recording Finished"), N_(L"The video has been saved.")},
                          {N_(L"Recording Failed"), plan.tracks.IsMultiTrackEnabled()
                                                        ? N_(L"Could not start multi-track recording. Check logs.")
                                                        : N_(L"Could not start the video recorder. Check logs for details.")},
                          VideoLifecycle(plan.tracks.IsMultiTrackEnabled())}),
        plan_(std::move(plan)),
        devices_(plan_.devices ? plan_.devices : WindowsVideoDevices()) {
    const AppConfig& config = plan_.config;
    framerate_ = UsableFramerate(config.VideoFramerate);
    if (framerate_ != config.VideoFramerate) {
      Log(L"[WARNING] The frame rate setting " + std::to_wstring(config.VideoFramerate) + L" cannot be used. Using " +
          std::to_wstring(framerate_) + L" frames per second.");
    }
    windowMode_ = config.VideoMode == 1;
    multiTrack_ = plan_.tracks.IsMultiTrackEnabled();
    trackSources_ = !multiTrack_ && plan_.tracks.UseSameSourcesInSingleMode() && !plan_.tracks.Tracks().empty();
    if (trackSources_) Log(L"Single-track mode will use sources defined in multi-track configuration.");
    if (!multiTrack_) {
      Log(L"Standard recording mode is enabled.");
    } else if (windowMode_) {
      Log(L"Multi-track mode is enabled for Active Window recording.");
    } else {
      Log(L"Multi-track mode is enabled for Full Screen recording.");
    }
  }


  std::wstring ClaimOutput() override {
    std::wstring title;
    if (windowMode_ && plan_.target) {
      wchar_t text[256] = {};
      GetWindowTextW(plan_.target, text, 256);
      title = text;
    }
    const OutputPlace place{kVideoLogPrefix, L"video", L"Videos", &FOLDERID_Videos, plan_.config.VideoPath};
    return ClaimRecordingFile(place, VideoBaseName(windowMode_ && plan_.target, title, multiTrack_), L"mp4");
  }

  bool Open(const std::wstring& path, const Notify& notify) override {
    notify_ = notify;
    audio_.SetNotify([notify](const std::wstring& title, const std::wstring& text) { notify({title, text}); });
    com_.emplace();
    if (FAILED(com_->result())) {
      LogHresultError(kVideoLogPrefix, L"CoInitializeEx in recording thread", com_->result());
      return false;
    }
    screen_.emplace(kVideoLogPrefix, plan_.config.IncludeCursor != 0, notify_, devices_);
    if (multiTrack_) {
      if (!OpenMultiTrack(path)) {
        Log(L"[FATAL] Multi-track initialization failed.");
        return false;
      }
      for (auto& track : videoTracks_) {
        if (track->camera) track->camera->Run();
      }
      audio_.StartCapture();
      return true;
    }
    OpenAudioSources();
    const int configured = plan_.config.VideoQuality;
    for (int quality = configured; quality >= 0; --quality) {
      if (quality != configured) Log(L"[WARNING] Initialization failed at previous quality. Trying lower quality setting.");
      outputWidth_ = outputHeight_ = 0;  // each attempt sizes the video by its own quality
      if (OpenAtQuality(quality, path)) {
        audio_.StartCapture();
        return true;
      }
      // The audio sources and the target window stay for the next attempt.
      file_.Discard();
      video_ = VideoEncoderStream();
      audio_.mix() = AudioEncoderStream();
      screen_->Close();
    }
    Log(L"[FATAL] Could not initialize recorder even at the lowest quality setting.");
    return false;
  }

  TickResult Tick(const TickInfo& info) override {
    TickResult result;
    if (windowMode_) {
      result.action = multiTrack_ ? WatchWindow() : WatchApplication(info.paused);
      if (result.action != TickResult::Action::kContinue) return result;
    } else {
      screen_->Recover();
    }
    if (info.paused) return result;
    if (!clock_) clock_.emplace(info.frequency / framerate_);
    const std::int64_t began = CounterNow();
    if (multiTrack_) {
      MultiTrackTick(info);
    } else {
      WriteVideoFrame(clock_->Take(info.recorded));
      audio_.WriteDue(file_, DueSamples(info.recorded, info.frequency), false);
    }
    ticks_.Add(CounterMs(CounterNow() - began));
    result.nextDue = clock_->nextDue();
    if (FAILED(screen_->fault())) {
      // The display cannot be captured any more (a removed device, a driver reset): what is on
      // disk stays playable, and the user hears that the recording was cut short.
      result.action = TickResult::Action::kFail;
      result.failure = {N_(L"Recording Interrupted"), N_(L"An unexpected display error occurred.")};
    } else if (file_.writeError()) {
      // A full disk or a lost drive: what is on disk stays playable, and the user hears why.
      result.action = TickResult::Action::kFail;
      result.failure = {N_(L"Recording Failed"), N_(L"The recording stopped: %s"), file_.WriteFailure()};
    }
    return result;
  }

  void Pause() override {
    Log(multiTrack_ ? L"Pausing audio clients and cameras." : L"Pausing audio clients.");
    StopCapture();
  }

  void Resume() override {
    Log(multiTrack_ ? L"Resuming audio clients and cameras." : L"Resuming audio clients.");
    for (auto& track : videoTracks_) {
      if (track->camera) track->camera->Run();
    }
    audio_.StartCapture();
  }

  FinishResult Finish(const TickInfo& end, const std::atomic<bool>& hurry) override {
    if (!clock_) clock_.emplace(end.frequency / framerate_);
    if (end.recorded == 0 && clock_->written() == 0) {
      // Stopped before it began: there is not one picture to keep.
      StopCapture();
      file_.Discard();
      return FinishResult::Discarded({N_(L"Nothing Recorded"), N_(L"The recording ended before it began. No file was kept.")});
    }
    // The last picture lasts until the moment the recording ended.
    std::int64_t videoEnd = clock_->end();
    if (const std::int64_t index = clock_->FinalPts(end.recorded); index >= 0) {
      if (multiTrack_) {
        for (auto& track : videoTracks_) track->stream.Write(file_, TrackPts(index), L"Video Track (Last Frame)");
      } else {
        video_.Write(file_, index, L"Video (Last Frame)");
      }
      videoEnd = index + 1;
    }
    // The last picture ends on the next frame boundary: the audio goes on to the same point, so
    // that both streams end together.
    const std::int64_t audioEnd = std::max(DueSamples(end.recorded, end.frequency),
                                           av_rescale(videoEnd, kMixSampleRate, framerate_));
    audio_.WriteDue(file_, audioEnd, true, end.paused);
    wchar_t summary[200];
    std::swprintf(summary, 200, L"%lld frames written, %lld intervals skipped; tick mean %.1f ms, 95th percentile %.1f ms.",
                  static_cast<long long>(clock_->written()), static_cast<long long>(clock_->skipped()), ticks_.Mean(),
                  ticks_.Percentile(0.95));
    Log(summary);
    if (multiTrack_) Log(L"Cleaning up multi-track resources.");
    StopCapture();
    Log(multiTrack_ ? L"Flushing multi-track encoders and writing file trailer." : L"Flushing encoders and writing file trailer.");
    video_.Flush(file_, L"Video (Flush)");
    for (auto& track : videoTracks_) track->stream.Flush(file_, L"Flush");
    audio_.Flush(file_);
    const HRESULT closed = file_.Close(&hurry);
    if (FAILED(closed)) return FinishResult::Failed({N_(L"Recording Failed"), N_(L"The video file could not be completed.")});
    if (closed == S_FALSE) return {FinishResult::Outcome::kSaved, {facts().saved.title, kKeptInFragmentsText}};
    return {};
  }

  void Abort() override {
    if (multiTrack_) Log(L"Cleaning up multi-track resources.");
    audio_.Release();
    videoTracks_.clear();
    file_.Discard();
  }

 private:
  void StopCapture() {
    audio_.StopCapture();
    for (auto& track : videoTracks_) {
      if (track->camera) track->camera->Pause();
    }
  }

  void OpenAudioSources() {
    const AppConfig& config = plan_.config;
    if (trackSources_) {
      Log(L"Initializing audio devices from multi-track config for single-track mode.");
      AddTrackSources(audio_.mixer(), kVideoLogPrefix, plan_.tracks.Tracks());
      return;
    }
    Log(L"Initializing audio devices from global config for single-track mode.");
    SettingsSources sources;
    sources.microphone = config.VideoAudioSource == 1 || config.VideoAudioSource == 3;
    sources.system = config.VideoAudioSource == 2 || config.VideoAudioSource == 3;
    sources.microphoneId = config.MicrophoneID;
    sources.systemId = config.SystemAudioID;
    sources.systemGain = static_cast<float>(config.SystemAudioVolume) / 100.0f;
    // Mixed with the microphone, the system audio also follows the endpoint's volume.
    sources.systemFollowsVolume = config.VideoAudioSource == 3;
    AddSettingsSources(audio_.mixer(), kVideoLogPrefix, sources);
  }

  // The screen the recording takes: the setting, or with the tracks' sources the first track's.
  std::wstring ScreenId() const {
    if (!trackSources_) return plan_.config.ScreenID;
    for (const TrackConfig& track : plan_.tracks.Tracks()) {
      if ((track.type == kTrackMixed || track.type == kTrackVideoOnly) && !track.video_source_id.empty()) {
        Log(L"Overriding screen selection with multi-track source: " + track.video_source_id);
        return track.video_source_id;
      }
    }
    Log(L"[WARNING] 'Use same sources' is on, but no video source found in multi-track list. Using global default.");
    return plan_.config.ScreenID;
  }

  HRESULT OpenSource() {
    if (windowMode_) {
      Log(L"Initializing for Active Window capture (GDI).");
      DWORD process = 0;
      if (plan_.target) GetWindowThreadProcessId(plan_.target, &process);
      if (process == 0) {
        LogMessage(L"InitializeWindowCapture: [ERROR] Could not get target process ID.");
        return E_FAIL;
      }
      targetProcess_ = process;
      Log(L"Target application PID is " + std::to_wstring(process));
      return screen_->OpenWindow(plan_.target);
    }
    Log(L"Initializing for Full Screen capture (attempting DXGI).");
    return screen_->OpenScreen(ScreenId());
  }

  bool OpenAtQuality(int quality, const std::wstring& path) {
    Log(L"Main thread initializing...");
    if (!CounterWorks()) {
      Log(L"[FATAL] QueryPerformanceFrequency failed. Cannot continue.");
      return false;
    }
    if (FAILED(OpenSource())) {
      Log(L"[FATAL] Video source initialization failed.");
      return false;
    }
    Log(L"Initializing FFmpeg...");
    Log(L"Output file will be: " + path);
    if (FAILED(file_.Create("mp4", path)) || !OpenVideoStream(video_, screen_->width(), screen_->height(), quality,
                                                             AVRational{1, framerate_}, L"InitVideoEncoder")) {
      Log(L"[ERROR] Video encoder init failed.");
      Log(L"[FATAL] FFmpeg initialization failed.");
      return false;
    }
    if (audio_.mixer().empty()) {
      Log(L"No audio sources available or selected. Recording video only.");
    } else if (FAILED(audio_.mix().Open(file_, AudioEncoding{nullptr, kAudioBitRate}, L"InitAudioEncoder")) ||
               FAILED(audio_.mixer().PrepareInputs(kVideoLogPrefix, trackSources_))) {
      Log(L"[ERROR] Unified audio encoder init failed.");
      Log(L"[FATAL] FFmpeg initialization failed.");
      return false;
    }
    if (!WriteHeader()) return false;
    Log(L"FFmpeg initialization successful.");
    return true;
  }

  // The size of the video from the source's and the quality; multi-track streams all take the
  // size of the first.
  bool OpenVideoStream(VideoEncoderStream& stream, int sourceWidth, int sourceHeight, int quality, AVRational timeBase,
                       const wchar_t* caller) {
    const VideoOutputSize size = VideoOutputSizeFor(sourceWidth, sourceHeight, quality, framerate_);
    if (outputWidth_ == 0) {
      if (size.sourceLimited) {
        LogMessage(L"InitVideoEncoder: Target quality is higher than source. Using source resolution to avoid upscaling.");
      }
      if (size.width <= 0 || size.height <= 0) {
        LogMessage(L"InitVideoEncoder: [ERROR] The picture is too small to record.");
        return false;
      }
      LogMessage(L"InitVideoEncoder: Source: " + std::to_wstring(sourceWidth) + L"x" + std::to_wstring(sourceHeight) +
                 L", Target Quality: " + std::to_wstring(size.targetHeight) + L"p, Final Output: " +
                 std::to_wstring(size.width) + L"x" + std::to_wstring(size.height));
      outputWidth_ = size.width;
      outputHeight_ = size.height;
    }
    const VideoEncoding encoding{outputWidth_, outputHeight_, size.bitRate, framerate_, timeBase};
    return SUCCEEDED(stream.Open(file_, encoding, caller));
  }

  // In fragments while recording; an ordinary file with its index at the front once finished.
  bool WriteHeader() { return SUCCEEDED(file_.OpenRecoverable()); }

  bool OpenMultiTrack(const std::wstring& path) {
    Log(L"Initializing Multi-Track recording...");
    if (!CounterWorks()) {
      Log(L"[FATAL] QueryPerformanceFrequency failed.");
      return false;
    }
    Log(L"Multi-track output file will be: " + path);
    if (FAILED(file_.Create("mp4", path))) return false;
    if (plan_.tracks.Tracks().empty()) {
      Log(L"[ERROR] Multi-track is enabled, but no tracks are configured.");
      return false;
    }
    std::set<std::wstring> screens;
    for (const DeviceEntry& display : EnumerateDisplays()) screens.insert(display.id);
    for (const TrackConfig& track : plan_.tracks.Tracks()) {
      if (TrackRecordsVideo(track) && !track.video_source_id.empty()) {
        auto video = std::make_unique<VideoTrack>();
        video->name = track.name;
        int width = 0;
        int height = 0;
        if (!screens.count(track.video_source_id)) {
          video->camera = std::make_unique<CameraSource>();
          if (FAILED(video->camera->Open(*devices_, track.video_source_id, track.name))) {
            Log(L"[ERROR] Failed to initialize CAMERA for track: " + track.name);
            continue;  // the track's audio goes with it
          }
          width = video->camera->width();
          height = video->camera->height();
        } else {
          if (!screen_->open()) {
            if (windowMode_ && FAILED(OpenSource())) {
              Log(L"[ERROR] Failed to initialize WINDOW capture for track: " + track.name);
              continue;
            }
            // Every screen track records the screen of the ScreenID setting.
            if (!windowMode_ && FAILED(screen_->OpenScreen(plan_.config.ScreenID))) {
              Log(L"[FATAL] Multi-track screen source initialization failed.");
              return false;
            }
          }
          width = screen_->width();
          height = screen_->height();
        }
        LogMessage(L"Initializing video stream for track: " + track.name);
        if (OpenVideoStream(video->stream, width, height, plan_.config.VideoQuality, AVRational{1, 1000000},
                            L"InitVideoTrack")) {
          videoTracks_.push_back(std::move(video));
        } else {
          Log(L"[ERROR] Failed to initialize video stream for track: " + track.name);
        }
      }
      audio_.AddTrackStreams(track, file_, kAudioBitRate);
    }
    if (videoTracks_.empty()) {
      Log(L"[FATAL] No video tracks could be successfully initialized. Aborting recording.");
      return false;
    }
    if (!WriteHeader()) return false;
    Log(L"Multi-track initialization successful.");
    return true;
  }

  // Single-track window mode: the recording follows the application's windows and pauses while
  // another application is in front.
  TickResult::Action WatchApplication(bool paused) {
    UniqueKernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, targetProcess_));
    // A process that has ended but is still referenced opens; its exit code tells.
    DWORD exitCode = STILL_ACTIVE;
    if (!process || (GetExitCodeProcess(process.get(), &exitCode) && exitCode != STILL_ACTIVE)) {
      Log(L"Target process has exited. Stopping recording.");
      notify_({N_(L"Recording Stopped"), N_(L"The recorded application was closed.")});
      return TickResult::Action::kStop;
    }
    HWND foreground = GetForegroundWindow();
    DWORD foregroundProcess = 0;
    if (foreground) GetWindowThreadProcessId(foreground, &foregroundProcess);
    if (foregroundProcess != targetProcess_ || !IsValidTargetWindow(foreground, plan_.ownWindows)) {
      return paused ? TickResult::Action::kContinue : TickResult::Action::kPause;
    }
    if (paused) return TickResult::Action::kResume;
    if (foreground != screen_->target()) {
      Log(L"Focus changed to a new window within the target application. Switching capture target.");
      if (!screen_->Retarget(foreground)) return TickResult::Action::kStop;
    }
    return TickResult::Action::kContinue;
  }

  // Multi-track window mode: the recording ends with the window chosen at its start (which only
  // camera tracks may record).
  TickResult::Action WatchWindow() {
    if (plan_.target && IsWindow(plan_.target)) return TickResult::Action::kContinue;
    Log(L"Target window closed during multi-track recording. Stopping.");
    notify_({N_(L"Recording Stopped"), N_(L"The recorded application was closed.")});
    return TickResult::Action::kStop;
  }

  void WriteVideoFrame(std::int64_t pts) {
    Picture picture;
    const HRESULT hr = screen_->Take(picture);
    const bool scaled = hr == S_OK && video_.Scale(picture.pixels, picture.pitch, picture.width, picture.height,
                                                   AV_PIX_FMT_BGRA);
    screen_->Release(picture);
    video_.Write(file_, pts, scaled ? L"Video" : L"Video (Last Frame)");
  }

  // The last picture of a camera that stopped sending stays in its stream; the user is told once
  // each time it stops. A camera that sends pictures none of which can be read is told of once.
  void WatchCamera(VideoTrack& track) {
    const ULONGLONG now = GetTickCount64();
    const bool silent = track.camera->SilentFor(now) > kCameraSilenceMs;
    if (silent && !track.silenceTold) {
      Log(L"[WARNING] The camera of track " + track.name + L" sends no pictures; its last picture is repeated.");
      notify_({N_(L"Camera Stopped"),
               N_(L"A camera stopped sending pictures. Its last picture stays in the recording until it is back.")});
    }
    track.silenceTold = silent;
    if (!silent && !track.formatTold && track.camera->UnusedFor(now) > kCameraSilenceMs) {
      Log(L"[WARNING] The pictures of the camera of track " + track.name + L" cannot be read (format " +
          track.camera->subtype() + L"); its last picture is repeated.");
      notify_({N_(L"Camera Not Recorded"), N_(L"A camera sends pictures in a format that cannot be recorded. Its last "
                                              "picture stays in the recording.")});
      track.formatTold = true;
    }
  }

  std::int64_t TrackPts(std::int64_t index) const { return av_rescale(index, 1000000, framerate_); }

  void MultiTrackTick(const TickInfo& info) {
    Picture picture;
    const bool screenTracks = screen_->open();
    // With desktop duplication an unchanged desktop gives no picture: no video frame is written
    // then, but the audio goes on.
    const HRESULT hr = screenTracks ? screen_->Take(picture) : S_OK;
    if (hr == S_FALSE) {
      clock_->Idle(info.recorded);
    } else {
      const std::int64_t pts = TrackPts(clock_->Take(info.recorded));
      for (auto& track : videoTracks_) {
        const bool got = track->camera ? track->camera->Take(track->stream)
                                       : hr == S_OK && picture.pixels &&
                                             track->stream.Scale(picture.pixels, picture.pitch, picture.width,
                                                                 picture.height, AV_PIX_FMT_BGRA);
        track->stream.Write(file_, pts, got ? L"Video Track" : L"Video Track (Last Frame)");
        if (track->camera) WatchCamera(*track);
      }
    }
    screen_->Release(picture);
    audio_.WriteDue(file_, DueSamples(info.recorded, info.frequency), false);
  }

  VideoPlan plan_;
  std::shared_ptr<VideoDevices> devices_;
  Notify notify_;
  int framerate_ = kFallbackFramerate;
  bool windowMode_ = false;
  bool multiTrack_ = false;
  bool trackSources_ = false;
  DWORD targetProcess_ = 0;
  int outputWidth_ = 0;
  int outputHeight_ = 0;
  std::optional<FrameClock> clock_;
  TickStatistics ticks_;
  // COM on the recording thread, which opens the sources; released after everything below.
  std::optional<ComApartment> com_;
  std::optional<ScreenSource> screen_;
  MuxedFile file_{kVideoLogPrefix};
  VideoEncoderStream video_;
  std::vector<std::unique_ptr<VideoTrack>> videoTracks_;
  RecordingAudio audio_{kVideoLogPrefix};
};

}  // namespace

bool IsValidTargetWindow(HWND window, const std::vector<HWND>& own) {
  if (!window || !IsWindow(window) || !IsWindowVisible(window) || IsIconic(window)) return false;
  if (window == GetDesktopWindow() || window == GetShellWindow()) return false;
  for (HWND mine : own) {
    if (window == mine) return false;
  }
  RECT rect{};
  if (!GetWindowRect(window, &rect)) return false;
  return rect.right - rect.left >= 50 && rect.bottom - rect.top >= 50;
}

std::unique_ptr<RecordingBackend> MakeVideoBackend(VideoPlan plan) {
  return std::make_unique<VideoBackend>(std::move(plan));
}

}  // namespace vistrel
