// Windows-free parts of hotkey handling: the binding of each hotkey ID, display prefixes and the
// conversion between the hotkey control's flags and the binding's modifier mask.
#pragma once

#include <cstdint>
#include <string>

#include "config/app_config.h"

namespace vistrel {

inline constexpr int kFirstHotkeyId = 1;
inline constexpr int kLastHotkeyId = 13;

// The binding that hotkey `id` (1..13) is registered from; null for other IDs.
const HotkeyBinding* BindingForHotkey(const AppConfig& config, int id);
HotkeyBinding* BindingForHotkey(AppConfig& config, int id);

// "Win + ", "Ctrl + ", "Shift + ", "Alt + " in that order, for the parts the binding has.
std::wstring HotkeyModifierPrefix(const HotkeyBinding& binding);

// Whether the key sits on the extended part of the keyboard (arrows, the block above them, the
// right-hand Ctrl and Alt, Windows and menu keys, Num Lock, the keypad's divide key). Such a key
// shares its scan code with a keypad key and is told apart only by the extended-key bit.
bool IsExtendedKey(std::uint32_t virtualKey);

// The key-name request for a key: its scan code in bits 16..23, the extended-key bit (24) for an
// extended key, so that the Up arrow is named "Up" and not "Num 8".
std::int32_t KeyNameRequest(std::uint32_t virtualKey, std::uint32_t scanCode);

// Flags of the system hotkey control (1 Shift, 2 Ctrl, 4 Alt, 8 extended key) to the binding's
// mask (1 Alt, 2 Ctrl, 4 Shift) and back. The extended-key flag is dropped.
std::uint32_t HotkeyFlagsToModifiers(std::uint32_t hotkeyFlags);
std::uint32_t ModifiersToHotkeyFlags(std::uint32_t modifiers);

// Run-key values compare equal when they name the same file: surrounding quotes removed, letter
// case ignored.
bool SameProgramPath(std::wstring_view a, std::wstring_view b);

}  // namespace vistrel
