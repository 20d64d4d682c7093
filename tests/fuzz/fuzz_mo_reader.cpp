// Any bytes read as a .mo catalogue without reading out of bounds and without holding much more
// text than the file; and the data only ever adds entries: every msgid read from a prefix of the
// input is also read from the whole input, as long as neither reading was cut short by the limit
// on shared texts (the whole input may reach it through entries that lie outside the prefix).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "i18n/mo_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  bool wholeCapped = false;
  const vistrel::MoCatalogue whole = vistrel::ReadMoCatalogue(input, &wholeCapped);
  std::size_t characters = 0;
  for (const auto& entry : whole) characters += entry.first.size() + entry.second.size();
  if (characters > 2 * size + 65536) std::abort();
  bool prefixCapped = false;
  const vistrel::MoCatalogue prefix = vistrel::ReadMoCatalogue(input.substr(0, size / 2), &prefixCapped);
  if (wholeCapped || prefixCapped) return 0;
  for (const auto& entry : prefix) {
    if (whole.count(entry.first) == 0) std::abort();
  }
  return 0;
}
