#include "media/output_file.h"

#include "core/file_names.h"
#include "core/handles.h"
#include "core/log.h"
#include "core/system_error.h"
#include "core/unique_file.h"

namespace vistrel {

std::wstring RecordingFolder(const OutputPlace& place) {
  std::wstring folder = place.configured;
  if (folder.empty()) {
    CoTaskMem<wchar_t> known;
    if (FAILED(SHGetKnownFolderPath(*place.known, 0, nullptr, known.put())) || !known.get()) return {};
    folder = std::wstring(known.get()) + L"\\Vistrel";
  }
  while (folder.size() > 3 && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
  return folder;
}

std::wstring ClaimRecordingFile(const OutputPlace& place, const std::wstring& base, const std::wstring& extension) {
  const std::wstring prefix = place.prefix;
  if (place.configured.empty()) {
    LogMessage(prefix + L"Configured " + place.kind + L" path is empty. Falling back to default " + place.knownName +
               L" folder.");
  } else {
    LogMessage(prefix + L"Using configured " + place.kind + L" path: " + place.configured);
  }
  const std::wstring folder = RecordingFolder(place);
  if (folder.empty()) {
    LogMessage(prefix + L"[ERROR] Failed to get user's " + place.knownName + L" directory path.");
    return {};
  }
  if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    const DWORD error = GetLastError();
    LogMessage(prefix + L"[ERROR] Failed to create directory '" + folder + L"'. Error: " + SystemErrorText(error));
    return {};
  }
  SYSTEMTIME now{};
  GetLocalTime(&now);
  const std::wstring rest =
      L"_" + FormatFileTimestamp({now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond}) + L"." +
      extension;
  // A long window title is cut so that the whole path fits.
  const std::wstring name = FitFileNameBase(folder, base, rest) + rest;
  // Claimed atomically: two recordings in the same second get two files.
  const bool separated = folder.back() == L'\\' || folder.back() == L'/';
  const std::wstring path = ClaimNewFile(folder + (separated ? L"" : L"\\") + name);
  if (path.empty()) {
    LogMessage(prefix + L"[ERROR] Could not create a file in '" + folder + L"'.");
  } else {
    LogMessage(prefix + L"Generated final " + place.kind + L" path: " + path);
  }
  return path;
}

}  // namespace vistrel
