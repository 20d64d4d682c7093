#include "config/app_config.h"

#include <mutex>
#include <type_traits>
#include <utility>

#include "core/text.h"

namespace vistrel {
namespace {

std::mutex g_configLock;
AppConfig g_liveConfig;

struct SoundEntry {
  const wchar_t* key;
  std::wstring SoundEffects::*field;
  const wchar_t* fallback;
};

constexpr SoundEntry kSoundEntries[] = {
    {L"MouseLeftClick", &SoundEffects::MouseLeftClick, L"mouse_click.wav"},
    {L"MouseRightClick", &SoundEffects::MouseRightClick, L"mouse_click.wav"},
    {L"KeyboardMenu", &SoundEffects::KeyboardMenu, L"None"},
    {L"KeyboardEnter", &SoundEffects::KeyboardEnter, L"None"},
    {L"CaptureFullscreen", &SoundEffects::CaptureFullscreen, L"full.wav"},
    {L"CaptureFreeform", &SoundEffects::CaptureFreeform, L"capture.wav"},
    {L"CaptureWindow", &SoundEffects::CaptureWindow, L"window.wav"},
    {L"CaptureKeyboard", &SoundEffects::CaptureKeyboard, L"control.wav"},
    {L"CaptureMouse", &SoundEffects::CaptureMouse, L"mouse.wav"},
    {L"RecordingStart", &SoundEffects::RecordingStart, L"rec_start.wav"},
    {L"RecordingStop", &SoundEffects::RecordingStop, L"rec_stop.wav"},
    {L"RecordingPause", &SoundEffects::RecordingPause, L"rec_pause.wav"},
    {L"RecordingResume", &SoundEffects::RecordingResume, L"rec_resume.wav"},
    {L"exit_app", &SoundEffects::exit_app, L"exit.wav"},
};

// Marks a sound-effect value: an empty one read from the file keeps the default.
struct SoundValue {
  std::wstring& value;
};

// The one list of keys, in file order. `visit` is called with (section, key, field) for each key;
// bindings are expanded into their Modifiers, VK and WinKey keys.
template <typename Config, typename Visit>
void ForEachSetting(Config& c, Visit&& visit) {
  auto binding = [&](const wchar_t* section, const std::wstring& name, auto& b) {
    visit(section, name + L"Modifiers", b.modifiers);
    visit(section, name + L"VK", b.virtualKey);
    visit(section, name + L"WinKey", b.winKey);
  };
  visit(L"General", L"Language", c.Language);
  visit(L"General", L"IncludeCursor", c.IncludeCursor);
  visit(L"General", L"AutoCheckUpdates", c.AutoCheckUpdates);
  visit(L"General", L"PlayStartupSound", c.PlayStartupSound);
  visit(L"General", L"AutoOpenedConf", c.AutoOpenedConf);
  visit(L"General", L"ScreenReaderNotifications", c.ScreenReaderNotifications);
  binding(L"Hotkeys", L"FullScreen", c.FullScreen);
  binding(L"Hotkeys", L"FreeForm", c.FreeForm);
  binding(L"Hotkeys", L"Window", c.Window);
  binding(L"Hotkeys", L"Keyboard", c.Keyboard);
  binding(L"Hotkeys", L"Mouse", c.Mouse);
  visit(L"Options", L"OutputMode", c.OutputMode);
  visit(L"Options", L"PlaySound", c.PlayCaptureSound);
  binding(L"VideoHotkeys", L"StartStop", c.VideoStartStop);
  binding(L"VideoHotkeys", L"PauseResume", c.VideoPauseResume);
  visit(L"VideoOptions", L"VideoMode", c.VideoMode);
  visit(L"VideoOptions", L"AudioSource", c.VideoAudioSource);
  visit(L"VideoOptions", L"VideoQuality", c.VideoQuality);
  visit(L"VideoOptions", L"VideoFramerate", c.VideoFramerate);
  visit(L"VideoOptions", L"SystemAudioVolume", c.SystemAudioVolume);
  visit(L"VideoOptions", L"PlayVideoEventSounds", c.PlayVideoEventSounds);
  binding(L"AudioHotkeys", L"StartStop", c.AudioStartStop);
  binding(L"AudioHotkeys", L"PauseResume", c.AudioPauseResume);
  visit(L"AudioOptions", L"AudioSource", c.AudioSource);
  visit(L"AudioOptions", L"AudioQuality", c.AudioQuality);
  visit(L"AudioOptions", L"PlayAudioEventSounds", c.PlayAudioEventSounds);
  visit(L"AudioOptions", L"AudioFormat", c.AudioFormat);
  visit(L"AudioOptions", L"SystemAudioRecVolume", c.SystemAudioRecVolume);
  binding(L"GifHotkeys", L"StartStop", c.GifStartStop);
  visit(L"GifOptions", L"GifMode", c.GifMode);
  visit(L"GifOptions", L"GifDuration", c.GifDuration);
  visit(L"GifOptions", L"PlayGifEventSounds", c.PlayGifEventSounds);
  binding(L"AppHotkeys", L"OpenConfig", c.OpenConfig);
  binding(L"AppHotkeys", L"OpenTracsConfig", c.OpenTracsConfig);
  binding(L"AppHotkeys", L"ExitApp", c.ExitApp);
  visit(L"Paths", L"ScreenshotPath", c.ScreenshotPath);
  visit(L"Paths", L"VideoPath", c.VideoPath);
  visit(L"Paths", L"AudioPath", c.AudioPath);
  visit(L"Paths", L"GifPath", c.GifPath);
  for (const SoundEntry& entry : kSoundEntries) {
    auto& value = c.Sounds.*entry.field;
    if constexpr (std::is_const_v<Config>) {
      visit(L"SoundEffects", entry.key, value);
    } else {
      SoundValue sound{value};
      visit(L"SoundEffects", entry.key, sound);
    }
  }
  visit(L"Devices", L"MicrophoneID", c.MicrophoneID);
  visit(L"Devices", L"SystemAudioID", c.SystemAudioID);
  visit(L"Devices", L"ScreenID", c.ScreenID);
}

struct Reader {
  SettingsStore& store;

  void operator()(const wchar_t* section, const std::wstring& key, int& value) {
    value = store.ReadInt(section, key.c_str(), value);
  }
  void operator()(const wchar_t* section, const std::wstring& key, std::uint32_t& value) {
    value = static_cast<std::uint32_t>(store.ReadInt(section, key.c_str(), static_cast<int>(value)));
  }
  void operator()(const wchar_t* section, const std::wstring& key, bool& value) {
    value = store.ReadInt(section, key.c_str(), value ? 1 : 0) != 0;
  }
  void operator()(const wchar_t* section, const std::wstring& key, std::wstring& value) {
    value = CutText(store.ReadString(section, key.c_str(), value), kMaxPathChars);
  }
  void operator()(const wchar_t* section, const std::wstring& key, SoundValue sound) {
    std::wstring read = CutText(store.ReadString(section, key.c_str(), sound.value), kMaxPathChars);
    if (!read.empty()) sound.value = std::move(read);
  }
};

struct Writer {
  SettingsStore& store;

  void operator()(const wchar_t* section, const std::wstring& key, int value) {
    store.Write(section, key.c_str(), std::to_wstring(value));
  }
  void operator()(const wchar_t* section, const std::wstring& key, std::uint32_t value) {
    store.Write(section, key.c_str(), std::to_wstring(value));
  }
  void operator()(const wchar_t* section, const std::wstring& key, bool value) {
    store.Write(section, key.c_str(), value ? L"1" : L"0");
  }
  void operator()(const wchar_t* section, const std::wstring& key, const std::wstring& value) {
    store.Write(section, key.c_str(), value);
  }
};

std::wstring VistrelFolderIn(const std::wstring& known) {
  return known.empty() ? std::wstring() : known + L"\\Vistrel";
}

}  // namespace

SoundEffects DefaultSoundEffects() {
  SoundEffects sounds;
  for (const SoundEntry& entry : kSoundEntries) sounds.*entry.field = entry.fallback;
  return sounds;
}

AppConfig DefaultAppConfig(const KnownFolders& folders) {
  AppConfig config;
  config.ScreenshotPath = VistrelFolderIn(folders.pictures);
  config.VideoPath = VistrelFolderIn(folders.videos);
  config.AudioPath = VistrelFolderIn(folders.music);
  config.GifPath = VistrelFolderIn(folders.pictures);
  return config;
}

void ReadSettings(SettingsStore& store, AppConfig& config) {
  ForEachSetting(config, Reader{store});
  // A hand-edited mode that means nothing would capture into nowhere: it is the default.
  if (config.OutputMode < 0 || config.OutputMode > 2) config.OutputMode = AppConfig{}.OutputMode;
}

void WriteSettings(SettingsStore& store, const AppConfig& config) {
  ForEachSetting(config, Writer{store});
}

AppConfig ConfigSnapshot() {
  std::lock_guard lock(g_configLock);
  return g_liveConfig;
}

void ReplaceConfig(const AppConfig& config) {
  AppConfig copy = config;  // allocate outside the lock
  std::lock_guard lock(g_configLock);
  g_liveConfig = std::move(copy);
}

const AppConfig& LiveConfig() { return g_liveConfig; }

}  // namespace vistrel
