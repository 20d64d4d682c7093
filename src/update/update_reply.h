// The update service's request and reply, without the network: the fixed request values, the
// plain-text field lookup in the reply, what a reply means, and the test override of the server.
// Windows-free.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vistrel {

inline constexpr wchar_t kUpdateUserAgent[] = L"VistrelUpdateChecker/1.0";
inline constexpr wchar_t kUpdatePath[] = L"/api/updates_checker";
inline constexpr wchar_t kUpdateProgramCode[] = L"zinq";
inline constexpr std::uint16_t kUpdatePort = 443;

// A reply is read up to this many bytes; a longer one is not read further and counts as malformed.
inline constexpr std::size_t kMaxUpdateReplyBytes = 64 * 1024;

// The request's header block: Program-Name, Program-Version, Program-Beta and
// Program-Version-Internal, lines separated by CR LF with no final line break.
std::wstring UpdateRequestHeaders(std::wstring_view currentVersion);

// The value of the first `"field":` in the reply (a text search, not a JSON parser), as wide
// text. After white space, a quoted value runs to the next double quote (escapes are not
// interpreted, so an escaped quote ends it) and is empty without one; any other value (number,
// true, an object...) runs to the next ',' or '}', without trailing white space, and is empty when
// neither follows. Empty when the field is absent. Reads nothing outside `reply`.
std::wstring ExtractJsonValue(std::string_view reply, std::string_view field);

struct UpdateVerdict {
  enum class Kind {
    kEmptyReply,       // nothing came back
    kServerError,      // no "success" status (also a malformed or oversized reply)
    kUpToDate,         // update_available is not true
    kUpdateAvailable,  // latestVersion holds the newest version
  };
  Kind kind = Kind::kEmptyReply;
  std::wstring message;        // kServerError: the server's message; empty when it gave none
  std::wstring latestVersion;  // kUpdateAvailable
};

// What a reply says. `complete` is false when the reply was cut at kMaxUpdateReplyBytes; such a
// reply is not looked into. The latest version is the first "version" in the reply, or the
// "version" inside the "latest_version" object (up to its first '}') when there is one.
UpdateVerdict ReadUpdateReply(std::string_view reply, bool complete);

// Where the check connects: the maker's host on port 443, unless the test override names another
// server as "host", "host:port" or "https://host[:port][/]". Nothing for an override that names
// another scheme or a malformed port: the check is then refused, since it only goes over HTTPS.
struct UpdateServer {
  std::wstring host;
  std::uint16_t port = kUpdatePort;
};
std::optional<UpdateServer> ChooseUpdateServer(std::wstring_view makerHost, std::wstring_view override);

}  // namespace vistrel
