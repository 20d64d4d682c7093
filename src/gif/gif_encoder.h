// An animated GIF written by FFmpeg's GIF encoder and muxer: frames of 8-bit colour indices with
// their palette (PAL8), stamped in hundredths of a second. The encoder stores each frame as the
// rectangle that changed since the frame before, its unchanged pixels transparent; the muxer
// writes each frame's delay from the stamps, and the loop block (loop forever).
//
// FFmpeg's encoder takes differences only between frames of the palette it started with. A frame
// with another palette therefore starts a new encoder: that frame is stored whole, with a colour
// table of its own, and the frames after it are differences again. The new encoder's first
// packet begins with a file header of its own, which the file already has and which is left out.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "media/ffmpeg_util.h"
#include "media/muxed_file.h"

namespace vistrel {

class GifEncoder {
 public:
  // Log lines begin with `prefix`.
  explicit GifEncoder(const wchar_t* prefix) : prefix_(prefix), file_(prefix) {}
  GifEncoder(const GifEncoder&) = delete;
  GifEncoder& operator=(const GifEncoder&) = delete;

  // Creates the file (replacing one of that name) for frames of width x height.
  HRESULT Open(const std::wstring& path, int width, int height);
  // The frame the next Write encodes, writable: PAL8 indices in data[0], rows linesize[0] apart,
  // and 256 palette entries 0xAARRGGBB in data[1]; both still hold the frame before.
  AVFrame* frame();
  // Encodes the frame at `stamp` (hundredths of a second, later than the frame before).
  HRESULT Write(std::int64_t stamp);
  // The last frame lasts until `endStamp`; writes the end of the file and closes it. A file
  // without frames is closed without it.
  HRESULT Close(std::int64_t endStamp);
  // Closes the file as it is (a start that failed).
  void Discard() {
    codec_.reset();
    file_.Discard();
  }

  int frames() const { return frames_; }
  // How many palettes the frames used.
  int palettes() const { return palettes_; }
  // Whether writing to the file failed, and why, in the system's words.
  bool writeFailed() const { return file_.writeError() != 0; }
  std::wstring WriteFailure() const { return file_.WriteFailure(); }

 private:
  CodecContextPtr NewCodec(bool globalPalette) const;
  HRESULT Restart();
  HRESULT WritePackets();

  const wchar_t* prefix_;
  MuxedFile file_;
  const AVCodec* encoder_ = nullptr;
  CodecContextPtr codec_;
  AVStream* stream_ = nullptr;
  FramePtr frame_;
  std::array<std::uint32_t, 256> codecPalette_{};  // the palette the current encoder started with
  int codecFrames_ = 0;                            // frames given to the current encoder
  bool skipHeader_ = false;                        // the next packet is a restarted encoder's first
  int frames_ = 0;
  int palettes_ = 0;
  std::int64_t lastStamp_ = 0;
  int width_ = 0;
  int height_ = 0;
};

}  // namespace vistrel
