// Any window title, in any folder, gives a file name Windows accepts: none of the characters a
// name cannot hold, no control character, and a whole path that fits with room for a counter.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "capture/capture_naming.h"
#include "core/file_names.h"
#include "core/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::wstring folder = L"C:\\" + std::wstring(data[0] % 250, L'f');
  std::wstring title;
  for (std::size_t i = 1; i + 1 < size; i += 2) title.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
  const std::wstring stamp = L"2026-03-05_09-05-03";
  const std::wstring name = vistrel::CaptureFileName(3, title, stamp, folder);
  for (const wchar_t c : name) {
    if (c < 0x20 || c == 0x7F || std::wstring(L"\\/:*?\"<>|").find(c) != std::wstring::npos) std::abort();
  }
  const std::wstring tail = L"_" + stamp + L".png";
  if (name.size() < tail.size() || name.compare(name.size() - tail.size(), tail.size(), tail) != 0) std::abort();
  const std::wstring base = vistrel::FitFileNameBase(folder, title, tail);
  if (!base.empty() && folder.size() + 1 + base.size() + tail.size() + 11 > vistrel::kMaxPathChars) std::abort();
  if (title.compare(0, base.size(), base) != 0) std::abort();  // a cut, nothing else
  return 0;
}
