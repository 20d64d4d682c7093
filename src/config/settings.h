// config.ini in %APPDATA%\Orvanta\vistrel: where it is, loading it into the live record and
// saving the live record back.
#pragma once

#include <windows.h>

#include <string>

#include "config/app_config.h"

namespace vistrel {

// Full path of config.ini; creates the settings folder. Empty when the roaming application-data
// folder cannot be resolved (then nothing is read or written).
std::wstring GetConfigPath();

// Fills the live record from config.ini, with defaults for every missing key.
void LoadConfig();

// Writes every key of the live record to config.ini, in file order, replacing the file in one
// step. When that fails the file keeps its earlier settings, the user is told, and it is false.
bool SaveConfig();

// Activates the interface language of a Language setting ("Default" or empty: the system's).
void ActivateLanguage(const std::wstring& setting);

// Writes one key at once (as SaveConfig does) and logs it.
void SaveConfigValue(const std::wstring& section, const std::wstring& key, const std::wstring& value);

// The user's Pictures, Videos and Music folders (empty where unknown).
KnownFolders UserKnownFolders();

// The file-level steps behind LoadConfig and SaveConfig, for a given file. WriteConfigFile keeps
// keys it does not know, makes a new file UTF-16 and returns ERROR_SUCCESS or why it failed (the
// file is then left as it was); it tells no one.
AppConfig ReadConfigFile(const std::wstring& path, const KnownFolders& folders);
DWORD WriteConfigFile(const std::wstring& path, const AppConfig& config);

// The sound of a settings or track file that could not be written or read.
inline constexpr wchar_t kUserFileFailedSound[] = L"file_failed.wav";

// Tells the user (sound, balloon, screen reader) that their file at `path` could not be written
// and logs why. `msgid` says so with one "%s" for the system's reason; both texts are translated.
void TellFileNotSaved(const std::wstring& path, DWORD error, const wchar_t* title, const wchar_t* msgid);

}  // namespace vistrel
