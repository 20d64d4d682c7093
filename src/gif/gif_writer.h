// An animated GIF file written through the Windows Imaging Component: one frame at a time, each
// quantised to 8-bit indexed colour with a palette of its own (gif_palette.h) and shown for its own
// delay; the animation loops forever.
//
// The delays and the loop block go through WIC's metadata writers. Where the platform lacks them
// (Wine answers E_NOTIMPL), Finish rewrites the committed file's blocks to carry the same timing.
#pragma once

#include <windows.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <cstdint>
#include <string>
#include <vector>

#include "gif/gif_palette.h"

namespace vistrel {

class GifWriter {
 public:
  GifWriter() = default;
  GifWriter(const GifWriter&) = delete;
  GifWriter& operator=(const GifWriter&) = delete;

  // Creates the factory, the file (replacing one of that name) and the GIF encoder. COM must be
  // initialised on the calling thread, which must also make every later call.
  HRESULT Open(const std::wstring& path, int width, int height);

  // Appends a frame: `bgra` holds height top-down rows of width 32-bit BGRA pixels.
  HRESULT AddFrame(const std::uint8_t* bgra, std::uint16_t delayCentiseconds);

  // Commits the file, closes it and, where WIC could not write the timing, rewrites its blocks.
  HRESULT Finish();

  // Releases the encoder, the stream and the factory (in that order) without committing.
  void Release();

  int FrameCount() const { return static_cast<int>(delays_.size()); }
  // Whether WIC wrote the delays and the loop block itself (so far).
  bool TimingWrittenByWic() const { return timingByWic_; }
  // Performance-counter ticks spent so far quantising and encoding frames.
  std::int64_t QuantiseTicks() const { return quantiseTicks_; }
  std::int64_t EncodeTicks() const { return encodeTicks_; }

 private:
  void WriteLoopMetadata();
  bool WriteDelayMetadata(IWICBitmapFrameEncode* frame, std::uint16_t delay);
  HRESULT EncodeIndexedFrame(std::uint16_t delay);
  HRESULT RewriteTiming();

  Microsoft::WRL::ComPtr<IWICImagingFactory> factory_;
  Microsoft::WRL::ComPtr<IWICStream> stream_;
  Microsoft::WRL::ComPtr<IWICBitmapEncoder> encoder_;
  std::wstring path_;
  UINT width_ = 0;
  UINT height_ = 0;
  std::vector<std::uint16_t> delays_;
  bool timingByWic_ = true;
  IndexedFrame indexed_;
  std::int64_t quantiseTicks_ = 0;
  std::int64_t encodeTicks_ = 0;
};

// Replaces a file's contents with `bytes` through a temporary file beside it, so that a failure
// leaves the old contents in place.
bool ReplaceFileContents(const std::wstring& path, const std::vector<std::uint8_t>& bytes);

// A whole file's bytes; false when it cannot be read.
bool ReadWholeFile(const std::wstring& path, std::vector<std::uint8_t>& bytes);

}  // namespace vistrel
