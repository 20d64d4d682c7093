#include "app/hotkey_service.h"

#include "config/hotkeys.h"
#include "core/balloon.h"
#include "core/log.h"
#include "core/sound.h"
#include "i18n/tr.h"
#include "ui/settings_texts.h"

namespace vistrel {

HotkeyService& Hotkeys() {
  static HotkeyService service;
  return service;
}

void HotkeyService::Register(const AppConfig& config) {
  refused_ = RegisterAllHotkeys(window_, config);
}

void HotkeyService::RegisterLive() {
  if (window_ && !paused_) Register(LiveConfig());
}

void HotkeyService::UnregisterAll() {
  if (window_) UnregisterAllHotkeys(window_);
  refused_.clear();
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
  if (window_ && !paused_) Register(config);
}

void TellRefusedHotkeys(const AppConfig& config, const std::vector<int>& refused) {
  if (refused.empty()) return;
  std::wstring names;
  for (int id : refused) {
    if (!names.empty()) names += L"; ";
    names += HotkeyToText(*BindingForHotkey(config, id)) + L" (" +
             tr(kHotkeyFeatureNames[static_cast<size_t>(id - kFirstHotkeyId)]) + L")";
  }
  LogMessage(L"Hotkeys held by other programs: " + names + L".");
  PlaySoundAsync(kRefusedSound);
  if (refused.size() == 1) {
    ShowBalloon(tr(L"Hotkey Not Available"), tr(L"%s is used by another program; choose another in Settings.", names));
  } else {
    ShowBalloon(tr(L"Hotkeys Not Available"),
                tr(L"These hotkeys are used by other programs: %s. Choose others in Settings.", names));
  }
}

}  // namespace vistrel
