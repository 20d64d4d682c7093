// GIF block structure: reading frame timing and giving a file the delays and loop it lacks.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "gif/gif_blocks.h"

namespace vistrel {
namespace {

using Bytes = std::vector<std::uint8_t>;

void Append(Bytes& out, const Bytes& part) { out.insert(out.end(), part.begin(), part.end()); }

// Signature and logical screen descriptor, with a global colour table of four entries whose bytes
// look like block introducers, so that a parser that forgets the table goes wrong.
Bytes Header(const char* version = "GIF89a", bool globalTable = true) {
  Bytes out(version, version + 6);
  Append(out, {0x2C, 0x01, 0xC8, 0x00, static_cast<std::uint8_t>(globalTable ? 0x81 : 0x00), 0, 0});
  if (globalTable) Append(out, {0x21, 0x2C, 0x3B, 0xF9, 0xFF, 0x21, 0, 0, 0, 1, 2, 3});
  return out;
}

// An image: descriptor, optional local colour table of two entries, and image data in two
// sub-blocks (not real LZW: the blocks are never decoded).
Bytes Image(std::uint8_t seed, bool localTable) {
  Bytes out{0x2C, 0, 0, 0, 0, 0x2C, 0x01, 0xC8, 0x00, static_cast<std::uint8_t>(localTable ? 0x80 : 0)};
  if (localTable) Append(out, {seed, 0x3B, 0x21, 0, seed, 0});
  Append(out, {2, 3, seed, 0x21, 0x3B, 1, seed, 0});
  return out;
}

Bytes Control(std::uint8_t packed, std::uint16_t delay, std::uint8_t transparent) {
  return {0x21, 0xF9, 4, packed, static_cast<std::uint8_t>(delay & 0xFF),
          static_cast<std::uint8_t>(delay >> 8), transparent, 0};
}

Bytes Loop(std::uint16_t count, const char* id = "NETSCAPE2.0") {
  Bytes out{0x21, 0xFF, 11};
  out.insert(out.end(), id, id + 11);
  Append(out, {3, 1, static_cast<std::uint8_t>(count & 0xFF), static_cast<std::uint8_t>(count >> 8), 0});
  return out;
}

Bytes Comment(const std::string& text) {
  Bytes out{0x21, 0xFE, static_cast<std::uint8_t>(text.size())};
  out.insert(out.end(), text.begin(), text.end());
  out.push_back(0);
  return out;
}

// What an encoder without timing support writes: images only.
Bytes UntimedGif(int frames) {
  Bytes gif = Header();
  for (int i = 0; i < frames; ++i) Append(gif, Image(static_cast<std::uint8_t>(i), i % 2 == 0));
  gif.push_back(0x3B);
  return gif;
}

bool Contains(const Bytes& haystack, const Bytes& needle) {
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

TEST(GifBlocks, UntimedFramesGetTheirDelaysAndTheLoopFollowsTheHeader) {
  const Bytes gif = UntimedGif(3);
  const auto before = ReadGifSummary(gif);
  ASSERT_TRUE(before);
  EXPECT_EQ(before->frames, 3);
  EXPECT_EQ(before->delays, (std::vector<int>{-1, -1, -1}));
  EXPECT_FALSE(before->loopCount);
  EXPECT_EQ(before->width, 300);
  EXPECT_EQ(before->height, 200);

  const std::vector<std::uint16_t> delays{10, 25, 10};
  const Bytes out = RewriteGifTiming(gif, delays, 0);
  const auto after = ReadGifSummary(out);
  ASSERT_TRUE(after);
  EXPECT_EQ(after->frames, 3);
  EXPECT_EQ(after->delays, (std::vector<int>{10, 25, 10}));
  EXPECT_EQ(after->loopCount, 0);
  EXPECT_TRUE(after->loopAfterHeader);

  // Header and colour table unchanged, the loop block right after them, every image intact and
  // preceded by its own control extension, and nothing else added.
  const Bytes header = Header();
  ASSERT_GE(out.size(), header.size());
  EXPECT_TRUE(std::equal(header.begin(), header.end(), out.begin()));
  const Bytes loop = Loop(0);
  EXPECT_TRUE(std::equal(loop.begin(), loop.end(), out.begin() + static_cast<std::ptrdiff_t>(header.size())));
  for (int i = 0; i < 3; ++i) {
    Bytes framed = Control(0, delays[static_cast<std::size_t>(i)], 0);
    Append(framed, Image(static_cast<std::uint8_t>(i), i % 2 == 0));
    EXPECT_TRUE(Contains(out, framed)) << "frame " << i;
  }
  EXPECT_EQ(out.size(), gif.size() + loop.size() + 3 * 8);
  EXPECT_EQ(out.back(), 0x3B);
}

TEST(GifBlocks, ExistingControlsKeepTheirFlagsAndOldLoopBlocksGo) {
  Bytes gif = Header("GIF87a", false);
  Append(gif, Comment("made elsewhere"));
  Append(gif, Control(0x09, 7, 5));        // disposal 2 (restore background), transparent index 5
  Append(gif, Image(1, false));
  Append(gif, Loop(3, "ANIMEXTS1.0"));     // in the middle, with another count
  Append(gif, Control(0x04, 0, 0));        // superseded by the next one
  Append(gif, Control(0xE5, 9, 7));        // reserved bits set: they are cleared
  Append(gif, Image(2, true));
  Append(gif, Control(0, 3, 0));           // no image follows: dropped
  gif.push_back(0x3B);

  const auto before = ReadGifSummary(gif);
  ASSERT_TRUE(before);
  EXPECT_EQ(before->delays, (std::vector<int>{7, 9}));
  EXPECT_EQ(before->loopCount, 3);
  EXPECT_FALSE(before->loopAfterHeader);

  const std::vector<std::uint16_t> delays{12, 300};
  const Bytes out = RewriteGifTiming(gif, delays, 2);
  const auto after = ReadGifSummary(out);
  ASSERT_TRUE(after);
  EXPECT_EQ(after->delays, (std::vector<int>{12, 300}));
  EXPECT_EQ(after->loopCount, 2);
  EXPECT_TRUE(after->loopAfterHeader);
  EXPECT_EQ(std::string(out.begin(), out.begin() + 6), "GIF89a") << "extensions need version 89a";
  EXPECT_TRUE(Contains(out, Comment("made elsewhere")));
  EXPECT_FALSE(Contains(out, Loop(3, "ANIMEXTS1.0")));
  Bytes first = Control(0x09, 12, 5);
  Append(first, Image(1, false));
  Bytes second = Control(0x05, 300, 7);
  Append(second, Image(2, true));
  EXPECT_TRUE(Contains(out, first));
  EXPECT_TRUE(Contains(out, second));
}

TEST(GifBlocks, RewritingTwiceGivesTheSameFile) {
  const std::vector<std::uint16_t> delays{10, 10, 10, 40};
  const Bytes once = RewriteGifTiming(UntimedGif(4), delays, 0);
  ASSERT_FALSE(once.empty());
  EXPECT_EQ(RewriteGifTiming(once, delays, 0), once);
}

TEST(GifBlocks, AFrameCountOtherThanTheDelaysIsRefused) {
  const Bytes gif = UntimedGif(3);
  EXPECT_TRUE(RewriteGifTiming(gif, std::vector<std::uint16_t>{10, 10}, 0).empty());
  EXPECT_TRUE(RewriteGifTiming(gif, std::vector<std::uint16_t>{10, 10, 10, 10}, 0).empty());
  EXPECT_TRUE(RewriteGifTiming(UntimedGif(0), std::vector<std::uint16_t>{10}, 0).empty());
  const Bytes empty = RewriteGifTiming(UntimedGif(0), {}, 0);
  ASSERT_TRUE(ReadGifSummary(empty));
  EXPECT_EQ(ReadGifSummary(empty)->frames, 0);
}

TEST(GifBlocks, DamagedFilesAreRefused) {
  const Bytes gif = UntimedGif(2);
  const std::vector<std::uint16_t> delays{10, 10};
  // Every truncation loses the trailer or cuts a block.
  for (std::size_t size = 0; size < gif.size(); ++size) {
    const Bytes cut(gif.begin(), gif.begin() + static_cast<std::ptrdiff_t>(size));
    EXPECT_FALSE(ReadGifSummary(cut)) << size;
    EXPECT_TRUE(RewriteGifTiming(cut, delays, 0).empty()) << size;
  }
  Bytes badSignature = gif;
  badSignature[4] = '8';
  EXPECT_FALSE(ReadGifSummary(badSignature));
  Bytes unknownBlock = Header();
  Append(unknownBlock, {0x42, 0x3B});
  EXPECT_FALSE(ReadGifSummary(unknownBlock));
  Bytes overrun = Header();
  Append(overrun, {0x21, 0xFE, 200, 'x', 0, 0x3B});  // a sub-block longer than the file
  EXPECT_FALSE(ReadGifSummary(overrun));
  // Bytes after the trailer are not part of the image and are left out of a rewrite.
  Bytes trailing = gif;
  Append(trailing, {1, 2, 3});
  const Bytes out = RewriteGifTiming(trailing, delays, 0);
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(out.back(), 0x3B);
}

}  // namespace
}  // namespace vistrel
