#include "capture/capture_naming.h"


namespace vistrel {

std::wstring SanitizeFileName(std::wstring_view name) {
  std::wstring out(name);
  for (wchar_t& c : out) {
    if (std::wstring_view(L"\\/:*?\"<>|").find(c) != std::wstring_view::npos) c = L'_';
  }
  return out;
}

std::wstring CaptureFileName(std::uint32_t captureType, std::wstring_view windowTitle,
                             std::wstring_view timestamp) {
  std::wstring name;
  switch (captureType) {
    case 1:
    case 40001:
      name = L"FullScreen_";
      break;
    case 3:
    case 40003:
      name = std::wstring(windowTitle) + L"_";
      break;
    default:
      name = L"Capture_";
      break;
  }
  name += timestamp;
  name += L".png";
  return SanitizeFileName(name);
}

}  // namespace vistrel
