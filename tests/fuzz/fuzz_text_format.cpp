// Any format text with any mix of arguments: formatting never reads or writes out of bounds,
// text without '%' comes back unchanged, and FormatText never returns an empty text for a format
// that is not empty. The first byte picks the argument types, two bits each (0 string, 1 negative
// integer, 2 unsigned integer, 3 floating point), so " " gives string, string, unsigned, string.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "core/text.h"
#include "i18n/text_format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const unsigned kinds = data[0];
  const std::wstring format =
      vistrel::Utf8ToWide(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));

  const std::wstring text = L"t\u00e9xt\U0001F600";
  std::vector<vistrel::FormatArg> args;
  for (int i = 0; i < 4; ++i) {
    switch ((kinds >> (2 * i)) & 3) {
      case 0: args.emplace_back(text); break;
      case 1: args.emplace_back(-1234567890123LL); break;
      case 2: args.emplace_back(4294967295u); break;
      default: args.emplace_back(-1.5e300); break;
    }
  }
  for (std::size_t count = 0; count <= args.size(); ++count) {
    const std::span<const vistrel::FormatArg> given(args.data(), count);
    const auto formatted = vistrel::TryFormatText(format, given);
    if (format.find(L'%') == std::wstring::npos && formatted != format) std::abort();
    // Each conversion takes at least two characters of the format and yields at most the width or
    // the longest argument with its precision.
    if (formatted && formatted->size() > format.size() * (2 * vistrel::kMaxFormatWidth + 320)) std::abort();
    const std::wstring shown = vistrel::FormatText(format, given);
    if (!format.empty() && shown.empty()) std::abort();
    if (!formatted && shown != format) std::abort();
  }
  return 0;
}
