#include "update/update_reply.h"

#include "core/text.h"

namespace vistrel {
namespace {

bool IsJsonSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The position just after the first `"field":`, or npos.
std::size_t AfterKey(std::string_view text, std::string_view field) {
  std::string key;
  key.reserve(field.size() + 3);
  key += '"';
  key += field;
  key += "\":";
  const std::size_t at = text.find(key);
  return at == std::string_view::npos ? at : at + key.size();
}

std::string_view SkipSpace(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsJsonSpace(text[i])) ++i;
  return text.substr(i);
}

// The "latest_version" object, from its key to its first '}' inclusive; empty without one.
std::string_view LatestVersionObject(std::string_view reply) {
  const std::size_t after = AfterKey(reply, "latest_version");
  if (after == std::string_view::npos) return {};
  const std::string_view value = SkipSpace(reply.substr(after));
  if (value.empty() || value.front() != '{') return {};
  const std::size_t close = value.find('}');
  return close == std::string_view::npos ? value : value.substr(0, close + 1);
}

}  // namespace

std::wstring UpdateRequestHeaders(std::wstring_view currentVersion) {
  std::wstring block = L"Program-Name: ";
  block += kUpdateProgramCode;
  block += L"\r\nProgram-Version: ";
  block += currentVersion;
  block += L"\r\nProgram-Beta: false\r\nProgram-Version-Internal: false";
  return block;
}

std::wstring ExtractJsonValue(std::string_view reply, std::string_view field) {
  const std::size_t after = AfterKey(reply, field);
  if (after == std::string_view::npos) return {};
  const std::string_view value = SkipSpace(reply.substr(after));
  if (value.empty()) return {};
  if (value.front() == '"') {
    const std::size_t close = value.find('"', 1);
    if (close == std::string_view::npos) return {};
    return Utf8ToWide(value.substr(1, close - 1));
  }
  const std::size_t end = value.find_first_of(",}");
  if (end == std::string_view::npos) return {};
  std::string_view bare = value.substr(0, end);
  while (!bare.empty() && IsJsonSpace(bare.back())) bare.remove_suffix(1);
  return Utf8ToWide(bare);
}

UpdateVerdict ReadUpdateReply(std::string_view reply, bool complete) {
  UpdateVerdict verdict;
  if (reply.empty()) return verdict;
  verdict.kind = UpdateVerdict::Kind::kServerError;
  if (!complete) return verdict;
  if (ExtractJsonValue(reply, "status") != L"success") {
    verdict.message = ExtractJsonValue(reply, "message");
    return verdict;
  }
  if (ExtractJsonValue(reply, "update_available") != L"true") {
    verdict.kind = UpdateVerdict::Kind::kUpToDate;
    return verdict;
  }
  verdict.kind = UpdateVerdict::Kind::kUpdateAvailable;
  verdict.latestVersion = ExtractJsonValue(reply, "version");
  const std::string_view latest = LatestVersionObject(reply);
  if (!latest.empty()) {
    std::wstring version = ExtractJsonValue(latest, "version");
    if (!version.empty()) verdict.latestVersion = std::move(version);
  }
  return verdict;
}

std::optional<UpdateServer> ChooseUpdateServer(std::wstring_view makerHost, std::wstring_view override) {
  if (override.empty()) return UpdateServer{std::wstring(makerHost), kUpdatePort};
  constexpr std::wstring_view kHttps = L"https://";
  if (override.size() >= kHttps.size()) {
    std::wstring scheme(override.substr(0, kHttps.size()));
    for (wchar_t& c : scheme) c = (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
    if (scheme == kHttps) override.remove_prefix(kHttps.size());
  }
  if (override.find(L"://") != std::wstring_view::npos) return std::nullopt;  // another scheme
  if (!override.empty() && override.back() == L'/') override.remove_suffix(1);
  UpdateServer server;
  const std::size_t colon = override.rfind(L':');
  if (colon != std::wstring_view::npos) {
    const std::wstring_view digits = override.substr(colon + 1);
    if (digits.empty() || digits.size() > 5) return std::nullopt;
    unsigned long port = 0;
    for (wchar_t c : digits) {
      if (c < L'0' || c > L'9') return std::nullopt;
      port = port * 10 + static_cast<unsigned long>(c - L'0');
    }
    if (port == 0 || port > 65535) return std::nullopt;
    server.port = static_cast<std::uint16_t>(port);
    override = override.substr(0, colon);
  }
  if (override.empty() || override.find_first_of(L"/?#@ ") != std::wstring_view::npos) return std::nullopt;
  server.host = std::wstring(override);
  return server;
}

}  // namespace vistrel
