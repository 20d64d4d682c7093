// multy_tracs.json on disk. The text itself is made and read in track_config.cpp.
#include <windows.h>

#include <optional>
#include <string>

#include "config/settings.h"
#include "core/handles.h"
#include "tracks/track_config.h"

namespace vistrel {
namespace {

// The whole file, or nothing when it cannot be opened. Other readers and writers are not shut
// out; a read error ends the data where it happened (the text then fails to parse).
std::optional<std::string> ReadWholeFile(const std::wstring& path) {
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::nullopt;
  std::string bytes;
  char buffer[8192];
  DWORD read = 0;
  while (ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) bytes.append(buffer, read);
  return bytes;
}

bool WriteWholeFile(const std::wstring& path, const std::string& bytes) {
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  DWORD written = 0;
  return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

}  // namespace

std::wstring GetMultiTrackConfigPath() {
  return MultiTrackFilePathFor(GetConfigPath());  // GetConfigPath creates the folder
}

bool MultiTrackConfig::LoadFile(const std::wstring& path) {
  const std::optional<std::string> text = path.empty() ? std::nullopt : ReadWholeFile(path);
  if (!text) {
    UseDefaultTracks();
    return false;
  }
  return LoadJson(*text);
}

bool MultiTrackConfig::SaveFile(const std::wstring& path) const {
  return !path.empty() && WriteWholeFile(path, ToJson());
}

void MultiTrackConfig::Load() { LoadFile(GetMultiTrackConfigPath()); }

void MultiTrackConfig::Save() const { SaveFile(GetMultiTrackConfigPath()); }

}  // namespace vistrel
