// language.ini: the metadata file in each language folder. Windows-free.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace vistrel {

// One language: the active one, or an entry of the list offered in the settings dialog.
struct LanguageInfo {
  std::wstring name;
  std::wstring code;
  bool rtl = false;
  std::wstring translatorName;
  std::wstring translatorEmail;

  bool operator==(const LanguageInfo&) const = default;
};

// Keys and values of the [lang] section, decoded from UTF-8.
using LanguageIniValues = std::map<std::wstring, std::wstring>;

// Reads UTF-8 text line by line. A trailing CR is removed and each line trimmed; empty lines and
// lines starting with ';' are skipped. "[...]" opens a section and only a line exactly "[lang]"
// opens the one that is read. There, "key = value" is split at the first '=' (both sides
// trimmed), a line without '=' is skipped and a repeated key overwrites. A byte-order mark is not
// skipped, so a file starting with one has its first line spoiled.
LanguageIniValues ParseLanguageIni(std::string_view text);

// The file's values, or nothing when it cannot be opened.
std::optional<LanguageIniValues> ReadLanguageIni(const std::filesystem::path& path);

// "true", "1" or "yes" in any letter case.
bool IsRtlValue(std::wstring_view value);

// The info of the active language `code` from its language.ini (nothing: the file is missing).
// Missing or empty name and code fall back to `code`; credits to empty; rtl to false.
LanguageInfo ActiveLanguageInfo(const std::wstring& code, const std::optional<LanguageIniValues>& values);

// The list entry for a language folder: nothing unless both language_name and language_code are
// present and not empty.
std::optional<LanguageInfo> ListedLanguageInfo(const LanguageIniValues& values);

}  // namespace vistrel
