// multy_tracs.json on disk. The text itself is made and read in track_config.cpp.
#include <windows.h>

#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "config/settings.h"
#include "core/balloon.h"
#include "core/log.h"
#include "core/safe_file.h"
#include "core/sound.h"
#include "core/system_error.h"
#include "i18n/tr.h"
#include "tracks/track_config.h"

namespace vistrel {
namespace {

// A file that cannot be used is kept beside it under this name before anything replaces it.
std::wstring BackupPathFor(const std::wstring& path) { return path + L".bak"; }

bool Usable(const std::string& bytes) {
  MultiTrackConfig scratch;
  return scratch.LoadJson(bytes);
}

// Tells the user about an unusable file, once for each content such a file has had.
void TellUnusable(const std::wstring& path, const std::string& bytes, bool replacing, bool kept,
                  const std::wstring& backup) {
  static std::mutex lock;
  static std::optional<std::size_t> told;
  const std::size_t content = std::hash<std::string>{}(bytes);
  {
    std::lock_guard guard(lock);
    if (told == content) return;
    told = content;
  }
  if (kept) LogMessage(L"[WARNING] " + path + L" could not be read; it was kept as " + backup + L".");
  std::wstring text =
      replacing ? tr(L"The track list in multy_tracs.json could not be read; the tracks shown in the dialog replace it.")
                : tr(L"The track list in multy_tracs.json could not be read, so the default track is used.");
  if (kept) text += L" " + tr(L"The file was kept as %s.", backup.substr(backup.find_last_of(L'\\') + 1));
  PlaySoundAsync(kUserFileFailedSound);
  ShowBalloon(tr(L"Track List Unreadable"), text);
}

// Keeps an unusable file's content as the backup (unless the backup holds it already) and tells
// the user, who is about to lose it when `replacing`. False, with the last error set, when the
// backup could not be written.
bool KeepUnusable(const std::wstring& path, const std::string& bytes, bool replacing) {
  const std::wstring backup = BackupPathFor(path);
  DWORD error = ERROR_SUCCESS;
  if (ReadWholeFile(backup) != bytes) error = WriteFileSafely(backup, bytes);
  if (error != ERROR_SUCCESS) {
    LogMessage(L"[ERROR] " + path + L" could not be read, nor kept as " + backup + L": " + SystemErrorText(error));
  }
  TellUnusable(path, bytes, replacing, error == ERROR_SUCCESS, backup);
  SetLastError(error);
  return error == ERROR_SUCCESS;
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
  if (LoadJson(*text)) return true;
  KeepUnusable(path, *text, false);
  return false;
}

bool MultiTrackConfig::SaveFile(const std::wstring& path) const {
  if (path.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  // An unusable file that has changed since it was read (edited by hand meanwhile) is kept too.
  const std::optional<std::string> old = ReadWholeFile(path);
  if (!old && GetLastError() != ERROR_FILE_NOT_FOUND) return false;  // there, but cannot be read: kept
  if (old && !Usable(*old) && !KeepUnusable(path, *old, true)) return false;
  const DWORD error = WriteFileSafely(path, ToJson());
  SetLastError(error);
  return error == ERROR_SUCCESS;
}

void MultiTrackConfig::Load() { LoadFile(GetMultiTrackConfigPath()); }

bool MultiTrackConfig::Save() const {
  const std::wstring path = GetMultiTrackConfigPath();
  if (path.empty() || SaveFile(path)) return true;  // without a settings folder nothing is kept
  TellFileNotSaved(path, GetLastError(), N_(L"Tracks Not Saved"),
                   N_(L"The track list could not be saved: %s The file keeps the tracks it had. Free some disk "
                      "space, then make the change again."));
  return false;
}

}  // namespace vistrel
