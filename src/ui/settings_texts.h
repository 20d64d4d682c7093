// What the settings dialog shows, independent of the windows that show it: the pages, the text of
// every control, the option lists, the hotkey features and the sound events. Windows-free.
//
// Texts are the English msgids; the dialog translates them when it shows them. The templates in
// res/settings.rc carry the same English texts as fallbacks.
#pragma once

#include <array>
#include <span>
#include <string>
#include <string_view>

#include "config/app_config.h"
#include "i18n/msgid.h"

namespace vistrel {

struct ControlText {
  int id;
  const wchar_t* msgid;
};

struct SettingsPage {
  const wchar_t* label;  // tree label
  int templateId;
};

inline constexpr int kSettingsPageCount = 8;
enum SettingsPageIndex : int {
  kPageGeneral = 0,
  kPageScreenCapture = 1,
  kPageVideo = 2,
  kPageAudio = 3,
  kPageGif = 4,
  kPageHotkeys = 5,
  kPageSoundEffects = 6,
  kPageDevices = 7,
};

// In tree order.
extern const std::array<SettingsPage, kSettingsPageCount> kSettingsPages;

// The translatable texts of the frame (201), of each page and of the Change Hotkey dialog (206),
// by template. Controls whose text the program fills in (feature name, volume values) are not
// listed. Empty for an unknown template.
std::span<const ControlText> TemplateTexts(int templateId);

inline constexpr const wchar_t* kSettingsCaption = N_(L"Vistrel Configuration");
inline constexpr const wchar_t* kChangeHotkeyCaption = N_(L"Change Hotkey");

// How results are told: item 0 stores ScreenReaderNotifications=1, item 1 stores 0.
extern const std::array<const wchar_t*, 2> kAnnounceChoices;

// Option lists; the stored value is the list index.
extern const std::array<const wchar_t*, 5> kVideoQualityNames;
extern const std::array<const wchar_t*, 3> kAudioFormatNames;
extern const std::array<const wchar_t*, 4> kAudioQualityNames;

// Frame rates; the stored value is the rate, and only the description is translated.
struct FrameRateChoice {
  int fps;
  const wchar_t* description;
};
extern const std::array<FrameRateChoice, 4> kFrameRates;
// "60 FPS (" + translated description + ")".
std::wstring FrameRateLabel(int fps, const std::wstring& description);
// The item to select for a stored rate: the one with that rate; otherwise the second item; with
// fewer than two items the first; -1 for an empty list.
int FrameRateItemFor(std::span<const int> rates, int stored);

// Hotkey features in list order; feature i is hotkey i + 1 (BindingForHotkey).
inline constexpr int kHotkeyFeatureCount = 13;
extern const std::array<const wchar_t*, kHotkeyFeatureCount> kHotkeyFeatureNames;

// Sound events in list order, each with its field of the sound-effect record.
struct SoundEvent {
  const wchar_t* name;
  std::wstring SoundEffects::*field;
};
inline constexpr int kSoundEventCount = 14;
extern const std::array<SoundEvent, kSoundEventCount> kSoundEvents;

// The value stored for a sound file the user picked: its path relative to the sounds folder when
// it lies inside that folder (letter case ignored), otherwise the full path.
std::wstring SoundValueForChosenFile(std::wstring_view chosen, std::wstring_view soundsFolder);

}  // namespace vistrel
