#include "video/video_layout.h"

#include <algorithm>
#include <limits>

namespace vistrel {
namespace {

struct QualityRow {
  int height;
  std::int32_t bitRate;  // at 60 frames/s
};

QualityRow QualityRowFor(int quality, int sourceHeight) {
  switch (quality) {
    case 0: return {480, 1500000};
    case 1: return {720, 4000000};
    case 2: return {1080, 8000000};
    case 3: return {1440, 16000000};
    case 4: return {2160, 35000000};
    default: return {sourceHeight, 8000000};
  }
}

}  // namespace

VideoOutputSize VideoOutputSizeFor(int sourceWidth, int sourceHeight, int quality, int framerate) {
  VideoOutputSize size;
  const QualityRow row = QualityRowFor(quality, sourceHeight);
  int target = row.height;
  if (sourceHeight < target) {
    target = sourceHeight;
    size.sourceLimited = true;
  }
  size.targetHeight = target;
  const double width = sourceHeight > 0 ? static_cast<double>(sourceWidth) / sourceHeight * target : 0.0;
  size.width = static_cast<int>(width) & ~1;
  size.height = target & ~1;
  size.bitRate = row.bitRate;
  if (framerate > 0) {
    const double scaled = row.bitRate * (framerate / 60.0);
    size.bitRate = static_cast<std::int32_t>(std::min<double>(scaled, std::numeric_limits<std::int32_t>::max()));
  }
  return size;
}

int UsableFramerate(int configured) {
  if (configured <= 0) return kFallbackFramerate;
  return std::min(configured, kMaxFramerate);
}

std::wstring VideoBaseName(bool windowMode, std::wstring_view windowTitle, bool multiTrack) {
  if (!windowMode) return multiTrack ? L"MultiTrack_Recording" : L"Recording";
  std::wstring base(windowTitle.substr(0, 100));
  for (wchar_t& c : base) {
    switch (c) {
      case L'\\': case L'/': case L':': case L'*': case L'?': case L'<': case L'>': case L'|':
        c = L'-';
        break;
      case L'"':
        c = L'\'';
        break;
      default:
        // Control characters cannot stand in a file name either.
        if (c < 0x20) c = L'-';
        break;
    }
  }
  if (base.empty()) base = L"WindowCapture";
  if (multiTrack) base += L"_MultiTrack";
  return base;
}

std::int64_t FrameClock::Take(std::int64_t elapsed) {
  const std::int64_t pts = std::max(elapsed / interval_, lastPts_ + 1);
  lastPts_ = pts;
  ++written_;
  return pts;
}

std::int64_t FrameClock::FinalPts(std::int64_t elapsed) const {
  const std::int64_t pts = elapsed / interval_;
  return pts > lastPts_ ? pts : -1;
}

void TickStatistics::Add(double milliseconds) {
  if (!(milliseconds >= 0.0)) milliseconds = 0.0;  // also NaN
  const auto bucket = static_cast<int>(std::min(milliseconds * 10.0 + 0.5, static_cast<double>(kBuckets - 1)));
  ++buckets_[static_cast<size_t>(bucket)];
  ++count_;
  total_ += milliseconds;
}

double TickStatistics::Percentile(double fraction) const {
  if (count_ == 0) return 0.0;
  const auto wanted = static_cast<std::int64_t>(fraction * static_cast<double>(count_) + 0.999999);
  std::int64_t seen = 0;
  for (int bucket = 0; bucket < kBuckets; ++bucket) {
    seen += buckets_[static_cast<size_t>(bucket)];
    if (seen >= wanted) return bucket / 10.0;
  }
  return (kBuckets - 1) / 10.0;
}

}  // namespace vistrel
