#include "capture/capture_naming.h"

#include "core/file_names.h"


namespace vistrel {

std::wstring SanitizeFileName(std::wstring_view name) {
  std::wstring out(name);
  for (wchar_t& c : out) {
    if (c < 0x20 || c == 0x7F || std::wstring_view(L"\\/:*?\"<>|").find(c) != std::wstring_view::npos) c = L'_';
  }
  return out;
}

std::wstring CaptureFileName(std::uint32_t captureType, std::wstring_view windowTitle,
                             std::wstring_view timestamp, std::wstring_view folder) {
  std::wstring name;
  switch (captureType) {
    case 1:
    case 40001:
      name = L"FullScreen_";
      break;
    case 3:
    case 40003: {
      const std::wstring rest = L"_" + std::wstring(timestamp) + L".png";
      name = FitFileNameBase(folder, windowTitle, rest) + L"_";
      break;
    }
    default:
      name = L"Capture_";
      break;
  }
  name += timestamp;
  name += L".png";
  return SanitizeFileName(name);
}

}  // namespace vistrel
