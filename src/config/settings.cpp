#include "config/settings.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <functional>
#include <optional>
#include <vector>

#include "core/balloon.h"
#include "core/handles.h"
#include "core/log.h"
#include "core/safe_file.h"
#include "core/sound.h"
#include "core/system_error.h"
#include "i18n/system_language.h"
#include "i18n/tr.h"
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
    if (!WritePrivateProfileStringW(section, key, value.c_str(), path_.c_str()) && !error_) {
      error_ = GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
    }
  }

  // The first write's failure, or ERROR_SUCCESS.
  DWORD error() const { return error_; }

 private:
  std::wstring path_;
  DWORD error_ = ERROR_SUCCESS;
};

// The current file's content for the copy that the profile functions change: as it is, or for a
// new file a UTF-16LE byte-order mark, so that the profile functions write UTF-16 and names outside
// the ANSI code page survive.
bool StartCopy(const std::wstring& path, const std::wstring& copy) {
  std::optional<std::string> bytes = ReadWholeFile(path);
  if (!bytes && GetLastError() != ERROR_FILE_NOT_FOUND) return false;  // there, but cannot be read
  return OverwriteFile(copy, bytes ? *bytes : std::string("\xFF\xFE"));
}

// Changes config.ini through the profile functions on a copy beside it, which then replaces it:
// whatever fails, the file stays as it was. ERROR_SUCCESS or the error that stopped it.
DWORD UpdateIniFile(const std::wstring& path, const std::function<void(IniFileStore&)>& change) {
  return ReplaceFileSafely(path, [&](const std::wstring& copy) {
    if (!StartCopy(path, copy)) return false;
    IniFileStore store(copy);
    change(store);
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, copy.c_str());  // nothing of it stays cached
    SetLastError(store.error());
    return store.error() == ERROR_SUCCESS;
  });
}

}  // namespace

void TellFileNotSaved(const std::wstring& path, DWORD error, const wchar_t* title, const wchar_t* msgid) {
  const std::wstring reason = SystemErrorText(error);
  LogMessage(L"[ERROR] Could not save " + path + L": " + (reason.empty() ? HresultCode(HRESULT_FROM_WIN32(error)) : reason));
  PlaySoundAsync(kUserFileFailedSound);
  ShowBalloon(tr(title), tr(msgid, reason));
}

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

DWORD WriteConfigFile(const std::wstring& path, const AppConfig& config) {
  if (path.empty()) return ERROR_SUCCESS;
  return UpdateIniFile(path, [&](IniFileStore& store) { WriteSettings(store, config); });
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

namespace {

bool ToldIfNotSaved(const std::wstring& path, DWORD error) {
  if (error == ERROR_SUCCESS) return true;
  TellFileNotSaved(path, error, N_(L"Settings Not Saved"),
                   N_(L"The settings could not be saved: %s The settings file keeps the earlier ones; the new ones "
                      "apply until Vistrel exits. Free some disk space, then save them again."));
  return false;
}

}  // namespace

bool SaveConfig() {
  const std::wstring path = GetConfigPath();
  LogMessage(L"Saving config to: " + path);
  ActivateLanguage(LiveConfig().Language);
  return ToldIfNotSaved(path, WriteConfigFile(path, LiveConfig()));
}

void SaveConfigValue(const std::wstring& section, const std::wstring& key, const std::wstring& value) {
  const std::wstring path = GetConfigPath();
  const DWORD error = path.empty() ? ERROR_SUCCESS : UpdateIniFile(path, [&](IniFileStore& store) {
    store.Write(section.c_str(), key.c_str(), value);
  });
  if (ToldIfNotSaved(path, error)) {
    LogMessage(L"Immediately saved single value: [" + section + L"] " + key + L" = " + value);
  }
}

}  // namespace vistrel
