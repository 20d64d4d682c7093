// The palette of a GIF recording and the colour index of every pixel. Windows-free.
//
// A frame with at most 255 colours (most of a desktop: flat fills, text, icons) keeps them all
// exactly. Otherwise the colours are binned to 5 bits per channel and split by median cut into at
// most 255 boxes, each shown as the mean of the pixels in it. The 256th entry stays free for the
// encoder, which marks with it the pixels that did not change since the frame before.
//
// A palette stays from frame to frame for as long as every colour shown has its place in it (the
// exact colour, or a bin it was built from), so that a frame can be stored as its difference from
// the one before. An exact palette with room left takes in new colours and keeps the old ones, so
// that colours which come and go (a highlight, a blinking caret) soon all have their place;
// otherwise a frame with a colour that has no place gets a palette of its own.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "gif/gif_frames.h"

namespace vistrel {

inline constexpr int kGifMaxColours = 255;

class GifPalette {
 public:
  GifPalette();

  // A new palette from a whole frame of `width` x `height` pixels given as top-down rows of
  // 32-bit BGRA (alpha ignored, rows `width * 4` bytes apart), and every pixel's index: row y goes
  // to `indices + y * stride`.
  void Build(const std::uint8_t* bgra, int width, int height, std::uint8_t* indices, std::ptrdiff_t stride);

  // The indices of the pixels in `region` (inside a frame `width` pixels wide) with the palette as
  // it is; false, with the region written only in part, when a colour has no place in it.
  bool Map(const std::uint8_t* bgra, int width, const GifRect& region, std::uint8_t* indices,
           std::ptrdiff_t stride) const;

  // Like Map, but an exact palette takes in the colours that have no place yet while there is room
  // (the indices already given keep their colours); false when it has none, or is binned.
  bool Extend(const std::uint8_t* bgra, int width, const GifRect& region, std::uint8_t* indices, std::ptrdiff_t stride);

  // The colours, 0xRRGGBB, 1 to 255 of them (none before the first Build).
  const std::vector<std::uint32_t>& colours() const { return colours_; }

  // The 256 entries as a PAL8 frame carries them, 0xAARRGGBB: the colours opaque, then transparent
  // black (the first of which is the encoder's mark for unchanged pixels).
  std::array<std::uint32_t, 256> Argb() const;

 private:
  bool BuildExactly(const std::uint8_t* bgra, int width, int height, std::uint8_t* indices, std::ptrdiff_t stride);
  void BuildByMedianCut(const std::uint8_t* bgra, int width, int height, std::uint8_t* indices, std::ptrdiff_t stride);
  // Indexes `region` in the exact table, taking in new colours while there is room; false when full.
  bool AddColours(const std::uint8_t* bgra, int width, const GifRect& region, std::uint8_t* indices,
                  std::ptrdiff_t stride);
  // The slot of `colour` in the exact table: its own, or the empty one where it would go.
  std::size_t Slot(std::uint32_t colour) const;

  bool binned_ = false;
  std::vector<std::uint32_t> colours_;
  // Exact palettes: open addressing from colour to index, at most a quarter full.
  std::array<std::uint32_t, 1024> keys_;
  std::array<std::uint8_t, 1024> values_{};
  // Binned palettes: index + 1 of each 15-bit bin, 0 for a bin not seen when it was built.
  std::vector<std::uint16_t> bins_;
};

}  // namespace vistrel
