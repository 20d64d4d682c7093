// config.ini through the real private-profile functions.
#include <windows.h>

#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "config/settings.h"
#include "temp_folder.h"

namespace vistrel {
namespace {

using testing::ReadUtf16File;
using testing::TempFolder;
using testing::WriteBytes;

const KnownFolders kFolders{L"C:\\Pics", L"C:\\Vids", L"C:\\Tunes"};

std::wstring Ini(const TempFolder& folder) { return folder / L"config.ini"; }

std::vector<std::wstring> Lines(const std::wstring& text) {
  std::vector<std::wstring> lines;
  std::wstringstream stream(text);
  std::wstring line;
  while (std::getline(stream, line)) {
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

TEST(ConfigFile, MissingEmptyAndUnnamedFilesGiveEveryDefault) {
  TempFolder folder;
  const AppConfig defaults = DefaultAppConfig(kFolders);
  EXPECT_EQ(ReadConfigFile(Ini(folder), kFolders), defaults);
  WriteBytes(Ini(folder), "");
  EXPECT_EQ(ReadConfigFile(Ini(folder), kFolders), defaults);
  EXPECT_EQ(ReadConfigFile(L"", kFolders), defaults);
  WriteConfigFile(L"", defaults);  // must not crash or write anywhere
}

TEST(ConfigFile, BadAndOddValuesAreReadAsTheProgramDocuments) {
  TempFolder folder;
  const std::string longPath(300, 'p');
  WriteBytes(Ini(folder),
             "[Hotkeys]\r\nFullScreenModifiers=abc\r\n"
             "[Paths]\r\nScreenshotPath=" + longPath + "\r\n"
             "[SoundEffects]\r\nCaptureWindow=\r\nCaptureFullscreen=None\r\n"
             "[VideoOptions]\r\nVideoFramerate=-5\r\nPlayVideoEventSounds=7\r\n");
  const AppConfig c = ReadConfigFile(Ini(folder), kFolders);
  EXPECT_EQ(c.FullScreen.modifiers, 0u);
  EXPECT_EQ(c.FullScreen.virtualKey, 0x74u) << "the other keys of the binding keep their defaults";
  EXPECT_EQ(c.ScreenshotPath, std::wstring(259, L'p'));
  EXPECT_EQ(c.Sounds.CaptureWindow, L"window.wav") << "an empty sound value keeps the built-in sound";
  EXPECT_EQ(c.Sounds.CaptureFullscreen, L"None");
  EXPECT_EQ(c.VideoFramerate, -5) << "out-of-range numbers are kept as read";
  EXPECT_TRUE(c.PlayVideoEventSounds) << "any non-zero number is true";
}

// Which keys, in which order, with which defaults is checked with the settings table; here, that
// they reach a new file as they are.
TEST(ConfigFile, AFreshFileIsUtf16WithEveryKeyOnItsOwnLine) {
  TempFolder folder;
  WriteConfigFile(Ini(folder), DefaultAppConfig(kFolders));
  const std::vector<std::wstring> lines = Lines(ReadUtf16File(Ini(folder)));
  ASSERT_FALSE(lines.empty()) << "a new file is UTF-16LE with a byte-order mark";
  EXPECT_EQ(lines.size(), 13u + 82u) << "13 sections, 82 keys";
  EXPECT_EQ(lines.front(), L"[General]");
  EXPECT_EQ(lines[1], L"Language=Default");
  EXPECT_EQ(lines.back(), L"ScreenID=Default");
}

// Every field, text outside the ANSI code page included, and keys of other programs or versions.
TEST(ConfigFile, EveryFieldRoundTripsInAnyScriptAndUnknownKeysAreKept) {
  TempFolder folder;
  AppConfig config = DefaultAppConfig(kFolders);
  config.Language = L"pt-BR";
  config.IncludeCursor = false;
  config.AutoOpenedConf = 1;
  config.ScreenReaderNotifications = false;
  config.Mouse = {kModAlt, 0x4D, true};
  config.OutputMode = 0;
  config.PlayCaptureSound = false;
  config.VideoAudioSource = 3;
  config.AudioSource = 1;
  config.VideoFramerate = 30;
  config.AudioFormat = 2;
  config.GifDuration = 5;
  config.ExitApp = {kModCtrl, 0x51, false};
  config.VideoPath = L"C:\\Users\\\u0410\u043d\u043d\u0430\\\u0412\u0438\u0434\u0435\u043e";
  config.Sounds.RecordingStart = L"\u65e5\u672c.wav";
  config.Sounds.KeyboardMenu = L"C:\\sounds\\menu.wav";
  config.MicrophoneID = L"{0.0.1.00000000}.{aaaa}";
  config.ScreenID = L"\\\\.\\DISPLAY2";
  WriteConfigFile(Ini(folder), config);  // a new file
  WritePrivateProfileStringW(L"Mine", L"Keep", L"me", Ini(folder).c_str());
  WritePrivateProfileStringW(L"General", L"Future", L"42", Ini(folder).c_str());
  WriteConfigFile(Ini(folder), config);  // over an existing one
  EXPECT_EQ(ReadConfigFile(Ini(folder), kFolders), config);
  wchar_t value[64] = {};
  GetPrivateProfileStringW(L"Mine", L"Keep", L"", value, 64, Ini(folder).c_str());
  EXPECT_STREQ(value, L"me");
  GetPrivateProfileStringW(L"General", L"Future", L"", value, 64, Ini(folder).c_str());
  EXPECT_STREQ(value, L"42");
}

TEST(ConfigFile, ConfigPathIsInTheRoamingFolderAndExists) {
  const std::wstring path = GetConfigPath();
  ASSERT_FALSE(path.empty());
  EXPECT_NE(path.find(L"\\Orvanta\\vistrel\\config.ini"), std::wstring::npos) << path.c_str();
  const std::wstring folder = path.substr(0, path.rfind(L'\\'));
  const DWORD attributes = GetFileAttributesW(folder.c_str());
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace
}  // namespace vistrel
