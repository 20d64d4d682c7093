// What the multi-track dialogs show and which controls each state leaves usable.
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "resource.h"
#include "tracks/track_config.h"
#include "ui/track_dialog_texts.h"

namespace vistrel {
namespace {

TEST(TrackDialogTexts, EachTemplateNamesEveryControlOnce) {
  for (int id : {IDD_TRACKS, IDD_TRACK_EDITOR}) {
    std::set<int> controls;
    for (const ControlText& entry : TrackDialogTexts(id)) {
      EXPECT_TRUE(controls.insert(entry.id).second) << id << ": control " << entry.id << " twice";
      EXPECT_NE(std::wstring(entry.msgid), L"") << id;
    }
  }
  EXPECT_EQ(TrackDialogTexts(IDD_TRACKS).size(), 7u);
  EXPECT_EQ(TrackDialogTexts(IDD_TRACK_EDITOR).size(), 10u);
  EXPECT_TRUE(TrackDialogTexts(IDD_SETTINGS).empty());
}

TEST(TrackTypeName, FollowsTheStoredNumbers) {
  // Types -1 .. 4, of which the program knows 0 .. 3.
  const wchar_t* names[] = {nullptr, L"Mixed", L"Video Only", L"Audio Input", L"Audio Output", nullptr};
  for (int type = -1; type <= 4; ++type) EXPECT_STREQ(TrackTypeName(type), names[type + 1]) << type;
}

TEST(TracksControlsFor, TheListNeedsASwitchAndSingleModeOnlyWithoutMultiTrack) {
  // {multi-track, same sources} -> {list, same-sources switch}
  const bool rows[][4] = {{false, false, false, true}, {false, true, true, true}, {true, false, true, false},
                          {true, true, true, false}};
  for (const auto& [multiTrack, sameSources, list, sameSwitch] : rows) {
    SCOPED_TRACE(::testing::Message() << multiTrack << sameSources);
    const TracksDialogState state = TracksControlsFor(multiTrack, sameSources);
    EXPECT_EQ(state.listEnabled, list);
    EXPECT_EQ(state.sameSourcesEnabled, sameSwitch);
  }
}

// The editor's controls and what a recorder takes from a track follow the same rule.
TEST(TrackSources, EachTypeUsesItsOwnSourcesInTheEditorAndTheRecorders) {
  struct Row {
    std::int32_t type;
    bool video, input, output;
  };
  for (const Row& row : {Row{kTrackMixed, true, true, true}, Row{kTrackVideoOnly, true, false, false},
                         Row{kTrackAudioInput, false, true, false}, Row{kTrackAudioOutput, false, false, true},
                         Row{7, false, false, false}, Row{-1, false, false, false}}) {
    SCOPED_TRACE(row.type);
    const TrackSourceControls on = SourceControlsFor(row.type);
    EXPECT_EQ(on.video, row.video);
    EXPECT_EQ(on.input, row.input);
    EXPECT_EQ(on.output, row.output);
    TrackConfig track{L"t", L"", row.type, L"Default", L"Default", L"Default"};
    EXPECT_EQ(TrackRecordsVideo(track), row.video);
    EXPECT_EQ(TrackRecordsAudioInput(track), row.input);
    EXPECT_EQ(TrackRecordsAudioOutput(track), row.output);
    // Empty audio ids are unused; an empty video id is left for the video recorder to judge.
    track.video_source_id = track.audio_input_id = track.audio_output_id = L"";
    EXPECT_EQ(TrackRecordsVideo(track), row.video);
    EXPECT_FALSE(TrackRecordsAudioInput(track));
    EXPECT_FALSE(TrackRecordsAudioOutput(track));
  }
}

}  // namespace
}  // namespace vistrel
