// What the multi-track dialogs show, independent of the windows that show them: the text of every
// control, the track type names and which controls each state enables. Windows-free.
//
// Texts are the English msgids; the dialogs translate them when they show them. The templates in
// res/tracks.rc carry the same English texts as fallbacks.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "ui/settings_texts.h"

namespace vistrel {

// The translatable texts of the management dialog (211) and the track editor (212). Empty for
// any other template.
std::span<const ControlText> TrackDialogTexts(int templateId);

inline constexpr const wchar_t* kTracksCaption = N_(L"Multi-Track Management");
inline constexpr const wchar_t* kTrackEditorCaption = N_(L"Edit Track");
inline constexpr const wchar_t* kTrackNameColumn = N_(L"Track Name");
inline constexpr const wchar_t* kTrackTypeColumn = N_(L"Type");
inline constexpr int kTrackNameColumnWidth = 250;
inline constexpr int kTrackTypeColumnWidth = 150;
inline constexpr const wchar_t* kEmptyTrackNameError = N_(L"Track name cannot be empty.");
inline constexpr const wchar_t* kErrorCaption = N_(L"Error");

// By TrackConfig::type: Mixed, Video Only, Audio Input, Audio Output.
extern const std::array<const wchar_t*, 4> kTrackTypeNames;
// The msgid of a type's name; nullptr for a type the program does not know.
const wchar_t* TrackTypeName(std::int32_t type);

// The management dialog: the list and its buttons work while either switch is on; the
// single-mode switch only means something while multi-track recording is off.
struct TracksDialogState {
  bool listEnabled;
  bool sameSourcesEnabled;
};
TracksDialogState TracksControlsFor(bool multiTrackEnabled, bool sameSources);

// The editor: which source groups a track type uses. Unknown types use none.
struct TrackSourceControls {
  bool video;
  bool input;
  bool output;
};
TrackSourceControls SourceControlsFor(std::int32_t type);

// The longest track name the editor takes.
inline constexpr int kMaxTrackNameChars = 255;

}  // namespace vistrel
