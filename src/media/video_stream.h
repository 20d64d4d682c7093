// One H.264 stream of an output file (libx264, "ultrafast", "zerolatency", YUV 4:2:0) with the
// frame it encodes and the scaler that fills it. Shared by the single and multi-track recordings.
//
// Every video is written in one colour space, and says so: BT.709 in limited range (what players
// assume for HD video, and what they are told here for any size), converted from RGB with that
// matrix, and from YUV pictures (cameras) reading them with their own.
#pragma once

#include <cstdint>
#include <memory>

#include "media/ffmpeg_util.h"
#include "media/muxed_file.h"

struct SwsContext;

namespace vistrel {

struct SwsContextDeleter {
  void operator()(SwsContext* context) const;
};
using SwsPtr = std::unique_ptr<SwsContext, SwsContextDeleter>;

// How a YUV picture's values are read: its matrix (an AVColorSpace) and range.
struct YuvColour {
  int matrix = AVCOL_SPC_BT470BG;  // BT.601
  bool fullRange = false;
};

struct VideoEncoding {
  int width = 0;   // even
  int height = 0;  // even
  std::int32_t bitRate = 0;
  int framerate = 60;
  AVRational timeBase{1, 60};
};

class VideoEncoderStream {
 public:
  // A stream of `file` with its encoder opened; log lines name `caller` ("InitVideoEncoder").
  HRESULT Open(MuxedFile& file, const VideoEncoding& encoding, const wchar_t* caller);
  bool open() const { return codec_ != nullptr; }
  int width() const { return frame_ ? frame_->width : 0; }
  // The frame the next Write encodes.
  const AVFrame* frame() const { return frame_.get(); }
  int height() const { return frame_ ? frame_->height : 0; }

  // Scales a picture into the frame: `height` rows of `width` pixels in `format`, `pitch` bytes
  // apart (negative: the rows run upwards from `pixels`). The scaler follows the picture: a
  // picture of another size or format gets a scaler of its own, so a source that changes size is
  // never read past its end. False when it could not be scaled (the frame keeps its last picture).
  bool Scale(const std::uint8_t* pixels, int pitch, int width, int height, int format) {
    const std::uint8_t* planes[4] = {pixels};
    const int pitches[4] = {pitch};
    return Scale(planes, pitches, width, height, format, YuvColour{});
  }
  // The same for a picture in planes (up to four), whose YUV values are read as `colour` says.
  bool Scale(const std::uint8_t* const planes[4], const int pitches[4], int width, int height, int format,
             const YuvColour& colour);
  // Encodes the frame, the last picture scaled (black before the first), at `pts`.
  HRESULT Write(MuxedFile& file, std::int64_t pts, const wchar_t* label);
  // Drains the encoder at the end.
  void Flush(MuxedFile& file, const wchar_t* label);

 private:
  CodecContextPtr codec_;
  AVStream* stream_ = nullptr;
  FramePtr frame_;
  SwsPtr scaler_;
  int scalerWidth_ = 0;
  int scalerHeight_ = 0;
  int scalerFormat_ = -1;
  YuvColour scalerColour_;
};

}  // namespace vistrel
