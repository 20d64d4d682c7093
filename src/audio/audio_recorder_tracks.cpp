// Multi-track audio: one AAC stream per configured source in one MP4 file.
#include <process.h>

#include <algorithm>

#include "audio/audio_mix.h"
#include "audio/audio_recorder.h"
#include "audio/recorder_util.h"
#include "core/log.h"
#include "core/text.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

namespace vistrel {

HRESULT AudioRecorder::InitializeMultiTrack() {
  LogMessage(L"AudioRecorder: Initializing Multi-Track recording...");
  if (!QueryPerformanceFrequency(&frequency_) || frequency_.QuadPart <= 0) {
    LogMessage(L"AudioRecorder: [FATAL] QueryPerformanceFrequency failed.");
    return E_FAIL;
  }
  outputPath_ = MakeOutputPath();
  if (outputPath_.empty()) {
    LogMessage(L"AudioRecorder: [ERROR] Could not generate output path.");
    return E_FAIL;
  }
  LogMessage(L"AudioRecorder: Multi-track output file will be: " + outputPath_);
  const std::string path = WideToUtf8(outputPath_);
  AVFormatContext* context = nullptr;
  int result = avformat_alloc_output_context2(&context, nullptr, "mp4", path.c_str());
  format_.reset(context);
  if (result < 0 || !context) {
    LogFfmpegError(kAudioLogPrefix, L"avformat_alloc_output_context2", result);
    return E_FAIL;
  }
  if (tracks_.empty()) {
    LogMessage(L"AudioRecorder: [ERROR] Multi-track is enabled, but no tracks are configured.");
    return E_FAIL;
  }
  {
    ComApartment com;
    for (const TrackConfig& track : tracks_) {
      if (TrackRecordsAudioInput(track)) OpenTrackSources(track, true);
      if (TrackRecordsAudioOutput(track)) OpenTrackSources(track, false);
    }
  }
  if (trackStreams_.empty()) {
    LogMessage(L"AudioRecorder: [FATAL] No audio tracks could be successfully initialized.");
    return E_FAIL;
  }
  if (FAILED(OpenFileAndWriteHeader(path))) return E_FAIL;
  for (auto& record : trackStreams_) {
    record->owner = this;
    const uintptr_t thread = _beginthreadex(nullptr, 0, CaptureThreadMain, record.get(), 0, nullptr);
    record->captureThread.reset(reinterpret_cast<HANDLE>(thread));
  }
  LogMessage(L"AudioRecorder: Multi-track initialization successful.");
  return S_OK;
}

void AudioRecorder::OpenTrackSources(const TrackConfig& track, bool isInput) {
  auto record = std::make_unique<TrackStream>();
  record->track = track;
  record->isInput = isInput;
  record->source = std::make_unique<AudioSource>();
  LogMessage((isInput ? L"Initializing audio input stream for track: " : L"Initializing audio output stream for track: ") +
             track.name);
  const std::wstring& id = isInput ? track.audio_input_id : track.audio_output_id;
  if (FAILED(InitAudioDevice(kAudioLogPrefix, isInput, id, *record->source, nullptr))) {
    LogMessage((isInput ? L"AudioRecorder: [ERROR] Failed to initialize audio input source for track: "
                        : L"AudioRecorder: [ERROR] Failed to initialize audio output source for track: ") +
               track.name);
    return;
  }
  if (FAILED(InitMultiTrackAudioEncoder(*record))) {
    LogMessage(L"AudioRecorder: [ERROR] Failed to initialize audio encoder for track: " + track.name);
    return;
  }
  trackStreams_.push_back(std::move(record));
}

HRESULT AudioRecorder::InitMultiTrackAudioEncoder(TrackStream& record) {
  const AVCodec* encoder = avcodec_find_encoder_by_name("aac");
  if (!encoder) {
    LogMessage(L"InitMultiTrackAudioEncoder: [ERROR] aac encoder not found.");
    return E_FAIL;
  }
  record.codec.reset(avcodec_alloc_context3(encoder));
  if (!record.codec) {
    LogMessage(L"InitMultiTrackAudioEncoder: [ERROR] avcodec_alloc_context3 failed.");
    return E_FAIL;
  }
  AVCodecContext* codec = record.codec.get();
  codec->bit_rate = AudioBitRate(quality_);
  codec->sample_rate = kMixSampleRate;
  av_channel_layout_default(&codec->ch_layout, kMixChannels);
  codec->sample_fmt = AV_SAMPLE_FMT_FLTP;
  codec->time_base = AVRational{1, kMixSampleRate};
  if (format_->oformat->flags & AVFMT_GLOBALHEADER) codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  int result = avcodec_open2(codec, encoder, nullptr);
  if (result < 0) {
    LogFfmpegError(kAudioLogPrefix, L"avcodec_open2 for audio track", result);
    return E_FAIL;
  }
  record.frame.reset(av_frame_alloc());
  if (!record.frame) return E_OUTOFMEMORY;
  record.frame->format = codec->sample_fmt;
  record.frame->sample_rate = codec->sample_rate;
  av_channel_layout_copy(&record.frame->ch_layout, &codec->ch_layout);
  record.frame->nb_samples = codec->frame_size >= 1 ? codec->frame_size : 1024;
  if ((result = av_frame_get_buffer(record.frame.get(), 0)) < 0) {
    LogFfmpegError(kAudioLogPrefix, L"av_frame_get_buffer for audio track", result);
    return E_FAIL;
  }
  if (FAILED(InitAudioResampler(kAudioLogPrefix, *record.source))) return E_FAIL;
  if (!CreateSourceFifo(*record.source)) {
    LogMessage(L"InitMultiTrackAudioEncoder: [ERROR] av_audio_fifo_alloc failed.");
    return E_OUTOFMEMORY;
  }
  // The stream is added only once its encoder works, so a track that fails leaves no empty
  // stream behind to spoil the file's header.
  record.stream = avformat_new_stream(format_.get(), nullptr);
  if (!record.stream) {
    LogMessage(L"InitMultiTrackAudioEncoder: [ERROR] avformat_new_stream failed.");
    return E_FAIL;
  }
  record.stream->id = static_cast<int>(format_->nb_streams - 1);
  if ((result = avcodec_parameters_from_context(record.stream->codecpar, codec)) < 0) {
    LogFfmpegError(kAudioLogPrefix, L"avcodec_parameters_from_context for audio track", result);
    return E_FAIL;
  }
  record.stream->time_base = codec->time_base;
  return S_OK;
}

unsigned __stdcall AudioRecorder::CaptureThreadMain(void* param) {
  auto* record = static_cast<TrackStream*>(param);
  ComApartment com;
  LogMessage(L"Audio capture thread started for track: " + record->track.name);
  while (!record->stop) {
    if (record->owner->GetState() == kStateRecording) {
      {
        std::lock_guard fifo(record->fifoLock);
        DrainCaptureClient(kAudioLogPrefix, *record->source);
      }
      Sleep(10);
    } else {
      Sleep(50);
    }
  }
  LogMessage(L"Audio capture thread stopped for track: " + record->track.name);
  return 0;
}

void AudioRecorder::WriteDueTrackFrames(bool finishing) {
  const std::int64_t due = DueSamples(ElapsedTicks(), frequency_.QuadPart);
  for (auto& record : trackStreams_) {
    const int volume = record->isInput ? record->track.input_volume : record->track.output_volume;
    const std::int64_t dropped = WriteDueTrackAudio(
        record->frame.get(), *record->source, record->fifoLock, record->backlog, record->samplesWritten, due, finishing,
        volume, [&](AVFrame* frame) { EncodeAndWrite(frame, record->codec.get(), record->stream, record->track.name); });
    if (dropped > 0) LogBacklogDrop(L"Track " + record->track.name, dropped);
  }
}

void AudioRecorder::CleanupMultiTrack() {
  LogMessage(L"AudioRecorder: Cleaning up multi-track resources.");
  std::vector<HANDLE> threads;
  for (auto& record : trackStreams_) {
    record->stop = true;
    if (record->captureThread) threads.push_back(record->captureThread.get());
  }
  if (!threads.empty() &&
      WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE, 2000) == WAIT_TIMEOUT) {
    // A capture thread still inside the audio stack: its source must outlive it.
    LogMessage(L"AudioRecorder: [WARNING] Audio capture threads are slow to stop. Waiting for them.");
    WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE, INFINITE);
  }
  if (format_) {
    if (state_ != kStateIdle && headerWritten_) {
      LogMessage(L"AudioRecorder: Flushing multi-track encoders and writing file trailer.");
      for (auto& record : trackStreams_) EncodeAndWrite(nullptr, record->codec.get(), record->stream, L"Flush");
      const int result = av_write_trailer(format_.get());
      if (result < 0) LogFfmpegError(kAudioLogPrefix, L"av_write_trailer (multi-track)", result);
    }
    format_.reset();
  }
  trackStreams_.clear();
}

}  // namespace vistrel
