// Text conversions, the text the program writes (log lines, the log's path and output file names),
// and the text it reads from and sends to the update service.
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "capture/capture_naming.h"
#include "core/file_names.h"
#include "core/log_format.h"
#include "core/text.h"
#include "update/update_reply.h"

namespace vistrel {
namespace {

TEST(Utf8, RoundTripsEveryPlaneKeepsNulsAndReplacesWhatIsMalformed) {
  const std::pair<std::wstring, std::string> texts[] = {
      {L"a\u00e9\u0416\u65e5\U0001F600z", "a\xC3\xA9\xD0\x96\xE6\x97\xA5\xF0\x9F\x98\x80z"},
      {std::wstring(L"a\0b", 3), std::string("a\0b", 3)}};
  for (const auto& [wide, utf8] : texts) {
    EXPECT_EQ(WideToUtf8(wide), utf8);
    EXPECT_EQ(Utf8ToWide(utf8), wide);
  }
  // A lone continuation byte, an overlong '/', an encoded surrogate, a code point past U+10FFFF,
  // and a sequence cut off at the end of the input.
  EXPECT_EQ(Utf8ToWide("\x80"), L"\uFFFD");
  EXPECT_EQ(Utf8ToWide("\xC0\xAF"), L"\uFFFD");
  EXPECT_EQ(Utf8ToWide("\xED\xA0\x80"), L"\uFFFD");
  EXPECT_EQ(Utf8ToWide("\xF4\x90\x80\x80"), L"\uFFFD");
  EXPECT_EQ(Utf8ToWide("ab\xE6\x97"), L"ab\uFFFD");
  // A broken sequence does not swallow the valid character that follows it.
  EXPECT_EQ(Utf8ToWide("\xE6x"), L"\uFFFDx");
  // Unpaired surrogates in wide text.
  EXPECT_EQ(WideToUtf8(std::wstring{L'a', wchar_t(0xD800), L'b', wchar_t(0xDC00)}), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
}

TEST(CutText, KeepsShortTextAndCutsLongText) {
  EXPECT_EQ(CutText(L"abc", 5), L"abc");
  EXPECT_EQ(CutText(L"abcdef", 3), L"abc");
  EXPECT_EQ(CutText(std::wstring(300, L'x'), kMaxPathChars).size(), 259u);
  EXPECT_EQ(CutText(L"", 0), L"");
}

TEST(Log, LinesHaveAZeroPaddedTimestampUtf8TextAndCrLfAndTheFileLiesBesideTheSettings) {
  EXPECT_EQ(FormatLogLine({2026, 1, 2, 3, 4, 5}, L"Application starting up."),
            "[2026-01-02 03:04:05] Application starting up.\r\n");
  EXPECT_EQ(FormatLogLine({999, 12, 31, 23, 59, 59}, L""), "[0999-12-31 23:59:59] \r\n");
  EXPECT_EQ(FormatLogLine({2026, 1, 1, 0, 0, 0}, L"a\nb\r\nc"), "[2026-01-01 00:00:00] a\r\nb\r\nc\r\n");
  EXPECT_EQ(FormatLogLine({2026, 1, 1, 0, 0, 0}, L"\u0412 \u00e9"), "[2026-01-01 00:00:00] \xD0\x92 \xC3\xA9\r\n");
  // The log lies beside the settings file, or else in the temporary folder.
  EXPECT_EQ(LogPathFor(L"C:\\Users\\a\\AppData\\Roaming\\Orvanta\\vistrel\\config.ini", L"C:\\Temp\\"),
            L"C:\\Users\\a\\AppData\\Roaming\\Orvanta\\vistrel\\log.txt");
  EXPECT_EQ(LogPathFor(L"", L"C:\\Users\\a\\Temp\\"), L"C:\\Users\\a\\Temp\\Vistrel_log.txt");
  EXPECT_EQ(LogPathFor(L"", L"C:\\Temp"), L"C:\\Temp\\Vistrel_log.txt");
  // An overlong settings path is taken as at most 259 characters, as a path buffer holds it; its
  // folder part then ends before that.
  const std::wstring path = LogPathFor(L"C:\\" + std::wstring(300, L'f') + L"\\config.ini", L"C:\\Temp\\");
  EXPECT_LE(path.size(), 259u + 8u);
  EXPECT_EQ(path.substr(path.size() - 8), L"\\log.txt");
  // A full log is kept beside the new one under its name with ".old" before the extension.
  EXPECT_EQ(OldLogPath(L"C:\\a.b\\log.txt"), L"C:\\a.b\\log.old.txt");
  EXPECT_EQ(OldLogPath(L"C:\\a.b\\log"), L"C:\\a.b\\log.old");
  // A run of one message is one line and a count, written when another message comes.
  LogRepeats repeats;
  using Lines = std::vector<std::wstring>;
  EXPECT_EQ(repeats.LinesFor(L"a"), Lines{L"a"});
  EXPECT_EQ(repeats.LinesFor(L"b"), Lines{L"b"});
  EXPECT_EQ(repeats.LinesFor(L"b"), Lines{});
  EXPECT_EQ(repeats.LinesFor(L"a"), (Lines{L"Last message repeated 1 more time.", L"a"}));
}

TEST(FileNames, TimestampPrefixByCaptureTypeForbiddenCharactersAndCounter) {
  EXPECT_EQ(FormatFileTimestamp({2026, 3, 5, 9, 5, 3}), L"2026-03-05_09-05-03");
  EXPECT_EQ(FormatFileTimestamp({2026, 12, 31, 23, 59, 59}), L"2026-12-31_23-59-59");
  const std::wstring stamp = L"2026-03-05_09-05-03";
  EXPECT_EQ(CaptureFileName(1, L"ignored", stamp), L"FullScreen_2026-03-05_09-05-03.png");
  EXPECT_EQ(CaptureFileName(40001, L"", stamp), L"FullScreen_2026-03-05_09-05-03.png");
  EXPECT_EQ(CaptureFileName(3, L"Notes", stamp), L"Notes_2026-03-05_09-05-03.png");
  EXPECT_EQ(CaptureFileName(40003, L"", stamp), L"_2026-03-05_09-05-03.png");
  for (std::uint32_t type : {2u, 4u, 5u, 40002u, 77u}) {
    EXPECT_EQ(CaptureFileName(type, L"Notes", stamp), L"Capture_2026-03-05_09-05-03.png") << type;
  }
  EXPECT_EQ(CaptureFileName(3, L"a/b:c", stamp), L"a_b_c_2026-03-05_09-05-03.png");
  EXPECT_EQ(CaptureFileName(3, L"a\tb\nc\x7f", stamp), L"a_b_c__2026-03-05_09-05-03.png");
  EXPECT_EQ(SanitizeFileName(L"\\/:*?\"<>|ok"), L"_________ok");
  EXPECT_EQ(SanitizeFileName(L"\u0412\u0438\u0434\u0435\u043e - 100%"), L"\u0412\u0438\u0434\u0435\u043e - 100%");
  // A counter for a name already taken goes before the extension.
  EXPECT_EQ(NumberedPath(L"C:\\a\\shot.png", 1), L"C:\\a\\shot.png");
  EXPECT_EQ(NumberedPath(L"C:\\a\\shot.png", 2), L"C:\\a\\shot_2.png");
  EXPECT_EQ(NumberedPath(L"C:\\a\\shot.png", 13), L"C:\\a\\shot_13.png");
  EXPECT_EQ(NumberedPath(L"C:\\a.b\\noext", 2), L"C:\\a.b\\noext_2") << "a dot in a folder is no extension";
  EXPECT_EQ(NumberedPath(L"C:\\a\\x.tar.gz", 3), L"C:\\a\\x.tar_3.gz");
  // The names the program made, found again: time stamped, perhaps numbered.
  for (const wchar_t* name : {L"Recording_2026-03-05_09-05-03.mp4", L"a_b_2026-03-05_09-05-03_12.m4a"}) {
    EXPECT_TRUE(IsTimestampedFileName(name)) << name;
  }
  for (const wchar_t* name : {L"2026-03-05 09-05-03.mp4", L"_2026-03-05_09-05-03.mp4", L"x_2026-03-05_09-05-03",
                              L"x_2026-03-05_09-05-0a.mp4", L"x_2026-03-05_09-05-03_.mp4", L"x_2026-03-05_09-05-03x2.mp4"}) {
    EXPECT_FALSE(IsTimestampedFileName(name)) << name;
  }
}

TEST(FileNames, LongTitlesAreCutToLeaveRoomForACounterAndNeverSplitAPair) {
  const std::wstring stamp = L"2026-03-05_09-05-03";
  const std::wstring folder = L"C:\\Users\\someone with a long name\\Pictures\\Vistrel";
  const std::wstring name = CaptureFileName(3, std::wstring(240, L'x'), stamp, folder);
  // Room left for "_NN" of a name taken already and ".part".
  EXPECT_LE(folder.size() + 1 + name.size() + 11, kMaxPathChars);
  EXPECT_EQ(name.substr(name.size() - stamp.size() - 5), L"_" + stamp + L".png");
  std::wstring emoji;
  for (int i = 0; i < 150; ++i) emoji += L"\U0001F600";
  const std::wstring cut = FitFileNameBase(folder, emoji, L"_" + stamp + L".mp4");
  EXPECT_EQ(Utf8ToWide(WideToUtf8(cut)), cut) << "no lone surrogate at the cut";
  EXPECT_TRUE(FitFileNameBase(std::wstring(300, L'f'), L"title", L".png").empty()) << "no room at all";
}

// The update service -------------------------------------------------------------------------------

TEST(ExtractJsonValue, FirstKeyWinsQuotedValuesEndAtAQuoteAndBareOnesAtACommaOrBrace) {
  const std::string nested = R"({"data":{"version":"1.0"},"latest_version":{"version":"2.0"},"version":"3.0"})";
  // {reply, key, value}
  const std::tuple<std::string, const char*, const wchar_t*> rows[] = {
      // The first, whatever object holds it; an object up to its first '}'.
      {nested, "version", L"1.0"}, {nested, "latest_version", L"{\"version\":\"2.0\""}, {nested, "missing", L""},
      // Only a key counts: the name followed by a colon without space, not the same text as a value.
      {R"({"a":"status","status":"ok"})", "status", L"ok"}, {R"({"status" : "ok"})", "status", L""},
      // A quoted value ends at the next quote, escaped or not, and is empty without one.
      {R"({"message": "Server \"busy\" now"})", "message", L"Server \\"}, {R"({"message":""})", "message", L""},
      {R"({"message":"no end)", "message", L""},
      {"{\"message\":\"caf\xC3\xA9, \xE2\x82\xAC\"}", "message", L"caf\u00e9, \u20ac"},
      {"{\"message\":\t\r\n \"spaced\"}", "message", L"spaced"},
      // Any other value runs to a comma or brace without trailing space; an object to its first one.
      {R"({"update_available": true, "x":1})", "update_available", L"true"}, {R"({"latest":{})", "latest", L"{"},
      {"{\"update_available\":\n    true\n}", "update_available", L"true"},
      {R"({"flag":null,"b":2})", "flag", L"null"}, {R"({"count":-12.5e3})", "count", L"-12.5e3"},
      {R"({"latest":{"version":"2","date":"x"}})", "latest", L"{\"version\":\"2\""},
      // Neither a comma nor a brace after it, or nothing at all after the colon.
      {R"({"update_available": true)", "update_available", L""}, {R"({"update_available":)", "update_available", L""},
      {R"({"update_available":   )", "update_available", L""},
  };
  for (const auto& [reply, key, value] : rows) EXPECT_EQ(ExtractJsonValue(reply, key), value) << reply << " " << key;
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

// The server is the maker's unless an HTTPS override says otherwise: {host, port} or nothing. (The
// four header lines are checked as the test server receives them, end to end.)
TEST(UpdateServer, TheMakersUnlessAnHttpsOverrideNamesAHostAndPort) {
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
