// Writes .mo catalogues byte by byte, so that tests can lay out (and then damage) every field.
//
// Layout: the 28-byte header (magic, revision, count, msgid table at 28, translation table right
// after it, no hash table), then the msgids, then the translations, each followed by a NUL that
// its length does not count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vistrel::testing {

struct MoEntry {
  std::string msgid;
  std::string translation;
};

enum class ByteOrder { kLittle, kBig };

inline void PutWord(std::string& bytes, std::size_t at, std::uint32_t value,
                    ByteOrder order = ByteOrder::kLittle) {
  if (bytes.size() < at + 4) bytes.resize(at + 4);
  for (int i = 0; i < 4; ++i) {
    const int shift = order == ByteOrder::kLittle ? 8 * i : 8 * (3 - i);
    bytes[at + i] = static_cast<char>((value >> shift) & 0xFF);
  }
}

inline constexpr std::size_t kMoHeaderSize = 28;
inline std::size_t MsgidSlot(std::size_t index) { return kMoHeaderSize + 8 * index; }
inline std::size_t TranslationSlot(std::size_t count, std::size_t index) {
  return kMoHeaderSize + 8 * count + 8 * index;
}

inline std::string BuildMo(const std::vector<MoEntry>& entries, ByteOrder order = ByteOrder::kLittle) {
  const std::size_t count = entries.size();
  // The magic is written in the file's own order: DE 12 04 95 for little-endian.
  const std::size_t header[] = {0x950412DE, 0, count, MsgidSlot(0), TranslationSlot(count, 0), 0, 0};
  std::string bytes;
  for (std::size_t i = 0; i < std::size(header); ++i) {
    PutWord(bytes, 4 * i, static_cast<std::uint32_t>(header[i]), order);
  }
  bytes.resize(TranslationSlot(count, count));
  for (const bool msgids : {true, false}) {
    for (std::size_t i = 0; i < count; ++i) {
      const std::string& text = msgids ? entries[i].msgid : entries[i].translation;
      const std::size_t slot = msgids ? MsgidSlot(i) : TranslationSlot(count, i);
      PutWord(bytes, slot, static_cast<std::uint32_t>(text.size()), order);
      PutWord(bytes, slot + 4, static_cast<std::uint32_t>(bytes.size()), order);
      bytes += text;
      bytes.push_back('\0');
    }
  }
  return bytes;
}

}  // namespace vistrel::testing
