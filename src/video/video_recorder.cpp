// DirectShow first: see video_tracks.h.
#include "video/video_tracks.h"
#include "video/video_recorder.h"

#include <knownfolders.h>
#include <process.h>
#include <shellapi.h>
#include <shlobj.h>

#include "app/app_state.h"
#include "app/countdown.h"
#include "app/messages.h"
#include "capture/window_capture.h"
#include "audio/audio_source.h"
#include "core/balloon.h"
#include "core/file_names.h"
#include "core/log.h"
#include "core/sound.h"
#include "core/system_error.h"
#include "core/unique_file.h"
#include "i18n/tr.h"

namespace vistrel {

VideoRecorder& TheVideoRecorder() {
  static VideoRecorder recorder;
  return recorder;
}

bool IsValidTargetWindow(HWND window) {
  if (!window || !IsWindow(window) || !IsWindowVisible(window) || IsIconic(window)) return false;
  if (window == GetDesktopWindow() || window == GetShellWindow()) return false;
  const AppState& app = App();
  if (window == app.coreWindow.load() || window == app.trayOwner) return false;
  RECT rect{};
  if (!GetWindowRect(window, &rect)) return false;
  return rect.right - rect.left >= 50 && rect.bottom - rect.top >= 50;
}

VideoRecorder::VideoRecorder() = default;

VideoRecorder::~VideoRecorder() {
  StopRecording();
  // A recording that the recording thread is ending by itself is finalised before exit.
  for (int i = 0; i < 3000 && GetRecorderState() != kStateIdle; ++i) Sleep(10);
}

void VideoRecorder::ToggleRecording(HWND coreWindow) {
  if (GetRecorderState() != kStateIdle) {
    StopRecording();
  } else {
    StartRecording(coreWindow);
  }
}

std::uint32_t VideoRecorder::GetRecorderState() const {
  std::lock_guard guard(lock_);
  return state_;
}

bool VideoRecorder::StartRecording(HWND coreWindow) {
  std::lock_guard guard(lock_);
  if (state_ != kStateIdle) {
    LogMessage(L"Recorder: Start requested but state is not idle. Ignoring.");
    return false;
  }
  if (starting_) {
    // The state stays idle through the countdown and the set-up; one start at a time.
    LogMessage(L"Recorder: [WARNING] A recording is already starting. Request ignored.");
    return false;
  }
  coreWindow_ = coreWindow;
  pausedByUser_ = false;
  config_ = ConfigSnapshot();
  framerate_ = UsableFramerate(config_.VideoFramerate);
  if (framerate_ != config_.VideoFramerate) {
    LogMessage(L"Recorder: [WARNING] The frame rate setting is not positive. Using " +
               std::to_wstring(framerate_) + L" frames per second.");
  }
  MultiTrackConfig& tracks = MultiTrackConfig::Instance();
  tracks.Load();
  tracks_ = tracks.Tracks();
  windowMode_ = config_.VideoMode == 1;
  multiTrack_ = tracks.IsMultiTrackEnabled();
  useTrackSources_ = false;
  if (!multiTrack_ && tracks.UseSameSourcesInSingleMode() && !tracks_.empty()) {
    LogMessage(L"Recorder: Single-track mode will use sources defined in multi-track configuration.");
    useTrackSources_ = true;
  }
  if (!multiTrack_) {
    LogMessage(L"Recorder: Standard recording mode is enabled.");
  } else if (windowMode_) {
    LogMessage(L"Recorder: Multi-track mode is enabled for Active Window recording.");
  } else {
    LogMessage(L"Recorder: Multi-track mode is enabled for Full Screen recording.");
  }
  if (windowMode_) {
    targetWindow_ = GetForegroundWindow();
    if (!IsValidTargetWindow(targetWindow_)) {
      LogMessage(L"Foreground window is not a valid target. Opening selection dialog.");
      targetWindow_ = ShowWindowPicker();
      if (!targetWindow_) {
        LogMessage(L"Window selection cancelled by user. Aborting start.");
        return false;
      }
    }
  }
  starting_ = true;
  const uintptr_t thread = _beginthreadex(nullptr, 0, CountdownThreadMain, this, 0, nullptr);
  if (thread == 0) {
    LogMessage(L"Recorder: [FATAL] Failed to create countdown thread.");
    starting_ = false;
    return false;
  }
  CloseHandle(reinterpret_cast<HANDLE>(thread));
  return true;
}

unsigned __stdcall VideoRecorder::CountdownThreadMain(void* self) {
  auto* recorder = static_cast<VideoRecorder*>(self);
  ComApartment com;
  switch (RunCountdown(App().instance)) {
    case CountdownResult::kFinished:
      LogMessage(L"Recorder: Countdown finished. Proceeding with recording initialization.");
      break;
    case CountdownResult::kNotShown:
      LogMessage(L"Recorder: Countdown window failed to create. Starting recording immediately.");
      break;
    case CountdownResult::kBusy:
    case CountdownResult::kInterrupted:
      LogMessage(L"Recorder: [WARNING] Another recording is counting down. Start cancelled.");
      recorder->starting_ = false;
      return 0;
  }
  recorder->StartAfterCountdown();
  recorder->starting_ = false;
  return 0;
}

void VideoRecorder::PlayEventSound(const std::wstring& sound) const {
  if (config_.PlayVideoEventSounds) PlaySoundSync(sound);
}

void VideoRecorder::PostState(WPARAM state) const {
  if (coreWindow_) PostMessageW(coreWindow_, WM_RECORDING_STATE, state, 0);
}

void VideoRecorder::ShowRecorderBalloon(const wchar_t* title, const wchar_t* text) const {
  if (coreWindow_) ShowBalloon(title, text);
}

void VideoRecorder::StartAfterCountdown() {
  std::lock_guard guard(lock_);
  PlayEventSound(config_.Sounds.RecordingStart);
  if (multiTrack_) {
    if (FAILED(InitializeMultiTrack())) {
      LogMessage(L"Recorder: [FATAL] Multi-track initialization failed.");
      ShowRecorderBalloon(tr(L"Recording Failed").c_str(), tr(L"Could not start multi-track recording. Check logs.").c_str());
      CleanupAndReset();
      state_ = kStateIdle;
      return;
    }
    StartRecordingThread();
    return;
  }
  ComApartment com;
  if (FAILED(com.result())) {
    LogHresultError(kVideoLogPrefix, L"CoInitializeEx on main thread", com.result());
    return;
  }
  OpenAudioSources(config_);
  const int configured = config_.VideoQuality;
  bool started = false;
  for (int quality = configured; quality >= 0; --quality) {
    if (quality != configured) {
      LogMessage(L"Recorder: [WARNING] Initialization failed at previous quality. Trying lower quality setting.");
    }
    if (SUCCEEDED(InitializeForQuality(quality))) {
      started = true;
      break;
    }
    // The audio sources and the target window stay for the next attempt.
    ReleaseForNextAttempt();
    state_ = kStateIdle;
  }
  if (!started) {
    LogMessage(L"Recorder: [FATAL] Could not initialize recorder even at the lowest quality setting.");
    ShowRecorderBalloon(tr(L"Recording Failed").c_str(),
                        tr(L"Could not start the video recorder. Check logs for details.").c_str());
    CleanupAndReset();
    state_ = kStateIdle;
    return;
  }
  StartRecordingThread();
}

void VideoRecorder::StartRecordingThread() {
  selfStopped_ = false;
  const uintptr_t thread = _beginthreadex(nullptr, 0, RecordingThreadMain, this, 0, nullptr);
  if (thread == 0) {
    LogMessage(L"Recorder: [FATAL] Failed to create recording thread.");
    ShowRecorderBalloon(tr(L"Recording Failed").c_str(),
                        tr(L"Could not start the video recorder. Check logs for details.").c_str());
    CleanupAndReset();
    state_ = kStateIdle;
    return;
  }
  recordingThread_.reset(reinterpret_cast<HANDLE>(thread));
  state_ = kStateRecording;
  PostState(kStateRecording);
}

void VideoRecorder::OpenAudioSources(const AppConfig& config) {
  if (!useTrackSources_) {
    LogMessage(L"Recorder: Initializing audio devices from global config for single-track mode.");
    const int wanted = config.VideoAudioSource;
    const bool both = wanted == 3;
    if (wanted == 1 || both) {
      auto mic = std::make_unique<AudioSource>();
      if (SUCCEEDED(InitAudioDevice(kVideoLogPrefix, true, config.MicrophoneID, *mic, nullptr))) {
        mixer_.Add(std::move(mic), 1.0f, false);
      } else {
        LogMessage(L"Recorder: Mic init failed. Continuing without it.");
      }
    }
    if (wanted == 2 || both) {
      auto system = std::make_unique<AudioSource>();
      if (SUCCEEDED(InitAudioDevice(kVideoLogPrefix, false, config.SystemAudioID, *system,
                                    mixer_.endpointVolume()))) {
        // Mixed with the microphone, the system audio also follows the endpoint's volume.
        mixer_.Add(std::move(system), static_cast<float>(config.SystemAudioVolume) / 100.0f, both);
      } else {
        LogMessage(L"Recorder: System audio init failed. Continuing without it.");
      }
    }
    return;
  }
  LogMessage(L"Recorder: Initializing audio devices from multi-track config for single-track mode.");
  for (const TrackConfig& track : tracks_) {
    for (const bool isInput : {true, false}) {
      if (isInput ? !TrackRecordsAudioInput(track) : !TrackRecordsAudioOutput(track)) continue;
      auto source = std::make_unique<AudioSource>();
      const std::wstring& id = isInput ? track.audio_input_id : track.audio_output_id;
      if (FAILED(InitAudioDevice(kVideoLogPrefix, isInput, id, *source, nullptr))) {
        LogMessage(L"InitSingleAudioSource: [ERROR] Could not initialize audio source for track " + track.name);
        continue;
      }
      const int volume = isInput ? track.input_volume : track.output_volume;
      mixer_.Add(std::move(source), static_cast<float>(volume) / 100.0f, false);
    }
  }
}

HRESULT VideoRecorder::InitializeForQuality(int quality) {
  gdiMode_ = false;
  dxgiLost_ = false;
  LogMessage(L"Recorder: Main thread initializing...");
  LARGE_INTEGER frequency{};
  if (!QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0) {
    LogMessage(L"Recorder: [FATAL] QueryPerformanceFrequency failed. Cannot continue.");
    return E_FAIL;
  }
  frequency_ = frequency.QuadPart;
  HRESULT hr;
  if (windowMode_) {
    LogMessage(L"Recorder: Initializing for Active Window capture (GDI).");
    hr = InitializeWindowCapture();
  } else {
    LogMessage(L"Recorder: Initializing for Full Screen capture (attempting DXGI).");
    hr = InitializeDxgiCapture();
  }
  if (FAILED(hr)) {
    LogMessage(L"Recorder: [FATAL] Video source initialization failed.");
    return hr;
  }
  hr = InitializeFfmpeg(quality);
  if (FAILED(hr)) {
    LogMessage(L"Recorder: [FATAL] FFmpeg initialization failed.");
    return hr;
  }
  return S_OK;
}

unsigned __stdcall VideoRecorder::RecordingThreadMain(void* self) {
  auto* recorder = static_cast<VideoRecorder*>(self);
  {
    ComApartment com;
    if (FAILED(com.result())) {
      LogHresultError(kVideoLogPrefix, L"CoInitializeEx in recording thread", com.result());
      // Nothing was recorded; the file, encoders and sources still go.
      std::lock_guard guard(recorder->lock_);
      recorder->state_ = kStateIdle;
      recorder->CleanupAndReset();
      recorder->recordingThread_.reset();
      recorder->PostState(kStateIdle);
      return 0;
    }
    if (recorder->multiTrack_) {
      LogMessage(L"Recorder: Multi-track mode active. Starting audio capture threads and main loop.");
      recorder->StartTrackSources();
    } else {
      recorder->mixer_.StartClients();
    }
    LogMessage(L"Recorder: All initializations successful. Recording is now active.");
    recorder->startTime_ = CounterNow();
    recorder->RecordingLoop();
    LogMessage(L"Recorder: Recording thread has finished.");
  }
  bool self_stopped;
  {
    std::lock_guard guard(recorder->lock_);
    self_stopped = recorder->selfStopped_;
  }
  if (self_stopped) {
    // Nobody waits for this thread: it completes the stop as a user stop would, then lets go
    // of its own handle.
    std::lock_guard guard(recorder->lock_);
    recorder->FinishRecording();
    recorder->recordingThread_.reset();
  }
  return 0;
}

std::int64_t VideoRecorder::RecordingTicks() const {
  const std::int64_t elapsed = CounterNow() - startTime_ - pausedTotal_;
  return elapsed > 0 ? elapsed : 0;
}

void VideoRecorder::RecordingLoop() {
  LogMessage(multiTrack_ ? L"Recorder: Multi-track recording thread started, entering main loop."
                         : L"Recorder: Recording thread started, entering main loop.");
  // Counted across recordings, as the last attempt's time is; each loop has its own.
  static DWORD lastDxgiAttempt = 0;
  static DWORD lastMultiTrackDxgiAttempt = 0;
  DWORD& lastAttempt = multiTrack_ ? lastMultiTrackDxgiAttempt : lastDxgiAttempt;
  for (;;) {
    std::uint32_t state;
    bool automatic;
    {
      std::lock_guard guard(lock_);
      state = state_;
      automatic = automatic_;
    }
    if (state == kStateStopping) break;
    if (state == kStatePauseRequested) {
      if (multiTrack_) {
        LogMessage(L"Recorder: Pausing audio clients and cameras.");
        PauseTrackSources();
      } else {
        LogMessage(L"Recorder: Pausing audio clients.");
        mixer_.StopClients();
      }
      const std::int64_t stoppedAt = CounterNow();
      if (!automatic) PlayEventSound(config_.Sounds.RecordingPause);
      std::lock_guard guard(lock_);
      if (state_ == kStatePauseRequested) {
        pauseStart_ = pausedSince_ = stoppedAt;
        state_ = kStatePaused;
        PostState(kStatePaused);
        LogMessage(L"Recorder: State changed to PAUSED.");
      }
      continue;
    }
    if (state == kStateResumeRequested) {
      if (!automatic) PlayEventSound(config_.Sounds.RecordingResume);
      LogMessage(multiTrack_ ? L"Recorder: Resuming audio clients and cameras." : L"Recorder: Resuming audio clients.");
      std::lock_guard guard(lock_);
      if (state_ == kStateResumeRequested) {
        if (multiTrack_) {
          ResetTrackFifos();
          StartTrackSources();
        } else {
          mixer_.ResetFifos();
          mixer_.StartClients();
        }
        pausedTotal_ += CounterNow() - pauseStart_;
        pausedSince_ = 0;
        state_ = kStateRecording;
        PostState(kStateRecording);
        LogMessage(L"Recorder: State changed to RECORDING.");
      }
      continue;
    }
    if (windowMode_) {
      // A multi-track recording of a window follows neither focus nor other windows.
      if (!multiTrack_ && !WatchTarget(state)) break;
    } else if (!gdiMode_ && dxgiLost_ && GetTickCount() - lastAttempt > 1000) {
      ReinitializeDxgi();
      lastAttempt = GetTickCount();
    }
    {
      std::lock_guard guard(lock_);
      state = state_;
    }
    if (state == kStateRecording) {
      const std::int64_t elapsed = RecordingTicks();
      const std::int64_t due = clock_->nextDue();
      if (elapsed >= due) {
        if (!multiTrack_) {
          RunTick();
        } else if (!MultiTrackTick()) {
          break;
        }
      } else {
        const std::int64_t ms = (due - elapsed) * 1000 / frequency_;
        if (ms > 0) Sleep(static_cast<DWORD>(ms));
      }
    } else if (state != kStateStopping) {
      Sleep(100);
    }
  }
  // What was recorded up to the stop, the last picture lasting until then.
  FinishStreams();
  LogMessage(multiTrack_ ? L"Recorder: Multi-track recording loop finished." : L"Recorder: Recording loop finished.");
}

bool VideoRecorder::WatchTarget(std::uint32_t state) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, targetProcess_);
  if (!process) {
    LogMessage(L"Recorder: Target process has exited. Stopping recording.");
    ShowRecorderBalloon(tr(L"Recording Stopped").c_str(), tr(L"The recorded application was closed.").c_str());
    RequestStopFromRecordingThread();
    return false;
  }
  // A process that has ended but is still referenced opens; its exit code tells.
  DWORD exitCode = STILL_ACTIVE;
  const bool ended = GetExitCodeProcess(process, &exitCode) && exitCode != STILL_ACTIVE;
  CloseHandle(process);
  if (ended) {
    LogMessage(L"Recorder: Target process has exited. Stopping recording.");
    ShowRecorderBalloon(tr(L"Recording Stopped").c_str(), tr(L"The recorded application was closed.").c_str());
    RequestStopFromRecordingThread();
    return false;
  }
  HWND foreground = GetForegroundWindow();
  DWORD foregroundProcess = 0;
  if (foreground) GetWindowThreadProcessId(foreground, &foregroundProcess);
  if (foregroundProcess != targetProcess_) {
    if (state == kStateRecording) RequestPause(true);
  } else if (IsValidTargetWindow(foreground)) {
    if (state == kStatePaused) RequestResume(true);
    if (foreground != targetWindow_) {
      LogMessage(L"Recorder: Focus changed to a new window within the target application. Switching capture target.");
      if (!ReinitializeGdiForWindow(foreground)) return false;
    }
  } else if (state == kStateRecording) {
    RequestPause(true);
  }
  return true;
}

void VideoRecorder::RequestPause(bool automatic) {
  std::lock_guard guard(lock_);
  if (state_ != kStateRecording) return;
  if (automatic && pausedByUser_) return;
  automatic_ = automatic;
  if (!automatic) pausedByUser_ = true;
  LogMessage(L"Recorder: Requesting pause.");
  state_ = kStatePauseRequested;
}

void VideoRecorder::RequestResume(bool automatic) {
  std::lock_guard guard(lock_);
  if (state_ != kStatePaused) return;
  if (automatic && pausedByUser_) return;
  automatic_ = automatic;
  if (!automatic) pausedByUser_ = false;
  LogMessage(L"Recorder: Requesting resume.");
  state_ = kStateResumeRequested;
}

void VideoRecorder::RequestStopFromRecordingThread() {
  std::lock_guard guard(lock_);
  if (state_ == kStateIdle || state_ == kStateStopping) return;
  LogMessage(L"Recorder: Stop requested.");
  selfStopped_ = true;
  state_ = kStateStopping;
}

void VideoRecorder::StopRecording() {
  HANDLE thread = nullptr;
  {
    std::lock_guard guard(lock_);
    if (state_ == kStateIdle || state_ == kStateStopping) return;
    LogMessage(L"Recorder: Stop requested.");
    state_ = kStateStopping;
    thread = recordingThread_.get();
  }
  if (thread) WaitForSingleObject(thread, INFINITE);
  std::lock_guard guard(lock_);
  recordingThread_.reset();
  FinishRecording();
}

void VideoRecorder::FinishRecording() {
  CleanupAndReset();
  state_ = kStateIdle;
  PostState(kStateIdle);
  PlayEventSound(config_.Sounds.RecordingStop);
  ShowRecorderBalloon(tr(L"Recording Finished").c_str(), tr(L"The video has been saved.").c_str());
}

void VideoRecorder::ReleaseForNextAttempt() {
  LogMessage(L"Recorder: Starting full cleanup and state reset.");
  ReleaseEncoding();
  ReleaseDxgi();
  ReleaseGdi();
  if (!outputPath_.empty()) {
    // The attempt's file never got a header worth keeping.
    DeleteFileW(outputPath_.c_str());
    outputPath_.clear();
  }
  gdiMode_ = false;
  dxgiLost_ = false;
  sourceWidth_ = sourceHeight_ = outputWidth_ = outputHeight_ = 0;
  LogMessage(L"Recorder: Cleanup and state reset finished.");
}

void VideoRecorder::CleanupAndReset() {
  LogMessage(L"Recorder: Starting full cleanup and state reset.");
  const bool recorded = state_ != kStateIdle && headerWritten_;
  if (multiTrack_) CleanupMultiTrack();
  ReleaseEncoding();
  if (!recorded && !outputPath_.empty()) DeleteFileW(outputPath_.c_str());
  mixer_.Release();
  ReleaseDxgi();
  ReleaseGdi();
  if (recorded) lastVideoPath_ = outputPath_;
  clock_.reset();
  ticks_ = TickStatistics();
  samplesWritten_ = 0;
  backlogLogged_ = false;
  pausedTotal_ = 0;
  gdiMode_ = automatic_ = pausedByUser_ = dxgiLost_ = false;
  sourceWidth_ = sourceHeight_ = outputWidth_ = outputHeight_ = 0;
  targetWindow_ = nullptr;
  targetProcess_ = 0;
  startTime_ = pauseStart_ = pausedSince_ = 0;
  outputPath_.clear();
  multiTrack_ = useTrackSources_ = false;
  LogMessage(L"Recorder: Cleanup and state reset finished.");
}

std::wstring VideoRecorder::BuildOutputPath() {
  std::wstring folder = config_.VideoPath;
  if (folder.empty()) {
    LogMessage(L"Recorder: Configured video path is empty. Falling back to default Videos folder.");
    CoTaskMem<wchar_t> videos;
    if (FAILED(SHGetKnownFolderPath(FOLDERID_Videos, 0, nullptr, videos.put())) || !videos.get()) {
      LogMessage(L"Recorder: [ERROR] Failed to get user's Videos directory path.");
      return {};
    }
    folder = std::wstring(videos.get()) + L"\\Vistrel";
  } else {
    LogMessage(L"Recorder: Using configured video path: " + folder);
  }
  if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    const DWORD error = GetLastError();
    LogMessage(L"Recorder: [ERROR] Failed to create directory '" + folder + L"'. Error: " + SystemErrorText(error));
    return {};
  }
  std::wstring title;
  if (windowMode_ && targetWindow_) {
    wchar_t text[256] = {};
    GetWindowTextW(targetWindow_, text, 256);
    title = text;
  }
  const std::wstring base = VideoBaseName(windowMode_ && targetWindow_, title, multiTrack_);
  SYSTEMTIME now{};
  GetLocalTime(&now);
  const std::wstring name =
      base + L"_" + FormatFileTimestamp({now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond}) + L".mp4";
  // Two recordings in the same second get two files.
  const std::wstring path = ClaimNewFile(folder + L"\\" + name);
  if (!path.empty()) LogMessage(L"Recorder: Generated final video path: " + path);
  return path;
}

void VideoRecorder::OpenLastVideoLocation() {
  std::wstring path;
  {
    std::lock_guard guard(lock_);
    path = outputPath_.empty() ? lastVideoPath_ : outputPath_;
  }
  if (path.empty()) {
    LogMessage(L"Recorder: No last video path to open.");
    return;
  }
  LogMessage(L"Recorder: Opening video location.");
  // Explorer's "explore" verb takes folders only; /select opens the folder with the video chosen.
  const std::wstring parameters = L"/select,\"" + path + L"\"";
  ShellExecuteW(nullptr, L"open", L"explorer.exe", parameters.c_str(), nullptr, SW_SHOW);
}

}  // namespace vistrel
