// Mouse commands of vistrel-driver. Positions are screen (virtual-desktop) pixels; the input goes
// through SendInput, so the target program sees ordinary hardware mouse messages.
//
//   vistrel-driver mouse-move X Y                         pointer to (X, Y)
//   vistrel-driver mouse-down [left|right]                press a button where the pointer is
//   vistrel-driver mouse-up [left|right]                  release it
//   vistrel-driver mouse-click X Y [left|right]           move, press, release
//   vistrel-driver mouse-drag X1 Y1 X2 Y2 [STEPS]          left-button drag in STEPS moves (8)
//   vistrel-driver mouse-pos                              prints "X Y"
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

int Move(const Options& o) {
  LONG x = 0;
  LONG y = 0;
  if (o.words.size() != 3 || !Coordinate(o.words[1], x) || !Coordinate(o.words[2], y)) return 2;
  return MoveTo(x, y) ? 0 : 1;
}

int Button(const Options& o, bool press) {
  DWORD down = 0;
  DWORD up = 0;
  if (o.words.size() > 2 || !ButtonFlags(o, 1, down, up)) return 2;
  return SendMouse(press ? down : up) ? 0 : 1;
}

int Click(const Options& o) {
  LONG x = 0;
  LONG y = 0;
  DWORD down = 0;
  DWORD up = 0;
  if (o.words.size() < 3 || o.words.size() > 4 || !Coordinate(o.words[1], x) ||
      !Coordinate(o.words[2], y) || !ButtonFlags(o, 3, down, up)) {
    return 2;
  }
  if (!MoveTo(x, y)) return 1;
  Sleep(kSettleMs);
  if (!SendMouse(down)) return 1;
  Sleep(kSettleMs);
  return SendMouse(up) ? 0 : 1;
}

int Drag(const Options& o) {
  LONG from[2]{};
  LONG to[2]{};
  LONG steps = 8;
  if (o.words.size() < 5 || o.words.size() > 6 || !Coordinate(o.words[1], from[0]) ||
      !Coordinate(o.words[2], from[1]) || !Coordinate(o.words[3], to[0]) ||
      !Coordinate(o.words[4], to[1]) || (o.words.size() == 6 && !Coordinate(o.words[5], steps)) ||
      steps < 1) {
    return 2;
  }
  if (!MoveTo(from[0], from[1])) return 1;
  Sleep(kSettleMs);
  if (!SendMouse(MOUSEEVENTF_LEFTDOWN)) return 1;
  Sleep(kSettleMs);
  // The last step lands exactly on the end point, which is the last position the target sees.
  for (LONG i = 1; i <= steps; ++i) {
    const LONG x = from[0] + (to[0] - from[0]) * i / steps;
    const LONG y = from[1] + (to[1] - from[1]) * i / steps;
    if (!MoveTo(x, y)) return 1;
    Sleep(kStepMs);
  }
  Sleep(kSettleMs);
  return SendMouse(MOUSEEVENTF_LEFTUP) ? 0 : 1;
}

int Position() {
  POINT p{};
  if (!GetCursorPos(&p)) return 1;
  const std::wstring line = std::to_wstring(p.x) + L" " + std::to_wstring(p.y);
  PrintUtf8Line(line.c_str());
  return 0;
}

}  // namespace

int RunMouseCommand(const Options& o) {
  const std::wstring& verb = o.words[0];
  if (verb == L"mouse-move") return Move(o);
  if (verb == L"mouse-down") return Button(o, true);
  if (verb == L"mouse-up") return Button(o, false);
  if (verb == L"mouse-click") return Click(o);
  if (verb == L"mouse-drag") return Drag(o);
  if (verb == L"mouse-pos") return Position();
  return -1;
}
