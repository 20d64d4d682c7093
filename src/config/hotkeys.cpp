#include "config/hotkeys.h"

#include "core/handles.h"
#include "core/log.h"
#include "i18n/tr.h"

namespace vistrel {
namespace {

constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kRunValue[] = L"Vistrel";

std::wstring ProgramPath() {
  wchar_t buffer[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  return std::wstring(buffer, length < MAX_PATH ? length : 0);
}

bool RunEntryMatches(HKEY root, const std::wstring& program) {
  UniqueRegKey key;
  if (RegOpenKeyExW(root, kRunKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return false;
  wchar_t value[MAX_PATH] = {};
  DWORD size = sizeof(value) - sizeof(wchar_t);  // keep room for a terminator
  DWORD type = 0;
  if (RegQueryValueExW(key.get(), kRunValue, nullptr, &type, reinterpret_cast<BYTE*>(value),
                       &size) != ERROR_SUCCESS) {
    return false;
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
  return SameProgramPath(std::wstring(value, size / sizeof(wchar_t)).c_str(), program);
}

bool DeleteRunEntry(HKEY root) {
  UniqueRegKey key;
  if (RegOpenKeyExW(root, kRunKey, 0, KEY_SET_VALUE, key.put()) != ERROR_SUCCESS) return false;
  return RegDeleteValueW(key.get(), kRunValue) == ERROR_SUCCESS;
}

}  // namespace

std::vector<int> RegisterAllHotkeys(HWND window, const AppConfig& config) {
  LogMessage(L"Registering hotkeys from provided config.");
  std::vector<int> refused;
  for (int id = kFirstHotkeyId; id <= kLastHotkeyId; ++id) {
    const HotkeyBinding& binding = *BindingForHotkey(config, id);
    if (binding.virtualKey == 0) continue;
    UINT modifiers = binding.modifiers | MOD_NOREPEAT;
    if (binding.winKey) modifiers |= MOD_WIN;
    if (!RegisterHotKey(window, id, modifiers, binding.virtualKey)) {
      LogMessage(L"Failed to register hotkey ID: " + std::to_wstring(id));
      refused.push_back(id);
    }
  }
  return refused;
}

void UnregisterAllHotkeys(HWND window) {
  LogMessage(L"Unregistering all hotkeys.");
  for (int id = kFirstHotkeyId; id <= kLastHotkeyId; ++id) UnregisterHotKey(window, id);
}

std::vector<int> RegisterHotkeys(HWND window) { return RegisterAllHotkeys(window, LiveConfig()); }

std::wstring HotkeyToText(const HotkeyBinding& binding) {
  if (binding.virtualKey == 0) return tr(L"None");
  std::wstring text = HotkeyModifierPrefix(binding);
  const UINT scanCode = MapVirtualKeyW(binding.virtualKey, MAPVK_VK_TO_VSC);
  wchar_t name[50] = {};
  if (GetKeyNameTextW(KeyNameRequest(binding.virtualKey, scanCode), name, 50) > 0) {
    text += name;
  } else {
    text += tr(L"Unknown Key");
  }
  return text;
}

bool IsRunAtStartup() {
  const std::wstring program = ProgramPath();
  return RunEntryMatches(HKEY_CURRENT_USER, program) || RunEntryMatches(HKEY_LOCAL_MACHINE, program);
}

void SetRunAtStartup(bool enable) {
  if (enable == IsRunAtStartup()) return;
  if (enable) {
    const std::wstring program = ProgramPath();
    UniqueRegKey key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        key.put(), nullptr) != ERROR_SUCCESS) {
      return;
    }
    RegSetValueExW(key.get(), kRunValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(program.c_str()),
                   static_cast<DWORD>((program.size() + 1) * sizeof(wchar_t)));
    LogMessage(L"Added to current user startup.");
    return;
  }
  if (DeleteRunEntry(HKEY_CURRENT_USER)) LogMessage(L"Removed from current user startup.");
  if (DeleteRunEntry(HKEY_LOCAL_MACHINE)) LogMessage(L"Removed from local machine startup (all users).");
}

}  // namespace vistrel
