// The parts of a RIFF WAVE file a player needs: its format block and its samples. Windows-free.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vistrel {

struct WaveData {
  // The "fmt " chunk as it stands, at least the 16 bytes every WAVE format starts with and padded
  // to 18 (a WAVEFORMATEX with a zero extra size) when the file wrote the short form.
  std::vector<std::uint8_t> format;
  std::vector<std::uint8_t> samples;  // the "data" chunk, cut to whole sample frames

  std::uint16_t formatTag() const;
  std::uint16_t channels() const;
  std::uint32_t bytesPerSecond() const;
  std::uint16_t blockAlign() const;
  std::uint16_t bitsPerSample() const;
  // Plain samples (integer PCM or float, also inside an extensible header), whose silence is known.
  bool IsLinear() const;
};

// Reads a WAVE file; nothing when it is not one, has no format or data chunk, or its format makes
// no sense (no channels, no block size). Chunks that run past the end are cut to what is there.
std::optional<WaveData> ParseWave(std::span<const std::uint8_t> file);

// Appends `milliseconds` of silence to linear samples (other formats are left alone).
void AppendSilence(WaveData& wave, unsigned milliseconds);

}  // namespace vistrel
