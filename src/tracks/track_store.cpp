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

bool TrackStore::Edit(const std::function<void(MultiTrackConfig&)>& change) {
  std::lock_guard guard(lock_);
  MultiTrackConfig changed = config_;
  change(changed);
  if (!changed.Save()) return false;
  config_ = std::move(changed);
  return true;
}

}  // namespace vistrel
