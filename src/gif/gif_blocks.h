// The block structure of a GIF file, read and rewritten without decoding any image: frame delays
// (Graphic Control Extensions) and the NETSCAPE2.0 loop extension. Windows-free.
//
// Some imaging stacks write frames without a Graphic Control Extension and never write the loop
// extension; RewriteGifTiming gives such a file the timing it was recorded with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vistrel {

// What a well-formed GIF holds, as far as timing goes.
struct GifSummary {
  int width = 0;   // logical screen
  int height = 0;
  int frames = 0;                   // image descriptors
  std::vector<int> delays;          // per image: its Graphic Control Extension's delay in
                                    // hundredths of a second, or -1 when it has none
  std::optional<int> loopCount;     // the NETSCAPE2.0 loop count (0 = forever), when present
  bool loopAfterHeader = false;     // the loop extension is the first block after the colour table
};

// Reads the blocks of a whole GIF up to its trailer. Empty when the data is not one: a bad
// signature, a block that runs past the end, an unknown block, or no trailer.
std::optional<GifSummary> ReadGifSummary(std::span<const std::uint8_t> gif);

// A copy of a GIF in which the NETSCAPE2.0 extension with `loopCount` follows the header and
// global colour table (other loop extensions are dropped), and image i is preceded by exactly one
// Graphic Control Extension with delays[i]: its disposal and transparency are those of the
// extension that preceded the image, if any. Other blocks and all image data are kept byte for
// byte; the version becomes 89a. Empty when the data is not a GIF (as for ReadGifSummary) or its
// number of images is not delays.size().
std::vector<std::uint8_t> RewriteGifTiming(std::span<const std::uint8_t> gif,
                                           std::span<const std::uint16_t> delays,
                                           std::uint16_t loopCount);

}  // namespace vistrel
