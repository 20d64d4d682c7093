#include "core/unique_file.h"

#include <windows.h>

#include "core/file_names.h"
#include "core/handles.h"

namespace vistrel {

std::wstring ClaimNewFile(const std::wstring& path) {
  constexpr int kMaxCandidates = 10000;
  for (int counter = 1; counter <= kMaxCandidates; ++counter) {
    std::wstring candidate = NumberedPath(path, counter);
    UniqueFile file(CreateFileW(candidate.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) return candidate;
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return {};
  }
  return {};
}

}  // namespace vistrel
