#include "media/video_stream.h"

#include <cstring>

#include "core/log.h"

extern "C" {
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace vistrel {

void SwsContextDeleter::operator()(SwsContext* context) const { sws_freeContext(context); }

HRESULT VideoEncoderStream::Open(MuxedFile& file, const VideoEncoding& encoding, const wchar_t* caller) {
  const std::wstring who = caller;
  const AVCodec* encoder = avcodec_find_encoder_by_name("libx264");
  if (!encoder) {
    LogMessage(who + L": [ERROR] libx264 not found.");
    return E_FAIL;
  }
  codec_.reset(avcodec_alloc_context3(encoder));
  if (!codec_) {
    LogMessage(who + L": [ERROR] avcodec_alloc_context3 failed.");
    return E_FAIL;
  }
  AVCodecContext* codec = codec_.get();
  codec->bit_rate = encoding.bitRate;
  codec->width = encoding.width;
  codec->height = encoding.height;
  codec->time_base = encoding.timeBase;
  codec->framerate = AVRational{encoding.framerate, 1};
  codec->gop_size = encoding.framerate;
  codec->pix_fmt = AV_PIX_FMT_YUV420P;
  // Said in the stream (x264 writes it into the sequence header, the MP4 into its colour box).
  codec->colorspace = AVCOL_SPC_BT709;
  codec->color_primaries = AVCOL_PRI_BT709;
  codec->color_trc = AVCOL_TRC_BT709;
  codec->color_range = AVCOL_RANGE_MPEG;
  av_opt_set(codec->priv_data, "preset", "ultrafast", 0);
  av_opt_set(codec->priv_data, "tune", "zerolatency", 0);
  stream_ = file.OpenStream(codec, encoder, who);
  if (!stream_) return E_FAIL;
  int result = 0;
  frame_.reset(av_frame_alloc());
  if (!frame_) return E_OUTOFMEMORY;
  frame_->format = AV_PIX_FMT_YUV420P;
  frame_->width = encoding.width;
  frame_->height = encoding.height;
  if ((result = av_frame_get_buffer(frame_.get(), 0)) < 0) {
    LogFfmpegError(file.prefix(), L"av_frame_get_buffer for video", result);
    return E_FAIL;
  }
  // Until the first picture arrives the frame is black.
  std::memset(frame_->data[0], 16, static_cast<size_t>(frame_->linesize[0]) * encoding.height);
  std::memset(frame_->data[1], 128, static_cast<size_t>(frame_->linesize[1]) * (encoding.height / 2));
  std::memset(frame_->data[2], 128, static_cast<size_t>(frame_->linesize[2]) * (encoding.height / 2));
  return S_OK;
}

bool VideoEncoderStream::Scale(const std::uint8_t* const planes[4], const int pitches[4], int width, int height,
                               int format, const YuvColour& colour) {
  if (!frame_ || !planes[0] || width <= 0 || height <= 0) return false;
  if (!scaler_ || width != scalerWidth_ || height != scalerHeight_ || format != scalerFormat_ ||
      colour.matrix != scalerColour_.matrix || colour.fullRange != scalerColour_.fullRange) {
    // The ranges are given before the scaler is set up: a scaler made for equal ranges may take a
    // shortcut (same size, same layout) that would ignore them.
    scaler_.reset(sws_alloc_context());
    if (scaler_) {
      SwsContext* scaler = scaler_.get();
      av_opt_set_int(scaler, "srcw", width, 0);
      av_opt_set_int(scaler, "srch", height, 0);
      av_opt_set_int(scaler, "src_format", format, 0);
      av_opt_set_int(scaler, "dstw", frame_->width, 0);
      av_opt_set_int(scaler, "dsth", frame_->height, 0);
      av_opt_set_int(scaler, "dst_format", AV_PIX_FMT_YUV420P, 0);
      av_opt_set_int(scaler, "sws_flags", SWS_FAST_BILINEAR, 0);
      av_opt_set_int(scaler, "src_range", colour.fullRange ? 1 : 0, 0);
      av_opt_set_int(scaler, "dst_range", 0, 0);
      if (sws_init_context(scaler, nullptr, nullptr) < 0) scaler_.reset();
    }
    scalerWidth_ = scaler_ ? width : 0;
    scalerHeight_ = scaler_ ? height : 0;
    scalerFormat_ = scaler_ ? format : -1;
    scalerColour_ = colour;
    if (!scaler_) {
      LogMessage(L"VideoEncoderStream: [ERROR] sws_getContext failed.");
      return false;
    }
    // RGB is converted with BT.709's matrix into limited range; YUV is read with its own matrix
    // (ignored for RGB).
    if (sws_setColorspaceDetails(scaler_.get(), sws_getCoefficients(colour.matrix), colour.fullRange ? 1 : 0,
                                 sws_getCoefficients(SWS_CS_ITU709), 0, 0, 1 << 16, 1 << 16) < 0) {
      LogMessage(L"VideoEncoderStream: [WARNING] The picture's colours cannot be converted exactly.");
    }
  }
  // The encoder may still hold the last picture: then the frame gets buffers of its own first.
  if (av_frame_make_writable(frame_.get()) < 0) return false;
  return sws_scale(scaler_.get(), planes, pitches, 0, height, frame_->data, frame_->linesize) > 0;
}

HRESULT VideoEncoderStream::Write(MuxedFile& file, std::int64_t pts, const wchar_t* label) {
  if (!codec_) return E_POINTER;
  frame_->pts = pts;
  return file.Encode(codec_.get(), stream_, frame_.get(), label);
}

void VideoEncoderStream::Flush(MuxedFile& file, const wchar_t* label) {
  if (codec_) file.Encode(codec_.get(), stream_, nullptr, label);
}

}  // namespace vistrel
