#include "gif/gif_palette.h"

#include <algorithm>
#include <utility>

namespace vistrel {
namespace {

constexpr std::uint32_t kEmptySlot = 0xFFFFFFFF;
constexpr int kBins = 1 << 15;  // 5 bits per channel

std::uint32_t RgbOf(const std::uint8_t* pixel) {
  return (static_cast<std::uint32_t>(pixel[2]) << 16) | (static_cast<std::uint32_t>(pixel[1]) << 8) | pixel[0];
}

int BinOf(const std::uint8_t* pixel) { return ((pixel[2] >> 3) << 10) | ((pixel[1] >> 3) << 5) | (pixel[0] >> 3); }

// The 5-bit value of a bin on one axis: 0 red, 1 green, 2 blue.
int Component(int bin, int axis) { return (bin >> (10 - 5 * axis)) & 31; }

struct BinStats {
  std::uint64_t count = 0;
  std::uint64_t red = 0, green = 0, blue = 0;
};

struct Box {
  std::size_t begin, end;  // range in the list of occupied bins
  std::uint64_t count;
  int axis;                // the axis with the widest spread
  int spread;              // that spread, in 5-bit steps
};

Box MakeBox(const std::vector<int>& bins, const std::vector<BinStats>& stats, std::size_t begin, std::size_t end) {
  Box box{begin, end, 0, 0, 0};
  int low[3] = {31, 31, 31};
  int high[3] = {0, 0, 0};
  for (std::size_t i = begin; i < end; ++i) {
    box.count += stats[static_cast<std::size_t>(bins[i])].count;
    for (int axis = 0; axis < 3; ++axis) {
      low[axis] = std::min(low[axis], Component(bins[i], axis));
      high[axis] = std::max(high[axis], Component(bins[i], axis));
    }
  }
  for (int axis = 0; axis < 3; ++axis) {
    if (high[axis] - low[axis] > box.spread) {
      box.spread = high[axis] - low[axis];
      box.axis = axis;
    }
  }
  return box;
}

// Splits the box at the pixel median of its widest axis; both halves keep at least one bin.
std::pair<Box, Box> Split(std::vector<int>& bins, const std::vector<BinStats>& stats, const Box& box) {
  const auto first = bins.begin() + static_cast<std::ptrdiff_t>(box.begin);
  const auto last = bins.begin() + static_cast<std::ptrdiff_t>(box.end);
  std::sort(first, last, [axis = box.axis](int a, int b) { return Component(a, axis) < Component(b, axis); });
  std::uint64_t seen = 0;
  std::size_t cut = box.begin + 1;
  for (std::size_t i = box.begin; i + 1 < box.end; ++i) {
    seen += stats[static_cast<std::size_t>(bins[i])].count;
    cut = i + 1;
    if (seen * 2 >= box.count) break;
  }
  return {MakeBox(bins, stats, box.begin, cut), MakeBox(bins, stats, cut, box.end)};
}

}  // namespace

GifPalette::GifPalette() { keys_.fill(kEmptySlot); }

std::size_t GifPalette::Slot(std::uint32_t colour) const {
  std::size_t slot = (colour * 2654435761u) >> 22;
  while (keys_[slot] != colour && keys_[slot] != kEmptySlot) slot = (slot + 1) & (keys_.size() - 1);
  return slot;
}

void GifPalette::Build(const std::uint8_t* bgra, int width, int height, std::uint8_t* indices, std::ptrdiff_t stride) {
  if (width <= 0 || height <= 0) {
    binned_ = false;
    keys_.fill(kEmptySlot);
    colours_.assign(1, 0);
    return;
  }
  if (!BuildExactly(bgra, width, height, indices, stride)) BuildByMedianCut(bgra, width, height, indices, stride);
}

bool GifPalette::BuildExactly(const std::uint8_t* bgra, int width, int height, std::uint8_t* indices,
                              std::ptrdiff_t stride) {
  binned_ = false;
  keys_.fill(kEmptySlot);
  colours_.clear();
  return AddColours(bgra, width, GifRect{0, 0, width, height}, indices, stride);
}

void GifPalette::BuildByMedianCut(const std::uint8_t* bgra, int width, int height, std::uint8_t* indices,
                                  std::ptrdiff_t stride) {
  binned_ = true;
  const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  std::vector<BinStats> stats(kBins);
  for (std::size_t i = 0; i < pixels; ++i) {
    const std::uint8_t* p = bgra + i * 4;
    BinStats& bin = stats[static_cast<std::size_t>(BinOf(p))];
    ++bin.count;
    bin.red += p[2];
    bin.green += p[1];
    bin.blue += p[0];
  }
  std::vector<int> bins;
  for (int bin = 0; bin < kBins; ++bin) {
    if (stats[static_cast<std::size_t>(bin)].count) bins.push_back(bin);
  }
  std::vector<Box> boxes{MakeBox(bins, stats, 0, bins.size())};
  while (boxes.size() < kGifMaxColours) {
    // The box with the most pixels times its squared spread is split next: long boxes go first,
    // which keeps the worst colour error small, not only the average.
    auto widest = std::max_element(boxes.begin(), boxes.end(), [](const Box& a, const Box& b) {
      const auto weight = [](const Box& box) { return box.count * static_cast<std::uint64_t>(box.spread * box.spread); };
      return weight(a) < weight(b);
    });
    if (widest->spread == 0) break;
    const auto [low, high] = Split(bins, stats, *widest);
    *widest = low;
    boxes.push_back(high);
  }

  bins_.assign(kBins, 0);
  colours_.clear();
  for (const Box& box : boxes) {
    BinStats sum;
    for (std::size_t i = box.begin; i < box.end; ++i) {
      const BinStats& bin = stats[static_cast<std::size_t>(bins[i])];
      sum.red += bin.red;
      sum.green += bin.green;
      sum.blue += bin.blue;
      bins_[static_cast<std::size_t>(bins[i])] = static_cast<std::uint16_t>(colours_.size() + 1);
    }
    const auto mean = [&](std::uint64_t total) { return static_cast<std::uint32_t>((total + box.count / 2) / box.count); };
    colours_.push_back((mean(sum.red) << 16) | (mean(sum.green) << 8) | mean(sum.blue));
  }
  Map(bgra, width, GifRect{0, 0, width, height}, indices, stride);
}

bool GifPalette::Map(const std::uint8_t* bgra, int width, const GifRect& region, std::uint8_t* indices,
                     std::ptrdiff_t stride) const {
  if (colours_.empty()) return false;
  for (int y = region.top; y < region.bottom; ++y) {
    const std::uint8_t* row = bgra + static_cast<std::size_t>(y) * static_cast<std::size_t>(width) * 4;
    std::uint8_t* out = indices + y * stride;
    if (binned_) {
      for (int x = region.left; x < region.right; ++x) {
        const std::uint16_t entry = bins_[static_cast<std::size_t>(BinOf(row + x * 4))];
        if (entry == 0) return false;
        out[x] = static_cast<std::uint8_t>(entry - 1);
      }
      continue;
    }
    std::uint32_t lastColour = kEmptySlot;
    std::uint8_t lastIndex = 0;
    for (int x = region.left; x < region.right; ++x) {
      const std::uint32_t colour = RgbOf(row + x * 4);
      if (colour != lastColour) {
        const std::size_t slot = Slot(colour);
        if (keys_[slot] == kEmptySlot) return false;
        lastColour = colour;
        lastIndex = values_[slot];
      }
      out[x] = lastIndex;
    }
  }
  return true;
}

bool GifPalette::Extend(const std::uint8_t* bgra, int width, const GifRect& region, std::uint8_t* indices,
                        std::ptrdiff_t stride) {
  if (binned_ || colours_.empty()) return false;
  return AddColours(bgra, width, region, indices, stride);
}

bool GifPalette::AddColours(const std::uint8_t* bgra, int width, const GifRect& region, std::uint8_t* indices,
                            std::ptrdiff_t stride) {
  for (int y = region.top; y < region.bottom; ++y) {
    const std::uint8_t* row = bgra + static_cast<std::size_t>(y) * static_cast<std::size_t>(width) * 4;
    std::uint8_t* out = indices + y * stride;
    std::uint32_t lastColour = kEmptySlot;
    std::uint8_t lastIndex = 0;
    for (int x = region.left; x < region.right; ++x) {
      const std::uint32_t colour = RgbOf(row + x * 4);
      if (colour != lastColour) {
        const std::size_t slot = Slot(colour);
        if (keys_[slot] == kEmptySlot) {
          if (colours_.size() == kGifMaxColours) return false;
          keys_[slot] = colour;
          values_[slot] = static_cast<std::uint8_t>(colours_.size());
          colours_.push_back(colour);
        }
        lastColour = colour;
        lastIndex = values_[slot];
      }
      out[x] = lastIndex;
    }
  }
  return true;
}

std::array<std::uint32_t, 256> GifPalette::Argb() const {
  std::array<std::uint32_t, 256> entries{};
  for (std::size_t i = 0; i < colours_.size(); ++i) entries[i] = 0xFF000000u | colours_[i];
  return entries;
}

}  // namespace vistrel
