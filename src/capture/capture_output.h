// From a screenshot request to its outputs: the capture worker, PNG file, clipboard, balloon,
// and the flash over the captured area.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "core/handles.h"

namespace vistrel {

// Screenshot request codes, shared with the hotkey and tray command identifiers.
enum CaptureType : std::uint32_t {
  kCaptureFullScreen = 1,
  kCaptureFreeForm = 2,
  kCaptureActiveWindow = 3,
  kCaptureKeyboardControl = 4,
  kCaptureMouseControl = 5,
  kCaptureTrayFullScreen = 40001,
  kCaptureTrayFreeForm = 40002,
  kCaptureTrayPickedWindow = 40003,
};

// Starts a capture: free form at once on this thread, every other type on a worker that waits
// 300 ms. `target` is the picked window of type 40003.
void StartCapture(std::uint32_t type, HWND target);

// Saves the PNG and/or fills the clipboard, then tells the user what became of it: the capture
// sound and balloon when every output worked, otherwise the failure's own sound and a balloon that
// says what failed and what to do. Runs on the UI thread; the picture is encoded and written on a
// worker.
void ProcessCapture(UniqueBitmap bitmap, std::uint32_t type);

// Waits until every screenshot being saved has been written (or has failed), at most `limit`;
// false when one is still being saved. For the exit: a save cut off would leave an empty file.
bool WaitForScreenshotSaves(std::chrono::milliseconds limit);

HRESULT EncodeBitmapToPngStream(HBITMAP bitmap, IStream** out);
bool SaveStreamToFile(const std::wstring& path, IStream* stream);

// What failed in a capture: its sound and a message (msgid with up to two "%s") that says what
// failed and what to do.
struct CaptureFailure {
  const wchar_t* sound = nullptr;
  std::wstring msgid;
  std::wstring first;
  std::wstring second;
};

// The file for a capture, claimed in the screenshot folder (created when missing); empty on
// failure, with `failure` (when given) saying why.
std::wstring BuildCaptureSavePath(std::uint32_t type, CaptureFailure* failure = nullptr);

// Local time as "YYYY-MM-DD_hh-mm-ss".
std::wstring MakeTimestamp();

// Hands the bitmap to the clipboard (or frees it when that fails); false when the clipboard could
// not take it.
bool CopyBitmapToClipboard(HBITMAP bitmap);

void ShowCaptureNotification(std::uint32_t type);

// A white blink over the captured area, about 180 ms; returns when it is over.
void ShowCaptureFlash(const RECT& rect);

}  // namespace vistrel
