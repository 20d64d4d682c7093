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

TEST(ConfigFile, MissingAndEmptyFilesGiveEveryDefault) {
  TempFolder folder;
  const AppConfig defaults = DefaultAppConfig(kFolders);
  EXPECT_EQ(ReadConfigFile(Ini(folder), kFolders), defaults);
  WriteBytes(Ini(folder), "");
  const AppConfig loaded = ReadConfigFile(Ini(folder), kFolders);
  EXPECT_EQ(loaded, defaults);
  EXPECT_EQ(loaded.Language, L"Default");
  EXPECT_EQ(loaded.ScreenshotPath, L"C:\\Pics\\Vistrel");
  EXPECT_EQ(loaded.GifPath, L"C:\\Pics\\Vistrel");
  EXPECT_EQ(loaded.AudioPath, L"C:\\Tunes\\Vistrel");
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

TEST(ConfigFile, FreshFileHasEveryKeyInOrderWithItsDefault) {
  TempFolder folder;
  WriteConfigFile(Ini(folder), DefaultAppConfig(kFolders));
  const std::wstring text = ReadUtf16File(Ini(folder));
  ASSERT_FALSE(text.empty()) << "a new file is UTF-16LE with a byte-order mark";

  const std::vector<std::wstring> expected = {
      L"[General]", L"Language=Default", L"IncludeCursor=1", L"AutoCheckUpdates=1",
      L"PlayStartupSound=1", L"AutoOpenedConf=0", L"ScreenReaderNotifications=1",
      L"[Hotkeys]", L"FullScreenModifiers=6", L"FullScreenVK=116", L"FullScreenWinKey=0",
      L"FreeFormModifiers=6", L"FreeFormVK=117", L"FreeFormWinKey=0",
      L"WindowModifiers=6", L"WindowVK=118", L"WindowWinKey=0",
      L"KeyboardModifiers=6", L"KeyboardVK=119", L"KeyboardWinKey=0",
      L"MouseModifiers=0", L"MouseVK=0", L"MouseWinKey=0",
      L"[Options]", L"OutputMode=2", L"PlaySound=1",
      L"[VideoHotkeys]", L"StartStopModifiers=7", L"StartStopVK=116", L"StartStopWinKey=0",
      L"PauseResumeModifiers=7", L"PauseResumeVK=117", L"PauseResumeWinKey=0",
      L"[VideoOptions]", L"VideoMode=0", L"AudioSource=1", L"VideoQuality=2", L"VideoFramerate=60",
      L"SystemAudioVolume=100", L"PlayVideoEventSounds=1",
      L"[AudioHotkeys]", L"StartStopModifiers=7", L"StartStopVK=118", L"StartStopWinKey=0",
      L"PauseResumeModifiers=7", L"PauseResumeVK=119", L"PauseResumeWinKey=0",
      L"[AudioOptions]", L"AudioSource=3", L"AudioQuality=2", L"PlayAudioEventSounds=1",
      L"AudioFormat=0", L"SystemAudioRecVolume=100",
      L"[GifHotkeys]", L"StartStopModifiers=6", L"StartStopVK=121", L"StartStopWinKey=0",
      L"[GifOptions]", L"GifMode=1", L"GifDuration=0", L"PlayGifEventSounds=1",
      L"[AppHotkeys]", L"OpenConfigModifiers=7", L"OpenConfigVK=121", L"OpenConfigWinKey=0",
      L"OpenTracsConfigModifiers=7", L"OpenTracsConfigVK=122", L"OpenTracsConfigWinKey=0",
      L"ExitAppModifiers=7", L"ExitAppVK=115", L"ExitAppWinKey=0",
      L"[Paths]", L"ScreenshotPath=C:\\Pics\\Vistrel", L"VideoPath=C:\\Vids\\Vistrel",
      L"AudioPath=C:\\Tunes\\Vistrel", L"GifPath=C:\\Pics\\Vistrel",
      L"[SoundEffects]", L"MouseLeftClick=mouse_click.wav", L"MouseRightClick=mouse_click.wav",
      L"KeyboardMenu=None", L"KeyboardEnter=None", L"CaptureFullscreen=full.wav",
      L"CaptureFreeform=capture.wav", L"CaptureWindow=window.wav", L"CaptureKeyboard=control.wav",
      L"CaptureMouse=mouse.wav", L"RecordingStart=rec_start.wav", L"RecordingStop=rec_stop.wav",
      L"RecordingPause=rec_pause.wav", L"RecordingResume=rec_resume.wav", L"exit_app=exit.wav",
      L"[Devices]", L"MicrophoneID=Default", L"SystemAudioID=Default", L"ScreenID=Default",
  };
  EXPECT_EQ(Lines(text), expected);
}

TEST(ConfigFile, SaveKeepsUnknownSectionsAndKeys) {
  TempFolder folder;
  WriteBytes(Ini(folder), "[Mine]\r\nKeep=me\r\n[General]\r\nFuture=42\r\n");
  WriteConfigFile(Ini(folder), DefaultAppConfig(kFolders));
  wchar_t value[64] = {};
  GetPrivateProfileStringW(L"Mine", L"Keep", L"", value, 64, Ini(folder).c_str());
  EXPECT_STREQ(value, L"me");
  GetPrivateProfileStringW(L"General", L"Future", L"", value, 64, Ini(folder).c_str());
  EXPECT_STREQ(value, L"42");
}

TEST(ConfigFile, TextOutsideTheAnsiCodePageSurvivesSaveAndLoad) {
  TempFolder folder;
  AppConfig config = DefaultAppConfig(kFolders);
  config.VideoPath = L"C:\\Users\\\u0410\u043d\u043d\u0430\\\u0412\u0438\u0434\u0435\u043e";
  config.ScreenID = L"\\\\.\\DISPLAY2";
  config.Sounds.RecordingStart = L"\u65e5\u672c.wav";
  WriteConfigFile(Ini(folder), config);
  const AppConfig loaded = ReadConfigFile(Ini(folder), kFolders);
  EXPECT_EQ(loaded.VideoPath, config.VideoPath);
  EXPECT_EQ(loaded.Sounds.RecordingStart, config.Sounds.RecordingStart);
}

TEST(ConfigFile, EveryFieldRoundTrips) {
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
  config.Sounds.KeyboardMenu = L"C:\\sounds\\menu.wav";
  config.MicrophoneID = L"{0.0.1.00000000}.{aaaa}";
  WriteConfigFile(Ini(folder), config);
  EXPECT_EQ(ReadConfigFile(Ini(folder), kFolders), config);
}

TEST(ConfigFile, EmptyPathReadsDefaultsAndWritesNothing) {
  EXPECT_EQ(ReadConfigFile(L"", kFolders), DefaultAppConfig(kFolders));
  WriteConfigFile(L"", DefaultAppConfig(kFolders));  // must not crash or write anywhere
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
