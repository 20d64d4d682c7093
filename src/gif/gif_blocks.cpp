#include "gif/gif_blocks.h"

#include <algorithm>
#include <cstring>

namespace vistrel {
namespace {

constexpr std::uint8_t kExtensionIntroducer = 0x21;
constexpr std::uint8_t kImageSeparator = 0x2C;
constexpr std::uint8_t kTrailer = 0x3B;
constexpr std::uint8_t kControlLabel = 0xF9;
constexpr std::uint8_t kApplicationLabel = 0xFF;
constexpr std::size_t kScreenDescriptorEnd = 13;  // signature, version and logical screen descriptor
constexpr std::size_t kImageDescriptorSize = 10;  // separator included

enum class BlockKind { kControl, kLoop, kImage, kOther };

struct Block {
  BlockKind kind;
  std::size_t begin;
  std::size_t end;
};

struct Layout {
  std::size_t headerEnd = 0;  // past the global colour table
  std::vector<Block> blocks;  // up to, not including, the trailer
};

using Bytes = std::span<const std::uint8_t>;

std::size_t ColourTableSize(std::uint8_t packed) {
  return (packed & 0x80) ? std::size_t{3} << ((packed & 0x07) + 1) : 0;
}

int Word(Bytes data, std::size_t at) { return data[at] | (data[at + 1] << 8); }

// The position just past a chain of data sub-blocks and its zero terminator.
std::optional<std::size_t> SkipSubBlocks(Bytes data, std::size_t pos) {
  while (pos < data.size()) {
    const std::size_t length = data[pos++];
    if (length == 0) return pos;
    if (length > data.size() - pos) return std::nullopt;
    pos += length;
  }
  return std::nullopt;
}

// An application extension (from its introducer) that sets the loop count.
bool IsLoopExtension(Bytes block) {
  if (block.size() < 3 + 11 || block[2] < 11) return false;
  const char* id = reinterpret_cast<const char*>(block.data() + 3);
  return std::memcmp(id, "NETSCAPE2.0", 11) == 0 || std::memcmp(id, "ANIMEXTS1.0", 11) == 0;
}

std::optional<Block> ReadExtension(Bytes data, std::size_t pos) {
  if (data.size() - pos < 2) return std::nullopt;
  const auto end = SkipSubBlocks(data, pos + 2);
  if (!end) return std::nullopt;
  BlockKind kind = BlockKind::kOther;
  if (data[pos + 1] == kControlLabel) {
    kind = BlockKind::kControl;
  } else if (data[pos + 1] == kApplicationLabel && IsLoopExtension(data.subspan(pos, *end - pos))) {
    kind = BlockKind::kLoop;
  }
  return Block{kind, pos, *end};
}

std::optional<Block> ReadImage(Bytes data, std::size_t pos) {
  if (data.size() - pos < kImageDescriptorSize) return std::nullopt;
  const std::size_t table = ColourTableSize(data[pos + 9]);
  const std::size_t codeSize = pos + kImageDescriptorSize + table;
  if (table >= data.size() - pos - kImageDescriptorSize) return std::nullopt;  // no code size byte
  const auto end = SkipSubBlocks(data, codeSize + 1);
  if (!end) return std::nullopt;
  return Block{BlockKind::kImage, pos, *end};
}

std::optional<Layout> ReadLayout(Bytes data) {
  if (data.size() < kScreenDescriptorEnd) return std::nullopt;
  if (std::memcmp(data.data(), "GIF87a", 6) != 0 && std::memcmp(data.data(), "GIF89a", 6) != 0) {
    return std::nullopt;
  }
  Layout layout;
  layout.headerEnd = kScreenDescriptorEnd + ColourTableSize(data[10]);
  if (layout.headerEnd > data.size()) return std::nullopt;
  std::size_t pos = layout.headerEnd;
  while (pos < data.size()) {
    std::optional<Block> block;
    switch (data[pos]) {
      case kTrailer: return layout;
      case kExtensionIntroducer: block = ReadExtension(data, pos); break;
      case kImageSeparator: block = ReadImage(data, pos); break;
      default: return std::nullopt;
    }
    if (!block) return std::nullopt;
    layout.blocks.push_back(*block);
    pos = block->end;
  }
  return std::nullopt;  // no trailer
}

// A control extension whose one sub-block has the standard four bytes.
bool IsWellFormedControl(Bytes data, const Block& block) {
  return block.end - block.begin >= 8 && data[block.begin + 2] == 4;
}

// The loop count of a loop extension whose second sub-block is the standard loop sub-block.
std::optional<int> LoopCountOf(Bytes data, const Block& block) {
  const std::size_t second = block.begin + 3 + data[block.begin + 2];
  if (second >= block.end || data[second] < 3 || block.end - second < 4) return std::nullopt;
  if (data[second + 1] != 1) return std::nullopt;
  return Word(data, second + 2);
}

void AppendLoopExtension(std::vector<std::uint8_t>& out, std::uint16_t loopCount) {
  static constexpr char kIdentifier[] = "NETSCAPE2.0";
  out.insert(out.end(), {kExtensionIntroducer, kApplicationLabel, 11});
  out.insert(out.end(), kIdentifier, kIdentifier + 11);
  out.insert(out.end(), {3, 1, static_cast<std::uint8_t>(loopCount & 0xFF),
                         static_cast<std::uint8_t>(loopCount >> 8), 0});
}

void AppendControlExtension(std::vector<std::uint8_t>& out, std::uint8_t packed, std::uint16_t delay,
                            std::uint8_t transparentIndex) {
  out.insert(out.end(), {kExtensionIntroducer, kControlLabel, 4, packed,
                         static_cast<std::uint8_t>(delay & 0xFF), static_cast<std::uint8_t>(delay >> 8),
                         transparentIndex, 0});
}

}  // namespace

std::optional<GifSummary> ReadGifSummary(std::span<const std::uint8_t> gif) {
  const auto layout = ReadLayout(gif);
  if (!layout) return std::nullopt;
  GifSummary summary;
  summary.width = Word(gif, 6);
  summary.height = Word(gif, 8);
  int pendingDelay = -1;
  for (std::size_t i = 0; i < layout->blocks.size(); ++i) {
    const Block& block = layout->blocks[i];
    switch (block.kind) {
      case BlockKind::kControl:
        pendingDelay = IsWellFormedControl(gif, block) ? Word(gif, block.begin + 4) : -1;
        break;
      case BlockKind::kLoop:
        if (auto count = LoopCountOf(gif, block)) {
          summary.loopCount = count;
          summary.loopAfterHeader = i == 0;
        }
        break;
      case BlockKind::kImage:
        summary.delays.push_back(pendingDelay);
        pendingDelay = -1;
        ++summary.frames;
        break;
      case BlockKind::kOther:
        break;
    }
  }
  return summary;
}

std::vector<std::uint8_t> RewriteGifTiming(std::span<const std::uint8_t> gif,
                                           std::span<const std::uint16_t> delays,
                                           std::uint16_t loopCount) {
  const auto layout = ReadLayout(gif);
  if (!layout) return {};
  std::vector<std::uint8_t> out;
  out.reserve(gif.size() + 19 + 8 * delays.size() + 1);
  out.insert(out.end(), gif.begin(), gif.begin() + static_cast<std::ptrdiff_t>(layout->headerEnd));
  std::memcpy(out.data() + 3, "89a", 3);
  AppendLoopExtension(out, loopCount);

  const Block* control = nullptr;  // the control extension waiting for its image
  std::size_t image = 0;
  for (const Block& block : layout->blocks) {
    const auto begin = gif.begin() + static_cast<std::ptrdiff_t>(block.begin);
    const auto end = gif.begin() + static_cast<std::ptrdiff_t>(block.end);
    switch (block.kind) {
      case BlockKind::kLoop:
        break;
      case BlockKind::kControl:
        control = &block;
        break;
      case BlockKind::kOther:
        out.insert(out.end(), begin, end);
        break;
      case BlockKind::kImage: {
        if (image == delays.size()) return {};
        const bool keep = control && IsWellFormedControl(gif, *control);
        // Disposal, user input and transparency flags; the reserved bits stay clear.
        const std::uint8_t packed = keep ? gif[control->begin + 3] & 0x1F : 0;
        const std::uint8_t transparent = keep ? gif[control->begin + 6] : 0;
        AppendControlExtension(out, packed, delays[image++], transparent);
        out.insert(out.end(), begin, end);
        control = nullptr;
        break;
      }
    }
  }
  if (image != delays.size()) return {};
  out.push_back(kTrailer);
  return out;
}

}  // namespace vistrel
