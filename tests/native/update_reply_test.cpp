// The update service's reply read as text, the request's header block and the server override.
#include <optional>
#include <string>
#include <tuple>
#include <utility>

#include <gtest/gtest.h>

#include "update/update_reply.h"

namespace vistrel {
namespace {

TEST(ExtractJsonValue, FirstKeyWinsQuotedValuesEndAtAQuoteAndBareOnesAtACommaOrBrace) {
  const std::string reply = R"({"data":{"version":"1.0"},"latest_version":{"version":"2.0"},"version":"3.0"})";
  EXPECT_EQ(ExtractJsonValue(reply, "version"), L"1.0") << "the first, whatever object holds it";
  EXPECT_EQ(ExtractJsonValue(reply, "latest_version"), L"{\"version\":\"2.0\"");
  EXPECT_EQ(ExtractJsonValue(reply, "missing"), L"");
  // Only a key counts: the name followed by a colon without space, not the same text as a value.
  EXPECT_EQ(ExtractJsonValue(R"({"a":"status","status":"ok"})", "status"), L"ok");
  EXPECT_EQ(ExtractJsonValue(R"({"status" : "ok"})", "status"), L"");
  // A quoted value ends at the next quote, escaped or not, and is empty without one.
  EXPECT_EQ(ExtractJsonValue(R"({"message": "Server \"busy\" now"})", "message"), L"Server \\");
  EXPECT_EQ(ExtractJsonValue(R"({"message":""})", "message"), L"");
  EXPECT_EQ(ExtractJsonValue(R"({"message":"no end)", "message"), L"");
  EXPECT_EQ(ExtractJsonValue("{\"message\":\"caf\xC3\xA9, \xE2\x82\xAC\"}", "message"), L"caf\u00e9, \u20ac");
  EXPECT_EQ(ExtractJsonValue("{\"message\":\t\r\n \"spaced\"}", "message"), L"spaced");
  // Any other value runs to a comma or brace without trailing space; an object to its first one.
  EXPECT_EQ(ExtractJsonValue(R"({"update_available": true, "x":1})", "update_available"), L"true");
  EXPECT_EQ(ExtractJsonValue("{\"update_available\":\n    true\n}", "update_available"), L"true");
  EXPECT_EQ(ExtractJsonValue(R"({"count":-12.5e3})", "count"), L"-12.5e3");
  EXPECT_EQ(ExtractJsonValue(R"({"flag":null,"b":2})", "flag"), L"null");
  EXPECT_EQ(ExtractJsonValue(R"({"latest":{"version":"2","date":"x"}})", "latest"), L"{\"version\":\"2\"");
  EXPECT_EQ(ExtractJsonValue(R"({"latest":{})", "latest"), L"{");
  // Neither a comma nor a brace after it, or nothing at all after the colon.
  EXPECT_EQ(ExtractJsonValue(R"({"update_available": true)", "update_available"), L"");
  EXPECT_EQ(ExtractJsonValue(R"({"update_available":   )", "update_available"), L"");
  EXPECT_EQ(ExtractJsonValue(R"({"update_available":)", "update_available"), L"");
}

TEST(ReadUpdateReply, TellsEachOutcomeWithItsMessageOrVersion) {
  using Kind = UpdateVerdict::Kind;
  const std::string available = R"({"status":"success","update_available":true,)";
  // {reply, read whole, kind, message, latest version}
  const std::tuple<std::string, bool, Kind, const wchar_t*, const wchar_t*> rows[] = {
      {"", true, Kind::kEmptyReply, L"", L""},
      {R"({"status":"error"})", true, Kind::kServerError, L"", L""},
      {R"({"status":"error","message":"Maintenance"})", true, Kind::kServerError, L"Maintenance", L""},
      {"<html>502 Bad Gateway</html>", true, Kind::kServerError, L"", L""},
      // A reply cut at the limit is malformed however good its start.
      {available + R"("version":"9"})", false, Kind::kServerError, L"", L""},
      {R"({"status":"success","update_available":false})", true, Kind::kUpToDate, L"", L""},
      {R"({"status":"success"})", true, Kind::kUpToDate, L"", L""},
      {R"({"status":"success","update_available":"True"})", true, Kind::kUpToDate, L"", L""},
      {R"({"status": "success", "update_available":  true , "version": "1.6"})", true, Kind::kUpdateAvailable, L"",
       L"1.6"},
      {R"({"status":"success","update_available":"true","version":"1.6"})", true, Kind::kUpdateAvailable, L"", L"1.6"},
      // The version in the latest_version object overrides an earlier one, but a version after the
      // object's first '}' is not the object's, and latest_version must be an object.
      {available + R"("current":{"version":"1.5.2.1"},"latest_version":{"version":"2.0.0","size":5}})", true,
       Kind::kUpdateAvailable, L"", L"2.0.0"},
      {available + R"("version":"1.9","latest_version": {"notes":"none"}, "x":{"version":"3"}})", true,
       Kind::kUpdateAvailable, L"", L"1.9"},
      {available + R"("latest_version":"2.1"})", true, Kind::kUpdateAvailable, L"", L""},
  };
  for (const auto& [reply, complete, kind, message, latestVersion] : rows) {
    const UpdateVerdict verdict = ReadUpdateReply(reply, complete);
    EXPECT_EQ(std::tuple(verdict.kind, verdict.message, verdict.latestVersion),
              std::tuple(kind, message, latestVersion)) << reply << (complete ? "" : " (cut)");
  }
}

TEST(UpdateRequest, FourHeaderLinesWithoutAFinalBreakAndTheServer) {
  EXPECT_EQ(UpdateRequestHeaders(L"1.5.2.1"),
            L"Program-Name: zinq\r\nProgram-Version: 1.5.2.1\r\nProgram-Beta: false\r\n"
            L"Program-Version-Internal: false");
  // The server is the maker's unless an HTTPS override says otherwise: {host, port} or nothing.
  using Server = std::pair<std::wstring, int>;
  const auto chosen = [](const wchar_t* value) {
    const auto server = ChooseUpdateServer(L"updates.example", value);
    return server ? std::optional(Server(server->host, server->port)) : std::nullopt;
  };
  EXPECT_EQ(chosen(L""), Server(L"updates.example", 443));
  EXPECT_EQ(chosen(L"localhost"), Server(L"localhost", 443));
  for (const wchar_t* value : {L"localhost:8443", L"https://localhost:8443", L"HTTPS://localhost:8443/"}) {
    EXPECT_EQ(chosen(value), Server(L"localhost", 8443)) << value;
  }
  for (const wchar_t* refused : {L"http://localhost:8443", L"ftp://localhost", L"localhost:0", L"localhost:65536",
                                 L"localhost:", L"localhost:84a3", L":8443", L"localhost/api", L"https://"}) {
    EXPECT_EQ(chosen(refused), std::nullopt) << refused;
  }
}

}  // namespace
}  // namespace vistrel
