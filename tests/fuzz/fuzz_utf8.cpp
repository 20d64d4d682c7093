// Any byte string converts to wide text and back without reading out of bounds, and a second
// round trip changes nothing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::wstring wide = vistrel::Utf8ToWide(input);
  const std::string utf8 = vistrel::WideToUtf8(wide);
  if (vistrel::Utf8ToWide(utf8) != wide) std::abort();
  if (vistrel::CutText(wide, size / 2).size() > size / 2) std::abort();
  return 0;
}
