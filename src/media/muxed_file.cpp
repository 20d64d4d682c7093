#include "media/muxed_file.h"

#include "core/log.h"
#include "core/text.h"

namespace vistrel {

HRESULT MuxedFile::Create(const char* muxer, const std::wstring& path) {
  path_ = WideToUtf8(path);
  headerWritten_ = false;
  writeError_ = 0;
  AVFormatContext* context = nullptr;
  const int result = avformat_alloc_output_context2(&context, nullptr, muxer, path_.c_str());
  context_.reset(context);
  if (result < 0 || !context) {
    LogFfmpegError(prefix_, L"avformat_alloc_output_context2", result);
    return E_FAIL;
  }
  return S_OK;
}

bool MuxedFile::wantsGlobalHeader() const {
  return context_ && (context_->oformat->flags & AVFMT_GLOBALHEADER);
}

AVStream* MuxedFile::OpenStream(AVCodecContext* codec, const AVCodec* encoder, const std::wstring& caller) {
  if (wantsGlobalHeader()) codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  const int opened = avcodec_open2(codec, encoder, nullptr);
  if (opened < 0) {
    LogFfmpegError(prefix_, caller + L": avcodec_open2", opened);
    return nullptr;
  }
  AVStream* stream = avformat_new_stream(context_.get(), nullptr);
  if (!stream) {
    LogMessage(caller + L": [ERROR] avformat_new_stream failed.");
    return nullptr;
  }
  stream->id = static_cast<int>(context_->nb_streams - 1);
  const int result = avcodec_parameters_from_context(stream->codecpar, codec);
  if (result < 0) {
    LogFfmpegError(prefix_, caller + L": avcodec_parameters_from_context", result);
    return nullptr;
  }
  stream->time_base = codec->time_base;
  return stream;
}

HRESULT MuxedFile::Open(AVDictionary** options) {
  AVFormatContext* context = context_.get();
  if (!context) return E_POINTER;
  if (!(context->oformat->flags & AVFMT_NOFILE)) {
    const int result = avio_open(&context->pb, path_.c_str(), AVIO_FLAG_WRITE);
    if (result < 0) {
      LogFfmpegError(prefix_, L"avio_open", result);
      return E_FAIL;
    }
  }
  const int result = avformat_write_header(context, options);
  if (result < 0) {
    LogFfmpegError(prefix_, L"avformat_write_header", result);
    return E_FAIL;
  }
  headerWritten_ = true;
  return S_OK;
}

HRESULT MuxedFile::Encode(AVCodecContext* codec, AVStream* stream, AVFrame* frame, const wchar_t* label) {
  if (!codec || !stream || !context_) return E_POINTER;
  if (!headerWritten_) return E_UNEXPECTED;
  std::lock_guard guard(writeLock_);
  PacketPtr packet(av_packet_alloc());
  if (!packet) return E_OUTOFMEMORY;
  int result = avcodec_send_frame(codec, frame);
  if (result < 0) {
    // A second drain finds the encoder already drained: nothing to report.
    if (result != AVERROR_EOF) LogFfmpegError(prefix_, std::wstring(L"avcodec_send_frame for ") + label, result);
    return E_FAIL;
  }
  const bool video = codec->codec_type == AVMEDIA_TYPE_VIDEO;
  HRESULT outcome = S_OK;
  for (;;) {
    result = avcodec_receive_packet(codec, packet.get());
    if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) break;
    if (result < 0) {
      LogFfmpegError(prefix_, std::wstring(L"avcodec_receive_packet for ") + label, result);
      outcome = E_FAIL;
      break;
    }
    // libx264 leaves packet durations at 0; each picture lasts one interval unless the next one
    // comes later, which the container takes from the next time stamp.
    if (video && packet->duration == 0 && codec->framerate.num > 0) {
      packet->duration = av_rescale_q(1, av_inv_q(codec->framerate), codec->time_base);
    }
    av_packet_rescale_ts(packet.get(), codec->time_base, stream->time_base);
    packet->stream_index = stream->index;
    result = av_interleaved_write_frame(context_.get(), packet.get());
    if (result < 0) {
      if (writeError_ == 0) writeError_ = result;
      LogFfmpegError(prefix_, std::wstring(L"av_interleaved_write_frame for ") + label, result);
      outcome = E_FAIL;
    }
    av_packet_unref(packet.get());
  }
  return outcome;
}

HRESULT MuxedFile::Close() {
  HRESULT outcome = S_OK;
  if (context_ && headerWritten_) {
    std::lock_guard guard(writeLock_);
    const int result = av_write_trailer(context_.get());
    if (result < 0) {
      if (writeError_ == 0) writeError_ = result;
      LogFfmpegError(prefix_, L"av_write_trailer", result);
      outcome = E_FAIL;
    }
  }
  context_.reset();  // closes the file
  headerWritten_ = false;
  return outcome;
}

}  // namespace vistrel
