#include "ui/settings_texts.h"

#include <cwctype>

#include "resource.h"

namespace vistrel {
namespace {

constexpr ControlText kFrameTexts[] = {
    {IDC_PAGE_TREE_LABEL, N_(L"Pa&ges:")},
    {1, N_(L"Save")},
    {2, N_(L"Cancel")},
};

constexpr ControlText kGeneralTexts[] = {
    {IDC_GENERAL_GROUP, N_(L"Application Settings")},
    {IDC_LANGUAGE_LABEL, N_(L"Language:")},
    {IDC_START_WITH_WINDOWS, N_(L"S&tart with Windows")},
    {IDC_INCLUDE_CURSOR, N_(L"Include &mouse cursor in captures (images and videos)")},
    {IDC_AUTO_CHECK_UPDATES, N_(L"Automatically check for updates on startup")},
    {IDC_PLAY_STARTUP_SOUND, N_(L"Play sound on program startup")},
    {IDC_ANNOUNCE_LABEL, N_(L"&Announce results:")},
};

constexpr ControlText kScreenTexts[] = {
    {IDC_OUTPUT_GROUP, N_(L"Output Mode")},
    {IDC_OUTPUT_CLIPBOARD, N_(L"&Copy to Clipboard")},
    {IDC_OUTPUT_FILE, N_(L"&Save to File")},
    {IDC_OUTPUT_BOTH, N_(L"&Both")},
    {IDC_OPTIONS_GROUP, N_(L"Options")},
    {IDC_CAPTURE_SOUND, N_(L"Play s&ound on capture")},
    {IDC_SAVE_LOCATION_GROUP, N_(L"Save Location")},
    {IDC_PATH_LABEL, N_(L"Path:")},
    {IDC_SCREENSHOT_BROWSE, N_(L"B&rowse...")},
};

constexpr ControlText kVideoTexts[] = {
    {IDC_VIDEO_GROUP, N_(L"Video && Audio Settings")},
    {IDC_VIDEO_MODE_LABEL, N_(L"Video Mode:")},
    {IDC_VIDEO_FULL_SCREEN, N_(L"Full Screen")},
    {IDC_VIDEO_ACTIVE_WINDOW, N_(L"Active Window")},
    {IDC_VIDEO_QUALITY_LABEL, N_(L"Video Quality:")},
    {IDC_FRAME_RATE_LABEL, N_(L"Frame Rate:")},
    {IDC_AUDIO_SOURCE_LABEL, N_(L"Audio Source:")},
    {IDC_VIDEO_AUDIO_NONE, N_(L"No Audio")},
    {IDC_VIDEO_AUDIO_MIC, N_(L"External (Mic)")},
    {IDC_VIDEO_AUDIO_SYSTEM, N_(L"Internal (System)")},
    {IDC_VIDEO_AUDIO_MIXED, N_(L"Mixed (Mic+Sys)")},
    {IDC_SYSTEM_VOLUME_LABEL, N_(L"System Volume:")},
    {IDC_VIDEO_EVENT_SOUNDS, N_(L"Play sounds for recording events")},
    {IDC_SAVE_LOCATION_GROUP, N_(L"Save Location")},
    {IDC_VIDEO_PATH_LABEL, N_(L"Path:")},
    {IDC_VIDEO_BROWSE, N_(L"Br&owse...")},
};

constexpr ControlText kAudioTexts[] = {
    {IDC_AUDIO_GROUP, N_(L"Audio Settings")},
    {IDC_AUDIO_FORMAT_LABEL, N_(L"Audio Format:")},
    {IDC_AUDIO_QUALITY_LABEL, N_(L"Audio Quality:")},
    {IDC_AUDIO_SOURCE_LABEL, N_(L"Audio Source:")},
    {IDC_AUDIO_SOURCE_NONE, N_(L"No Audio")},
    {IDC_AUDIO_SOURCE_MIC, N_(L"External (Mic)")},
    {IDC_AUDIO_SOURCE_SYSTEM, N_(L"Internal (System)")},
    {IDC_AUDIO_SOURCE_MIXED, N_(L"Mixed (Mic+Sys)")},
    {IDC_SYSTEM_VOLUME_LABEL, N_(L"System Volume:")},
    {IDC_AUDIO_EVENT_SOUNDS, N_(L"Play sounds for audio events")},
    {IDC_SAVE_LOCATION_GROUP, N_(L"Save Location")},
    {IDC_PATH_LABEL, N_(L"Path:")},
    {IDC_AUDIO_BROWSE, N_(L"Bro&wse...")},
};

constexpr ControlText kGifTexts[] = {
    {IDC_GIF_GROUP, N_(L"GIF Settings")},
    {IDC_GIF_MODE_LABEL, N_(L"GIF Mode:")},
    {IDC_GIF_FULL_SCREEN, N_(L"Full Screen")},
    {IDC_GIF_ACTIVE_WINDOW, N_(L"Active Window")},
    {IDC_GIF_DURATION_LABEL, N_(L"Duration (seconds):")},
    {IDC_GIF_DURATION_HINT, N_(L"(0 for manual stop)")},
    {IDC_GIF_EVENT_SOUNDS, N_(L"Play sounds for recording events")},
    {IDC_SAVE_LOCATION_GROUP, N_(L"Save Location")},
    {IDC_PATH_LABEL, N_(L"Path:")},
    {IDC_GIF_BROWSE, N_(L"B&rowse...")},
};

constexpr ControlText kHotkeysTexts[] = {
    {IDC_PAGE_HINT, N_(L"Select a feature and click 'Change...' to edit its hotkey.")},
    {IDC_CHANGE_HOTKEY, N_(L"&Change...")},
};

constexpr ControlText kSoundsTexts[] = {
    {IDC_PAGE_HINT, N_(L"Customize the sound played for each application event.")},
    {IDC_SOUND_PLAY, N_(L"&Play")},
    {IDC_SOUND_CHANGE, N_(L"&Change...")},
    {IDC_SOUND_CLEAR, N_(L"C&lear")},
    {IDC_SOUND_RESTORE, N_(L"&Restore Defaults")},
};

constexpr ControlText kDevicesTexts[] = {
    {IDC_MICROPHONE_GROUP, N_(L"Audio Input Device")},
    {IDC_MICROPHONE_LABEL, N_(L"Microphone:")},
    {IDC_SYSTEM_AUDIO_GROUP, N_(L"Audio Output Device")},
    {IDC_SYSTEM_AUDIO_LABEL, N_(L"System Audio:")},
    {IDC_SCREEN_GROUP, N_(L"Video Input Device")},
    {IDC_SCREEN_LABEL, N_(L"Screen:")},
};

constexpr ControlText kChangeHotkeyTexts[] = {
    {IDC_HOTKEY_FEATURE_LABEL, N_(L"Feature:")},
    {IDC_HOTKEY_LABEL, N_(L"&Hotkey:")},
    {IDC_HOTKEY_WINKEY, N_(L"Include &WinKey")},
    {1, N_(L"OK")},
    {2, N_(L"Cancel")},
};

wchar_t Folded(wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); }

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

}  // namespace

const std::array<SettingsPage, kSettingsPageCount> kSettingsPages = {{
    {N_(L"General"), IDD_PAGE_GENERAL},
    {N_(L"Screen Capture"), IDD_PAGE_SCREEN},
    {N_(L"Video Recording"), IDD_PAGE_VIDEO},
    {N_(L"Audio Recording"), IDD_PAGE_AUDIO},
    {N_(L"GIF Recording"), IDD_PAGE_GIF},
    {N_(L"Hotkeys"), IDD_PAGE_HOTKEYS},
    {N_(L"Sound Effects"), IDD_PAGE_SOUNDS},
    {N_(L"Devices"), IDD_PAGE_DEVICES},
}};

std::span<const ControlText> TemplateTexts(int templateId) {
  switch (templateId) {
    case IDD_SETTINGS: return kFrameTexts;
    case IDD_PAGE_GENERAL: return kGeneralTexts;
    case IDD_PAGE_SCREEN: return kScreenTexts;
    case IDD_PAGE_VIDEO: return kVideoTexts;
    case IDD_PAGE_AUDIO: return kAudioTexts;
    case IDD_PAGE_GIF: return kGifTexts;
    case IDD_PAGE_HOTKEYS: return kHotkeysTexts;
    case IDD_PAGE_SOUNDS: return kSoundsTexts;
    case IDD_PAGE_DEVICES: return kDevicesTexts;
    case IDD_CHANGE_HOTKEY: return kChangeHotkeyTexts;
    default: return {};
  }
}

const std::array<const wchar_t*, 2> kAnnounceChoices = {N_(L"Speak through the screen reader"),
                                                        N_(L"Only sounds and balloons")};

const std::array<const wchar_t*, 5> kVideoQualityNames = {
    N_(L"Low (480p)"), N_(L"SD (720p)"), N_(L"HD (1080p)"), N_(L"QHD (1440p)"), N_(L"UHD (2160p)")};

const std::array<const wchar_t*, 3> kAudioFormatNames = {
    N_(L"MP3 (Compressed)"), N_(L"M4A (AAC, Recommended)"), N_(L"WAV (Uncompressed)")};

const std::array<const wchar_t*, 4> kAudioQualityNames = {
    N_(L"Low (96 kbps)"), N_(L"Medium (128 kbps)"), N_(L"High (192 kbps)"),
    N_(L"Very High (320 kbps)")};

const std::array<FrameRateChoice, 4> kFrameRates = {{
    {30, N_(L"Standard, Good Performance")},
    {60, N_(L"Smooth, Recommended for Gaming")},
    {90, N_(L"Very Smooth, May affect PC performance")},
    {120, N_(L"Ultra Smooth, For High-End PCs only")},
}};

std::wstring FrameRateLabel(int fps, const std::wstring& description) {
  return std::to_wstring(fps) + L" FPS (" + description + L")";
}

int FrameRateItemFor(std::span<const int> rates, int stored) {
  for (size_t i = 0; i < rates.size(); ++i) {
    if (rates[i] == stored) return static_cast<int>(i);
  }
  if (rates.size() >= 2) return 1;
  return rates.empty() ? -1 : 0;
}

const std::array<const wchar_t*, kHotkeyFeatureCount> kHotkeyFeatureNames = {
    N_(L"Capture Full Screen"),
    N_(L"Capture Free Form"),
    N_(L"Capture Active Window"),
    N_(L"Capture by Keyboard Focus"),
    N_(L"Capture by Mouse Focus"),
    N_(L"Start/Stop Video Recording"),
    N_(L"Pause/Resume Video Recording"),
    N_(L"Start/Stop Audio Recording"),
    N_(L"Pause/Resume Audio Recording"),
    N_(L"Start/Stop GIF Recording"),
    N_(L"Open Configuration"),
    N_(L"Open Multi-tracks Configuration"),
    N_(L"Exit Application"),
};

const std::array<SoundEvent, kSoundEventCount> kSoundEvents = {{
    {N_(L"Capture: Full Screen"), &SoundEffects::CaptureFullscreen},
    {N_(L"Capture: Free Form"), &SoundEffects::CaptureFreeform},
    {N_(L"Capture: Window"), &SoundEffects::CaptureWindow},
    {N_(L"Capture: Keyboard Focus"), &SoundEffects::CaptureKeyboard},
    {N_(L"Capture: Mouse Focus"), &SoundEffects::CaptureMouse},
    {N_(L"Recording: Start"), &SoundEffects::RecordingStart},
    {N_(L"Recording: Stop"), &SoundEffects::RecordingStop},
    {N_(L"Recording: Pause"), &SoundEffects::RecordingPause},
    {N_(L"Recording: Resume"), &SoundEffects::RecordingResume},
    {N_(L"Mouse Left Click, (will be available soon)"), &SoundEffects::MouseLeftClick},
    {N_(L"Mouse Right Click, (will be available soon)"), &SoundEffects::MouseRightClick},
    {N_(L"Keyboard Menu (Shift+F10), (will be available soon)"), &SoundEffects::KeyboardMenu},
    {N_(L"Keyboard Enter Key, (will be available soon)"), &SoundEffects::KeyboardEnter},
    {N_(L"Exit Application"), &SoundEffects::exit_app},
}};

std::wstring SoundValueForChosenFile(std::wstring_view chosen, std::wstring_view soundsFolder) {
  while (!soundsFolder.empty() && IsSeparator(soundsFolder.back())) soundsFolder.remove_suffix(1);
  if (soundsFolder.empty() || chosen.size() <= soundsFolder.size() + 1) return std::wstring(chosen);
  for (size_t i = 0; i < soundsFolder.size(); ++i) {
    const bool bothSeparators = IsSeparator(chosen[i]) && IsSeparator(soundsFolder[i]);
    if (!bothSeparators && Folded(chosen[i]) != Folded(soundsFolder[i])) return std::wstring(chosen);
  }
  if (!IsSeparator(chosen[soundsFolder.size()])) return std::wstring(chosen);
  return std::wstring(chosen.substr(soundsFolder.size() + 1));
}

}  // namespace vistrel
