// Mouse commands of vistrel-driver. Positions are screen (virtual-desktop) pixels; the input goes
// through SendInput, so the target program sees ordinary hardware mouse messages.
//
//   vistrel-driver mouse-move X Y                         pointer to (X, Y)
//   vistrel-driver mouse-down [left|right]                press a button where the pointer is
//   vistrel-driver mouse-up [left|right]                  release it
//   vistrel-driver mouse-drag X1 Y1 X2 Y2 [STEPS]          left-button drag in STEPS moves (8)
#include <windows.h>

#include <cwchar>
#include <string>

#include "driver.h"

namespace {

constexpr DWORD kSettleMs = 60;  // lets the target handle one input before the next arrives
constexpr DWORD kStepMs = 25;

bool Coordinate(const std::wstring& text, LONG& value) {
  wchar_t* end = nullptr;
  const long parsed = std::wcstol(text.c_str(), &end, 0);
  if (end == text.c_str() || *end != L'\0') return false;
  value = parsed;
  return true;
}

// The smallest normalised value that the system maps back to the wanted pixel: it scales by
// the extent and rounds down.
LONG Normalise(LONG pixel, int origin, int extent) {
  const long long offset = static_cast<long long>(pixel) - origin;
  return static_cast<LONG>((offset * 65536 + extent - 1) / extent);
}

bool SendMouse(DWORD flags, LONG dx = 0, LONG dy = 0) {
  INPUT input{};
  input.type = INPUT_MOUSE;
  input.mi.dx = dx;
  input.mi.dy = dy;
  input.mi.dwFlags = flags;
  return SendInput(1, &input, sizeof input) == 1;
}

bool MoveTo(LONG x, LONG y) {
  const int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
  const int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
  const int width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
  const int height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
  if (width <= 0 || height <= 0) return false;
  if (!SendMouse(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_VIRTUALDESK,
                 Normalise(x, left, width), Normalise(y, top, height))) {
    return false;
  }
  POINT now{};
  if (GetCursorPos(&now) && (now.x != x || now.y != y)) {
    // Another rounding rule: put the pointer there and report the position with a null move.
    SetCursorPos(x, y);
    SendMouse(MOUSEEVENTF_MOVE);
  }
  return true;
}

// "left" (the default) or "right"; false for anything else.
bool ButtonFlags(const Options& o, size_t index, DWORD& down, DWORD& up) {
  const std::wstring name = o.words.size() > index ? o.words[index] : L"left";
  if (name == L"left") {
    down = MOUSEEVENTF_LEFTDOWN;
    up = MOUSEEVENTF_LEFTUP;
    return true;
  }
  if (name == L"right") {
    down = MOUSEEVENTF_RIGHTDOWN;
    up = MOUSEEVENTF_RIGHTUP;
    return true;
  }
  return false;
}

// Words [first, first + count) as coordinates; false when one is missing or not a number.
bool Coordinates(const Options& o, size_t first, size_t count, LONG* values) {
  for (size_t i = 0; i < count; ++i) {
    if (first + i >= o.words.size() || !Coordinate(o.words[first + i], values[i])) return false;
  }
  return true;
}

int Move(const Options& o) {
  LONG at[2]{};
  if (o.words.size() != 3 || !Coordinates(o, 1, 2, at)) return 2;
  return MoveTo(at[0], at[1]) ? 0 : 1;
}

int Button(const Options& o, bool press) {
  DWORD down = 0;
  DWORD up = 0;
  if (o.words.size() > 2 || !ButtonFlags(o, 1, down, up)) return 2;
  return SendMouse(press ? down : up) ? 0 : 1;
}

int Drag(const Options& o) {
  LONG p[5]{0, 0, 0, 0, 8};  // x1 y1 x2 y2 steps
  if (o.words.size() > 6 || !Coordinates(o, 1, o.words.size() == 6 ? 5 : 4, p) || p[4] < 1) return 2;
  // Each input on its own, so that the target sees the press where the pointer went.
  if (!MoveTo(p[0], p[1])) return 1;
  Sleep(kSettleMs);
  if (!SendMouse(MOUSEEVENTF_LEFTDOWN)) return 1;
  Sleep(kSettleMs);
  // The last step lands exactly on the end point, which is the last position the target sees.
  for (LONG i = 1; i <= p[4]; ++i) {
    if (!MoveTo(p[0] + (p[2] - p[0]) * i / p[4], p[1] + (p[3] - p[1]) * i / p[4])) return 1;
    Sleep(kStepMs);
  }
  Sleep(kSettleMs);
  return SendMouse(MOUSEEVENTF_LEFTUP) ? 0 : 1;
}

}  // namespace

int RunMouseCommand(const Options& o) {
  const std::wstring& verb = o.words[0];
  if (verb == L"mouse-move") return Move(o);
  if (verb == L"mouse-down") return Button(o, true);
  if (verb == L"mouse-up") return Button(o, false);
  if (verb == L"mouse-drag") return Drag(o);
  return -1;
}
