#include "i18n/mo_reader.h"

#include <cstdint>
#include <optional>

#include "core/text.h"
#include "i18n/file_bytes.h"

namespace vistrel {
namespace {

// Positions and lengths are 32-bit values in the file; adding two of them in 64 bits cannot
// overflow, so every bounds check below is done in this type.
using Offset = std::uint64_t;

class MoData {
 public:
  explicit MoData(std::string_view bytes) : bytes_(bytes) {
    littleEndian_ = bytes.size() >= 4 && Byte(0) == 0xDE && Byte(1) == 0x12 && Byte(2) == 0x04 &&
                    Byte(3) == 0x95;
  }

  Offset size() const { return bytes_.size(); }

  // The 32-bit value at `at`, or nothing when it does not lie wholly inside the data.
  std::optional<std::uint32_t> Word(Offset at) const {
    if (at > size() || size() - at < 4) return std::nullopt;
    const auto i = static_cast<std::size_t>(at);
    std::uint32_t b0 = Byte(i), b1 = Byte(i + 1), b2 = Byte(i + 2), b3 = Byte(i + 3);
    if (littleEndian_) return b0 | (b1 << 8) | (b2 << 16) | (b3 << 24);
    return (b0 << 24) | (b1 << 16) | (b2 << 8) | b3;
  }

  // `length` bytes from `at`, or nothing when they do not lie wholly inside the data.
  std::optional<std::string_view> Bytes(Offset at, Offset length) const {
    if (at > size() || size() - at < length) return std::nullopt;
    return bytes_.substr(static_cast<std::size_t>(at), static_cast<std::size_t>(length));
  }

 private:
  std::uint32_t Byte(std::size_t i) const { return static_cast<unsigned char>(bytes_[i]); }

  std::string_view bytes_;
  bool littleEndian_ = false;
};

std::string_view CutAtNul(std::string_view text) {
  const auto nul = text.find('\0');
  return nul == std::string_view::npos ? text : text.substr(0, nul);
}

std::string_view MsgidWithoutContext(std::string_view raw) {
  const auto separator = raw.find('\x04');
  if (separator != std::string_view::npos) raw.remove_prefix(separator + 1);
  return CutAtNul(raw);
}

}  // namespace

MoCatalogue ReadMoCatalogue(std::string_view bytes, bool* capped) {
  if (capped) *capped = false;
  MoCatalogue catalogue;
  const MoData data(bytes);
  const auto count = data.Word(8);
  const auto msgidTable = data.Word(12);
  const auto translationTable = data.Word(16);
  if (!count || !msgidTable || !translationTable || *count == 0) return catalogue;

  // Entries may point at the same bytes, so a small file could name gigabytes of text. What a
  // catalogue holds can never be more than the file itself (with room for the odd shared string):
  // past that, the rest is left out.
  const std::size_t limit = 2 * bytes.size() + 65536;
  std::size_t taken = 0;
  for (Offset i = 0; i < *count; ++i) {
    const Offset msgidSlot = *msgidTable + i * 8;
    const Offset translationSlot = *translationTable + i * 8;
    const auto msgidLength = data.Word(msgidSlot);
    const auto msgidOffset = data.Word(msgidSlot + 4);
    const auto translationLength = data.Word(translationSlot);
    const auto translationOffset = data.Word(translationSlot + 4);
    // Slots lie one after the other, so once either table runs past the end of the data no later
    // index can be read either. This also bounds the loop for a damaged, huge count.
    if (!msgidLength || !msgidOffset || !translationLength || !translationOffset) break;
    if (*msgidLength == 0) continue;  // the catalogue header

    const auto msgid = data.Bytes(*msgidOffset, *msgidLength);
    const auto translation = data.Bytes(*translationOffset, *translationLength);
    if (!msgid || !translation) continue;
    taken += msgid->size() + translation->size();
    if (taken > limit) {
      if (capped) *capped = true;
      break;
    }
    catalogue.insert_or_assign(Utf8ToWide(MsgidWithoutContext(*msgid)),
                               Utf8ToWide(CutAtNul(*translation)));
  }
  return catalogue;
}

MoCatalogue ReadMoFile(const std::filesystem::path& path) {
  const auto bytes = ReadFileBytes(path);
  return bytes ? ReadMoCatalogue(*bytes) : MoCatalogue();
}

}  // namespace vistrel
