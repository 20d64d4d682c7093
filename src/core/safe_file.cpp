#include "core/safe_file.h"

#include "core/handles.h"

namespace vistrel {
namespace {

DWORD LastErrorOr(DWORD fallback) {
  const DWORD error = GetLastError();
  return error != ERROR_SUCCESS ? error : fallback;
}

// ReplaceFileW keeps the old file's attributes and security; it needs a file to replace. When it
// fails having removed that file (ERROR_UNABLE_TO_MOVE_REPLACEMENT), the move still puts the new
// one in place.
bool PutInPlace(const std::wstring& temporary, const std::wstring& path) {
  if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES &&
      ReplaceFileW(path.c_str(), temporary.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
    return true;
  }
  return MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

}  // namespace

bool FlushToDisk(const std::wstring& path) {
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  return file && FlushFileBuffers(file.get());
}

std::optional<std::string> ReadWholeFile(const std::wstring& path) {
  DWORD error = ERROR_SUCCESS;
  std::string bytes;
  {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return std::nullopt;
    char buffer[8192];
    DWORD read = 0;
    while (true) {
      if (!ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr)) {
        error = LastErrorOr(ERROR_READ_FAULT);
        break;
      }
      if (read == 0) break;
      bytes.append(buffer, read);
    }
  }
  if (error == ERROR_SUCCESS) return bytes;
  SetLastError(error);  // a part of a file is never taken for all of it
  return std::nullopt;
}

DWORD ReplaceFileSafely(const std::wstring& path, const std::function<bool(const std::wstring& temporary)>& fill) {
  const auto slash = path.find_last_of(L"\\/");
  const std::wstring folder = slash == std::wstring::npos ? std::wstring(L".") : path.substr(0, slash);
  wchar_t temporary[MAX_PATH] = {};
  if (!GetTempFileNameW(folder.c_str(), L"vst", 0, temporary)) return LastErrorOr(ERROR_CANNOT_MAKE);
  SetLastError(ERROR_SUCCESS);
  if (fill(temporary) && FlushToDisk(temporary) && PutInPlace(temporary, path)) return ERROR_SUCCESS;
  const DWORD error = LastErrorOr(ERROR_WRITE_FAULT);
  SetFileAttributesW(temporary, FILE_ATTRIBUTE_NORMAL);
  DeleteFileW(temporary);
  return error;
}

bool OverwriteFile(const std::wstring& path, std::string_view bytes) {
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr));
  DWORD written = 0;
  if (!file || !WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) {
    return false;
  }
  if (written != bytes.size()) SetLastError(ERROR_DISK_FULL);
  return written == bytes.size();
}

DWORD WriteFileSafely(const std::wstring& path, std::string_view bytes) {
  return ReplaceFileSafely(path, [bytes](const std::wstring& temporary) { return OverwriteFile(temporary, bytes); });
}

}  // namespace vistrel
