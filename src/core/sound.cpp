#include "core/sound.h"

#include <windows.h>
#include <mmsystem.h>

#include "core/log.h"
#include "core/sound_path.h"

namespace vistrel {
namespace {

bool Play(const std::wstring& path, DWORD mode) {
  // An asynchronous request may be accepted before the file is even opened, so a missing file is
  // caught here, not only by the player's answer.
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
  return PlaySoundW(path.c_str(), nullptr, SND_FILENAME | SND_NODEFAULT | mode) != FALSE;
}

}  // namespace

std::wstring ProgramFolder() {
  wchar_t buffer[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  std::wstring path(buffer, length < MAX_PATH ? length : 0);
  const auto slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring ResolveSoundPath(const std::wstring& value) {
  return ResolveSoundPathIn(value, ProgramFolder());
}

void PlaySoundAsync(const std::wstring& value) {
  const std::wstring path = ResolveSoundPath(value);
  if (path.empty()) return;
  if (!Play(path, SND_ASYNC)) LogMessage(L"Failed to play sound (async): " + path);
}

void PlaySoundSync(const std::wstring& value) {
  const std::wstring path = ResolveSoundPath(value);
  if (path.empty()) return;
  if (!Play(path, SND_SYNC)) LogMessage(L"Failed to play sound (sync): " + path);
}

}  // namespace vistrel
