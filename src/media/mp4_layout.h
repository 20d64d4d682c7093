// The top-level boxes of an MP4 file, read without a demuxer: whether the file was written in
// fragments (a recording not yet finished) and how much of it is whole. Windows-free.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace vistrel {

struct Mp4Layout {
  bool fragmented = false;  // the index announces fragments (moov holds an mvex box)
  std::uint64_t intact = 0;  // where the whole part ends (the size, unless the file was cut short):
                             // past it lies a box cut short, or a fragment whose samples are missing
};

// `read(offset, buffer, count)` copies what the file holds there and returns how many bytes that
// was (fewer at its end). A file whose first box is no MP4 box has nothing intact.
using ReadAt = std::function<std::size_t(std::uint64_t offset, std::uint8_t* buffer, std::size_t count)>;
Mp4Layout ReadMp4Layout(std::uint64_t size, const ReadAt& read);

}  // namespace vistrel
