// Multi-track video: one MP4 with a video stream per screen, window or camera track and an AAC
// stream per audio source, each with its own volume.
// DirectShow first: see video_tracks.h.
#include "video/video_tracks.h"

#include <process.h>

#include <algorithm>
#include <set>

#include "audio/audio_mix.h"
#include "audio/recorder_util.h"
#include "core/log.h"
#include "core/text.h"
#include "i18n/tr.h"
#include "tracks/device_list.h"
#include "video/video_recorder.h"
#include "video/video_streams.h"

extern "C" {
#include <libswscale/swscale.h>
}

namespace vistrel {

TrackRuntime::~TrackRuntime() { ReleaseCamera(); }

void TrackRuntime::ReleaseCamera() {
  if (control) control->Stop();
  if (grabber) grabber->SetCallback(nullptr, 0);
  control.Reset();
  grabber.Reset();
  builder.Reset();
  graph.Reset();
  if (callback) {
    callback->Detach();
    callback->Release();
    callback = nullptr;
  }
}

HRESULT VideoRecorder::InitializeMultiTrack() {
  LogMessage(L"Recorder: Initializing Multi-Track recording...");
  LARGE_INTEGER frequency{};
  if (!QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0) {
    LogMessage(L"Recorder: [FATAL] QueryPerformanceFrequency failed.");
    return E_FAIL;
  }
  frequency_ = frequency.QuadPart;
  std::string path;
  if (FAILED(CreateOutputFile(L"Recorder: Multi-track output file will be: ", path))) return E_FAIL;
  if (tracks_.empty()) {
    LogMessage(L"Recorder: [ERROR] Multi-track is enabled, but no tracks are configured.");
    return E_FAIL;
  }
  bool anyVideo = false;
  {
    ComApartment com;
    std::set<std::wstring> screens;
    for (const DeviceEntry& display : EnumerateDisplays()) screens.insert(display.id);
    for (const TrackConfig& track : tracks_) {
      if (TrackRecordsVideo(track) && !track.video_source_id.empty()) {
        auto runtime = std::make_unique<TrackRuntime>();
        runtime->config = track;
        runtime->owner = this;
        if (!screens.count(track.video_source_id)) {
          runtime->isCamera = true;
          if (FAILED(InitCameraTrack(*runtime))) {
            LogMessage(L"Recorder: [ERROR] Failed to initialize CAMERA for track: " + track.name);
            continue;  // the track's audio goes with it
          }
        } else if (!windowMode_) {
          if (sourceWidth_ == 0) {
            if (HRESULT hr = InitializeDxgiCapture(); FAILED(hr)) {
              LogMessage(L"Recorder: [FATAL] Multi-track screen source initialization failed.");
              return hr;
            }
          }
        } else if (!memoryDc_) {
          if (FAILED(InitializeWindowCapture())) {
            LogMessage(L"Recorder: [ERROR] Failed to initialize WINDOW capture for track: " + track.name);
            continue;
          }
        }
        if (!runtime->isCamera) {
          runtime->sourceWidth = sourceWidth_;
          runtime->sourceHeight = sourceHeight_;
          runtime->sourcePixelFormat = AV_PIX_FMT_BGRA;
        }
        LogMessage(L"Initializing video stream for track: " + track.name);
        if (SUCCEEDED(InitVideoTrack(*runtime, config_.VideoQuality))) {
          anyVideo = true;
          runtimes_.push_back(std::move(runtime));
        } else {
          LogMessage(L"Recorder: [ERROR] Failed to initialize video stream for track: " + track.name);
        }
      }
      for (const bool microphone : {true, false}) {
        if (microphone ? !TrackRecordsAudioInput(track) : !TrackRecordsAudioOutput(track)) continue;
        auto runtime = std::make_unique<TrackRuntime>();
        runtime->config = track;
        runtime->owner = this;
        LogMessage((microphone ? L"Initializing audio input stream for track: "
                               : L"Initializing audio output stream for track: ") + track.name);
        if (SUCCEEDED(InitAudioTrack(*runtime, microphone))) {
          runtimes_.push_back(std::move(runtime));
        } else {
          LogMessage((microphone ? L"Recorder: [ERROR] Failed to initialize audio input stream for track: "
                                 : L"Recorder: [ERROR] Failed to initialize audio output stream for track: ") +
                     track.name);
        }
      }
    }
  }
  if (!anyVideo) {
    LogMessage(L"Recorder: [FATAL] No video tracks could be successfully initialized. Aborting recording.");
    return E_FAIL;
  }
  if (FAILED(OpenFileAndWriteHeader(path))) return E_FAIL;
  for (auto& runtime : runtimes_) {
    if (!runtime->hasAudio) continue;
    const uintptr_t thread = _beginthreadex(nullptr, 0, AudioCaptureThreadMain, runtime.get(), 0, nullptr);
    runtime->captureThread.reset(reinterpret_cast<HANDLE>(thread));
  }
  LogMessage(L"Recorder: Multi-track initialization successful.");
  return S_OK;
}

HRESULT VideoRecorder::InitVideoTrack(TrackRuntime& runtime, int quality) {
  const VideoOutputSize size = VideoOutputSizeFor(runtime.sourceWidth, runtime.sourceHeight, quality, framerate_);
  // Every video stream of the file has the size of the first one.
  if (outputWidth_ == 0) {
    if (size.width <= 0 || size.height <= 0) return E_FAIL;
    outputWidth_ = size.width;
    outputHeight_ = size.height;
  }
  const StreamTexts texts{L"InitVideoTrack", L"avcodec_open2 for video track", nullptr, nullptr, L"last_frame"};
  const H264Settings settings{outputWidth_, outputHeight_, size.bitRate, framerate_, AVRational{1, 1000000}};
  if (HRESULT hr = OpenH264Stream(format_.get(), texts, settings, runtime.codec, runtime.stream, runtime.frame,
                                  runtime.lastFrame);
      FAILED(hr)) {
    return hr;
  }
  runtime.scaler.reset(sws_getContext(runtime.sourceWidth, runtime.sourceHeight,
                                      static_cast<AVPixelFormat>(runtime.sourcePixelFormat), outputWidth_,
                                      outputHeight_, AV_PIX_FMT_YUV420P, SWS_FAST_BILINEAR, nullptr, nullptr, nullptr));
  if (!runtime.scaler) {
    LogMessage(L"InitVideoTrack: [ERROR] sws_getContext failed.");
    return E_FAIL;
  }
  runtime.hasVideo = true;
  return S_OK;
}

HRESULT VideoRecorder::InitAudioTrack(TrackRuntime& runtime, bool microphone) {
  runtime.isMicrophone = microphone;
  const std::wstring& id = microphone ? runtime.config.audio_input_id : runtime.config.audio_output_id;
  if (id.empty()) return E_INVALIDARG;
  runtime.audio = std::make_unique<AudioSource>();
  if (FAILED(InitAudioDevice(kVideoLogPrefix, microphone, id, *runtime.audio,
                             microphone ? nullptr : std::addressof(runtime.endpointVolume)))) {
    LogMessage(L"InitAudioTrack: [ERROR] Could not initialize audio source for track " + runtime.config.name);
    return E_FAIL;
  }
  const StreamTexts texts{L"InitAudioTrack", L"avcodec_open2 for audio track",
                          L"avcodec_parameters_from_context for audio track", L"av_frame_get_buffer for audio track",
                          nullptr};
  if (HRESULT hr = OpenAacStream(format_.get(), texts, runtime.codec, runtime.stream, runtime.frame); FAILED(hr)) {
    return hr;
  }
  if (FAILED(InitAudioResampler(kVideoLogPrefix, *runtime.audio))) return E_FAIL;
  if (!CreateSourceFifo(*runtime.audio)) {
    LogMessage(L"InitAudioTrack: [ERROR] av_audio_fifo_alloc failed.");
    return E_OUTOFMEMORY;
  }
  runtime.hasAudio = true;
  return S_OK;
}

unsigned __stdcall VideoRecorder::AudioCaptureThreadMain(void* argument) {
  auto* runtime = static_cast<TrackRuntime*>(argument);
  ComApartment com;
  LogMessage(L"Audio capture thread started for track: " + runtime->config.name);
  while (!runtime->stop) {
    if (runtime->owner->state_.load() == kStateRecording) {
      {
        std::lock_guard fifo(runtime->fifoLock);
        DrainCaptureClient(kVideoLogPrefix, *runtime->audio);
      }
      Sleep(10);
    } else {
      Sleep(50);
    }
  }
  LogMessage(L"Audio capture thread stopped for track: " + runtime->config.name);
  return 0;
}

void VideoRecorder::StartTrackSources() {
  for (auto& runtime : runtimes_) {
    if (runtime->hasAudio && runtime->audio) runtime->audio->Start();
    if (runtime->isCamera && runtime->control) runtime->control->Run();
  }
}

void VideoRecorder::PauseTrackSources() {
  for (auto& runtime : runtimes_) {
    if (runtime->hasAudio && runtime->audio) runtime->audio->Stop();
    if (runtime->isCamera && runtime->control) runtime->control->Pause();
  }
}

void VideoRecorder::ResetTrackFifos() {
  for (auto& runtime : runtimes_) {
    if (!runtime->hasAudio) continue;
    std::lock_guard fifo(runtime->fifoLock);
    av_audio_fifo_reset(runtime->audio->fifo.get());
  }
}

bool VideoRecorder::MultiTrackTick() {
  const std::int64_t elapsed = RecordingTicks();
  Picture picture;
  bool write = true;
  if (windowMode_) {
    if (!targetWindow_ || !IsWindow(targetWindow_)) {
      LogMessage(L"Recorder: Target window closed during multi-track recording. Stopping.");
      ShowRecorderBalloon(tr(L"Recording Stopped").c_str(), tr(L"The recorded application was closed.").c_str());
      RequestStopFromRecordingThread();
      return false;
    }
    TakePicture(picture, true);
  } else if (gdiMode_) {
    // Without desktop duplication the screen is copied with GDI on every tick.
    TakePicture(picture, true);
  } else if (duplication_ && !dxgiLost_) {
    const HRESULT hr = TakePicture(picture, true);
    if (hr == S_FALSE) {
      write = false;  // the desktop has not changed: nothing is written for any stream
    } else if (GetRecorderState() == kStateStopping) {
      ReleasePicture(picture);
      return false;  // an unexpected duplication error ended the recording
    }
  }
  if (!write) {
    clock_->Idle(elapsed);
    return true;
  }
  const std::int64_t began = CounterNow();
  WriteTrackVideoFrames(picture.pixels, picture.pitch, clock_->Take(elapsed));
  WriteTrackAudioFrames(false);
  ReleasePicture(picture);
  ticks_.Add(static_cast<double>(CounterNow() - began) * 1000.0 / static_cast<double>(frequency_));
  return true;
}

void VideoRecorder::WriteTrackVideoFrames(const std::uint8_t* pixels, int pitch, std::int64_t index) {
  const std::int64_t pts = av_rescale(index, 1000000, framerate_);
  for (auto& runtime : runtimes_) {
    if (!runtime->hasVideo) continue;
    bool got = false;
    if (runtime->isCamera) {
      got = TakeCameraFrame(*runtime);
    } else if (pixels && av_frame_make_writable(runtime->frame.get()) >= 0) {
      const std::uint8_t* planes[] = {pixels};
      const int strides[] = {pitch};
      got = sws_scale(runtime->scaler.get(), planes, strides, 0, runtime->sourceHeight, runtime->frame->data,
                      runtime->frame->linesize) > 0;
    }
    if (got) {
      if (av_frame_make_writable(runtime->lastFrame.get()) >= 0) {
        av_frame_copy(runtime->lastFrame.get(), runtime->frame.get());
      }
      runtime->frame->pts = pts;
      EncodeAndWriteFrame(runtime->frame.get(), runtime->stream, runtime->codec.get(), L"Video Track");
    } else {
      runtime->lastFrame->pts = pts;
      EncodeAndWriteFrame(runtime->lastFrame.get(), runtime->stream, runtime->codec.get(), L"Video Track (Last Frame)");
    }
  }
}

void VideoRecorder::WriteTrackAudioFrames(bool finishing) {
  const std::int64_t due = DueSamples(RecordingTicks(), frequency_);
  for (auto& runtime : runtimes_) {
    if (!runtime->hasAudio) continue;
    const int volume = runtime->isMicrophone ? runtime->config.input_volume : runtime->config.output_volume;
    const std::int64_t dropped = WriteDueTrackAudio(
        runtime->frame.get(), *runtime->audio, runtime->fifoLock, runtime->backlog, runtime->samplesWritten, due,
        finishing, volume,
        [&](AVFrame* frame) { EncodeAndWriteFrame(frame, runtime->stream, runtime->codec.get(), L"Audio Track"); });
    if (dropped > 0) LogBacklogDrop(L"Track " + runtime->config.name, dropped);
  }
}

void VideoRecorder::FinishTrackStreams(std::int64_t elapsed, bool paused) {
  // The last pictures last until the moment the recording ended.
  if (const std::int64_t index = clock_->FinalPts(elapsed); index >= 0) {
    const std::int64_t pts = av_rescale(index, 1000000, framerate_);
    for (auto& runtime : runtimes_) {
      if (!runtime->hasVideo) continue;
      runtime->lastFrame->pts = pts;
      EncodeAndWriteFrame(runtime->lastFrame.get(), runtime->stream, runtime->codec.get(), L"Video Track (Last Frame)");
    }
  }
  if (!paused) {
    for (auto& runtime : runtimes_) {
      if (!runtime->hasAudio) continue;
      std::lock_guard fifo(runtime->fifoLock);
      DrainCaptureClient(kVideoLogPrefix, *runtime->audio);
    }
    WriteTrackAudioFrames(true);
  }
}

void VideoRecorder::CleanupMultiTrack() {
  LogMessage(L"Recorder: Cleaning up multi-track resources.");
  std::vector<HANDLE> threads;
  for (auto& runtime : runtimes_) {
    runtime->stop = true;
    if (runtime->captureThread) threads.push_back(runtime->captureThread.get());
  }
  if (!threads.empty() &&
      WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE, 2000) == WAIT_TIMEOUT) {
    // A capture thread still inside the audio stack: its runtime must outlive it.
    LogMessage(L"Recorder: [WARNING] Audio capture threads are slow to stop. Waiting for them.");
    WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE, INFINITE);
  }
  for (auto& runtime : runtimes_) runtime->captureThread.reset();
  if (format_) {
    if (state_ != kStateIdle && headerWritten_) {
      LogMessage(L"Recorder: Flushing multi-track encoders and writing file trailer.");
      for (auto& runtime : runtimes_) {
        if (runtime->stream) EncodeAndWriteFrame(nullptr, runtime->stream, runtime->codec.get(), L"Flush");
      }
      const int result = av_write_trailer(format_.get());
      if (result < 0) LogFfmpegError(kVideoLogPrefix, L"av_write_trailer (multi-track)", result);
    }
    format_.reset();
  }
  headerWritten_ = false;
  runtimes_.clear();  // each runtime frees its encoder, stops its source and releases its camera
}

}  // namespace vistrel
