#include "tracks/track_store.h"

namespace vistrel {

TrackStore& TrackStore::Instance() {
  static TrackStore store;
  return store;
}

void TrackStore::Load() {
  MultiTrackConfig loaded;
  loaded.Load();
  std::lock_guard guard(lock_);
  config_ = std::move(loaded);
}

MultiTrackConfig TrackStore::Snapshot() const {
  std::lock_guard guard(lock_);
  return config_;
}

void TrackStore::Edit(const std::function<void(MultiTrackConfig&)>& change) {
  std::lock_guard guard(lock_);
  change(config_);
  config_.Save();
}

}  // namespace vistrel
