// Output file names. Windows-free.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>


namespace vistrel {

// The name without folder: "FullScreen_<stamp>.png", "<title>_<stamp>.png" or "Capture_<stamp>.png",
// with \ / : * ? " < > | and control characters replaced by "_", and a title cut so that the name
// fits a path in `folder` (see FitFileNameBase).
std::wstring CaptureFileName(std::uint32_t captureType, std::wstring_view windowTitle,
                             std::wstring_view timestamp, std::wstring_view folder = {});

// Replaces the nine characters a Windows file name cannot hold, and control characters, with "_".
std::wstring SanitizeFileName(std::wstring_view name);

}  // namespace vistrel
