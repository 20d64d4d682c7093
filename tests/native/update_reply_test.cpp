// The update service's reply read as text, the request's header block and the server override.
#include <string>

#include <gtest/gtest.h>

#include "update/update_reply.h"

namespace vistrel {
namespace {

TEST(ExtractJsonValue, FirstOccurrenceWinsWhateverObjectHoldsIt) {
  const std::string reply = R"({"data":{"version":"1.0"},"latest_version":{"version":"2.0"},"version":"3.0"})";
  EXPECT_EQ(ExtractJsonValue(reply, "version"), L"1.0");
  EXPECT_EQ(ExtractJsonValue(reply, "latest_version"), L"{\"version\":\"2.0\"");
  EXPECT_EQ(ExtractJsonValue(reply, "missing"), L"");
  // Only a key counts: the name followed by a colon, not the same text as a value.
  EXPECT_EQ(ExtractJsonValue(R"({"a":"status","status":"ok"})", "status"), L"ok");
  // The key must be written without space before its colon.
  EXPECT_EQ(ExtractJsonValue(R"({"status" : "ok"})", "status"), L"");
}

TEST(ExtractJsonValue, QuotedValuesEndAtTheNextQuote) {
  EXPECT_EQ(ExtractJsonValue(R"({"message": "Server \"busy\" now"})", "message"), L"Server \\");
  EXPECT_EQ(ExtractJsonValue(R"({"message":""})", "message"), L"");
  EXPECT_EQ(ExtractJsonValue(R"({"message":"no end)", "message"), L"");
  EXPECT_EQ(ExtractJsonValue("{\"message\":\"caf\xC3\xA9, \xE2\x82\xAC\"}", "message"), L"caf\u00e9, \u20ac");
  EXPECT_EQ(ExtractJsonValue("{\"message\":\t\r\n \"spaced\"}", "message"), L"spaced");
}

TEST(ExtractJsonValue, BareValuesRunToACommaOrBrace) {
  EXPECT_EQ(ExtractJsonValue(R"({"update_available": true, "x":1})", "update_available"), L"true");
  EXPECT_EQ(ExtractJsonValue("{\"update_available\":\n    true\n}", "update_available"), L"true");
  EXPECT_EQ(ExtractJsonValue(R"({"count":-12.5e3})", "count"), L"-12.5e3");
  EXPECT_EQ(ExtractJsonValue(R"({"flag":null,"b":2})", "flag"), L"null");
  // An object runs to its first comma or closing brace.
  EXPECT_EQ(ExtractJsonValue(R"({"latest":{"version":"2","date":"x"}})", "latest"), L"{\"version\":\"2\"");
  EXPECT_EQ(ExtractJsonValue(R"({"latest":{})", "latest"), L"{");
  // Neither a comma nor a brace after it, or nothing at all after the colon.
  EXPECT_EQ(ExtractJsonValue(R"({"update_available": true)", "update_available"), L"");
  EXPECT_EQ(ExtractJsonValue(R"({"update_available":   )", "update_available"), L"");
  EXPECT_EQ(ExtractJsonValue(R"({"update_available":)", "update_available"), L"");
}

TEST(ReadUpdateReply, TellsEachOutcome) {
  EXPECT_EQ(ReadUpdateReply("", true).kind, UpdateVerdict::Kind::kEmptyReply);

  const UpdateVerdict error = ReadUpdateReply(R"({"status":"error"})", true);
  EXPECT_EQ(error.kind, UpdateVerdict::Kind::kServerError);
  EXPECT_EQ(error.message, L"");
  EXPECT_EQ(ReadUpdateReply(R"({"status":"error","message":"Maintenance"})", true).message, L"Maintenance");
  EXPECT_EQ(ReadUpdateReply("<html>502 Bad Gateway</html>", true).kind, UpdateVerdict::Kind::kServerError);

  EXPECT_EQ(ReadUpdateReply(R"({"status":"success","update_available":false})", true).kind,
            UpdateVerdict::Kind::kUpToDate);
  EXPECT_EQ(ReadUpdateReply(R"({"status":"success"})", true).kind, UpdateVerdict::Kind::kUpToDate);
  EXPECT_EQ(ReadUpdateReply(R"({"status":"success","update_available":"True"})", true).kind,
            UpdateVerdict::Kind::kUpToDate);

  for (const char* available : {R"({"status": "success", "update_available":  true , "version": "1.6"})",
                                R"({"status":"success","update_available":"true","version":"1.6"})"}) {
    const UpdateVerdict verdict = ReadUpdateReply(available, true);
    EXPECT_EQ(verdict.kind, UpdateVerdict::Kind::kUpdateAvailable) << available;
    EXPECT_EQ(verdict.latestVersion, L"1.6") << available;
  }
}

TEST(ReadUpdateReply, TheLatestVersionObjectOverridesAnEarlierVersion) {
  EXPECT_EQ(ReadUpdateReply(R"({"status":"success","update_available":true,"current":{"version":"1.5.2.1"},)"
                            R"("latest_version":{"version":"2.0.0","size":5}})",
                            true)
                .latestVersion,
            L"2.0.0");
  EXPECT_EQ(ReadUpdateReply(R"({"status":"success","update_available":true,"version":"1.9",)"
                            R"("latest_version": {"notes":"none"}, "x":{"version":"3"}})",
                            true)
                .latestVersion,
            L"1.9")
      << "a version after the object's first '}' is not the object's";
  EXPECT_EQ(ReadUpdateReply(R"({"status":"success","update_available":true,"latest_version":"2.1"})", true)
                .latestVersion,
            L"")
      << "latest_version must be an object";
}

TEST(ReadUpdateReply, AReplyCutAtTheLimitIsMalformed) {
  const std::string good = R"({"status":"success","update_available":true,"version":"9"})";
  const UpdateVerdict cut = ReadUpdateReply(good, false);
  EXPECT_EQ(cut.kind, UpdateVerdict::Kind::kServerError);
  EXPECT_EQ(cut.message, L"");
}

TEST(UpdateRequestHeaders, FourLinesWithoutAFinalBreak) {
  EXPECT_EQ(UpdateRequestHeaders(L"1.5.2.1"),
            L"Program-Name: zinq\r\nProgram-Version: 1.5.2.1\r\nProgram-Beta: false\r\n"
            L"Program-Version-Internal: false");
}

TEST(ChooseUpdateServer, TheMakerUnlessAnHttpsOverrideSaysOtherwise) {
  const auto maker = ChooseUpdateServer(L"updates.example", L"");
  ASSERT_TRUE(maker);
  EXPECT_EQ(maker->host, L"updates.example");
  EXPECT_EQ(maker->port, 443);
  for (const wchar_t* value : {L"localhost:8443", L"https://localhost:8443", L"HTTPS://localhost:8443/"}) {
    const auto server = ChooseUpdateServer(L"updates.example", value);
    ASSERT_TRUE(server) << value;
    EXPECT_EQ(server->host, L"localhost");
    EXPECT_EQ(server->port, 8443);
  }
  EXPECT_EQ(ChooseUpdateServer(L"updates.example", L"localhost")->port, 443);
  for (const wchar_t* refused : {L"http://localhost:8443", L"ftp://localhost", L"localhost:0", L"localhost:65536",
                                 L"localhost:", L"localhost:84a3", L":8443", L"localhost/api", L"https://"}) {
    EXPECT_FALSE(ChooseUpdateServer(L"updates.example", refused)) << refused;
  }
}

}  // namespace
}  // namespace vistrel
