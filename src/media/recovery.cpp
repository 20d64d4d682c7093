#include "media/recovery.h"

#include <windows.h>

#include <algorithm>
#include <system_error>

#include "core/file_names.h"
#include "core/handles.h"
#include "core/log.h"
#include "media/fragmented_file.h"

namespace vistrel {
namespace {

constexpr wchar_t kPrefix[] = L"Recovery: ";

bool EndsWith(const std::wstring& text, const wchar_t* end) {
  const std::wstring tail = end;
  return text.size() >= tail.size() && _wcsicmp(text.c_str() + text.size() - tail.size(), tail.c_str()) == 0;
}

// A recording's name: "<base>_<time stamp>.mp4" or ".m4a".
bool IsRecordingName(const std::wstring& name) {
  return (EndsWith(name, L".mp4") || EndsWith(name, L".m4a")) && IsTimestampedFileName(name);
}

// The files of `folder` (not its sub-folders).
std::vector<std::wstring> FileNames(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found{};
  const UniqueFindHandle search(FindFirstFileW((folder + L"\\*").c_str(), &found));
  if (!search) return names;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.emplace_back(found.cFileName);
  } while (FindNextFileW(search.get(), &found));
  return names;
}

// Removes the temporary file of a copy cut short, unless someone has it open (a copy under way).
void RemoveStale(const std::wstring& path) {
  UniqueFile file(CreateFileW(path.c_str(), DELETE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  if (file) LogMessage(std::wstring(kPrefix) + L"Removed '" + path + L"', left by a copy that was cut short.");
}

}  // namespace

void Recovery::Start(std::vector<std::wstring> folders, Finished finished) {
  Stop();
  stop_.store(false);
  try {
    thread_ = std::thread(
        [this, folders = std::move(folders), finished = std::move(finished)] { Run(folders, finished); });
  } catch (const std::system_error&) {
    LogMessage(std::wstring(kPrefix) + L"[ERROR] Could not start looking for unfinished recordings.");
  }
}

void Recovery::Stop() {
  stop_.store(true);
  if (thread_.joinable()) thread_.join();
}

void Recovery::Run(const std::vector<std::wstring>& folders, const Finished& finished) {
  std::vector<std::wstring> done;
  int unfinished = 0;
  std::vector<std::wstring> seen;
  for (const std::wstring& folder : folders) {
    const auto same = [&](const std::wstring& other) { return _wcsicmp(other.c_str(), folder.c_str()) == 0; };
    if (std::find_if(seen.begin(), seen.end(), same) != seen.end()) continue;  // video and audio share it
    seen.push_back(folder);
    const std::vector<std::wstring> names = FileNames(folder);
    for (const std::wstring& name : names) {
      if (EndsWith(name, L".part") && IsRecordingName(name.substr(0, name.size() - 5))) {
        RemoveStale(folder + L"\\" + name);
      }
    }
    for (const std::wstring& name : names) {
      if (stop_.load()) return;
      if (!IsRecordingName(name)) continue;
      const std::wstring path = folder + L"\\" + name;
      const HRESULT hr = FinishFragmentedFile(kPrefix, path, FragmentFacts{}, &stop_);
      if (hr != S_FALSE) ++unfinished;
      if (hr == S_OK) {
        LogMessage(std::wstring(kPrefix) + L"'" + path +
                   L"' was left unfinished by an earlier run; it is an ordinary file now.");
        done.push_back(name);
      }
    }
  }
  if (stop_.load()) return;
  LogMessage(std::wstring(kPrefix) + L"Done: " + std::to_wstring(unfinished) + L" unfinished recordings found, " +
             std::to_wstring(done.size()) + L" finished.");
  if (!done.empty()) finished(done);
}

}  // namespace vistrel
