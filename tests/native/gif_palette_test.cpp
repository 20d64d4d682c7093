// Quantising frames to a GIF palette.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <set>
#include <vector>

#include "gif/gif_palette.h"

namespace vistrel {
namespace {

struct Frame {
  int width, height;
  std::vector<std::uint8_t> bgra;
  std::uint32_t At(int i) const {
    const std::uint8_t* p = &bgra[static_cast<std::size_t>(i) * 4];
    return (static_cast<std::uint32_t>(p[2]) << 16) | (p[1] << 8) | p[0];
  }
};

template <typename ColourOf>
Frame MakeFrame(int width, int height, ColourOf colourOf) {
  Frame frame{width, height, std::vector<std::uint8_t>(static_cast<std::size_t>(width * height * 4))};
  for (int i = 0; i < width * height; ++i) {
    const std::uint32_t rgb = colourOf(i % width, i / width);
    std::uint8_t* p = &frame.bgra[static_cast<std::size_t>(i) * 4];
    p[0] = rgb & 0xFF;
    p[1] = (rgb >> 8) & 0xFF;
    p[2] = (rgb >> 16) & 0xFF;
    p[3] = static_cast<std::uint8_t>(i);  // alpha plays no part
  }
  return frame;
}

int ChannelError(std::uint32_t a, std::uint32_t b) {
  int worst = 0;
  for (int shift : {0, 8, 16}) worst = std::max(worst, std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)));
  return worst;
}

IndexedFrame Quantize(const Frame& frame) {
  IndexedFrame out;
  QuantizeFrame(frame.bgra.data(), frame.width, frame.height, out);
  EXPECT_EQ(out.indices.size(), static_cast<std::size_t>(frame.width * frame.height));
  EXPECT_GE(out.palette.size(), 1u);
  EXPECT_LE(out.palette.size(), 256u);
  for (std::uint8_t index : out.indices) EXPECT_LT(index, out.palette.size());
  return out;
}

TEST(GifPalette, UpTo256ColoursAreKeptExactly) {
  // 256 colours that differ only in their low bits, so that 5-bit binning would merge them.
  const Frame frame = MakeFrame(64, 40, [](int x, int y) {
    const std::uint32_t n = static_cast<std::uint32_t>((x + y * 64) % 256);
    return ((n & 7) << 16) | (((n >> 3) & 7) << 8) | (n >> 6) | 0x808080;
  });
  const IndexedFrame out = Quantize(frame);
  EXPECT_EQ(out.palette.size(), 256u);
  for (int i = 0; i < frame.width * frame.height; ++i) ASSERT_EQ(out.palette[out.indices[static_cast<std::size_t>(i)]], frame.At(i)) << i;
  EXPECT_EQ(std::set<std::uint32_t>(out.palette.begin(), out.palette.end()).size(), 256u);
}

TEST(GifPalette, AFlatFrameHasOneColour) {
  const IndexedFrame out = Quantize(MakeFrame(300, 200, [](int, int) { return 0x336699u; }));
  EXPECT_EQ(out.palette, std::vector<std::uint32_t>{0x336699});
}

TEST(GifPalette, ManyColoursAreApproximatedClosely) {
  // A smooth gradient of 64 x 64 x 4 colours, and then a frame of noise.
  const Frame gradient = MakeFrame(256, 64, [](int x, int y) {
    return static_cast<std::uint32_t>((x << 16) | ((y * 4) << 8) | ((x + y) & 0xFF));
  });
  const IndexedFrame smooth = Quantize(gradient);
  EXPECT_EQ(smooth.palette.size(), 256u);
  int worst = 0;
  long total = 0;
  for (int i = 0; i < gradient.width * gradient.height; ++i) {
    const int error = ChannelError(smooth.palette[smooth.indices[static_cast<std::size_t>(i)]], gradient.At(i));
    worst = std::max(worst, error);
    total += error;
  }
  EXPECT_LE(worst, 48);
  EXPECT_LT(static_cast<double>(total) / (gradient.width * gradient.height), 16.0);

  std::uint32_t seed = 1;
  const Frame noise = MakeFrame(97, 61, [&](int, int) { return (seed = seed * 1664525u + 1013904223u) >> 8; });
  const IndexedFrame noisy = Quantize(noise);
  EXPECT_EQ(noisy.palette.size(), 256u);
}

TEST(GifPalette, FramesOfOddSizesAndReusedBuffers) {
  IndexedFrame out;
  const Frame big = MakeFrame(33, 17, [](int x, int y) { return static_cast<std::uint32_t>(x * 7919 + y * 104729); });
  QuantizeFrame(big.bgra.data(), big.width, big.height, out);
  const Frame tiny = MakeFrame(1, 1, [](int, int) { return 0xABCDEFu; });
  QuantizeFrame(tiny.bgra.data(), 1, 1, out);
  EXPECT_EQ(out.indices.size(), 1u);
  EXPECT_EQ(out.palette, std::vector<std::uint32_t>{0xABCDEF});
  QuantizeFrame(nullptr, 0, 0, out);
  EXPECT_TRUE(out.indices.empty());
  EXPECT_EQ(out.palette.size(), 1u);
}

}  // namespace
}  // namespace vistrel
