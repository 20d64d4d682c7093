#include "media/audio_stream.h"

#include <algorithm>

#include "core/log.h"
#include "core/text.h"
#include "media/audio_mix.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

namespace vistrel {
namespace {

// Planar float stereo at the mix rate, `samples` long.
FramePtr MixFrame(int samples, AVSampleFormat format, const AVChannelLayout& layout) {
  FramePtr frame(av_frame_alloc());
  if (!frame) return frame;
  frame->format = format;
  frame->sample_rate = kMixSampleRate;
  av_channel_layout_copy(&frame->ch_layout, &layout);
  frame->nb_samples = samples;
  if (av_frame_get_buffer(frame.get(), 0) < 0) frame.reset();
  return frame;
}

}  // namespace

HRESULT AudioEncoderStream::Open(MuxedFile& file, const AudioEncoding& encoding, const wchar_t* caller) {
  const std::wstring who = caller;
  const AVCodec* encoder = encoding.encoder ? avcodec_find_encoder_by_name(encoding.encoder)
                                            : avcodec_find_encoder(AV_CODEC_ID_AAC);
  if (!encoder) {
    LogMessage(who + L": [ERROR] " + (encoding.encoder ? Utf8ToWide(encoding.encoder) : L"AAC") +
               L" encoder not found.");
    return E_FAIL;
  }
  LogMessage(who + L": Using encoder: " + Utf8ToWide(encoder->name));
  codec_.reset(avcodec_alloc_context3(encoder));
  if (!codec_) {
    LogMessage(who + L": [ERROR] avcodec_alloc_context3 failed.");
    return E_FAIL;
  }
  AVCodecContext* codec = codec_.get();
  codec->bit_rate = encoding.bitRate;
  codec->sample_rate = kMixSampleRate;
  av_channel_layout_default(&codec->ch_layout, kMixChannels);
  codec->time_base = AVRational{1, kMixSampleRate};
  codec->sample_fmt = encoder->sample_fmts ? encoder->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
  stream_ = file.OpenStream(codec, encoder, who);
  if (!stream_) return E_FAIL;
  int result = 0;
  const int samples = codec->frame_size > 0 ? codec->frame_size : 1024;
  frame_ = MixFrame(samples, AV_SAMPLE_FMT_FLTP, codec->ch_layout);
  if (!frame_) {
    LogMessage(who + L": [ERROR] av_frame_get_buffer for audio failed.");
    return E_OUTOFMEMORY;
  }
  if (codec->sample_fmt != AV_SAMPLE_FMT_FLTP) {
    converted_ = MixFrame(samples, codec->sample_fmt, codec->ch_layout);
    SwrContext* swr = nullptr;
    result = swr_alloc_set_opts2(&swr, &codec->ch_layout, codec->sample_fmt, kMixSampleRate, &codec->ch_layout,
                                 AV_SAMPLE_FMT_FLTP, kMixSampleRate, 0, nullptr);
    converter_.reset(swr);
    if (!converted_ || result < 0 || !swr || (result = swr_init(swr)) < 0) {
      LogFfmpegError(file.prefix(), who + L": the sample converter for " + Utf8ToWide(encoder->name), result);
      return E_FAIL;
    }
  }
  samplesWritten_ = 0;
  return S_OK;
}

void AudioEncoderStream::EncodeFrame(MuxedFile& file, const wchar_t* label) {
  frame_->pts = samplesWritten_;
  if (!converter_) {
    file.Encode(codec_.get(), stream_, frame_.get(), label);
    return;
  }
  if (av_frame_make_writable(converted_.get()) < 0) return;
  const int room = converted_->nb_samples;
  const int done = swr_convert(converter_.get(), converted_->data, room,
                               const_cast<const std::uint8_t**>(frame_->data), frame_->nb_samples);
  if (done <= 0) {
    if (done < 0) LogFfmpegError(file.prefix(), L"swr_convert for the encoder", done);
    return;
  }
  converted_->pts = frame_->pts;
  converted_->nb_samples = done;  // less than room only for a short last frame
  file.Encode(codec_.get(), stream_, converted_.get(), label);
  converted_->nb_samples = room;
}

void AudioEncoderStream::WriteDue(MuxedFile& file, std::int64_t due, bool finishing, const Fill& fill,
                                  const wchar_t* label) {
  if (!codec_) return;
  const int samples = frame_->nb_samples;
  // An encoder that takes a shorter last frame gets exactly what is due, so the stream ends with
  // the recording; another gets it padded with silence.
  const bool shortLast = (codec_->codec->capabilities &
                          (AV_CODEC_CAP_SMALL_LAST_FRAME | AV_CODEC_CAP_VARIABLE_FRAME_SIZE)) != 0;
  while (samplesWritten_ + samples <= due || (finishing && samplesWritten_ < due)) {
    if (av_frame_make_writable(frame_.get()) < 0) return;
    const int available = static_cast<int>(std::min<std::int64_t>(samples, due - samplesWritten_));
    av_samples_set_silence(frame_->data, 0, samples, kMixChannels, AV_SAMPLE_FMT_FLTP);
    fill(frame_.get(), available);
    if (shortLast) frame_->nb_samples = available;
    EncodeFrame(file, label);
    samplesWritten_ += frame_->nb_samples;
    frame_->nb_samples = samples;
  }
}

void AudioEncoderStream::Flush(MuxedFile& file, const wchar_t* label) {
  if (!codec_) return;
  if (converter_ && swr_get_delay(converter_.get(), kMixSampleRate) > 0 &&
      av_frame_make_writable(converted_.get()) >= 0) {
    const int done = swr_convert(converter_.get(), converted_->data, converted_->nb_samples, nullptr, 0);
    if (done > 0) {
      av_samples_set_silence(converted_->data, done, converted_->nb_samples - done, kMixChannels,
                             static_cast<AVSampleFormat>(converted_->format));
      converted_->pts = samplesWritten_;
      file.Encode(codec_.get(), stream_, converted_.get(), label);
      samplesWritten_ += converted_->nb_samples;
    }
  }
  file.Encode(codec_.get(), stream_, nullptr, label);
}

}  // namespace vistrel
