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
  EXPECT_EQ(std::wstring(TrackTypeName(kTrackMixed)), L"Mixed");
  EXPECT_EQ(std::wstring(TrackTypeName(kTrackVideoOnly)), L"Video Only");
  EXPECT_EQ(std::wstring(TrackTypeName(kTrackAudioInput)), L"Audio Input");
  EXPECT_EQ(std::wstring(TrackTypeName(kTrackAudioOutput)), L"Audio Output");
  EXPECT_EQ(TrackTypeName(-1), nullptr);
  EXPECT_EQ(TrackTypeName(4), nullptr);
}

TEST(TracksControlsFor, TheListNeedsASwitchAndSingleModeOnlyWithoutMultiTrack) {
  const TracksDialogState off = TracksControlsFor(false, false);
  EXPECT_FALSE(off.listEnabled);
  EXPECT_TRUE(off.sameSourcesEnabled);
  const TracksDialogState single = TracksControlsFor(false, true);
  EXPECT_TRUE(single.listEnabled);
  EXPECT_TRUE(single.sameSourcesEnabled);
  for (bool same : {false, true}) {
    const TracksDialogState multi = TracksControlsFor(true, same);
    EXPECT_TRUE(multi.listEnabled);
    EXPECT_FALSE(multi.sameSourcesEnabled);
  }
}

TEST(SourceControlsFor, EachTypeUsesItsOwnSources) {
  struct Row {
    std::int32_t type;
    bool video, input, output;
  };
  for (const Row& row : {Row{kTrackMixed, true, true, true}, Row{kTrackVideoOnly, true, false, false},
                         Row{kTrackAudioInput, false, true, false}, Row{kTrackAudioOutput, false, false, true},
                         Row{7, false, false, false}, Row{-1, false, false, false}}) {
    const TrackSourceControls on = SourceControlsFor(row.type);
    EXPECT_EQ(on.video, row.video) << row.type;
    EXPECT_EQ(on.input, row.input) << row.type;
    EXPECT_EQ(on.output, row.output) << row.type;
    // The editor's rule agrees with what a recorder takes from such a track.
    TrackConfig track;
    track.type = row.type;
    track.audio_input_id = track.audio_output_id = L"Default";
    EXPECT_EQ(TrackRecordsAudioInput(track), row.input) << row.type;
    EXPECT_EQ(TrackRecordsAudioOutput(track), row.output) << row.type;
  }
}

}  // namespace
}  // namespace vistrel
