// Sound playing failures and balloon texts.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "core/balloon.h"
#include "core/log.h"
#include "core/sound.h"
#include "temp_folder.h"

namespace vistrel {
namespace {

using testing::ReadBytes;
using testing::TempFolder;

TEST(Sounds, SilenceAndMissingFiles) {
  TempFolder folder;
  UseLogFile(folder / L"log.txt");
  PlaySoundSync(L"None");
  PlaySoundSync(L"NONE");
  PlaySoundSync(L"");
  PlaySoundAsync(L"none");
  EXPECT_EQ(ReadBytes(folder / L"log.txt"), "") << "silence is not an error";

  PlaySoundSync(L"no_such_sound.wav");
  PlaySoundAsync(folder / L"absent.wav");
  const std::string log = ReadBytes(folder / L"log.txt");
  const std::string expectedSync =
      "Failed to play sound (sync): " + WideToUtf8(ProgramFolder()) + "\\sounds\\no_such_sound.wav\r\n";
  EXPECT_NE(log.find(expectedSync), std::string::npos) << log;
  EXPECT_NE(log.find("Failed to play sound (async): " + WideToUtf8(folder / L"absent.wav") + "\r\n"),
            std::string::npos)
      << log;
  UseLogFile(L"");
}

TEST(Sounds, NotAWaveFileIsAFailureNotADefaultSound) {
  TempFolder folder;
  UseLogFile(folder / L"log.txt");
  testing::WriteBytes(folder / L"fake.wav", "this is not RIFF data");
  PlaySoundSync(folder / L"fake.wav");
  EXPECT_NE(ReadBytes(folder / L"log.txt").find("Failed to play sound (sync): "), std::string::npos);
  UseLogFile(L"");
}

TEST(Sounds, ShippedSoundsPlay) {
  TempFolder folder;
  UseLogFile(folder / L"log.txt");
  for (const wchar_t* name : {L"mouse_click.wav", L"rec_resume.wav"}) PlaySoundSync(name);
  EXPECT_EQ(ReadBytes(folder / L"log.txt"), "");
  UseLogFile(L"");
}

TEST(Balloon, LongTitleAndTextAreCutToTheirFields) {
  const std::wstring title(300, L'T');
  const std::wstring text(300, L'x');
  const NOTIFYICONDATAW data = MakeBalloonData(nullptr, title, text);
  EXPECT_EQ(std::wstring(data.szInfoTitle), std::wstring(63, L'T'));
  EXPECT_EQ(std::wstring(data.szInfo), std::wstring(255, L'x'));
  EXPECT_EQ(data.uFlags, static_cast<UINT>(NIF_INFO));
  EXPECT_EQ(data.dwInfoFlags, static_cast<DWORD>(NIIF_INFO));
  EXPECT_EQ(data.uID, 1u);
}

TEST(Balloon, ShortTextsAreKeptAndPairsAreNotSplit) {
  const NOTIFYICONDATAW data = MakeBalloonData(nullptr, L"Capture Successful", L"C:\\a.png");
  EXPECT_STREQ(data.szInfoTitle, L"Capture Successful");
  EXPECT_STREQ(data.szInfo, L"C:\\a.png");
  const std::wstring emoji = std::wstring(62, L'a') + L"\U0001F600";  // pair at 62..63
  const NOTIFYICONDATAW cut = MakeBalloonData(nullptr, emoji, L"");
  EXPECT_EQ(std::wstring(cut.szInfoTitle), std::wstring(62, L'a'));
}

}  // namespace
}  // namespace vistrel
