#include "config/settings.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <vector>

#include "core/handles.h"
#include "core/log.h"
#include "i18n/system_language.h"
#include "i18n/translator.h"

namespace vistrel {
namespace {

std::wstring KnownFolderPath(REFKNOWNFOLDERID id) {
  CoTaskMem<wchar_t> path;
  if (FAILED(SHGetKnownFolderPath(id, 0, nullptr, path.put())) || !path.get()) return {};
  return path.get();
}

bool EnsureFolder(const std::wstring& folder) {
  if (CreateDirectoryW(folder.c_str(), nullptr)) return true;
  return GetLastError() == ERROR_ALREADY_EXISTS;
}

// A new INI file starts as UTF-16LE with a byte-order mark; the profile functions then keep it in
// UTF-16, so names outside the ANSI code page survive a save.
void EnsureUnicodeFile(const std::wstring& path) {
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;  // exists already, or cannot be created (then the write fails as well)
  const unsigned char bom[] = {0xFF, 0xFE};
  DWORD written = 0;
  WriteFile(file.get(), bom, sizeof bom, &written, nullptr);
}

class IniFileStore final : public SettingsStore {
 public:
  explicit IniFileStore(std::wstring path) : path_(std::move(path)) {}

  int ReadInt(const wchar_t* section, const wchar_t* key, int fallback) override {
    return static_cast<int>(GetPrivateProfileIntW(section, key, fallback, path_.c_str()));
  }

  std::wstring ReadString(const wchar_t* section, const wchar_t* key,
                          const std::wstring& fallback) override {
    // Larger than a path so that the caller, not the API, decides where a long value is cut.
    std::vector<wchar_t> buffer(4096);
    const DWORD length = GetPrivateProfileStringW(section, key, fallback.c_str(), buffer.data(),
                                                  static_cast<DWORD>(buffer.size()), path_.c_str());
    return std::wstring(buffer.data(), length);
  }

  void Write(const wchar_t* section, const wchar_t* key, const std::wstring& value) override {
    WritePrivateProfileStringW(section, key, value.c_str(), path_.c_str());
  }

 private:
  std::wstring path_;
};

}  // namespace

std::wstring GetConfigPath() {
  const std::wstring appData = KnownFolderPath(FOLDERID_RoamingAppData);
  if (appData.empty()) return {};
  const std::wstring maker = appData + L"\\Orvanta";
  const std::wstring folder = maker + L"\\vistrel";
  EnsureFolder(maker);
  EnsureFolder(folder);
  return folder + L"\\config.ini";
}

KnownFolders UserKnownFolders() {
  return {KnownFolderPath(FOLDERID_Pictures), KnownFolderPath(FOLDERID_Videos),
          KnownFolderPath(FOLDERID_Music)};
}

AppConfig ReadConfigFile(const std::wstring& path, const KnownFolders& folders) {
  AppConfig config = DefaultAppConfig(folders);
  if (path.empty()) return config;
  IniFileStore store(path);
  ReadSettings(store, config);
  return config;
}

void WriteConfigFile(const std::wstring& path, const AppConfig& config) {
  if (path.empty()) return;
  EnsureUnicodeFile(path);
  IniFileStore store(path);
  WriteSettings(store, config);
}

void ActivateLanguage(const std::wstring& setting) {
  if (!Translator::initialized()) return;
  const std::wstring code =
      (setting.empty() || setting == L"Default") ? DetectSystemLanguage() : setting;
  LogMessage(L"Attempting to set language to: " + code);
  Translator& translator = Translator::instance();
  translator.setLanguage(code);
  LogMessage(L"Translator active language is now: " + translator.getLanguageName() + L" (code: " +
             translator.getLanguageCode() + L")");
}

void LoadConfig() {
  const std::wstring path = GetConfigPath();
  LogMessage(L"Loading config from: " + path);
  ReplaceConfig(ReadConfigFile(path, UserKnownFolders()));
  ActivateLanguage(LiveConfig().Language);
}

void SaveConfig() {
  const std::wstring path = GetConfigPath();
  LogMessage(L"Saving config to: " + path);
  ActivateLanguage(LiveConfig().Language);
  WriteConfigFile(path, LiveConfig());
}

void SaveConfigValue(const std::wstring& section, const std::wstring& key, const std::wstring& value) {
  const std::wstring path = GetConfigPath();
  if (!path.empty()) {
    EnsureUnicodeFile(path);
    WritePrivateProfileStringW(section.c_str(), key.c_str(), value.c_str(), path.c_str());
  }
  LogMessage(L"Immediately saved single value: [" + section + L"] " + key + L" = " + value);
}

}  // namespace vistrel
