#include "app/hotkey_service.h"

#include "config/hotkeys.h"
#include "core/log.h"

namespace vistrel {

HotkeyService& Hotkeys() {
  static HotkeyService service;
  return service;
}

void HotkeyService::RegisterLive() {
  if (window_ && !paused_) RegisterHotkeys(window_);
}

void HotkeyService::UnregisterAll() {
  if (window_) UnregisterAllHotkeys(window_);
}

bool HotkeyService::TogglePaused() {
  paused_ = !paused_;
  if (paused_) {
    UnregisterAll();
    LogMessage(L"Hotkeys paused.");
  } else {
    RegisterLive();
    LogMessage(L"Hotkeys resumed.");
  }
  return paused_;
}

bool HotkeyService::Suspend() {
  if (!window_ || paused_) return false;
  UnregisterAllHotkeys(window_);
  return true;
}

void HotkeyService::Restore(const AppConfig& config) {
  if (window_ && !paused_) RegisterAllHotkeys(window_, config);
}

}  // namespace vistrel
