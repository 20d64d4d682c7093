#include "i18n/text_format.h"

#include <array>
#include <charconv>
#include <cmath>
#include <limits>

#include "core/text.h"

namespace vistrel {
namespace {

// One conversion: % [flags] [width] [.precision] [length] conversion.
struct Field {
  bool left = false;
  bool plus = false;
  bool space = false;
  bool zero = false;
  bool alternate = false;
  int width = 0;
  int precision = -1;  // none
  std::wstring_view length;
  wchar_t conversion = 0;
};

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// Parses a decimal number of at most kMaxFormatWidth at `i`.
bool ParseNumber(std::wstring_view format, std::size_t& i, int& value) {
  value = 0;
  while (i < format.size() && IsDigit(format[i])) {
    value = value * 10 + (format[i] - L'0');
    if (value > kMaxFormatWidth) return false;
    ++i;
  }
  return true;
}

// The length modifier at `i` (empty when there is none); `i` is moved past it.
std::wstring_view ParseLength(std::wstring_view format, std::size_t& i) {
  const std::wstring_view rest = format.substr(i);
  for (std::wstring_view length : {L"I64", L"hh", L"ll", L"h", L"l", L"z", L"j", L"t", L"L"}) {
    if (rest.starts_with(length)) {
      i += length.size();
      return length;
    }
  }
  return {};
}

// Parses what follows a '%' (at `i`, which is moved past the conversion character).
bool ParseField(std::wstring_view format, std::size_t& i, Field& field) {
  for (; i < format.size(); ++i) {
    const wchar_t c = format[i];
    if (c == L'-') field.left = true;
    else if (c == L'+') field.plus = true;
    else if (c == L' ') field.space = true;
    else if (c == L'0') field.zero = true;
    else if (c == L'#') field.alternate = true;
    else break;
  }
  if (!ParseNumber(format, i, field.width)) return false;
  if (i < format.size() && format[i] == L'.') {
    ++i;
    if (!ParseNumber(format, i, field.precision)) return false;
  }
  field.length = ParseLength(format, i);
  if (i >= format.size()) return false;
  field.conversion = format[i++];
  return true;
}

void Pad(std::wstring& out, std::wstring_view body, const Field& field, std::wstring_view prefix = {},
         bool zeroPadAllowed = false) {
  const std::size_t length = prefix.size() + body.size();
  const std::size_t fill = static_cast<std::size_t>(field.width) > length ? field.width - length : 0;
  if (field.left) {
    out.append(prefix).append(body).append(fill, L' ');
  } else if (field.zero && zeroPadAllowed) {
    out.append(prefix).append(fill, L'0').append(body);
  } else {
    out.append(fill, L' ').append(prefix).append(body);
  }
}

std::wstring Digits(unsigned long long value, int base, bool upper) {
  std::array<char, 70> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, base);
  std::wstring digits(buffer.data(), result.ptr);
  if (upper) {
    for (wchar_t& c : digits) {
      if (c >= L'a' && c <= L'f') c = static_cast<wchar_t>(c - L'a' + L'A');
    }
  }
  return digits;
}

bool AppendInteger(std::wstring& out, const Field& field, const FormatArg& arg) {
  bool negative = false;
  unsigned long long magnitude = 0;
  if (arg.kind() == FormatArg::Kind::kSigned) {
    const long long value = arg.signedValue();
    negative = value < 0;
    // The magnitude of the most negative value does not fit in long long; in unsigned it does.
    magnitude = negative ? 0ULL - static_cast<unsigned long long>(value)
                         : static_cast<unsigned long long>(value);
  } else if (arg.kind() == FormatArg::Kind::kUnsigned) {
    magnitude = arg.unsignedValue();
  } else {
    return false;
  }

  const wchar_t c = field.conversion;
  const bool isSigned = c == L'd' || c == L'i';
  if (negative && !isSigned) return false;  // no silent wrap-around of a negative number
  const int base = (c == L'x' || c == L'X') ? 16 : c == L'o' ? 8 : 10;
  std::wstring digits = Digits(magnitude, base, c == L'X');
  if (field.precision >= 0) {
    if (field.precision == 0 && magnitude == 0) digits.clear();
    if (digits.size() < static_cast<std::size_t>(field.precision)) {
      digits.insert(0, field.precision - digits.size(), L'0');
    }
  }
  std::wstring prefix;
  if (isSigned) {
    if (negative) prefix = L"-";
    else if (field.plus) prefix = L"+";
    else if (field.space) prefix = L" ";
  } else if (field.alternate && magnitude != 0) {
    if (c == L'x') prefix = L"0x";
    else if (c == L'X') prefix = L"0X";
    else if (c == L'o' && (digits.empty() || digits.front() != L'0')) prefix = L"0";
  }
  Pad(out, digits, field, prefix, field.precision < 0);
  return true;
}

bool AppendFloat(std::wstring& out, const Field& field, const FormatArg& arg) {
  if (arg.kind() != FormatArg::Kind::kFloat) return false;
  const double value = arg.floatValue();
  const bool upper = field.conversion == L'F';
  std::wstring prefix;
  if (std::signbit(value)) prefix = L"-";
  else if (field.plus) prefix = L"+";
  else if (field.space) prefix = L" ";
  if (std::isnan(value) || std::isinf(value)) {
    Pad(out, std::isnan(value) ? (upper ? L"NAN" : L"nan") : (upper ? L"INF" : L"inf"), field, prefix);
    return true;
  }
  // The largest double has 309 integer digits; the precision is bounded by kMaxFormatWidth.
  std::array<char, 309 + 2 + kMaxFormatWidth + 8> buffer{};
  const int precision = field.precision < 0 ? 6 : field.precision;
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), std::fabs(value),
                                    std::chars_format::fixed, precision);
  if (result.ec != std::errc()) return false;
  std::wstring body(buffer.data(), result.ptr);
  if (field.alternate && precision == 0) body.push_back(L'.');
  Pad(out, body, field, prefix, true);
  return true;
}

bool AppendOne(std::wstring& out, const Field& field, const FormatArg& arg) {
  // Strings and characters are wide ("%hs" would be a narrow string, which is not supported).
  if ((field.conversion == L's' || field.conversion == L'c') && !field.length.empty() && field.length != L"l") {
    return false;
  }
  switch (field.conversion) {
    case L's': {
      if (arg.kind() != FormatArg::Kind::kString) return false;
      const std::wstring text = field.precision >= 0 ? CutText(arg.text(), field.precision)
                                                    : std::wstring(arg.text());
      Pad(out, text, field);
      return true;
    }
    case L'c': {
      if (arg.kind() != FormatArg::Kind::kChar) return false;
      const wchar_t c = arg.character();
      Pad(out, std::wstring_view(&c, 1), field);
      return true;
    }
    case L'd': case L'i': case L'u': case L'x': case L'X': case L'o':
      return AppendInteger(out, field, arg);
    case L'f': case L'F':
      return AppendFloat(out, field, arg);
    default:
      return false;
  }
}

}  // namespace

std::optional<std::wstring> TryFormatText(std::wstring_view format, std::span<const FormatArg> args) {
  std::wstring out;
  out.reserve(format.size());
  std::size_t next = 0;
  std::size_t i = 0;
  while (i < format.size()) {
    const auto percent = format.find(L'%', i);
    if (percent == std::wstring_view::npos) {
      out.append(format.substr(i));
      break;
    }
    out.append(format.substr(i, percent - i));
    i = percent + 1;
    if (i < format.size() && format[i] == L'%') {
      out.push_back(L'%');
      ++i;
      continue;
    }
    Field field;
    if (!ParseField(format, i, field)) return std::nullopt;
    if (next >= args.size()) return std::nullopt;
    if (!AppendOne(out, field, args[next++])) return std::nullopt;
  }
  return out;
}

std::wstring FormatText(std::wstring_view format, std::span<const FormatArg> args) {
  auto formatted = TryFormatText(format, args);
  if (!formatted || formatted->empty()) return std::wstring(format);
  return std::move(*formatted);
}

}  // namespace vistrel
