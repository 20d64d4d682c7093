#include "core/wave_data.h"

#include <algorithm>
#include <cstring>

namespace vistrel {
namespace {

constexpr std::uint16_t kFormatPcm = 1;
constexpr std::uint16_t kFormatFloat = 3;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;
constexpr std::uint64_t kMaxSilenceBytes = 4u << 20;

std::uint32_t Read32(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
         static_cast<std::uint32_t>(bytes[at + 2]) << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

std::uint16_t Read16(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

bool Tag(std::span<const std::uint8_t> bytes, std::size_t at, const char (&tag)[5]) {
  return std::memcmp(bytes.data() + at, tag, 4) == 0;
}

}  // namespace

std::uint16_t WaveData::formatTag() const { return Read16(format, 0); }
std::uint16_t WaveData::channels() const { return Read16(format, 2); }
std::uint32_t WaveData::bytesPerSecond() const { return Read32(format, 8); }
std::uint16_t WaveData::blockAlign() const { return Read16(format, 12); }
std::uint16_t WaveData::bitsPerSample() const { return Read16(format, 14); }

bool WaveData::IsLinear() const {
  std::uint16_t tag = formatTag();
  // An extensible header names its real format in the first two bytes of its sub-format GUID.
  if (tag == kFormatExtensible && format.size() >= 26) tag = Read16(format, 24);
  return tag == kFormatPcm || tag == kFormatFloat;
}

std::optional<WaveData> ParseWave(std::span<const std::uint8_t> file) {
  if (file.size() < 12 || !Tag(file, 0, "RIFF") || !Tag(file, 8, "WAVE")) return std::nullopt;
  WaveData wave;
  bool haveData = false;
  std::size_t at = 12;
  while (file.size() - at >= 8) {
    const std::uint32_t declared = Read32(file, at + 4);
    const std::size_t body = at + 8;
    const std::size_t size = std::min<std::size_t>(declared, file.size() - body);
    const auto chunk = file.subspan(body, size);
    if (Tag(file, at, "fmt ") && wave.format.empty() && size >= 16) {
      wave.format.assign(chunk.begin(), chunk.end());
      if (wave.format.size() < 18) wave.format.resize(18, 0);
    } else if (Tag(file, at, "data") && !haveData) {
      wave.samples.assign(chunk.begin(), chunk.end());
      haveData = true;
    }
    // Chunks are word aligned: an odd size is followed by a pad byte.
    const std::size_t next = body + static_cast<std::size_t>(declared) + (declared & 1);
    if (next <= at || next > file.size()) break;
    at = next;
  }
  if (wave.format.empty() || !haveData || wave.channels() == 0 || wave.blockAlign() == 0) return std::nullopt;
  wave.samples.resize(wave.samples.size() - wave.samples.size() % wave.blockAlign());
  return wave;
}

void AppendSilence(WaveData& wave, unsigned milliseconds) {
  if (!wave.IsLinear() || wave.blockAlign() == 0) return;
  // The rate comes from the file: a made-up one must not make the silence run away.
  const std::uint64_t bytes =
      std::min<std::uint64_t>(static_cast<std::uint64_t>(wave.bytesPerSecond()) * milliseconds / 1000, kMaxSilenceBytes);
  const std::size_t frames = static_cast<std::size_t>(bytes / wave.blockAlign());
  // Eight-bit samples are unsigned, their silence sits at the middle of the range.
  const std::uint8_t zero = wave.bitsPerSample() == 8 ? 0x80 : 0x00;
  wave.samples.insert(wave.samples.end(), frames * wave.blockAlign(), zero);
}

}  // namespace vistrel
