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

inline std::string BuildMo(const std::vector<MoEntry>& entries,
                           ByteOrder order = ByteOrder::kLittle) {
  const auto count = static_cast<std::uint32_t>(entries.size());
  std::string bytes;
  PutWord(bytes, 0, 0x950412DE, order);  // written in the file's own order: DE 12 04 95 for little
  PutWord(bytes, 4, 0, order);
  PutWord(bytes, 8, count, order);
  PutWord(bytes, 12, static_cast<std::uint32_t>(MsgidSlot(0)), order);
  PutWord(bytes, 16, static_cast<std::uint32_t>(TranslationSlot(count, 0)), order);
  PutWord(bytes, 20, 0, order);
  PutWord(bytes, 24, 0, order);
  bytes.resize(TranslationSlot(count, count));
  for (std::size_t i = 0; i < entries.size(); ++i) {
    PutWord(bytes, MsgidSlot(i), static_cast<std::uint32_t>(entries[i].msgid.size()), order);
    PutWord(bytes, MsgidSlot(i) + 4, static_cast<std::uint32_t>(bytes.size()), order);
    bytes += entries[i].msgid;
    bytes.push_back('\0');
  }
  for (std::size_t i = 0; i < entries.size(); ++i) {
    PutWord(bytes, TranslationSlot(count, i),
            static_cast<std::uint32_t>(entries[i].translation.size()), order);
    PutWord(bytes, TranslationSlot(count, i) + 4, static_cast<std::uint32_t>(bytes.size()), order);
    bytes += entries[i].translation;
    bytes.push_back('\0');
  }
  return bytes;
}

}  // namespace vistrel::testing
