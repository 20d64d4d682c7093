#include "gif/gif_palette.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace vistrel {
namespace {

constexpr std::uint32_t kEmptySlot = 0xFFFFFFFF;
constexpr int kBins = 1 << 15;  // 5 bits per channel

std::uint32_t RgbOf(const std::uint8_t* pixel) {
  return (static_cast<std::uint32_t>(pixel[2]) << 16) | (static_cast<std::uint32_t>(pixel[1]) << 8) | pixel[0];
}

// Keeps every colour when there are at most 256; false (with `out` half filled) otherwise.
bool QuantizeExactly(const std::uint8_t* bgra, std::size_t pixels, IndexedFrame& out) {
  // Open addressing, at most a quarter full.
  std::array<std::uint32_t, 1024> keys;
  std::array<std::uint8_t, 1024> values{};
  keys.fill(kEmptySlot);
  out.palette.clear();
  std::uint32_t lastColour = kEmptySlot;
  std::uint8_t lastIndex = 0;
  for (std::size_t i = 0; i < pixels; ++i) {
    const std::uint32_t colour = RgbOf(bgra + i * 4);
    if (colour != lastColour) {
      std::size_t slot = (colour * 2654435761u) >> 22;
      while (keys[slot] != colour && keys[slot] != kEmptySlot) slot = (slot + 1) & (keys.size() - 1);
      if (keys[slot] == kEmptySlot) {
        if (out.palette.size() == kGifMaxColours) return false;
        keys[slot] = colour;
        values[slot] = static_cast<std::uint8_t>(out.palette.size());
        out.palette.push_back(colour);
      }
      lastColour = colour;
      lastIndex = values[slot];
    }
    out.indices[i] = lastIndex;
  }
  return true;
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

void QuantizeByMedianCut(const std::uint8_t* bgra, std::size_t pixels, IndexedFrame& out) {
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

  std::vector<std::uint8_t> binToIndex(kBins, 0);
  out.palette.clear();
  for (const Box& box : boxes) {
    BinStats sum;
    for (std::size_t i = box.begin; i < box.end; ++i) {
      const BinStats& bin = stats[static_cast<std::size_t>(bins[i])];
      sum.red += bin.red;
      sum.green += bin.green;
      sum.blue += bin.blue;
      binToIndex[static_cast<std::size_t>(bins[i])] = static_cast<std::uint8_t>(out.palette.size());
    }
    const auto mean = [&](std::uint64_t total) { return static_cast<std::uint32_t>((total + box.count / 2) / box.count); };
    out.palette.push_back((mean(sum.red) << 16) | (mean(sum.green) << 8) | mean(sum.blue));
  }
  for (std::size_t i = 0; i < pixels; ++i) out.indices[i] = binToIndex[static_cast<std::size_t>(BinOf(bgra + i * 4))];
}

}  // namespace

void QuantizeFrame(const std::uint8_t* bgra, int width, int height, IndexedFrame& out) {
  const std::size_t pixels = width > 0 && height > 0 ? static_cast<std::size_t>(width) * static_cast<std::size_t>(height) : 0;
  out.indices.resize(pixels);
  if (pixels == 0) {
    out.palette.assign(1, 0);
    return;
  }
  if (!QuantizeExactly(bgra, pixels, out)) QuantizeByMedianCut(bgra, pixels, out);
}

}  // namespace vistrel
