#include "i18n/file_bytes.h"

#include <array>
#include <fstream>

namespace vistrel {

std::optional<std::string> ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  // Stream reads report errors through the state, unlike stream buffer iterators, which let the
  // buffer's exceptions out.
  std::string bytes;
  std::array<char, 16384> chunk{};
  while (file.read(chunk.data(), chunk.size()) || file.gcount() > 0) {
    bytes.append(chunk.data(), static_cast<std::size_t>(file.gcount()));
    if (!file) break;
  }
  return bytes;
}

}  // namespace vistrel
