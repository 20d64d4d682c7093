// config.ini in %APPDATA%\Orvanta\vistrel: where it is, loading it into the live record and
// saving the live record back.
#pragma once

#include <string>

#include "config/app_config.h"

namespace vistrel {

// Full path of config.ini; creates the settings folder. Empty when the roaming application-data
// folder cannot be resolved (then nothing is read or written).
std::wstring GetConfigPath();

// Fills the live record from config.ini, with defaults for every missing key.
void LoadConfig();

// Writes every key of the live record to config.ini, in file order.
void SaveConfig();

// Activates the interface language of a Language setting ("Default" or empty: the system's).
void ActivateLanguage(const std::wstring& setting);

// Writes one key at once and logs it.
void SaveConfigValue(const std::wstring& section, const std::wstring& key, const std::wstring& value);

// The user's Pictures, Videos and Music folders (empty where unknown).
KnownFolders UserKnownFolders();

// The file-level steps behind LoadConfig and SaveConfig, for a given file.
AppConfig ReadConfigFile(const std::wstring& path, const KnownFolders& folders);
void WriteConfigFile(const std::wstring& path, const AppConfig& config);

}  // namespace vistrel
