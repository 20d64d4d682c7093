// Any file chosen as a sound reads as a wave the player can use, or as none: a format block of at
// least a WAVEFORMATEX, whole sample frames, and silence appended without running away.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "core/wave_data.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto wave = vistrel::ParseWave(std::span<const std::uint8_t>(data, size));
  if (!wave) return 0;
  if (wave->format.size() < 18 || wave->blockAlign() == 0 || wave->channels() == 0) std::abort();
  if (wave->samples.size() % wave->blockAlign() != 0 || wave->samples.size() > size) std::abort();
  const std::size_t before = wave->samples.size();
  vistrel::AppendSilence(*wave, 150);
  if (wave->samples.size() % wave->blockAlign() != 0) std::abort();
  if (wave->samples.size() - before > (4u << 20)) std::abort();
  return 0;
}
