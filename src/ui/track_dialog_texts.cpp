#include "ui/track_dialog_texts.h"

#include "resource.h"
#include "tracks/track_config.h"

namespace vistrel {
namespace {

constexpr ControlText kTracksTexts[] = {
    {IDC_MULTI_TRACK_ENABLED, N_(L"Enable Multi-Track Recording")},
    {IDC_SAME_SOURCES, N_(L"Use same sources in single track mode")},
    {IDC_TRACK_LIST_LABEL, N_(L"Tracks:")},
    {IDC_ADD_TRACK, N_(L"&Add New Track...")},
    {IDC_EDIT_TRACK, N_(L"&Edit Track...")},
    {IDC_DELETE_TRACK, N_(L"&Delete Track")},
    {1, N_(L"Close")},
};

constexpr ControlText kTrackEditorTexts[] = {
    {IDC_TRACK_NAME_LABEL, N_(L"Track Name:")},
    {IDC_TRACK_TYPE_LABEL, N_(L"Track Type:")},
    {IDC_SOURCES_GROUP, N_(L"Sources")},
    {IDC_VIDEO_SOURCE_LABEL, N_(L"Video Source:")},
    {IDC_AUDIO_INPUT_LABEL, N_(L"Audio Input:")},
    {IDC_INPUT_VOLUME_LABEL, N_(L"Input Volume:")},
    {IDC_AUDIO_OUTPUT_LABEL, N_(L"Audio Output:")},
    {IDC_OUTPUT_VOLUME_LABEL, N_(L"Output Volume:")},
    {1, N_(L"Save")},
    {2, N_(L"Cancel")},
};

}  // namespace

std::span<const ControlText> TrackDialogTexts(int templateId) {
  switch (templateId) {
    case IDD_TRACKS: return kTracksTexts;
    case IDD_TRACK_EDITOR: return kTrackEditorTexts;
    default: return {};
  }
}

const std::array<const wchar_t*, 4> kTrackTypeNames = {N_(L"Mixed"), N_(L"Video Only"), N_(L"Audio Input"),
                                                       N_(L"Audio Output")};

const wchar_t* TrackTypeName(std::int32_t type) {
  if (type < 0 || static_cast<size_t>(type) >= kTrackTypeNames.size()) return nullptr;
  return kTrackTypeNames[static_cast<size_t>(type)];
}

TracksDialogState TracksControlsFor(bool multiTrackEnabled, bool sameSources) {
  return {multiTrackEnabled || sameSources, !multiTrackEnabled};
}

TrackSourceControls SourceControlsFor(std::int32_t type) {
  switch (type) {
    case kTrackMixed: return {true, true, true};
    case kTrackVideoOnly: return {true, false, false};
    case kTrackAudioInput: return {false, true, false};
    case kTrackAudioOutput: return {false, false, true};
    default: return {false, false, false};
  }
}

}  // namespace vistrel
