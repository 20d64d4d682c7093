// Any bytes read as a .mo catalogue without reading out of bounds and without holding much more
// text than the file; and, unless entries share their texts, the data only ever adds entries:
// every msgid read from a prefix of the input is also read from the whole input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "i18n/mo_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const vistrel::MoCatalogue whole = vistrel::ReadMoCatalogue(input);
  std::size_t characters = 0;
  for (const auto& entry : whole) characters += entry.first.size() + entry.second.size();
  if (characters > 2 * size + 65536) std::abort();
  // Shared texts may stop the whole input's reading before an entry the prefix could read.
  if (characters > size) return 0;
  const vistrel::MoCatalogue prefix = vistrel::ReadMoCatalogue(input.substr(0, size / 2));
  for (const auto& entry : prefix) {
    if (whole.count(entry.first) == 0) std::abort();
  }
  return 0;
}
