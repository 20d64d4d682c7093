#include "audio/audio_recorder.h"

#include <knownfolders.h>
#include <process.h>
#include <shlobj.h>

#include <algorithm>
#include <cstring>

#include "app/app_state.h"
#include "app/countdown.h"
#include "audio/audio_mix.h"
#include "audio/recorder_util.h"
#include "config/app_config.h"
#include "core/balloon.h"
#include "core/file_names.h"
#include "core/log.h"
#include "core/sound.h"
#include "core/system_error.h"
#include "core/text.h"
#include "core/unique_file.h"
#include "i18n/tr.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

namespace vistrel {
namespace {



}  // namespace

AudioRecorder& TheAudioRecorder() {
  static AudioRecorder recorder;
  return recorder;
}

bool AudioRecorder::Start(HWND owner) {
  std::lock_guard guard(lock_);
  if (state_ != kStateIdle) return false;
  if (starting_.exchange(true)) {
    LogMessage(L"AudioRecorder: [WARNING] A recording is already starting. Request ignored.");
    return false;
  }
  owner_ = owner;
  MultiTrackConfig& tracks = MultiTrackConfig::Instance();
  tracks.Load();
  tracks_ = tracks.Tracks();
  multiTrack_ = tracks.IsMultiTrackEnabled();
  configuredSources_ = false;
  if (!multiTrack_ && tracks.UseSameSourcesInSingleMode() && !tracks_.empty()) {
    LogMessage(L"AudioRecorder: Single-track mode will use sources defined in multi-track configuration.");
    configuredSources_ = true;
  }
  LogMessage(multiTrack_ ? L"AudioRecorder: Multi-track mode is enabled."
                         : L"AudioRecorder: Standard mode is enabled.");
  const uintptr_t thread = _beginthreadex(nullptr, 0, StartThreadMain, this, 0, nullptr);
  if (thread == 0) {
    LogMessage(L"AudioRecorder: [FATAL] Failed to create countdown thread.");
    starting_ = false;
    return false;
  }
  CloseHandle(reinterpret_cast<HANDLE>(thread));
  return true;
}

unsigned __stdcall AudioRecorder::StartThreadMain(void* self) {
  static_cast<AudioRecorder*>(self)->RunStart();
  return 0;
}

void AudioRecorder::RunStart() {
  ComApartment com;
  switch (RunCountdown(App().instance)) {
    case CountdownResult::kFinished:
      LogMessage(L"AudioRecorder: Countdown finished. Proceeding with recording initialization.");
      break;
    case CountdownResult::kNotShown:
      LogMessage(L"AudioRecorder: Countdown window failed to create. Starting recording immediately.");
      break;
    case CountdownResult::kBusy:
    case CountdownResult::kInterrupted:
      LogMessage(L"AudioRecorder: [WARNING] Another recording is counting down. Start cancelled.");
      starting_ = false;
      return;
  }
  std::lock_guard guard(lock_);
  const AppConfig config = ConfigSnapshot();
  playSounds_ = config.PlayAudioEventSounds;
  PlayEventSound(config.Sounds.RecordingStart);
  audioFormat_ = config.AudioFormat;
  quality_ = config.AudioQuality;
  if (FAILED(multiTrack_ ? InitializeMultiTrack() : Initialize())) {
    LogMessage(multiTrack_ ? L"AudioRecorder: [FATAL] Multi-track initialization failed."
                           : L"AudioRecorder: [FATAL] Single-track initialization failed.");
    ShowBalloon(tr(L"Audio Recording Failed"), tr(L"Could not start the audio recorder."));
    Cleanup();
    state_ = kStateIdle;
  } else {
    const uintptr_t thread = _beginthreadex(nullptr, 0, RecordingThreadMain, this, 0, nullptr);
    if (thread == 0) {
      LogMessage(L"AudioRecorder: [FATAL] CreateThread failed.");
      ShowBalloon(tr(L"Audio Recording Failed"), tr(L"Could not start the recording thread."));
      Cleanup();
      state_ = kStateIdle;
    } else {
      recordingThread_.reset(reinterpret_cast<HANDLE>(thread));
      state_ = kStateRecording;
    }
  }
  starting_ = false;
}

HRESULT AudioRecorder::Initialize() {
  LogMessage(L"AudioRecorder: Main thread initializing...");
  if (!QueryPerformanceFrequency(&frequency_) || frequency_.QuadPart <= 0) {
    LogMessage(L"AudioRecorder: [ERROR] QueryPerformanceFrequency failed.");
    return E_FAIL;
  }
  if (configuredSources_) {
    OpenConfiguredSources();
  } else {
    OpenSettingsSources();
  }
  if (FAILED(InitFFmpeg())) {
    LogMessage(L"AudioRecorder: [FATAL] FFmpeg init failed.");
    return E_FAIL;
  }
  return S_OK;
}

void AudioRecorder::OpenConfiguredSources() {
  LogMessage(L"AudioRecorder: Initializing audio devices from multi-track config for single-track mode.");
  for (const TrackConfig& track : tracks_) {
    for (const bool isInput : {true, false}) {
      if (isInput ? !TrackRecordsAudioInput(track) : !TrackRecordsAudioOutput(track)) continue;
      auto source = std::make_unique<AudioSource>();
      const std::wstring& id = isInput ? track.audio_input_id : track.audio_output_id;
      if (FAILED(InitAudioDevice(kAudioLogPrefix, isInput, id, *source, nullptr))) {
        LogMessage(L"InitSingleAudioSource: [ERROR] Could not initialize audio source for track " + track.name);
        continue;
      }
      const int volume = isInput ? track.input_volume : track.output_volume;
      mixer_.Add(std::move(source), static_cast<float>(volume) / 100.0f, false);
    }
  }
}

void AudioRecorder::OpenSettingsSources() {
  const AppConfig config = ConfigSnapshot();
  const bool wantMic = config.AudioSource == 1 || config.AudioSource == 3;
  const bool wantSystem = config.AudioSource == 2 || config.AudioSource == 3;
  if (wantMic) {
    auto mic = std::make_unique<AudioSource>();
    if (SUCCEEDED(InitAudioDevice(kAudioLogPrefix, true, config.MicrophoneID, *mic, nullptr))) {
      mixer_.Add(std::move(mic), 1.0f, false);
    } else {
      LogMessage(L"AudioRecorder: Mic init failed. Continuing without it.");
    }
  }
  if (wantSystem) {
    auto system = std::make_unique<AudioSource>();
    if (SUCCEEDED(InitAudioDevice(kAudioLogPrefix, false, config.SystemAudioID, *system, mixer_.endpointVolume()))) {
      mixer_.Add(std::move(system), SystemAudioGain(config.SystemAudioRecVolume, -1.0f), true);
    } else {
      LogMessage(L"AudioRecorder: System audio init failed. Continuing without it.");
    }
  }
}

HRESULT AudioRecorder::InitFFmpeg() {
  LogMessage(L"AudioRecorder: Initializing FFmpeg...");
  if (mixer_.empty()) {
    LogMessage(L"AudioRecorder: No audio sources available or selected. Cannot record.");
    return E_FAIL;
  }
  if (FAILED(InitAudioEncoder())) {
    LogMessage(L"AudioRecorder: [ERROR] Audio encoder init failed.");
    return E_FAIL;
  }
  outputPath_ = MakeOutputPath();
  if (outputPath_.empty()) {
    LogMessage(L"AudioRecorder: [ERROR] Could not generate output path.");
    return E_FAIL;
  }
  LogMessage(L"AudioRecorder: Output file will be: " + outputPath_);
  return OpenOutputFile();
}

HRESULT AudioRecorder::OpenOutputFile() {
  // FFmpeg's file protocol takes UTF-8 paths on Windows, so any folder name works.
  const std::string path = WideToUtf8(outputPath_);
  AVFormatContext* context = nullptr;
  int result = avformat_alloc_output_context2(&context, nullptr, AudioOutputFormatOf(audioFormat_).muxer,
                                              path.c_str());
  format_.reset(context);
  if (result < 0 || !context) {
    LogFfmpegError(kAudioLogPrefix, L"avformat_alloc_output_context2", result);
    return E_FAIL;
  }
  stream_ = avformat_new_stream(context, nullptr);
  if (!stream_) {
    LogMessage(L"InitFFmpeg: [ERROR] avformat_new_stream failed.");
    return E_FAIL;
  }
  stream_->id = static_cast<int>(context->nb_streams - 1);
  result = avcodec_parameters_from_context(stream_->codecpar, codec_.get());
  if (result < 0) {
    LogFfmpegError(kAudioLogPrefix, L"avcodec_parameters_from_context for audio", result);
    return E_FAIL;
  }
  stream_->time_base = codec_->time_base;
  if (FAILED(OpenFileAndWriteHeader(path))) return E_FAIL;
  LogMessage(L"AudioRecorder: FFmpeg initialization successful.");
  return S_OK;
}

HRESULT AudioRecorder::OpenFileAndWriteHeader(const std::string& path) {
  AVFormatContext* context = format_.get();
  if (!(context->oformat->flags & AVFMT_NOFILE)) {
    const int result = avio_open(&context->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (result < 0) {
      LogFfmpegError(kAudioLogPrefix, L"avio_open", result);
      return E_FAIL;
    }
  }
  const int result = avformat_write_header(context, nullptr);
  if (result < 0) {
    LogFfmpegError(kAudioLogPrefix, L"avformat_write_header", result);
    return E_FAIL;
  }
  headerWritten_ = true;
  return S_OK;
}

HRESULT AudioRecorder::InitAudioEncoder() {
  LogMessage(L"InitAudioEncoder: Initializing audio stream.");
  const AudioOutputFormat output = AudioOutputFormatOf(audioFormat_);
  const AVCodec* encoder = output.encoder ? avcodec_find_encoder_by_name(output.encoder) : nullptr;
  if (output.encoder && !encoder) {
    LogMessage(L"InitAudioEncoder: [ERROR] " + Utf8ToWide(output.encoder) + L" encoder not found.");
  }
  if (!encoder) {
    LogMessage(L"InitAudioEncoder: Could not find a suitable encoder for the selected format.");
    return E_FAIL;
  }
  LogMessage(L"InitAudioEncoder: Using encoder: " + Utf8ToWide(encoder->name));
  codec_.reset(avcodec_alloc_context3(encoder));
  if (!codec_) {
    LogMessage(L"InitAudioEncoder: [ERROR] avcodec_alloc_context3 failed.");
    return E_FAIL;
  }
  codec_->bit_rate = AudioBitRate(quality_);
  codec_->sample_rate = kMixSampleRate;
  av_channel_layout_default(&codec_->ch_layout, kMixChannels);
  codec_->time_base = AVRational{1, kMixSampleRate};
  if (encoder->sample_fmts) {
    codec_->sample_fmt = encoder->sample_fmts[0];
    LogMessage(L"InitAudioEncoder: Encoder selected its preferred sample format: " +
               Utf8ToWide(av_get_sample_fmt_name(codec_->sample_fmt)));
  } else {
    codec_->sample_fmt = audioFormat_ == 2 ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_FLTP;
    LogMessage(L"InitAudioEncoder: Codec did not list preferred formats, using a default.");
  }
  const AVOutputFormat* muxer = av_guess_format(output.muxer, nullptr, nullptr);
  if (muxer && (muxer->flags & AVFMT_GLOBALHEADER)) codec_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  int result = avcodec_open2(codec_.get(), encoder, nullptr);
  if (result < 0) {
    LogFfmpegError(kAudioLogPrefix, L"avcodec_open2 for audio", result);
    return E_FAIL;
  }
  const int frameSize = codec_->frame_size > 0 ? codec_->frame_size : 1024;
  mixFrame_.reset(av_frame_alloc());
  encoderFrame_.reset(av_frame_alloc());
  if (!mixFrame_ || !encoderFrame_) return E_OUTOFMEMORY;
  mixFrame_->format = AV_SAMPLE_FMT_FLTP;
  mixFrame_->sample_rate = kMixSampleRate;
  av_channel_layout_default(&mixFrame_->ch_layout, kMixChannels);
  mixFrame_->nb_samples = frameSize;
  if ((result = av_frame_get_buffer(mixFrame_.get(), 0)) < 0) {
    LogFfmpegError(kAudioLogPrefix, L"av_frame_get_buffer for intermediate audio frame", result);
    return E_FAIL;
  }
  encoderFrame_->format = codec_->sample_fmt;
  encoderFrame_->sample_rate = codec_->sample_rate;
  av_channel_layout_copy(&encoderFrame_->ch_layout, &codec_->ch_layout);
  encoderFrame_->nb_samples = frameSize;
  if ((result = av_frame_get_buffer(encoderFrame_.get(), 0)) < 0) {
    LogFfmpegError(kAudioLogPrefix, L"av_frame_get_buffer for resampled audio frame", result);
    return E_FAIL;
  }
  SwrContext* swr = nullptr;
  result = swr_alloc_set_opts2(&swr, &codec_->ch_layout, codec_->sample_fmt, codec_->sample_rate,
                               &mixFrame_->ch_layout, AV_SAMPLE_FMT_FLTP, kMixSampleRate, 0, nullptr);
  finalResampler_.reset(swr);
  if (result < 0 || !swr) {
    LogFfmpegError(kAudioLogPrefix, L"swr_alloc_set_opts2 for final resampler", result);
    return E_FAIL;
  }
  if ((result = swr_init(swr)) < 0) {
    LogFfmpegError(kAudioLogPrefix, L"swr_init for final resampler", result);
    return E_FAIL;
  }
  if (HRESULT hr = mixer_.PrepareInputs(kAudioLogPrefix, configuredSources_); FAILED(hr)) return hr;
  return S_OK;
}

std::wstring AudioRecorder::MakeOutputPath() {
  std::wstring folder = ConfigSnapshot().AudioPath;
  if (folder.empty()) {
    LogMessage(L"AudioRecorder: Configured audio path is empty. Falling back to default Music folder.");
    CoTaskMem<wchar_t> music;
    if (FAILED(SHGetKnownFolderPath(FOLDERID_Music, 0, nullptr, music.put())) || !music.get()) {
      LogMessage(L"AudioRecorder: [ERROR] Failed to get user's Music directory path.");
      return {};
    }
    folder = std::wstring(music.get()) + L"\\Vistrel";
  } else {
    LogMessage(L"AudioRecorder: Using configured audio path: " + folder);
  }
  if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    const DWORD error = GetLastError();
    LogMessage(L"AudioRecorder: [ERROR] Failed to create directory '" + folder + L"'. Error: " +
               SystemErrorText(error));
    return {};
  }
  const AudioOutputFormat output = AudioOutputFormatOf(audioFormat_);
  if (!multiTrack_ && !output.encoder) LogMessage(L"AudioRecorder: [WARN] Unknown audio format, defaulting to .mp3");
  SYSTEMTIME now{};
  GetLocalTime(&now);
  const std::wstring base = multiTrack_ || configuredSources_ ? L"Mixed_AudioRecording" : L"AudioRecording";
  const std::wstring extension = multiTrack_ ? L"m4a" : output.extension;
  const std::wstring name = base + L"_" +
                            FormatFileTimestamp({now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond}) +
                            L"." + extension;
  const std::wstring path = ClaimNewFile(folder + L"\\" + name);
  if (!path.empty()) LogMessage(L"AudioRecorder: Generated final audio path: " + path);
  return path;
}

unsigned __stdcall AudioRecorder::RecordingThreadMain(void* self) {
  auto* recorder = static_cast<AudioRecorder*>(self);
  ComApartment com;
  if (FAILED(com.result())) {
    LogHresultError(kAudioLogPrefix, L"CoInitializeEx in recording thread", com.result());
    recorder->state_ = kStateIdle;
    return 0;
  }
  recorder->ResumeClients();
  LogMessage(L"AudioRecorder: All initializations successful. Recording is now active.");
  recorder->startCounter_.QuadPart = CounterNow();
  recorder->RecordingLoop();
  LogMessage(L"AudioRecorder: Recording thread has finished.");
  return 0;
}

void AudioRecorder::RecordingLoop() {
  LogMessage(multiTrack_ ? L"AudioRecorder: Multi-track recording thread started, entering main loop."
                         : L"AudioRecorder: Recording thread started, entering main loop.");
  const AppConfig config = ConfigSnapshot();
  for (;;) {
    std::uint32_t state;
    {
      std::lock_guard guard(lock_);
      state = state_;
    }
    if (state == kStateStopping) {
      LogRecordedTime(kAudioLogPrefix, ElapsedTicks(), frequency_.QuadPart);
      // What was captured up to the stop is part of the recording.
      if (multiTrack_) {
        WriteDueTrackFrames(true);
        LogMessage(L"AudioRecorder: Multi-track recording loop finished.");
      } else {
        mixer_.DrainClients(kAudioLogPrefix);
        MixAndEncodeAudio(true);
        LogMessage(L"AudioRecorder: Recording loop finished.");
      }
      return;
    }
    if (state == kStatePauseRequested) {
      // The pause counts from the moment capture stops, so the sound that confirms it is not
      // recorded and leaves no silent gap in the file.
      LogMessage(multiTrack_ ? L"AudioRecorder: Pausing all audio clients." : L"AudioRecorder: Pausing audio clients.");
      PauseClients();
      const std::int64_t stoppedAt = CounterNow();
      PlayEventSound(config.Sounds.RecordingPause);
      std::lock_guard guard(lock_);
      if (state_ == kStatePauseRequested) {
        pauseStart_.QuadPart = stoppedAt;
        state_ = kStatePaused;
        LogMessage(L"AudioRecorder: Now paused.");
      }
    } else if (state == kStateResumeRequested) {
      PlayEventSound(config.Sounds.RecordingResume);
      LogMessage(multiTrack_ ? L"AudioRecorder: Resuming all audio clients." : L"AudioRecorder: Resuming audio clients.");
      std::lock_guard guard(lock_);
      if (state_ == kStateResumeRequested) {
        mixer_.ResetFifos();
        for (auto& record : trackStreams_) {
          std::lock_guard fifo(record->fifoLock);
          av_audio_fifo_reset(record->source->fifo.get());
        }
        ResumeClients();
        pausedTotal_ += CounterNow() - pauseStart_.QuadPart;
        state_ = kStateRecording;
        LogMessage(L"AudioRecorder: Now recording.");
      }
    } else if (state == kStatePaused) {
      Sleep(100);
    } else if (multiTrack_) {
      WriteDueTrackFrames(false);
      Sleep(10);
    } else {
      mixer_.DrainClients(kAudioLogPrefix);
      if (stream_) MixAndEncodeAudio(false);
      Sleep(10);
    }
  }
}

void AudioRecorder::PauseClients() {
  mixer_.StopClients();
  for (auto& record : trackStreams_) record->source->Stop();
}

void AudioRecorder::ResumeClients() {
  mixer_.StartClients();
  for (auto& record : trackStreams_) record->source->Start();
}

std::int64_t AudioRecorder::ElapsedTicks() const {
  const std::int64_t elapsed = CounterNow() - startCounter_.QuadPart - pausedTotal_;
  return elapsed > 0 ? elapsed : 0;
}

HRESULT AudioRecorder::MixAndEncodeAudio(bool finishing) {
  const int frameSamples = mixFrame_ ? mixFrame_->nb_samples : 0;
  if (frameSamples <= 0 || !stream_) return E_FAIL;
  // Frames are produced by elapsed time, whatever the devices delivered, so the file lasts as
  // long as the recording.
  const std::int64_t due = DueSamples(ElapsedTicks(), frequency_.QuadPart);
  while (samplesWritten_ + frameSamples <= due) {
    if (FAILED(EncodeMixFrame(frameSamples))) break;
  }
  if (!finishing) {
    mixer_.BoundBacklogs(samplesWritten_, [this](const std::wstring& source, std::int64_t samples) {
      LogBacklogDrop(source, samples);
    });
  }
  if (finishing) {
    // The last, partial frame, padded with silence.
    if (samplesWritten_ < due) EncodeMixFrame(static_cast<int>(due - samplesWritten_));
    FlushFinalResampler();
  }
  return S_OK;
}

void AudioRecorder::LogBacklogDrop(const std::wstring& source, std::int64_t samples) {
  if (backlogLogged_) return;
  backlogLogged_ = true;
  LogMessage(L"AudioRecorder: [WARNING] " + source + L" delivers more than the recording clock; dropped " +
             std::to_wstring(samples * 1000 / kMixSampleRate) + L" ms of its oldest audio (logged once).");
}

HRESULT AudioRecorder::EncodeMixFrame(int available) {
  const int frameSamples = mixFrame_->nb_samples;
  if (av_frame_make_writable(mixFrame_.get()) < 0) return E_FAIL;
  mixer_.MixInto(mixFrame_.get(), available);
  mixFrame_->pts = samplesWritten_;
  if (av_frame_make_writable(encoderFrame_.get()) < 0) return E_FAIL;
  const int converted = swr_convert(finalResampler_.get(), encoderFrame_->data, encoderFrame_->nb_samples,
                                    const_cast<const std::uint8_t**>(mixFrame_->data), frameSamples);
  if (converted < 0) {
    LogFfmpegError(kAudioLogPrefix, L"Final swr_convert", converted);
  } else {
    encoderFrame_->pts = mixFrame_->pts;
    EncodeAndWrite(encoderFrame_.get());
  }
  samplesWritten_ += frameSamples;
  ++framesEncoded_;
  return S_OK;
}

void AudioRecorder::FlushFinalResampler() {
  if (swr_get_delay(finalResampler_.get(), kMixSampleRate) <= 0) return;
  if (av_frame_make_writable(encoderFrame_.get()) < 0) return;
  const int converted = swr_convert(finalResampler_.get(), encoderFrame_->data, encoderFrame_->nb_samples,
                                    nullptr, 0);
  if (converted <= 0) return;
  const int full = encoderFrame_->nb_samples;
  av_samples_set_silence(encoderFrame_->data, converted, full - converted, kMixChannels,
                         static_cast<AVSampleFormat>(encoderFrame_->format));
  encoderFrame_->pts = samplesWritten_;
  EncodeAndWrite(encoderFrame_.get());
  samplesWritten_ += full;
}

HRESULT AudioRecorder::EncodeAndWrite(AVFrame* frame) {
  return EncodeAndWrite(frame, codec_.get(), stream_, L"Audio");
}

HRESULT AudioRecorder::EncodeAndWrite(AVFrame* frame, AVCodecContext* codec, AVStream* stream,
                                      const std::wstring& label) {
  std::lock_guard guard(writeLock_);
  PacketPtr packet(av_packet_alloc());
  if (!packet) return E_OUTOFMEMORY;
  int result = avcodec_send_frame(codec, frame);
  if (result == AVERROR_EOF) return E_FAIL;
  if (result < 0) {
    LogFfmpegError(kAudioLogPrefix, L"avcodec_send_frame for " + label, result);
    return E_FAIL;
  }
  for (;;) {
    result = avcodec_receive_packet(codec, packet.get());
    if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return S_OK;
    if (result < 0) {
      LogFfmpegError(kAudioLogPrefix, L"avcodec_receive_packet for " + label, result);
      return E_FAIL;
    }
    av_packet_rescale_ts(packet.get(), codec->time_base, stream->time_base);
    packet->stream_index = stream->index;
    result = av_interleaved_write_frame(format_.get(), packet.get());
    if (result < 0) LogFfmpegError(kAudioLogPrefix, L"av_interleaved_write_frame for " + label, result);
    av_packet_unref(packet.get());
  }
}

void AudioRecorder::Pause() {
  std::lock_guard guard(lock_);
  if (state_ != kStateRecording) return;
  LogMessage(L"AudioRecorder: Requesting pause.");
  state_ = kStatePauseRequested;
}

void AudioRecorder::Resume() {
  std::lock_guard guard(lock_);
  if (state_ != kStatePaused) return;
  LogMessage(L"AudioRecorder: Requesting resume.");
  state_ = kStateResumeRequested;
}

void AudioRecorder::Toggle(HWND owner) {
  if (state_ != kStateIdle) {
    Stop();
  } else {
    Start(owner);
  }
}

void AudioRecorder::Stop() {
  {
    std::lock_guard guard(lock_);
    if (state_ == kStateIdle || state_ == kStateStopping) return;
    LogMessage(L"AudioRecorder: Stop requested.");
    for (auto& record : trackStreams_) record->stop = true;
    state_ = kStateStopping;
  }
  if (recordingThread_) {
    WaitForSingleObject(recordingThread_.get(), INFINITE);
    recordingThread_.reset();
  }
  std::lock_guard guard(lock_);
  Cleanup();
  state_ = kStateIdle;
  PlayEventSound(ConfigSnapshot().Sounds.RecordingStop);
  ShowBalloon(tr(L"Audio Recording Stopped"), tr(L"Audio saved to: %s", outputPath_));
}

void AudioRecorder::Cleanup() {
  LogMessage(L"AudioRecorder: Starting cleanup.");
  if (multiTrack_) {
    CleanupMultiTrack();
  } else if (format_) {
    LogMessage(L"AudioRecorder: Total frames written before flush: " + std::to_wstring(framesEncoded_));
    if (state_ != kStateIdle && headerWritten_) {
      LogMessage(L"AudioRecorder: Flushing encoder...");
      if (stream_) EncodeAndWrite(nullptr);
      LogMessage(L"AudioRecorder: Writing file trailer.");
      const int result = av_write_trailer(format_.get());
      if (result < 0) LogFfmpegError(kAudioLogPrefix, L"av_write_trailer", result);
    } else {
      LogMessage(L"AudioRecorder: Skipping trailer write due to initialization failure.");
    }
    format_.reset();
  }
  if (state_ == kStateIdle && !outputPath_.empty()) {
    // A start that failed leaves no file behind: the name was claimed but nothing recorded.
    DeleteFileW(outputPath_.c_str());
  }
  codec_.reset();
  mixFrame_.reset();
  encoderFrame_.reset();
  finalResampler_.reset();
  mixer_.Release();
  stream_ = nullptr;
  headerWritten_ = false;
  samplesWritten_ = 0;
  backlogLogged_ = false;
  framesEncoded_ = 0;
  pausedTotal_ = 0;
  configuredSources_ = false;
  multiTrack_ = false;
  LogMessage(L"AudioRecorder: Cleanup finished.");
}

void AudioRecorder::ShowBalloon(const std::wstring& title, const std::wstring& text) const {
  NOTIFYICONDATAW data = MakeBalloonData(owner_, title, text);
  Shell_NotifyIconW(NIM_MODIFY, &data);
}

void AudioRecorder::PlayEventSound(const std::wstring& sound) const {
  if (playSounds_) PlaySoundSync(sound);
}

}  // namespace vistrel
