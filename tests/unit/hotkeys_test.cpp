// Global hotkey registration and the start-with-Windows entry, against the real APIs.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "config/hotkeys.h"
#include "core/handles.h"
#include "core/log.h"
#include "temp_folder.h"

namespace vistrel {
namespace {

using testing::ReadBytes;
using testing::TempFolder;

class Hotkeys : public ::testing::Test {
 protected:
  void SetUp() override {
    UseLogFile(folder_ / L"log.txt");
    window_.reset(CreateWindowExW(0, L"STATIC", L"hotkey test", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                  nullptr, nullptr, nullptr));
    ASSERT_TRUE(window_);
  }
  void TearDown() override {
    UnregisterAllHotkeys(window_.get());
    UseLogFile(L"");
  }
  std::string Log() const { return ReadBytes(folder_ / L"log.txt"); }
  static int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  }

  TempFolder folder_;
  UniqueWindow window_;
};

TEST_F(Hotkeys, DefaultsRegisterAndTheUnassignedOneIsNeitherRegisteredNorLogged) {
  RegisterAllHotkeys(window_.get(), AppConfig{});
  const std::string log = Log();
  EXPECT_EQ(Count(log, "Registering hotkeys from provided config."), 1);
  EXPECT_EQ(Count(log, "Failed to register hotkey ID: "), 0) << log;
  // Each default combination is now taken: registering it elsewhere fails.
  EXPECT_FALSE(RegisterHotKey(nullptr, 100, MOD_CONTROL | MOD_SHIFT, VK_F5));
  EXPECT_FALSE(RegisterHotKey(nullptr, 101, MOD_CONTROL | MOD_ALT | MOD_SHIFT, VK_F4));
  UnregisterAllHotkeys(window_.get());
  EXPECT_TRUE(RegisterHotKey(nullptr, 100, MOD_CONTROL | MOD_SHIFT, VK_F5));
  UnregisterHotKey(nullptr, 100);
}

TEST_F(Hotkeys, RegisteringTwiceLogsEachRefusedIdAndKeepsTheFirstRegistrations) {
  AppConfig config;
  config.Mouse = {kModAlt, 0, true};  // no key: skipped whatever the modifiers
  RegisterAllHotkeys(window_.get(), config);
  RegisterAllHotkeys(window_.get(), config);
  const std::string log = Log();
  for (int id = 1; id <= 13; ++id) {
    const std::string line = "Failed to register hotkey ID: " + std::to_string(id) + "\r\n";
    EXPECT_EQ(Count(log, line), id == 5 ? 0 : 1) << id;
  }
  EXPECT_FALSE(RegisterHotKey(nullptr, 100, MOD_CONTROL | MOD_SHIFT, VK_F6)) << "still registered";
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
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
      RegDeleteKeyValueW(root, kRunKey, L"Vistrel");
    }
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
  static constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
};

TEST_F(RunAtStartup, EnableWritesTheProgramPathAndDisableRemovesIt) {
  EXPECT_FALSE(IsRunAtStartup());
  SetRunAtStartup(true);
  EXPECT_TRUE(IsRunAtStartup());
  wchar_t value[MAX_PATH] = {};
  DWORD size = sizeof value;
  ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, kRunKey, L"Vistrel", RRF_RT_REG_SZ, nullptr, value, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(std::wstring(value), Program());
  SetRunAtStartup(false);
  EXPECT_FALSE(IsRunAtStartup());
}

TEST_F(RunAtStartup, QuotedPathInAnyCaseCounts) {
  std::wstring upper = Program();
  for (auto& c : upper) c = towupper(c);
  Write(HKEY_CURRENT_USER, L"\"" + upper + L"\"");
  EXPECT_TRUE(IsRunAtStartup());
  Write(HKEY_CURRENT_USER, L"C:\\Other\\Vistrel.exe");
  EXPECT_FALSE(IsRunAtStartup());
}

TEST_F(RunAtStartup, MachineWideEntryCountsAndIsRemovedWhenAllowed) {
  Write(HKEY_LOCAL_MACHINE, Program());
  EXPECT_TRUE(IsRunAtStartup());
  SetRunAtStartup(true);  // already on: nothing written for the current user
  EXPECT_NE(RegGetValueW(HKEY_CURRENT_USER, kRunKey, L"Vistrel", RRF_RT_REG_SZ, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  SetRunAtStartup(false);
  EXPECT_FALSE(IsRunAtStartup());
}

}  // namespace
}  // namespace vistrel
