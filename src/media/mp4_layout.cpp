#include "media/mp4_layout.h"

#include <array>

namespace vistrel {
namespace {

struct BoxHeader {
  std::uint64_t size = 0;  // the whole box, header included
  std::uint32_t header = 0;
  std::array<char, 4> type{};
};

std::uint64_t BigEndian(const std::uint8_t* bytes, int count) {
  std::uint64_t value = 0;
  for (int i = 0; i < count; ++i) value = value << 8 | bytes[i];
  return value;
}

// The header of the box at `offset` in a space that ends at `end`; false when there is none that
// could be one.
bool ReadHeader(const ReadAt& read, std::uint64_t offset, std::uint64_t end, BoxHeader& box) {
  std::uint8_t bytes[16];
  const std::size_t got = read(offset, bytes, sizeof bytes);
  if (got < 8) return false;
  box.header = 8;
  box.size = BigEndian(bytes, 4);
  if (box.size == 1) {
    if (got < 16) return false;
    box.size = BigEndian(bytes + 8, 8);
    box.header = 16;
  } else if (box.size == 0) {
    box.size = end - offset;  // to the end
  }
  for (int i = 0; i < 4; ++i) {
    box.type[i] = static_cast<char>(bytes[4 + i]);
    if (bytes[4 + i] < 0x20 || bytes[4 + i] > 0x7E) return false;
  }
  return box.size >= box.header;
}

bool Is(const BoxHeader& box, const char (&type)[5]) {
  return box.type[0] == type[0] && box.type[1] == type[1] && box.type[2] == type[2] && box.type[3] == type[3];
}

bool HoldsMovieExtends(const ReadAt& read, std::uint64_t offset, const BoxHeader& moov) {
  const std::uint64_t end = offset + moov.size;
  BoxHeader child;
  for (std::uint64_t at = offset + moov.header; at < end && ReadHeader(read, at, end, child); at += child.size) {
    if (Is(child, "mvex")) return true;
  }
  return false;
}

}  // namespace

Mp4Layout ReadMp4Layout(std::uint64_t size, const ReadAt& read) {
  Mp4Layout layout;
  BoxHeader box;
  for (std::uint64_t offset = 0; offset < size && ReadHeader(read, offset, size, box); offset += box.size) {
    if (offset == 0 && !Is(box, "ftyp")) break;
    if (box.size > size - offset) break;  // cut short
    if (Is(box, "moov")) layout.fragmented = HoldsMovieExtends(read, offset, box);
    // A fragment's header counts once the samples that follow it are there too.
    if (!Is(box, "moof")) layout.intact = offset + box.size;
  }
  return layout;
}

}  // namespace vistrel
