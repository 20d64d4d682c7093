#include "config/hotkey_text.h"

#include <cwctype>

namespace vistrel {
namespace {

constexpr std::uint32_t kHotkeyFlagShift = 1;
constexpr std::uint32_t kHotkeyFlagCtrl = 2;
constexpr std::uint32_t kHotkeyFlagAlt = 4;

template <typename Config>
auto Binding(Config& c, int id) -> decltype(&c.FullScreen) {
  switch (id) {
    case 1: return &c.FullScreen;
    case 2: return &c.FreeForm;
    case 3: return &c.Window;
    case 4: return &c.Keyboard;
    case 5: return &c.Mouse;
    case 6: return &c.VideoStartStop;
    case 7: return &c.VideoPauseResume;
    case 8: return &c.AudioStartStop;
    case 9: return &c.AudioPauseResume;
    case 10: return &c.GifStartStop;
    case 11: return &c.OpenConfig;
    case 12: return &c.OpenTracsConfig;
    case 13: return &c.ExitApp;
    default: return nullptr;
  }
}

std::wstring_view Unquoted(std::wstring_view text) {
  while (!text.empty() && text.front() == L'"') text.remove_prefix(1);
  while (!text.empty() && text.back() == L'"') text.remove_suffix(1);
  return text;
}

}  // namespace

const HotkeyBinding* BindingForHotkey(const AppConfig& config, int id) { return Binding(config, id); }
HotkeyBinding* BindingForHotkey(AppConfig& config, int id) { return Binding(config, id); }

std::wstring HotkeyModifierPrefix(const HotkeyBinding& binding) {
  std::wstring text;
  if (binding.winKey) text += L"Win + ";
  if (binding.modifiers & kModCtrl) text += L"Ctrl + ";
  if (binding.modifiers & kModShift) text += L"Shift + ";
  if (binding.modifiers & kModAlt) text += L"Alt + ";
  return text;
}

bool IsExtendedKey(std::uint32_t vk) {
  switch (vk) {
    case 0x21: case 0x22: case 0x23: case 0x24:  // Page Up, Page Down, End, Home
    case 0x25: case 0x26: case 0x27: case 0x28:  // arrows
    case 0x2D: case 0x2E:                        // Insert, Delete
    case 0x5B: case 0x5C: case 0x5D:             // left and right Windows keys, Applications
    case 0x6F:                                   // keypad divide
    case 0x90:                                   // Num Lock
    case 0xA3: case 0xA5:                        // right Ctrl, right Alt
      return true;
    default:
      return vk >= 0xA6 && vk <= 0xB7;  // browser, volume, media and launch keys
  }
}

std::int32_t KeyNameRequest(std::uint32_t virtualKey, std::uint32_t scanCode) {
  if (scanCode == 0) return 0;  // a key without a scan code has no name, extended or not
  const std::uint32_t extended = IsExtendedKey(virtualKey) ? 1u << 24 : 0u;
  return static_cast<std::int32_t>(((scanCode & 0xFFu) << 16) | extended);
}

std::uint32_t HotkeyFlagsToModifiers(std::uint32_t flags) {
  std::uint32_t modifiers = 0;
  if (flags & kHotkeyFlagShift) modifiers |= kModShift;
  if (flags & kHotkeyFlagCtrl) modifiers |= kModCtrl;
  if (flags & kHotkeyFlagAlt) modifiers |= kModAlt;
  return modifiers;
}

std::uint32_t ModifiersToHotkeyFlags(std::uint32_t modifiers) {
  std::uint32_t flags = 0;
  if (modifiers & kModShift) flags |= kHotkeyFlagShift;
  if (modifiers & kModCtrl) flags |= kHotkeyFlagCtrl;
  if (modifiers & kModAlt) flags |= kHotkeyFlagAlt;
  return flags;
}

bool SameProgramPath(std::wstring_view a, std::wstring_view b) {
  a = Unquoted(a);
  b = Unquoted(b);
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::towlower(a[i]) != std::towlower(b[i])) return false;
  }
  return true;
}

}  // namespace vistrel
