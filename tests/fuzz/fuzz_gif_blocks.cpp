// Any bytes go through the GIF block reader and rewriter without harm. Whatever reads as a GIF is
// rewritten into a GIF with the same frames, exactly the delays and loop count given, and the loop
// block after the header; a second rewrite changes nothing; a wrong number of delays is refused.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "gif/gif_blocks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> gif(data, size);
  const auto summary = vistrel::ReadGifSummary(gif);
  std::vector<std::uint16_t> delays;
  if (!summary) {
    if (!vistrel::RewriteGifTiming(gif, delays, 0).empty()) std::abort();
    return 0;
  }
  if (summary->frames != static_cast<int>(summary->delays.size())) std::abort();
  for (int i = 0; i < summary->frames; ++i) delays.push_back(static_cast<std::uint16_t>(i * 37 + size));
  const auto loopCount = static_cast<std::uint16_t>(size * 11);

  const std::vector<std::uint8_t> out = vistrel::RewriteGifTiming(gif, delays, loopCount);
  const auto after = vistrel::ReadGifSummary(out);
  if (!after || after->frames != summary->frames || after->width != summary->width ||
      after->height != summary->height || after->loopCount != loopCount || !after->loopAfterHeader) {
    std::abort();
  }
  for (std::size_t i = 0; i < delays.size(); ++i) {
    if (after->delays[i] != delays[i]) std::abort();
  }
  if (vistrel::RewriteGifTiming(out, delays, loopCount) != out) std::abort();
  delays.push_back(10);
  if (!vistrel::RewriteGifTiming(gif, delays, loopCount).empty()) std::abort();
  return 0;
}
