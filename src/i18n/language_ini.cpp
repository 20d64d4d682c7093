#include "i18n/language_ini.h"

#include "core/text.h"
#include "i18n/file_bytes.h"

namespace vistrel {
namespace {

constexpr std::string_view kWhiteSpace = " \t\r\n\f\v";

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(kWhiteSpace);
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(kWhiteSpace);
  return text.substr(first, last - first + 1);
}

std::wstring ValueOf(const LanguageIniValues& values, const wchar_t* key) {
  const auto found = values.find(key);
  return found == values.end() ? std::wstring() : found->second;
}

wchar_t AsciiLower(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

}  // namespace

LanguageIniValues ParseLanguageIni(std::string_view text) {
  LanguageIniValues values;
  bool inLangSection = false;
  while (!text.empty()) {
    const auto end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);

    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    line = Trim(line);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[' && line.back() == ']') {
      inLangSection = line == "[lang]";
      continue;
    }
    if (!inLangSection) continue;
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    values.insert_or_assign(Utf8ToWide(Trim(line.substr(0, equals))),
                            Utf8ToWide(Trim(line.substr(equals + 1))));
  }
  return values;
}

std::optional<LanguageIniValues> ReadLanguageIni(const std::filesystem::path& path) {
  const auto text = ReadFileBytes(path);
  if (!text) return std::nullopt;
  return ParseLanguageIni(*text);
}

bool IsRtlValue(std::wstring_view value) {
  std::wstring lower;
  for (wchar_t c : value) lower.push_back(AsciiLower(c));
  return lower == L"true" || lower == L"1" || lower == L"yes";
}

LanguageInfo ActiveLanguageInfo(const std::wstring& code,
                                const std::optional<LanguageIniValues>& values) {
  LanguageInfo info{code, code, false, {}, {}};
  if (!values) return info;
  if (auto name = ValueOf(*values, L"language_name"); !name.empty()) info.name = std::move(name);
  if (auto own = ValueOf(*values, L"language_code"); !own.empty()) info.code = std::move(own);
  info.translatorName = ValueOf(*values, L"translator_name");
  info.translatorEmail = ValueOf(*values, L"translator_email");
  info.rtl = IsRtlValue(ValueOf(*values, L"is_rtl"));
  return info;
}

std::optional<LanguageInfo> ListedLanguageInfo(const LanguageIniValues& values) {
  LanguageInfo info;
  info.name = ValueOf(values, L"language_name");
  info.code = ValueOf(values, L"language_code");
  if (info.name.empty() || info.code.empty()) return std::nullopt;
  info.translatorName = ValueOf(values, L"translator_name");
  info.translatorEmail = ValueOf(values, L"translator_email");
  info.rtl = IsRtlValue(ValueOf(values, L"is_rtl"));
  return info;
}

}  // namespace vistrel
