#include "gif/gif_encoder.h"

#include <algorithm>
#include <cstring>

#include "core/log.h"

extern "C" {
#include <libavutil/opt.h>
}

namespace vistrel {
namespace {

constexpr AVRational kStampBase{1, 100};
constexpr std::size_t kPaletteBytes = 256 * 4;
// A file header without a global colour table: signature and logical screen descriptor.
constexpr int kBareHeaderBytes = 13;

}  // namespace

CodecContextPtr GifEncoder::NewCodec(bool globalPalette) const {
  CodecContextPtr codec(avcodec_alloc_context3(encoder_));
  if (!codec) return nullptr;
  codec->width = width_;
  codec->height = height_;
  codec->pix_fmt = AV_PIX_FMT_PAL8;
  codec->time_base = kStampBase;
  // The first encoder's palette is the file's global colour table; a later encoder's frames each
  // carry their own, since the file's table is not theirs.
  if (!globalPalette) av_opt_set_int(codec->priv_data, "global_palette", 0, 0);
  return codec;
}

HRESULT GifEncoder::Open(const std::wstring& path, int width, int height) {
  width_ = width;
  height_ = height;
  frames_ = palettes_ = codecFrames_ = 0;
  skipHeader_ = false;
  encoder_ = avcodec_find_encoder(AV_CODEC_ID_GIF);
  if (!encoder_) {
    LogMessage(std::wstring(prefix_) + L"[ERROR] This FFmpeg build has no GIF encoder.");
    return E_FAIL;
  }
  if (FAILED(file_.Create("gif", path))) return E_FAIL;
  codec_ = NewCodec(true);
  if (!codec_) return E_OUTOFMEMORY;
  stream_ = file_.OpenStream(codec_.get(), encoder_, L"InitGifEncoder");
  if (!stream_) return E_FAIL;
  // Every frame goes to disk at once: what is there plays should the program be killed.
  file_.context()->flags |= AVFMT_FLAG_FLUSH_PACKETS;
  AVDictionary* options = nullptr;
  av_dict_set(&options, "loop", "0", 0);  // forever
  const HRESULT hr = file_.Open(&options);
  av_dict_free(&options);
  if (FAILED(hr)) return hr;
  frame_.reset(av_frame_alloc());
  if (!frame_) return E_OUTOFMEMORY;
  frame_->format = AV_PIX_FMT_PAL8;
  frame_->width = width;
  frame_->height = height;
  const int result = av_frame_get_buffer(frame_.get(), 0);
  if (result < 0) {
    LogFfmpegError(prefix_, L"av_frame_get_buffer", result);
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

AVFrame* GifEncoder::frame() {
  // The encoder keeps the frame before to compare with: a frame it still holds is copied first.
  if (!frame_ || av_frame_make_writable(frame_.get()) < 0) return nullptr;
  return frame_.get();
}

HRESULT GifEncoder::Restart() {
  CodecContextPtr codec = NewCodec(false);
  if (!codec) return E_OUTOFMEMORY;
  const int result = avcodec_open2(codec.get(), encoder_, nullptr);
  if (result < 0) {
    LogFfmpegError(prefix_, L"avcodec_open2 for a new GIF palette", result);
    return E_FAIL;
  }
  codec_ = std::move(codec);
  codecFrames_ = 0;
  skipHeader_ = true;
  return S_OK;
}

HRESULT GifEncoder::Write(std::int64_t stamp) {
  if (!codec_ || !frame_) return E_POINTER;
  if (codecFrames_ > 0 && std::memcmp(frame_->data[1], codecPalette_.data(), kPaletteBytes) != 0) {
    const HRESULT hr = Restart();
    if (FAILED(hr)) return hr;
  }
  if (codecFrames_ == 0) {
    std::memcpy(codecPalette_.data(), frame_->data[1], kPaletteBytes);
    ++palettes_;
  }
  frame_->pts = stamp;
  const int result = avcodec_send_frame(codec_.get(), frame_.get());
  if (result < 0) {
    LogFfmpegError(prefix_, L"avcodec_send_frame for GIF", result);
    return E_FAIL;
  }
  ++codecFrames_;
  ++frames_;
  lastStamp_ = stamp;
  return WritePackets();
}

HRESULT GifEncoder::WritePackets() {
  PacketPtr packet(av_packet_alloc());
  if (!packet) return E_OUTOFMEMORY;
  for (;;) {
    const int result = avcodec_receive_packet(codec_.get(), packet.get());
    if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return S_OK;
    if (result < 0) {
      LogFfmpegError(prefix_, L"avcodec_receive_packet for GIF", result);
      return E_FAIL;
    }
    if (skipHeader_) {
      skipHeader_ = false;
      if (packet->size <= kBareHeaderBytes || std::memcmp(packet->data, "GIF89a", 6) != 0 || (packet->data[10] & 0x80)) {
        LogMessage(std::wstring(prefix_) + L"[ERROR] The GIF encoder's first packet has an unexpected header.");
        return E_FAIL;
      }
      packet->data += kBareHeaderBytes;
      packet->size -= kBareHeaderBytes;
    }
    const HRESULT hr = file_.WritePacket(packet.get(), codec_->time_base, stream_, L"GIF");
    av_packet_unref(packet.get());
    if (FAILED(hr)) return hr;
  }
}

HRESULT GifEncoder::Close(std::int64_t endStamp) {
  if (frames_ == 0) {
    file_.Discard();
    return S_OK;
  }
  // The muxer gives a frame the time until the next one; the last one lasts until the end.
  const std::int64_t last = std::clamp<std::int64_t>(endStamp - lastStamp_, 1, 0xFFFF);
  if (file_.context()) av_opt_set_int(file_.context()->priv_data, "final_delay", last, 0);
  codec_.reset();
  return file_.Close();
}

}  // namespace vistrel
