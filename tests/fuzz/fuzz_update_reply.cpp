// Any reply, and any field name, is searched without reading outside the reply: the input is
// split at its first NUL into a field name and a reply that lives in a buffer of exactly its size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "update/update_reply.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t split = input.find('\0');
  const std::string_view field = split == std::string_view::npos ? std::string_view("version") : input.substr(0, split);
  const std::string_view rest = split == std::string_view::npos ? input : input.substr(split + 1);

  const auto copy = std::make_unique<char[]>(rest.size() + 1);  // never empty, for new[]
  if (!rest.empty()) std::memcpy(copy.get(), rest.data(), rest.size());
  const std::string_view reply(copy.get(), rest.size());

  const std::wstring value = vistrel::ExtractJsonValue(reply, field);
  // Every character of the value came from the reply (one UTF-8 byte at least each).
  if (value.size() > reply.size()) std::abort();
  for (const char* name : {"status", "message", "update_available", "version", "latest_version"}) {
    vistrel::ExtractJsonValue(reply, name);
  }
  for (bool complete : {true, false}) {
    const vistrel::UpdateVerdict verdict = vistrel::ReadUpdateReply(reply, complete);
    if (reply.empty() != (verdict.kind == vistrel::UpdateVerdict::Kind::kEmptyReply)) std::abort();
    if (!complete && !reply.empty() && verdict.kind != vistrel::UpdateVerdict::Kind::kServerError) std::abort();
    if (verdict.latestVersion.size() > reply.size()) std::abort();
  }
  return 0;
}
