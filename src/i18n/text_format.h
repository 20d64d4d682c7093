// printf-style formatting of translated texts, checked against the arguments' types.
//
// Translations come from files the program does not control, so a translation is never handed to
// the C library's printf family: a stray %n, or more conversions than arguments, would read or
// write memory. Instead the format is interpreted here, and any problem makes the caller fall back
// to the unformatted text.
//
// Supported: %% and conversions of the form  % [flags -+ 0#space] [width] [.precision] [length] C
//   C = s      a string (std::wstring, std::wstring_view, const wchar_t*); precision cuts it
//       c      a wchar_t
//       d i    any integer argument
//       u x X o  any integer argument that is not negative
//       f F    a floating-point argument (precision defaults to 6)
// Length modifiers (h hh l ll z j t L I64) are accepted and ignored for numbers: the argument's
// own type decides. Strings and characters take none or 'l' (both mean wide). Width and precision are at most kMaxFormatWidth. Not supported, and therefore
// malformed: '*' widths, positional arguments (%1$s), %n, %p, %e, %g, %a, narrow strings.
// Arguments left over after the last conversion are ignored, as printf does.
#pragma once

#include <concepts>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

namespace vistrel {

inline constexpr int kMaxFormatWidth = 512;

template <typename T>
concept FormatInteger = std::integral<T> && !std::same_as<T, bool> && !std::same_as<T, char> &&
                        !std::same_as<T, wchar_t> && !std::same_as<T, char8_t> &&
                        !std::same_as<T, char16_t> && !std::same_as<T, char32_t>;

// One argument, typed. Holds a view of a string argument: it lives as long as the call it is
// built for.
class FormatArg {
 public:
  enum class Kind { kString, kChar, kSigned, kUnsigned, kFloat };

  FormatArg(const std::wstring& text) : kind_(Kind::kString), text_(text) {}
  FormatArg(std::wstring_view text) : kind_(Kind::kString), text_(text) {}
  FormatArg(const wchar_t* text) : kind_(Kind::kString), text_(text ? text : L"(null)") {}
  FormatArg(wchar_t c) : kind_(Kind::kChar), char_(c) {}
  template <FormatInteger T>
  FormatArg(T value) {
    if constexpr (std::is_signed_v<T>) {
      kind_ = Kind::kSigned;
      signed_ = value;
    } else {
      kind_ = Kind::kUnsigned;
      unsigned_ = value;
    }
  }
  template <std::floating_point T>
  FormatArg(T value) : kind_(Kind::kFloat), float_(static_cast<double>(value)) {}

  Kind kind() const { return kind_; }
  std::wstring_view text() const { return text_; }
  wchar_t character() const { return char_; }
  long long signedValue() const { return signed_; }
  unsigned long long unsignedValue() const { return unsigned_; }
  double floatValue() const { return float_; }

 private:
  Kind kind_ = Kind::kSigned;
  std::wstring_view text_;
  wchar_t char_ = 0;
  long long signed_ = 0;
  unsigned long long unsigned_ = 0;
  double float_ = 0;
};

// The formatted text, or nothing when the format is malformed, uses an unsupported conversion,
// needs more arguments than given or meets an argument of the wrong type.
std::optional<std::wstring> TryFormatText(std::wstring_view format, std::span<const FormatArg> args);

// The formatted text; the format itself, unchanged, when formatting fails or yields no characters.
std::wstring FormatText(std::wstring_view format, std::span<const FormatArg> args);

}  // namespace vistrel
