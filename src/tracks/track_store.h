// The multi-track configuration that the track dialogs edit, behind a lock. Every change is saved
// to multy_tracs.json at once; a recording reads the file itself when it starts.
#pragma once

#include <functional>
#include <mutex>

#include "tracks/track_config.h"

namespace vistrel {

class TrackStore {
 public:
  static TrackStore& Instance();

  // Reads multy_tracs.json (the default track when it is missing or unusable).
  void Load();
  // A copy of the configuration as it is now.
  MultiTrackConfig Snapshot() const;
  // Changes the configuration and saves it. When the file cannot be written, the user is told and
  // the change is dropped, so that the configuration stays what the file holds; false then.
  bool Edit(const std::function<void(MultiTrackConfig&)>& change);

 private:
  mutable std::mutex lock_;
  MultiTrackConfig config_;
};

}  // namespace vistrel
