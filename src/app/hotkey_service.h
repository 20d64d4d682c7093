// The program's global hotkeys: the one place that registers and removes them, and that knows
// whether the user has paused them (the tray's "Pause Hotkeys") and which combinations other
// programs hold. UI thread only.
#pragma once

#include <windows.h>

#include <vector>

#include "config/app_config.h"

namespace vistrel {

class HotkeyService {
 public:
  // The window the hotkeys are registered for (the core window); null detaches it.
  void Attach(HWND window) { window_ = window; }
  bool paused() const { return paused_; }

  // Registers the live settings' hotkeys unless the user has paused them.
  void RegisterLive();
  // Removes every hotkey (at exit).
  void UnregisterAll();
  // Pauses or resumes them (logged); returns whether they are paused now.
  bool TogglePaused();

  // For the settings dialog while it catches a new combination: removes the hotkeys unless
  // paused, and says whether it did; Restore registers `config`'s unless paused.
  bool Suspend();
  void Restore(const AppConfig& config);

  // The hotkey identifiers that the last registration could not have: other programs hold them.
  const std::vector<int>& refused() const { return refused_; }

 private:
  void Register(const AppConfig& config);

  HWND window_ = nullptr;
  bool paused_ = false;
  std::vector<int> refused_;
};

HotkeyService& Hotkeys();

// Once after start-up: says which hotkeys other programs hold (sound, balloon, screen reader), so
// that the user does not press one in vain.
void TellRefusedHotkeys(const AppConfig& config, const std::vector<int>& refused);

}  // namespace vistrel
