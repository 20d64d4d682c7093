// The settings record. Windows-free: the INI file is read and written through SettingsStore.
#pragma once

#include <cstdint>
#include <string>

#include "core/sound.h"

namespace vistrel {

// Modifier mask bits as the system hotkey call takes them.
inline constexpr std::uint32_t kModAlt = 1;
inline constexpr std::uint32_t kModCtrl = 2;
inline constexpr std::uint32_t kModShift = 4;

struct HotkeyBinding {
  std::uint32_t modifiers = 0;  // kModAlt | kModCtrl | kModShift
  std::uint32_t virtualKey = 0;  // 0: unassigned
  bool winKey = false;

  bool operator==(const HotkeyBinding&) const = default;
};

// One sound file name (relative to sounds\ or a full path) per event; "None" silences it.
struct SoundEffects {
  std::wstring MouseLeftClick;
  std::wstring MouseRightClick;
  std::wstring KeyboardMenu;
  std::wstring KeyboardEnter;
  std::wstring CaptureFullscreen;
  std::wstring CaptureFreeform;
  std::wstring CaptureWindow;
  std::wstring CaptureKeyboard;
  std::wstring CaptureMouse;
  std::wstring RecordingStart;
  std::wstring RecordingStop;
  std::wstring RecordingPause;
  std::wstring RecordingResume;
  std::wstring exit_app;

  bool operator==(const SoundEffects&) const = default;
};

SoundEffects DefaultSoundEffects();

// The start, stop, pause and resume sounds of a recorder (without pauses: start and stop only).
// The failure sound is the program's own, so that a failure never sounds like a stop.
inline RecordingSounds RecordingSoundsOf(const SoundEffects& sounds, bool enabled, bool pauses) {
  return {enabled, sounds.RecordingStart, sounds.RecordingStop, pauses ? sounds.RecordingPause : std::wstring(),
          pauses ? sounds.RecordingResume : std::wstring(), L"rec_failed.wav"};
}

// Field names follow the INI keys. Keys that repeat in several sections carry their section's
// prefix (VideoStartStop, VideoAudioSource, ...); the capture-sound switch "PlaySound" is
// PlayCaptureSound because windows.h defines PlaySound as a macro.
struct AppConfig {
  std::wstring Language = L"Default";
  bool IncludeCursor = true;
  bool AutoCheckUpdates = true;
  bool PlayStartupSound = true;
  std::int32_t AutoOpenedConf = 0;
  // How results are told: 1 also through the screen reader, 0 with sounds and balloons only (the
  // choice on the General page keeps the key and the values of the check box it replaced).
  bool ScreenReaderNotifications = true;

  HotkeyBinding FullScreen{kModCtrl | kModShift, 0x74, false};
  HotkeyBinding FreeForm{kModCtrl | kModShift, 0x75, false};
  HotkeyBinding Window{kModCtrl | kModShift, 0x76, false};
  HotkeyBinding Keyboard{kModCtrl | kModShift, 0x77, false};
  HotkeyBinding Mouse{0, 0, false};

  int OutputMode = 2;  // 0 clipboard, 1 file, 2 both; any other stored value reads as 2
  bool PlayCaptureSound = true;
  std::wstring ScreenshotPath;

  HotkeyBinding VideoStartStop{kModCtrl | kModAlt | kModShift, 0x74, false};
  HotkeyBinding VideoPauseResume{kModCtrl | kModAlt | kModShift, 0x75, false};
  int VideoMode = 0;
  int VideoAudioSource = 1;
  int VideoQuality = 2;
  int VideoFramerate = 60;
  int SystemAudioVolume = 100;
  bool PlayVideoEventSounds = true;
  std::wstring VideoPath;

  HotkeyBinding AudioStartStop{kModCtrl | kModAlt | kModShift, 0x76, false};
  HotkeyBinding AudioPauseResume{kModCtrl | kModAlt | kModShift, 0x77, false};
  int AudioSource = 3;
  int AudioQuality = 2;
  bool PlayAudioEventSounds = true;
  int AudioFormat = 0;
  int SystemAudioRecVolume = 100;
  std::wstring AudioPath;

  HotkeyBinding GifStartStop{kModCtrl | kModShift, 0x79, false};
  int GifMode = 1;
  int GifDuration = 0;
  bool PlayGifEventSounds = true;
  std::wstring GifPath;

  HotkeyBinding OpenConfig{kModCtrl | kModAlt | kModShift, 0x79, false};
  HotkeyBinding OpenTracsConfig{kModCtrl | kModAlt | kModShift, 0x7A, false};
  HotkeyBinding ExitApp{kModCtrl | kModAlt | kModShift, 0x73, false};

  SoundEffects Sounds = DefaultSoundEffects();

  std::wstring MicrophoneID = L"Default";
  std::wstring SystemAudioID = L"Default";
  std::wstring ScreenID = L"Default";

  bool operator==(const AppConfig&) const = default;
};

// The user's known folders, from which the output folder defaults are formed. Empty when the
// system could not resolve one.
struct KnownFolders {
  std::wstring pictures;
  std::wstring videos;
  std::wstring music;
};

// Every default, with the four output folders formed as <known folder>\Vistrel (empty when the
// known folder is unknown).
AppConfig DefaultAppConfig(const KnownFolders& folders);

// Where the INI values come from and go to: the private-profile functions in the program, a map
// in tests.
class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  // Returns fallback when the key is missing; a present value that is not a number reads as 0.
  virtual int ReadInt(const wchar_t* section, const wchar_t* key, int fallback) = 0;
  virtual std::wstring ReadString(const wchar_t* section, const wchar_t* key,
                                  const std::wstring& fallback) = 0;
  virtual void Write(const wchar_t* section, const wchar_t* key, const std::wstring& value) = 0;
};

// Reads every key into config, whose fields hold the defaults on entry. Strings are cut to 259
// characters; an empty sound-effect value keeps the built-in sound.
void ReadSettings(SettingsStore& store, AppConfig& config);

// Writes every key in file order: General, Hotkeys, Options, VideoHotkeys, VideoOptions,
// AudioHotkeys, AudioOptions, GifHotkeys, GifOptions, AppHotkeys, Paths, SoundEffects, Devices.
void WriteSettings(SettingsStore& store, const AppConfig& config);

// The live record. Only the UI thread replaces it (LoadConfig, the settings dialog's Save); worker
// threads take a consistent copy with ConfigSnapshot() at the start of each operation instead of
// reading fields while the record may be replaced.
AppConfig ConfigSnapshot();
void ReplaceConfig(const AppConfig& config);
// UI-thread access without copying. Never hold the reference across a ReplaceConfig call.
const AppConfig& LiveConfig();

}  // namespace vistrel
