// The settings on Windows: config.ini through the real private-profile functions, multy_tracs.json
// through the real file functions, global hotkey registration and the start-with-Windows entry
// against the real APIs, and the devices a track can record from.
#include <windows.h>
#include <mmdeviceapi.h>
#include <wrl/client.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "config/hotkeys.h"
#include "config/settings.h"
#include "core/handles.h"
#include "core/sound.h"
#include "core/text.h"
#include "i18n/translator.h"
#include "test_support.h"
#include "tracks/device_list.h"
#include "tracks/track_config.h"

namespace vistrel {
namespace {

using testing::ReadBytes;
using testing::TempFolder;
using testing::WriteBytes;

const KnownFolders kFolders{L"C:\\Pics", L"C:\\Vids", L"C:\\Tunes"};

std::wstring Ini(const TempFolder& folder) { return folder / L"config.ini"; }

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
             "[VideoOptions]\r\nVideoFramerate=-5\r\nPlayVideoEventSounds=7\r\n");
  const AppConfig c = ReadConfigFile(Ini(folder), kFolders);
  EXPECT_EQ(c.FullScreen.modifiers, 0u);
  EXPECT_EQ(c.FullScreen.virtualKey, 0x74u) << "the other keys of the binding keep their defaults";
  EXPECT_EQ(c.ScreenshotPath, std::wstring(259, L'p')) << "a long value reaches the settings table whole";
  EXPECT_EQ(c.VideoFramerate, -5) << "out-of-range numbers are kept as read";
  EXPECT_TRUE(c.PlayVideoEventSounds) << "any non-zero number is true";
}

// Which keys, in which order, with which defaults is checked with the settings table; here, that
// they reach a new file as they are.
TEST(ConfigFile, AFreshFileIsUtf16WithEveryKeyOnItsOwnLine) {
  TempFolder folder;
  WriteConfigFile(Ini(folder), DefaultAppConfig(kFolders));
  const std::wstring text = testing::ReadUtf16File(Ini(folder));
  ASSERT_FALSE(text.empty()) << "a new file is UTF-16LE with a byte-order mark";
  EXPECT_NE(text.find(L"[General]\r\nLanguage=Default\r\n"), std::wstring::npos) << "a key a line";
}

// Values of each kind (numbers, switches, hotkeys, paths, sounds and devices), text outside the ANSI
// code page included, and keys of other programs or versions. (That each key reaches its own field
// is seen with the settings table.)
TEST(ConfigFile, ValuesOfEachKindRoundTripInAnyScriptAndUnknownKeysAreKept) {
  TempFolder folder;
  AppConfig config = DefaultAppConfig(kFolders);
  config.Language = L"pt-BR";
  config.IncludeCursor = false;
  config.Mouse = {kModAlt, 0x4D, true};
  config.VideoFramerate = 30;
  config.VideoPath = L"C:\\Users\\\u0410\u043d\u043d\u0430\\\u0412\u0438\u0434\u0435\u043e";
  config.Sounds.RecordingStart = L"\u65e5\u672c.wav";
  config.MicrophoneID = L"{0.0.1.00000000}.{aaaa}";
  WriteConfigFile(Ini(folder), config);  // a new file
  WritePrivateProfileStringW(L"Mine", L"Keep", L"me", Ini(folder).c_str());
  WritePrivateProfileStringW(L"General", L"Future", L"42", Ini(folder).c_str());
  WriteConfigFile(Ini(folder), config);  // over an existing one
  EXPECT_EQ(ReadConfigFile(Ini(folder), kFolders), config);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1) << "no temporary file is left";
  wchar_t value[64] = {};
  GetPrivateProfileStringW(L"Mine", L"Keep", L"", value, 64, Ini(folder).c_str());
  EXPECT_STREQ(value, L"me");
  GetPrivateProfileStringW(L"General", L"Future", L"", value, 64, Ini(folder).c_str());
  EXPECT_STREQ(value, L"42");
}

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
  EXPECT_EQ(GetFileAttributesW(missing.c_str()), INVALID_FILE_ATTRIBUTES) << "a missing file is not created";
  EXPECT_EQ(ReadBytes(unusable), text);
  EXPECT_EQ(ReadBytes(unusable + L".bak"), text) << "kept beside before anything can replace it";
  // Edited by hand since and unusable again: kept before a save replaces it.
  WriteBytes(unusable, "{ edited");
  const MultiTrackConfig saved = TwoTracks();
  ASSERT_TRUE(saved.SaveFile(unusable));
  EXPECT_EQ(ReadBytes(unusable + L".bak"), "{ edited");
  EXPECT_EQ(ReadBytes(unusable), saved.ToJson());
  EXPECT_FALSE(TwoTracks().SaveFile(L"")) << "no path: nothing is written";
}

// Saved over a longer file, as UTF-8 without a mark; read back while another program has it open.
TEST(TrackFile, SavedFileIsTheTextAndLoadsBackEqualEvenWhileOpenElsewhere) {
  TempFolder folder;
  const std::wstring path = folder / L"\u0434\u043e\u0440\u043e\u0436\u043a\u0438.json";
  WriteBytes(path, std::string(10000, ' '));
  const MultiTrackConfig config = TwoTracks();
  ASSERT_TRUE(config.SaveFile(path));
  EXPECT_EQ(ReadBytes(path), config.ToJson()) << "the text alone, without a byte-order mark";

  HANDLE writer = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  MultiTrackConfig reloaded;
  EXPECT_TRUE(reloaded.LoadFile(path));
  CloseHandle(writer);
  EXPECT_EQ(reloaded, config);
}

TEST(TrackFile, DefaultTrackIsNamedInTheActiveLanguage) {
  Translator::init(WideToUtf8(ProgramFolder() + L"\\languages"), "LC_MESSAGES", "messages");
  Translator::instance().setLanguage(L"de");
  ASSERT_EQ(Translator::instance().getLanguageCode(), L"de");
  const TrackConfig translated = DefaultTrack();
  Translator::instance().setLanguage(L"en");
  EXPECT_EQ(translated.name, L"Standardspur (alle Quellen)");
}

// Hotkeys and the start-with-Windows entry --------------------------------------------------------

class Hotkeys : public testing::LoggedTest {
 protected:
  void SetUp() override {
    LoggedTest::SetUp();
    window_.reset(CreateWindowExW(0, L"STATIC", L"hotkey test", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                  nullptr, nullptr, nullptr));
    ASSERT_TRUE(window_);
  }
  void TearDown() override {
    UnregisterAllHotkeys(window_.get());
    LoggedTest::TearDown();
  }

  UniqueWindow window_;
};

// The unassigned binding has no key, whatever its modifiers: it is neither registered nor logged.
TEST_F(Hotkeys, DefaultsRegisterAndASecondRegistrationLogsEachRefusedIdAndKeepsTheFirst) {
  AppConfig config;
  config.Mouse = {kModAlt, 0, true};
  EXPECT_TRUE(RegisterAllHotkeys(window_.get(), config).empty());
  EXPECT_EQ(LogCount("Registering hotkeys from provided config."), 1);
  EXPECT_EQ(LogCount("Failed to register hotkey ID: "), 0) << Log();
  // Each default combination is now taken: registering it elsewhere fails.
  EXPECT_FALSE(RegisterHotKey(nullptr, 100, MOD_CONTROL | MOD_SHIFT, VK_F5));
  EXPECT_FALSE(RegisterHotKey(nullptr, 101, MOD_CONTROL | MOD_ALT | MOD_SHIFT, VK_F4));
  EXPECT_EQ(RegisterAllHotkeys(window_.get(), config), (std::vector<int>{1, 2, 3, 4, 6, 7, 8, 9, 10, 11, 12, 13}));
  for (int id = 1; id <= 13; ++id) {
    EXPECT_EQ(LogCount("Failed to register hotkey ID: " + std::to_string(id) + "\r\n"), id == 5 ? 0 : 1) << id;
  }
  EXPECT_FALSE(RegisterHotKey(nullptr, 100, MOD_CONTROL | MOD_SHIFT, VK_F6)) << "still registered";
  UnregisterAllHotkeys(window_.get());
  EXPECT_TRUE(RegisterHotKey(nullptr, 100, MOD_CONTROL | MOD_SHIFT, VK_F5));
  UnregisterHotKey(nullptr, 100);
}

TEST_F(Hotkeys, WindowsKeyFlagIsPartOfTheRegistration) {
  AppConfig config;
  for (int id = 1; id <= 13; ++id) *BindingForHotkey(config, id) = {};
  config.FullScreen = {kModAlt, 'S', true};
  RegisterAllHotkeys(window_.get(), config);
  EXPECT_TRUE(RegisterHotKey(nullptr, 100, MOD_ALT, 'S')) << "plain Alt+S is still free";
  UnregisterHotKey(nullptr, 100);
  EXPECT_FALSE(RegisterHotKey(nullptr, 100, MOD_ALT | MOD_WIN, 'S'));
}

TEST(HotkeyText, PrefixesInFixedOrderThenTheKeyName) {
  EXPECT_EQ(HotkeyToText({kModCtrl | kModShift, VK_F5, false}), L"Ctrl + Shift + F5");
  EXPECT_EQ(HotkeyToText({kModAlt, 'S', true}), L"Win + Alt + S");
  EXPECT_EQ(HotkeyToText({kModAlt | kModCtrl | kModShift, VK_F10, false}), L"Ctrl + Shift + Alt + F10");
  EXPECT_EQ(HotkeyToText({kModCtrl, 0, true}), L"None");
  // Keys of the extended block share their scan codes with keypad keys but keep their own names.
  EXPECT_EQ(HotkeyToText({kModCtrl, VK_UP, false}), L"Ctrl + Up");
  EXPECT_EQ(HotkeyToText({0, VK_HOME, false}), L"Home");
  EXPECT_EQ(HotkeyToText({0, VK_DELETE, false}), L"Delete");
  for (UINT vk : {VK_UP, VK_DOWN, VK_LEFT, VK_RIGHT, VK_HOME, VK_END, VK_PRIOR, VK_NEXT, VK_INSERT, VK_DELETE, VK_DIVIDE}) {
    wchar_t keypad[50] = {};
    GetKeyNameTextW(static_cast<LONG>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC) << 16), keypad, 50);
    EXPECT_NE(HotkeyToText({0, vk, false}), keypad) << vk << " is named as the keypad key";
  }
}

class RunAtStartup : public ::testing::Test {
 protected:
  void SetUp() override { Clean(); }
  void TearDown() override { Clean(); }
  static void Clean() {
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) RegDeleteKeyValueW(root, kRunKey, L"Vistrel");
  }
  static void Write(HKEY root, const std::wstring& value) {
    UniqueRegKey key;
    ASSERT_EQ(RegCreateKeyExW(root, kRunKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key.get(), L"Vistrel", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  }
  static std::wstring Program() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
  }
  // The current user's entry; empty when there is none.
  static std::wstring UserEntry() {
    wchar_t value[MAX_PATH] = {};
    DWORD size = sizeof value;
    RegGetValueW(HKEY_CURRENT_USER, kRunKey, L"Vistrel", RRF_RT_REG_SZ, nullptr, value, &size);
    return value;
  }
  static constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
};

TEST_F(RunAtStartup, OnWritesTheProgramPathOffRemovesItAndOtherSpellingsAndMachineWideEntriesCount) {
  EXPECT_FALSE(IsRunAtStartup());
  SetRunAtStartup(true);
  EXPECT_TRUE(IsRunAtStartup());
  EXPECT_EQ(UserEntry(), Program());
  SetRunAtStartup(false);
  EXPECT_FALSE(IsRunAtStartup());
  EXPECT_EQ(UserEntry(), L"");

  // The path quoted and in any case is this program; another path is not.
  std::wstring upper = Program();
  for (auto& c : upper) c = towupper(c);
  Write(HKEY_CURRENT_USER, L"\"" + upper + L"\"");
  EXPECT_TRUE(IsRunAtStartup());
  Write(HKEY_CURRENT_USER, L"C:\\Other\\Vistrel.exe");
  EXPECT_FALSE(IsRunAtStartup());

  // A machine-wide entry counts, and is removed when allowed.
  Clean();
  Write(HKEY_LOCAL_MACHINE, Program());
  EXPECT_TRUE(IsRunAtStartup());
  SetRunAtStartup(true);  // already on: nothing written for the current user
  EXPECT_EQ(UserEntry(), L"");
  SetRunAtStartup(false);
  EXPECT_FALSE(IsRunAtStartup());
}

// Device lists -------------------------------------------------------------------------------------

void ExpectDistinctNamedEntries(const std::vector<DeviceEntry>& list) {
  std::set<std::wstring> ids;
  for (const DeviceEntry& entry : list) {
    EXPECT_FALSE(entry.id.empty());
    EXPECT_FALSE(entry.name.empty()) << entry.id;
    EXPECT_TRUE(ids.insert(entry.id).second) << "listed twice: " << entry.id;
  }
}

TEST(DeviceList, AudioListsStartWithTheDefaultDeviceThenDistinctEndpoints) {
  for (const int flow : {static_cast<int>(eCapture), static_cast<int>(eRender)}) {
    const std::vector<DeviceEntry> list = EnumerateAudioDevices(flow);
    ASSERT_FALSE(list.empty());
    EXPECT_EQ(list[0].id, L"Default");
    EXPECT_EQ(list[0].name, L"Default Device");
    ExpectDistinctNamedEntries(list);
    // That they are Windows' own identifiers and names is checked end to end, in the track editor.
  }
}

// The test machines have no video-capture device: asking for cameras must not fail or invent one.
TEST(DeviceList, DisplaysAreNumberedByTheirPositionAfterThePrimaryEntryAndNoCameraIsInvented) {
  EXPECT_TRUE(EnumerateCameras().empty());
  const std::vector<DeviceEntry> list = EnumerateDisplays();
  ASSERT_GE(list.size(), 2u) << "the test display has at least one output";
  EXPECT_EQ(list[0].id, L"Default");
  EXPECT_EQ(list[0].name, L"Primary Display");
  for (size_t i = 1; i < list.size(); ++i) {
    EXPECT_EQ(list[i].id.rfind(L"\\\\.\\DISPLAY", 0), 0u) << list[i].id;
  }
  ExpectDistinctNamedEntries(list);
}

}  // namespace
}  // namespace vistrel
