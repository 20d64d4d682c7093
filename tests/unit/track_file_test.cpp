// multy_tracs.json on disk, through the real file functions.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "core/sound.h"
#include "core/text.h"
#include "i18n/translator.h"
#include "temp_folder.h"
#include "tracks/track_config.h"

namespace vistrel {
namespace {

using testing::ReadBytes;
using testing::TempFolder;
using testing::WriteBytes;

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

MultiTrackConfig TwoTracks() {
  MultiTrackConfig config;
  config.Tracks().push_back({L"Micr\u00f3fono \u0417\u0432\u0443\u043a \U0001F3A4", NewTrackGuid(),
                             kTrackAudioInput, L"", L"{0.0.1.00000000}.{1c5a2c5e}", L"", 80, 100});
  config.Tracks().push_back({L"Screen", NewTrackGuid(), kTrackVideoOnly, L"\\\\.\\DISPLAY1", L"", L"", 100, 100});
  return config;
}

TEST(TrackFile, MissingOrUnusableFileGivesTheDefaultTrackAndIsLeftAsItIs) {
  TempFolder folder;
  const std::wstring missing = folder / L"multy_tracs.json", unusable = folder / L"unusable.json";
  std::string text = TwoTracks().ToJson();
  const std::string volume = "\"input_volume\": 80";
  text.replace(text.find(volume), volume.size(), "\"input_volume\": \"80\"");
  WriteBytes(unusable, text);
  for (const std::wstring& path : {missing, std::wstring(), unusable}) {
    MultiTrackConfig config = TwoTracks();
    EXPECT_FALSE(config.LoadFile(path));
    ASSERT_EQ(config.Tracks().size(), 1u);
    EXPECT_EQ(config.Tracks()[0].name, L"Default Track (All sources)");
  }
  EXPECT_FALSE(Exists(missing));
  EXPECT_EQ(ReadBytes(unusable), text);
  EXPECT_FALSE(TwoTracks().SaveFile(L"")) << "no path: nothing is written";
}

// Saved over a longer file, as UTF-8 without a mark; read back while another program has it open.
TEST(TrackFile, SavedFileIsTheTextAndLoadsBackEqualEvenWhileOpenElsewhere) {
  TempFolder folder;
  const std::wstring path = folder / L"\u0434\u043e\u0440\u043e\u0436\u043a\u0438.json";
  WriteBytes(path, std::string(10000, ' '));
  const MultiTrackConfig config = TwoTracks();
  ASSERT_TRUE(config.SaveFile(path));
  const std::string bytes = ReadBytes(path);
  EXPECT_EQ(bytes, config.ToJson());
  EXPECT_EQ(bytes.substr(0, 3), "{\r\n") << "no byte-order mark";
  EXPECT_NE(bytes.find("\"name\": \"Micr\xC3\xB3" "fono \xD0\x97\xD0\xB2\xD1\x83\xD0\xBA \xF0\x9F\x8E\xA4\""),
            std::string::npos);

  HANDLE writer = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  MultiTrackConfig reloaded;
  EXPECT_TRUE(reloaded.LoadFile(path));
  CloseHandle(writer);
  EXPECT_EQ(reloaded, config);
}

TEST(TrackFile, LivesBesideConfigIni) {
  const std::wstring path = GetMultiTrackConfigPath();
  const std::wstring tail = L"\\Orvanta\\vistrel\\multy_tracs.json";
  ASSERT_GT(path.size(), tail.size());
  EXPECT_EQ(path.substr(path.size() - tail.size()), tail);
  const DWORD folder = GetFileAttributesW(path.substr(0, path.rfind(L'\\')).c_str());
  EXPECT_TRUE(folder != INVALID_FILE_ATTRIBUTES && (folder & FILE_ATTRIBUTE_DIRECTORY));
}

TEST(TrackFile, DefaultTrackIsNamedInTheActiveLanguage) {
  Translator::init(WideToUtf8(ProgramFolder() + L"\\languages"), "LC_MESSAGES", "messages");
  Translator::instance().setLanguage(L"de");
  ASSERT_EQ(Translator::instance().getLanguageCode(), L"de");
  const TrackConfig translated = DefaultTrack();
  Translator::instance().setLanguage(L"en");
  EXPECT_EQ(translated.name, L"Standardspur (alle Quellen)");
}

}  // namespace
}  // namespace vistrel
