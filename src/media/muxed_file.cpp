#include "media/muxed_file.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/log.h"
#include "core/system_error.h"
#include "core/text.h"
#include "media/fragmented_file.h"

namespace vistrel {
namespace {

bool IsMp4(const AVFormatContext* context) {
  const char* name = context->oformat->name;
  return std::strcmp(name, "mp4") == 0 || std::strcmp(name, "ipod") == 0 || std::strcmp(name, "mov") == 0;
}

}  // namespace

HRESULT MuxedFile::Create(const char* muxer, const std::wstring& path) {
  path_ = WideToUtf8(path);
  widePath_ = path;
  headerWritten_ = false;
  fragmented_ = false;
  lead_ = 0;
  ends_.clear();
  packets_.clear();
  wavDataSize_ = 0;
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

HRESULT MuxedFile::OpenRecoverable() {
  if (!context_) return E_POINTER;
  AVDictionary* options = nullptr;
  fragmented_ = IsMp4(context_.get());
  if (fragmented_) {
    bool video = false;
    for (unsigned i = 0; i < context_->nb_streams; ++i) {
      video = video || context_->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
    }
    // With video a fragment starts at each keyframe (there is one a second), so that every
    // fragment decodes on its own.
    av_dict_set(&options, "movflags", video ? "frag_keyframe+empty_moov+default_base_moof" : "empty_moov+default_base_moof", 0);
    av_dict_set(&options, "frag_duration", "1000000", 0);
    // A fragment cannot hold an edit list, so the muxer would move every stream by the audio
    // priming to keep times from being negative. Doing it here keeps the amount known, so that
    // the ordinary file made at the end gets its exact timing back.
    lead_ = 0;
    for (unsigned i = 0; i < context_->nb_streams; ++i) {
      const AVCodecParameters* parameters = context_->streams[i]->codecpar;
      if (parameters->initial_padding > 0 && parameters->sample_rate > 0) {
        lead_ = std::max(lead_, av_rescale(parameters->initial_padding, AV_TIME_BASE, parameters->sample_rate));
      }
    }
  }
  // Every packet goes to the file at once, so that a kill loses no more than the fragment under way.
  context_->flags |= AVFMT_FLAG_FLUSH_PACKETS;
  const HRESULT hr = Open(&options);
  av_dict_free(&options);
  if (SUCCEEDED(hr) && std::strcmp(context_->oformat->name, "wav") == 0 && context_->pb) {
    // The header ends with the data chunk's size.
    wavDataSize_ = avio_tell(context_->pb) - 4;
  }
  return hr;
}

void MuxedFile::UpdateSizes() {
  if (wavDataSize_ <= 0 || !context_ || !context_->pb) return;
  std::lock_guard guard(writeLock_);
  AVIOContext* pb = context_->pb;
  const std::int64_t end = avio_tell(pb);
  if (end < wavDataSize_ + 4) return;
  avio_seek(pb, 4, SEEK_SET);
  avio_wl32(pb, static_cast<unsigned>(end - 8));
  avio_seek(pb, wavDataSize_, SEEK_SET);
  avio_wl32(pb, static_cast<unsigned>(end - wavDataSize_ - 4));
  avio_seek(pb, end, SEEK_SET);
  avio_flush(pb);
}

std::wstring MuxedFile::WriteFailure() const {
  const std::wstring::size_type slash = widePath_.find_last_of(L"\\/");
  const std::wstring folder = slash == std::wstring::npos ? widePath_ : widePath_.substr(0, slash + 1);
  ULARGE_INTEGER available{};
  if (GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr) && available.QuadPart < 1024 * 1024) {
    return SystemErrorText(ERROR_DISK_FULL);
  }
  return WriteErrorText(writeError());
}

int MuxedFile::writeError() const {
  std::lock_guard guard(writeLock_);
  if (writeError_ == 0 && context_ && context_->pb && context_->pb->error < 0) return context_->pb->error;
  return writeError_;
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
    if (FAILED(WriteLocked(packet.get(), codec->time_base, stream, label))) outcome = E_FAIL;
    av_packet_unref(packet.get());
  }
  return outcome;
}

HRESULT MuxedFile::WritePacket(AVPacket* packet, AVRational timeBase, AVStream* stream, const wchar_t* label) {
  if (!packet || !stream || !context_) return E_POINTER;
  if (!headerWritten_) return E_UNEXPECTED;
  std::lock_guard guard(writeLock_);
  return WriteLocked(packet, timeBase, stream, label);
}

HRESULT MuxedFile::WriteLocked(AVPacket* packet, AVRational timeBase, AVStream* stream, const wchar_t* label) {
  av_packet_rescale_ts(packet, timeBase, stream->time_base);
  if (lead_ > 0) {
    const std::int64_t lead = av_rescale_q(lead_, AV_TIME_BASE_Q, stream->time_base);
    if (packet->pts != AV_NOPTS_VALUE) packet->pts += lead;
    if (packet->dts != AV_NOPTS_VALUE) packet->dts += lead;
  }
  const auto index = static_cast<size_t>(stream->index);
  if (fragmented_ && packet->pts != AV_NOPTS_VALUE) {
    if (ends_.size() <= index) ends_.resize(index + 1, 0);
    ends_[index] = std::max(ends_[index], av_rescale_q(packet->pts + packet->duration, stream->time_base, AV_TIME_BASE_Q));
  }
  packet->stream_index = stream->index;
  const int result = av_interleaved_write_frame(context_.get(), packet);
  if (result < 0) {
    if (writeError_ == 0) writeError_ = result;
    LogFfmpegError(prefix_, std::wstring(L"av_interleaved_write_frame for ") + label, result);
    return E_FAIL;
  }
  if (fragmented_) {
    if (packets_.size() < context_->nb_streams) packets_.resize(context_->nb_streams, 0);
    ++packets_[index];
  }
  return S_OK;
}

HRESULT MuxedFile::Close(const std::atomic<bool>* hurry) {
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
  const bool rewrite = fragmented_ && headerWritten_ && outcome == S_OK && writeError_ == 0;
  context_.reset();  // closes the file
  headerWritten_ = false;
  if (!rewrite) return outcome;
  // What a fragmented file was for is over: the user gets an ordinary one, unless there is no time
  // for it now; then the next start makes it.
  if (hurry && hurry->load()) {
    LogMessage(std::wstring(prefix_) +
               L"The file stays in fragments for now; it is made an ordinary file at the next start.");
    return S_FALSE;
  }
  if (FinishFragmentedFile(prefix_, widePath_, FragmentFacts{lead_, ends_, packets_}, hurry) == S_OK) return S_OK;
  LogMessage(std::wstring(prefix_) + L"[WARNING] The file stays as it was recorded, in fragments; it plays as it is.");
  return S_FALSE;
}

}  // namespace vistrel
