// The video recorder's FFmpeg side: H.264 from libx264 and one mixed AAC stream in an MP4 file.
#include <cstring>

#include "audio/audio_mix.h"
#include "core/log.h"
#include "core/text.h"
#include "video/video_recorder.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace vistrel {

void SwsContextDeleter::operator()(SwsContext* context) const { sws_freeContext(context); }

HRESULT VideoRecorder::InitializeFfmpeg(int quality) {
  LogMessage(L"Recorder: Initializing FFmpeg...");
  outputPath_ = BuildOutputPath();
  if (outputPath_.empty()) {
    LogMessage(L"Recorder: [ERROR] Could not generate output path.");
    return E_FAIL;
  }
  // FFmpeg's file protocol takes UTF-8 on Windows: window titles in any script make a usable name.
  const std::string path = WideToUtf8(outputPath_);
  LogMessage(L"Recorder: Output file will be: " + outputPath_);
  AVFormatContext* context = nullptr;
  int result = avformat_alloc_output_context2(&context, nullptr, "mp4", path.c_str());
  format_.reset(context);
  if (result < 0 || !context) {
    LogFfmpegError(kVideoLogPrefix, L"avformat_alloc_output_context2", result);
    return E_FAIL;
  }
  if (FAILED(InitVideoEncoder(quality))) {
    LogMessage(L"Recorder: [ERROR] Video encoder init failed.");
    return E_FAIL;
  }
  if (mixer_.empty()) {
    LogMessage(L"Recorder: No audio sources available or selected. Recording video only.");
  } else if (HRESULT hr = InitAudioEncoder(); FAILED(hr)) {
    LogMessage(L"Recorder: [ERROR] Unified audio encoder init failed.");
    return E_FAIL;
  }
  if (!(context->oformat->flags & AVFMT_NOFILE)) {
    result = avio_open(&context->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (result < 0) {
      LogFfmpegError(kVideoLogPrefix, L"avio_open", result);
      return E_FAIL;
    }
  }
  AVDictionary* options = nullptr;
  av_dict_set(&options, "movflags", "faststart", 0);
  result = avformat_write_header(context, &options);
  av_dict_free(&options);
  if (result < 0) {
    LogFfmpegError(kVideoLogPrefix, L"avformat_write_header", result);
    return E_FAIL;
  }
  headerWritten_ = true;
  clock_ = std::make_unique<FrameClock>(frequency_ / framerate_);
  LogMessage(L"Recorder: FFmpeg initialization successful.");
  return S_OK;
}

HRESULT VideoRecorder::InitVideoEncoder(int quality) {
  const AVCodec* encoder = avcodec_find_encoder_by_name("libx264");
  if (!encoder) {
    LogMessage(L"InitVideoEncoder: [ERROR] libx264 not found.");
    return E_FAIL;
  }
  videoStream_ = avformat_new_stream(format_.get(), nullptr);
  if (!videoStream_) {
    LogMessage(L"InitVideoEncoder: [ERROR] avformat_new_stream failed.");
    return E_FAIL;
  }
  videoStream_->id = static_cast<int>(format_->nb_streams - 1);
  videoCodec_.reset(avcodec_alloc_context3(encoder));
  if (!videoCodec_) {
    LogMessage(L"InitVideoEncoder: [ERROR] avcodec_alloc_context3 failed.");
    return E_FAIL;
  }
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
  AVCodecContext* codec = videoCodec_.get();
  codec->bit_rate = size.bitRate;
  codec->width = outputWidth_;
  codec->height = outputHeight_;
  codec->time_base = AVRational{1, framerate_};
  codec->framerate = AVRational{framerate_, 1};
  codec->gop_size = framerate_;
  codec->pix_fmt = AV_PIX_FMT_YUV420P;
  if (format_->oformat->flags & AVFMT_GLOBALHEADER) codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  av_opt_set(codec->priv_data, "preset", "ultrafast", 0);
  av_opt_set(codec->priv_data, "tune", "zerolatency", 0);
  int result = avcodec_open2(codec, encoder, nullptr);
  if (result < 0) {
    LogFfmpegError(kVideoLogPrefix, L"avcodec_open2 for video", result);
    return E_FAIL;
  }
  result = avcodec_parameters_from_context(videoStream_->codecpar, codec);
  if (result < 0) {
    LogFfmpegError(kVideoLogPrefix, L"avcodec_parameters_from_context for video", result);
    return E_FAIL;
  }
  videoStream_->time_base = codec->time_base;
  videoFrame_.reset(av_frame_alloc());
  if (!videoFrame_) return E_OUTOFMEMORY;
  videoFrame_->format = AV_PIX_FMT_YUV420P;
  videoFrame_->width = outputWidth_;
  videoFrame_->height = outputHeight_;
  if ((result = av_frame_get_buffer(videoFrame_.get(), 0)) < 0) {
    LogFfmpegError(kVideoLogPrefix, L"av_frame_get_buffer for video", result);
    return E_FAIL;
  }
  lastFrame_.reset(av_frame_alloc());
  if (!lastFrame_) {
    LogMessage(L"InitVideoEncoder: [ERROR] av_frame_alloc for last frame failed.");
    return E_OUTOFMEMORY;
  }
  lastFrame_->format = AV_PIX_FMT_YUV420P;
  lastFrame_->width = outputWidth_;
  lastFrame_->height = outputHeight_;
  if ((result = av_frame_get_buffer(lastFrame_.get(), 0)) < 0) {
    LogFfmpegError(kVideoLogPrefix, L"av_frame_get_buffer for last frame", result);
    return E_FAIL;
  }
  // Until the first picture arrives, a repeated frame is black.
  std::memset(lastFrame_->data[0], 16, static_cast<size_t>(lastFrame_->linesize[0]) * outputHeight_);
  std::memset(lastFrame_->data[1], 128, static_cast<size_t>(lastFrame_->linesize[1]) * (outputHeight_ / 2));
  std::memset(lastFrame_->data[2], 128, static_cast<size_t>(lastFrame_->linesize[2]) * (outputHeight_ / 2));
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
  const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_AAC);
  if (!encoder) {
    LogMessage(L"InitAudioEncoder: [ERROR] AAC encoder not found.");
    return E_FAIL;
  }
  audioStream_ = avformat_new_stream(format_.get(), nullptr);
  if (!audioStream_) {
    LogMessage(L"InitAudioEncoder: [ERROR] avformat_new_stream failed.");
    return E_FAIL;
  }
  audioStream_->id = static_cast<int>(format_->nb_streams - 1);
  audioCodec_.reset(avcodec_alloc_context3(encoder));
  if (!audioCodec_) {
    LogMessage(L"InitAudioEncoder: [ERROR] avcodec_alloc_context3 failed.");
    return E_FAIL;
  }
  AVCodecContext* codec = audioCodec_.get();
  codec->sample_fmt = AV_SAMPLE_FMT_FLTP;
  codec->bit_rate = 192000;
  codec->sample_rate = kMixSampleRate;
  av_channel_layout_default(&codec->ch_layout, kMixChannels);
  codec->time_base = AVRational{1, kMixSampleRate};
  if (format_->oformat->flags & AVFMT_GLOBALHEADER) codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  int result = avcodec_open2(codec, encoder, nullptr);
  if (result < 0) {
    LogFfmpegError(kVideoLogPrefix, L"avcodec_open2 for audio", result);
    return E_FAIL;
  }
  result = avcodec_parameters_from_context(audioStream_->codecpar, codec);
  if (result < 0) {
    LogFfmpegError(kVideoLogPrefix, L"avcodec_parameters_from_context for audio", result);
    return E_FAIL;
  }
  audioStream_->time_base = codec->time_base;
  audioFrame_.reset(av_frame_alloc());
  if (!audioFrame_) return E_OUTOFMEMORY;
  audioFrame_->format = AV_SAMPLE_FMT_FLTP;
  audioFrame_->sample_rate = kMixSampleRate;
  av_channel_layout_copy(&audioFrame_->ch_layout, &codec->ch_layout);
  audioFrame_->nb_samples = codec->frame_size > 0 ? codec->frame_size : 1024;
  if ((result = av_frame_get_buffer(audioFrame_.get(), 0)) < 0) {
    LogFfmpegError(kVideoLogPrefix, L"av_frame_get_buffer for audio", result);
    return E_FAIL;
  }
  return mixer_.PrepareInputs(kVideoLogPrefix, useTrackSources_);
}

void VideoRecorder::RunTick() {
  mixer_.DrainClients(kVideoLogPrefix);
  WriteVideoFrame(clock_->Take(RecordingTicks()));
  if (audioStream_) WriteAudioFrames(false);
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
    if (video && packet->duration == 0) packet->duration = 1;
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
  // The last picture lasts until the moment the recording ended.
  if (const std::int64_t pts = clock_->FinalPts(elapsed); pts >= 0) {
    lastFrame_->pts = pts;
    EncodeAndWriteFrame(lastFrame_.get(), videoStream_, videoCodec_.get(), L"Video (Last Frame)");
  }
  if (audioStream_ && !paused) {
    mixer_.DrainClients(kVideoLogPrefix);
    WriteAudioFrames(true);
  }
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
