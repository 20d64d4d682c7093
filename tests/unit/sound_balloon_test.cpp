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

TEST(Sounds, SilenceAndShippedSoundsPlayQuietlyAndMissingOrFakeFilesAreLoggedFailures) {
  TempFolder folder;
  UseLogFile(folder / L"log.txt");
  for (const wchar_t* silent : {L"None", L"NONE", L"", L"mouse_click.wav", L"rec_resume.wav"}) PlaySoundSync(silent);
  PlaySoundAsync(L"none");
  EXPECT_EQ(ReadBytes(folder / L"log.txt"), "") << "silence is not an error, and the shipped sounds play";

  // Not a wave file: a failure, never the system's default sound.
  testing::WriteBytes(folder / L"fake.wav", "this is not RIFF data");
  PlaySoundSync(L"no_such_sound.wav");
  PlaySoundAsync(folder / L"absent.wav");
  PlaySoundSync(folder / L"fake.wav");
  const std::string log = ReadBytes(folder / L"log.txt");
  for (const std::string& line : {"sync): " + WideToUtf8(ProgramFolder()) + "\\sounds\\no_such_sound.wav",
                                 "async): " + WideToUtf8(folder / L"absent.wav"),
                                 "sync): " + WideToUtf8(folder / L"fake.wav")}) {
    EXPECT_NE(log.find("] Failed to play sound (" + line + "\r\n"), std::string::npos) << line << "\n" << log;
  }
  UseLogFile(L"");
}

TEST(Balloon, TitleAndTextAreCutToTheirFieldsWithoutSplittingAPair) {
  const NOTIFYICONDATAW data = MakeBalloonData(nullptr, std::wstring(300, L'T'), std::wstring(300, L'x'));
  EXPECT_EQ(std::wstring(data.szInfoTitle), std::wstring(63, L'T'));
  EXPECT_EQ(std::wstring(data.szInfo), std::wstring(255, L'x'));
  EXPECT_EQ(data.uFlags, static_cast<UINT>(NIF_INFO));
  EXPECT_EQ(data.dwInfoFlags, static_cast<DWORD>(NIIF_INFO));
  EXPECT_EQ(data.uID, 1u);
  const NOTIFYICONDATAW kept = MakeBalloonData(nullptr, L"Capture Successful", L"C:\\a.png");
  EXPECT_STREQ(kept.szInfoTitle, L"Capture Successful");
  EXPECT_STREQ(kept.szInfo, L"C:\\a.png");
  const NOTIFYICONDATAW cut = MakeBalloonData(nullptr, std::wstring(62, L'a') + L"\U0001F600", L"");  // pair at 62..63
  EXPECT_EQ(std::wstring(cut.szInfoTitle), std::wstring(62, L'a'));
}

}  // namespace
}  // namespace vistrel
