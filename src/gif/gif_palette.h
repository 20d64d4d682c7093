// Quantising a captured frame to the 256 colours a GIF frame can hold. Windows-free.
//
// A frame with at most 256 colours (most of a desktop: flat fills, text, icons) keeps them all
// exactly. Otherwise the colours are binned to 5 bits per channel and split by median cut into at
// most 256 boxes, each shown as the mean of the pixels in it.
#pragma once

#include <cstdint>
#include <vector>

namespace vistrel {

inline constexpr int kGifMaxColours = 256;

struct IndexedFrame {
  std::vector<std::uint32_t> palette;  // 0xRRGGBB, 1 to 256 entries
  std::vector<std::uint8_t> indices;   // one palette index per pixel, rows top-down
};

// Quantises width x height pixels given as top-down rows of 32-bit BGRA (alpha ignored, rows
// `width * 4` bytes apart). `out` is reused between frames, so that its buffers are kept.
void QuantizeFrame(const std::uint8_t* bgra, int width, int height, IndexedFrame& out);

}  // namespace vistrel
