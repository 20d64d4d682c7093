// The video recorder's FFmpeg side: H.264 from libx264 and one mixed AAC stream in an MP4 file.
#include <cstdio>
#include <cstring>

#include "audio/audio_mix.h"
#include "audio/recorder_util.h"
#include "core/log.h"
#include "core/text.h"
#include "video/video_recorder.h"
#include "video/video_streams.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace vistrel {

void SwsContextDeleter::operator()(SwsContext* context) const { sws_freeContext(context); }


HRESULT VideoRecorder::InitializeFfmpeg(int quality) {
  LogMessage(L"Recorder: Initializing FFmpeg...");
  std::string path;
  if (FAILED(CreateOutputFile(L"Recorder: Output file will be: ", path))) return E_FAIL;
  if (FAILED(InitVideoEncoder(quality))) {
    LogMessage(L"Recorder: [ERROR] Video encoder init failed.");
    return E_FAIL;
  }
  if (mixer_.empty()) {
    LogMessage(L"Recorder: No audio sources available or selected. Recording video only.");
  } else if (FAILED(InitAudioEncoder())) {
    LogMessage(L"Recorder: [ERROR] Unified audio encoder init failed.");
    return E_FAIL;
  }
  if (FAILED(OpenFileAndWriteHeader(path))) return E_FAIL;
  LogMessage(L"Recorder: FFmpeg initialization successful.");
  return S_OK;
}

namespace {

// A new stream of the file, numbered by its index, and a context for its encoder.
HRESULT NewEncoderStream(AVFormatContext* format, const AVCodec* encoder, const std::wstring& caller,
                         CodecContextPtr& codec, AVStream*& stream) {
  stream = avformat_new_stream(format, nullptr);
  if (!stream) {
    LogMessage(caller + L": [ERROR] avformat_new_stream failed.");
    return E_FAIL;
  }
  stream->id = static_cast<int>(format->nb_streams - 1);
  codec.reset(avcodec_alloc_context3(encoder));
  if (!codec) {
    LogMessage(caller + L": [ERROR] avcodec_alloc_context3 failed.");
    return E_FAIL;
  }
  return S_OK;
}

}  // namespace

HRESULT OpenH264Stream(AVFormatContext* format, const StreamTexts& texts, const H264Settings& settings,
                       CodecContextPtr& codec, AVStream*& stream, FramePtr& frame, FramePtr& lastFrame) {
  const std::wstring caller = texts.caller;
  const AVCodec* encoder = avcodec_find_encoder_by_name("libx264");
  if (!encoder) {
    LogMessage(caller + L": [ERROR] libx264 not found.");
    return E_FAIL;
  }
  if (FAILED(NewEncoderStream(format, encoder, caller, codec, stream))) return E_FAIL;
  AVCodecContext* context = codec.get();
  context->bit_rate = settings.bitRate;
  context->width = settings.width;
  context->height = settings.height;
  context->time_base = settings.timeBase;
  context->framerate = AVRational{settings.framerate, 1};
  context->gop_size = settings.framerate;
  context->pix_fmt = AV_PIX_FMT_YUV420P;
  if (format->oformat->flags & AVFMT_GLOBALHEADER) context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  av_opt_set(context->priv_data, "preset", "ultrafast", 0);
  av_opt_set(context->priv_data, "tune", "zerolatency", 0);
  int result = avcodec_open2(context, encoder, nullptr);
  if (result < 0) {
    LogFfmpegError(kVideoLogPrefix, texts.open, result);
    return E_FAIL;
  }
  result = avcodec_parameters_from_context(stream->codecpar, context);
  if (result < 0) {
    LogFfmpegError(kVideoLogPrefix, L"avcodec_parameters_from_context for video", result);
    return E_FAIL;
  }
  stream->time_base = context->time_base;
  frame.reset(av_frame_alloc());
  if (!frame) return E_OUTOFMEMORY;
  frame->format = AV_PIX_FMT_YUV420P;
  frame->width = settings.width;
  frame->height = settings.height;
  if ((result = av_frame_get_buffer(frame.get(), 0)) < 0) {
    LogFfmpegError(kVideoLogPrefix, L"av_frame_get_buffer for video", result);
    return E_FAIL;
  }
  lastFrame.reset(av_frame_alloc());
  if (!lastFrame) {
    LogMessage(caller + L": [ERROR] av_frame_alloc for " + texts.lastFrame + L" failed.");
    return E_OUTOFMEMORY;
  }
  lastFrame->format = AV_PIX_FMT_YUV420P;
  lastFrame->width = settings.width;
  lastFrame->height = settings.height;
  if ((result = av_frame_get_buffer(lastFrame.get(), 0)) < 0) {
    LogFfmpegError(kVideoLogPrefix, std::wstring(L"av_frame_get_buffer for ") + texts.lastFrame, result);
    lastFrame.reset();
    return E_FAIL;
  }
  // Until the first picture arrives, a repeated frame is black.
  std::memset(lastFrame->data[0], 16, static_cast<size_t>(lastFrame->linesize[0]) * settings.height);
  std::memset(lastFrame->data[1], 128, static_cast<size_t>(lastFrame->linesize[1]) * (settings.height / 2));
  std::memset(lastFrame->data[2], 128, static_cast<size_t>(lastFrame->linesize[2]) * (settings.height / 2));
  return S_OK;
}

HRESULT OpenAacStream(AVFormatContext* format, const StreamTexts& texts, CodecContextPtr& codec, AVStream*& stream,
                      FramePtr& frame) {
  const std::wstring caller = texts.caller;
  const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_AAC);
  if (!encoder) {
    LogMessage(caller + L": [ERROR] AAC encoder not found.");
    return E_FAIL;
  }
  if (FAILED(NewEncoderStream(format, encoder, caller, codec, stream))) return E_FAIL;
  AVCodecContext* context = codec.get();
  context->sample_fmt = AV_SAMPLE_FMT_FLTP;
  context->bit_rate = 192000;
  context->sample_rate = kMixSampleRate;
  av_channel_layout_default(&context->ch_layout, kMixChannels);
  context->time_base = AVRational{1, kMixSampleRate};
  if (format->oformat->flags & AVFMT_GLOBALHEADER) context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  int result = avcodec_open2(context, encoder, nullptr);
  if (result < 0) {
    LogFfmpegError(kVideoLogPrefix, texts.open, result);
    return E_FAIL;
  }
  result = avcodec_parameters_from_context(stream->codecpar, context);
  if (result < 0) {
    LogFfmpegError(kVideoLogPrefix, texts.parameters, result);
    return E_FAIL;
  }
  stream->time_base = context->time_base;
  frame.reset(av_frame_alloc());
  if (!frame) return E_OUTOFMEMORY;
  frame->format = AV_SAMPLE_FMT_FLTP;
  frame->sample_rate = kMixSampleRate;
  av_channel_layout_copy(&frame->ch_layout, &context->ch_layout);
  frame->nb_samples = context->frame_size > 0 ? context->frame_size : 1024;
  if ((result = av_frame_get_buffer(frame.get(), 0)) < 0) {
    LogFfmpegError(kVideoLogPrefix, texts.buffer, result);
    return E_FAIL;
  }
  return S_OK;
}

HRESULT VideoRecorder::CreateOutputFile(const wchar_t* announcement, std::string& path) {
  outputPath_ = BuildOutputPath();
  if (outputPath_.empty()) {
    LogMessage(L"Recorder: [ERROR] Could not generate output path.");
    return E_FAIL;
  }
  // FFmpeg's file protocol takes UTF-8 on Windows: window titles in any script make a usable name.
  path = WideToUtf8(outputPath_);
  LogMessage(announcement + outputPath_);
  AVFormatContext* context = nullptr;
  const int result = avformat_alloc_output_context2(&context, nullptr, "mp4", path.c_str());
  format_.reset(context);
  if (result < 0 || !context) {
    LogFfmpegError(kVideoLogPrefix, L"avformat_alloc_output_context2", result);
    return E_FAIL;
  }
  return S_OK;
}

HRESULT VideoRecorder::OpenFileAndWriteHeader(const std::string& path) {
  AVFormatContext* context = format_.get();
  if (!(context->oformat->flags & AVFMT_NOFILE)) {
    const int result = avio_open(&context->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (result < 0) {
      LogFfmpegError(kVideoLogPrefix, L"avio_open", result);
      return E_FAIL;
    }
  }
  // The index goes to the front of the file when the trailer is written.
  AVDictionary* options = nullptr;
  av_dict_set(&options, "movflags", "faststart", 0);
  const int result = avformat_write_header(context, &options);
  av_dict_free(&options);
  if (result < 0) {
    LogFfmpegError(kVideoLogPrefix, L"avformat_write_header", result);
    return E_FAIL;
  }
  headerWritten_ = true;
  clock_ = std::make_unique<FrameClock>(frequency_ / framerate_);
  return S_OK;
}

HRESULT VideoRecorder::InitVideoEncoder(int quality) {
  const VideoOutputSize size = VideoOutputSizeFor(sourceWidth_, sourceHeight_, quality, framerate_);
  if (size.sourceLimited) {
    LogMessage(L"InitVideoEncoder: Target quality is higher than source. Using source resolution to avoid upscaling.");
  }
  if (size.width <= 0 || size.height <= 0) {
    LogMessage(L"InitVideoEncoder: [ERROR] The picture is too small to record.");
    return E_FAIL;
  }
  outputWidth_ = size.width;
  outputHeight_ = size.height;
  LogMessage(L"InitVideoEncoder: Source: " + std::to_wstring(sourceWidth_) + L"x" + std::to_wstring(sourceHeight_) +
             L", Target Quality: " + std::to_wstring(size.targetHeight) + L"p, Final Output: " +
             std::to_wstring(outputWidth_) + L"x" + std::to_wstring(outputHeight_));
  const StreamTexts texts{L"InitVideoEncoder", L"avcodec_open2 for video", nullptr, nullptr, L"last frame"};
  const H264Settings settings{outputWidth_, outputHeight_, size.bitRate, framerate_, AVRational{1, framerate_}};
  if (HRESULT hr = OpenH264Stream(format_.get(), texts, settings, videoCodec_, videoStream_, videoFrame_, lastFrame_);
      FAILED(hr)) {
    return hr;
  }
  if (FAILED(MakeScaler())) {
    LogMessage(L"InitVideoEncoder: [ERROR] sws_getContext failed.");
    return E_FAIL;
  }
  return S_OK;
}

HRESULT VideoRecorder::MakeScaler() {
  scaler_.reset(sws_getContext(sourceWidth_, sourceHeight_, AV_PIX_FMT_BGRA, outputWidth_, outputHeight_,
                               AV_PIX_FMT_YUV420P, SWS_FAST_BILINEAR, nullptr, nullptr, nullptr));
  scalerWidth_ = scaler_ ? sourceWidth_ : 0;
  scalerHeight_ = scaler_ ? sourceHeight_ : 0;
  return scaler_ ? S_OK : E_FAIL;
}

HRESULT VideoRecorder::InitAudioEncoder() {
  LogMessage(L"InitAudioEncoder: Initializing single audio stream for mixing.");
  const StreamTexts texts{L"InitAudioEncoder", L"avcodec_open2 for audio", L"avcodec_parameters_from_context for audio",
                          L"av_frame_get_buffer for audio", nullptr};
  if (HRESULT hr = OpenAacStream(format_.get(), texts, audioCodec_, audioStream_, audioFrame_); FAILED(hr)) return hr;
  return mixer_.PrepareInputs(kVideoLogPrefix, useTrackSources_);
}

void VideoRecorder::RunTick() {
  const std::int64_t began = CounterNow();
  mixer_.DrainClients(kVideoLogPrefix);
  WriteVideoFrame(clock_->Take(RecordingTicks()));
  if (audioStream_) WriteAudioFrames(false);
  ticks_.Add(static_cast<double>(CounterNow() - began) * 1000.0 / static_cast<double>(frequency_));
}

HRESULT VideoRecorder::ScaleIntoFrame(const std::uint8_t* pixels, int pitch) {
  if (!scaler_ || av_frame_make_writable(videoFrame_.get()) < 0) return E_FAIL;
  const std::uint8_t* planes[] = {pixels};
  const int pitches[] = {pitch};
  const int rows = sws_scale(scaler_.get(), planes, pitches, 0, scalerHeight_, videoFrame_->data, videoFrame_->linesize);
  return rows > 0 ? S_OK : E_FAIL;
}

HRESULT VideoRecorder::WriteVideoFrame(std::int64_t pts) {
  if (dxgiLost_) {
    lastFrame_->pts = pts;
    return EncodeAndWriteFrame(lastFrame_.get(), videoStream_, videoCodec_.get(), L"Video (Last Frame, DXGI Lost)");
  }
  if (FAILED(CaptureFrame())) {
    lastFrame_->pts = pts;
    return EncodeAndWriteFrame(lastFrame_.get(), videoStream_, videoCodec_.get(), L"Video (Last Frame)");
  }
  videoFrame_->pts = pts;
  if (av_frame_make_writable(lastFrame_.get()) >= 0) av_frame_copy(lastFrame_.get(), videoFrame_.get());
  return EncodeAndWriteFrame(videoFrame_.get(), videoStream_, videoCodec_.get(), L"Video");
}

HRESULT VideoRecorder::WriteAudioFrames(bool finishing) {
  const int frameSamples = audioFrame_ ? audioFrame_->nb_samples : 0;
  if (frameSamples < 1) return E_FAIL;
  const std::int64_t due = DueSamples(RecordingTicks(), frequency_);
  while (samplesWritten_ + frameSamples <= due || (finishing && samplesWritten_ < due)) {
    if (av_frame_make_writable(audioFrame_.get()) < 0) return E_FAIL;
    // At the stop the last, partial frame is padded with silence.
    const auto available = static_cast<int>(std::min<std::int64_t>(frameSamples, due - samplesWritten_));
    mixer_.MixInto(audioFrame_.get(), available);
    audioFrame_->pts = samplesWritten_;
    EncodeAndWriteFrame(audioFrame_.get(), audioStream_, audioCodec_.get(), L"Processed Audio");
    samplesWritten_ += frameSamples;
  }
  if (!finishing) {
    mixer_.BoundBacklogs(samplesWritten_, [this](const std::wstring& source, std::int64_t samples) {
      LogBacklogDrop(source, samples);
    });
  }
  return S_OK;
}

void VideoRecorder::LogBacklogDrop(const std::wstring& source, std::int64_t samples) {
  if (backlogLogged_) return;
  backlogLogged_ = true;
  LogMessage(L"Recorder: [WARNING] " + source + L" delivers more than the recording clock; dropped " +
             std::to_wstring(samples * 1000 / kMixSampleRate) + L" ms of its oldest audio (logged once).");
}

HRESULT VideoRecorder::EncodeAndWriteFrame(AVFrame* frame, AVStream* stream, AVCodecContext* codec,
                                           const wchar_t* label) {
  if (!stream || !codec) return E_POINTER;
  std::lock_guard guard(writeLock_);
  PacketPtr packet(av_packet_alloc());
  if (!packet) return E_OUTOFMEMORY;
  int result = avcodec_send_frame(codec, frame);
  if (result < 0) {
    if (result != AVERROR_EOF) LogFfmpegError(kVideoLogPrefix, std::wstring(L"avcodec_send_frame for ") + label, result);
    return E_FAIL;
  }
  const bool video = codec->codec_type == AVMEDIA_TYPE_VIDEO;
  for (;;) {
    result = avcodec_receive_packet(codec, packet.get());
    if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) break;
    if (result < 0) {
      LogFfmpegError(kVideoLogPrefix, std::wstring(L"avcodec_receive_packet for ") + label, result);
      break;
    }
    // libx264 leaves packet durations at 0; each picture lasts one interval unless the next
    // one comes later, which the container takes from the next time stamp.
    if (video && packet->duration == 0) packet->duration = av_rescale_q(1, AVRational{1, framerate_}, codec->time_base);
    av_packet_rescale_ts(packet.get(), codec->time_base, stream->time_base);
    packet->stream_index = stream->index;
    result = av_interleaved_write_frame(format_.get(), packet.get());
    if (result < 0) LogFfmpegError(kVideoLogPrefix, std::wstring(L"av_interleaved_write_frame for ") + label, result);
    av_packet_unref(packet.get());
  }
  return S_OK;
}

void VideoRecorder::FinishStreams() {
  if (!format_ || !headerWritten_ || !clock_) return;
  std::int64_t elapsed;
  bool paused;
  {
    std::lock_guard guard(lock_);
    paused = pausedSince_ != 0;
    elapsed = paused ? pausedSince_ - startTime_ - pausedTotal_ : RecordingTicks();
  }
  LogRecordedTime(kVideoLogPrefix, elapsed, frequency_);
  if (multiTrack_) {
    FinishTrackStreams(elapsed, paused);
  } else if (const std::int64_t pts = clock_->FinalPts(elapsed); pts >= 0) {
    // The last picture lasts until the moment the recording ended.
    lastFrame_->pts = pts;
    EncodeAndWriteFrame(lastFrame_.get(), videoStream_, videoCodec_.get(), L"Video (Last Frame)");
  }
  if (!multiTrack_ && audioStream_ && !paused) {
    mixer_.DrainClients(kVideoLogPrefix);
    WriteAudioFrames(true);
  }
  wchar_t summary[200];
  swprintf(summary, 200, L"Recorder: %lld frames written, %lld intervals skipped; tick mean %.1f ms, 95th percentile %.1f ms.",
           static_cast<long long>(clock_->written()), static_cast<long long>(clock_->skipped()), ticks_.Mean(),
           ticks_.Percentile(0.95));
  LogMessage(summary);
}

void VideoRecorder::ReleaseEncoding() {
  if (format_) {
    if (state_ != kStateIdle && headerWritten_) {
      LogMessage(L"Recorder: Flushing encoders and writing file trailer.");
      if (videoStream_) EncodeAndWriteFrame(nullptr, videoStream_, videoCodec_.get(), L"Video (Flush)");
      if (audioStream_) EncodeAndWriteFrame(nullptr, audioStream_, audioCodec_.get(), L"Audio (Flush)");
      const int result = av_write_trailer(format_.get());
      if (result < 0) LogFfmpegError(kVideoLogPrefix, L"av_write_trailer", result);
    } else {
      LogMessage(L"Recorder: Skipping trailer write as recording did not fully start.");
    }
  }
  format_.reset();  // closes the file
  videoStream_ = audioStream_ = nullptr;
  videoCodec_.reset();
  audioCodec_.reset();
  videoFrame_.reset();
  lastFrame_.reset();
  audioFrame_.reset();
  scaler_.reset();
  scalerWidth_ = scalerHeight_ = 0;
  headerWritten_ = false;
}

}  // namespace vistrel
