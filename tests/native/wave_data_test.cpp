// Sound files read whole: chunks that lie about their sizes, and the silence after a sound.
#include "core/wave_data.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "mo_builder.h"

namespace vistrel {
namespace {

using testing::PutWord;

// A RIFF WAVE file from its chunks, each given as tag and body; `declared` overrides a size.
std::vector<std::uint8_t> Riff(std::initializer_list<std::pair<std::string, std::string>> chunks,
                               std::uint32_t declared = 0) {
  std::string body = "WAVE";
  for (const auto& [tag, data] : chunks) {
    std::string size(4, '\0');
    PutWord(size, 0, declared && tag == "data" ? declared : static_cast<std::uint32_t>(data.size()));
    body += tag + size + data + (data.size() % 2 ? std::string(1, '\0') : "");
  }
  std::string size(4, '\0');
  PutWord(size, 0, static_cast<std::uint32_t>(body.size()));
  const std::string file = "RIFF" + size + body;
  return {file.begin(), file.end()};
}

std::string Format(std::uint16_t tag, std::uint16_t channels, std::uint16_t bits, std::size_t size = 16) {
  std::string f(size, '\0');
  const std::uint16_t align = static_cast<std::uint16_t>(channels * bits / 8);
  f[0] = static_cast<char>(tag & 0xFF), f[1] = static_cast<char>(tag >> 8), f[2] = static_cast<char>(channels);
  PutWord(f, 4, 8000);
  PutWord(f, 8, 8000u * align);
  f[12] = static_cast<char>(align), f[14] = static_cast<char>(bits);
  return f;
}

TEST(WaveFiles, ChunksAreFoundAndCheckedWhateverTheirSizesSay) {
  // An odd-sized chunk before the format is skipped with its pad byte.
  auto wave = ParseWave(Riff({{"LIST", "abc"}, {"fmt ", Format(1, 2, 16)}, {"data", "0123456"}}));
  ASSERT_TRUE(wave);
  EXPECT_EQ(wave->format.size(), 18u) << "the short form grows to a WAVEFORMATEX";
  EXPECT_EQ(wave->samples, std::vector<std::uint8_t>({'0', '1', '2', '3'})) << "whole frames only";
  // A data chunk that claims more than the file holds gives what is there.
  wave = ParseWave(Riff({{"fmt ", Format(1, 1, 16)}, {"data", "abcd"}}, 0x7FFFFFF0));
  ASSERT_TRUE(wave);
  EXPECT_EQ(wave->samples.size(), 4u);
  EXPECT_FALSE(ParseWave(Riff({{"data", "abcd"}}))) << "no format";
  EXPECT_FALSE(ParseWave(Riff({{"fmt ", Format(1, 0, 16)}, {"data", "abcd"}}))) << "no channels";
  EXPECT_FALSE(ParseWave(Riff({{"fmt ", Format(1, 1, 16).substr(0, 12)}, {"data", "ab"}}))) << "format cut short";

  // Silence is appended to linear formats only, in the format's own zero.
  wave = ParseWave(Riff({{"fmt ", Format(1, 1, 8)}, {"data", "xy"}}));
  AppendSilence(*wave, 100);
  EXPECT_EQ(wave->samples.size(), 2u + 800u);
  EXPECT_EQ(wave->samples.back(), 0x80);
  std::string extensible = Format(0xFFFE, 2, 32, 40);
  extensible[24] = 3;  // float samples
  wave = ParseWave(Riff({{"fmt ", extensible}, {"data", std::string(8, 'z')}}));
  AppendSilence(*wave, 10);
  EXPECT_EQ(wave->samples.size(), 8u + 640u);
  EXPECT_EQ(wave->samples.back(), 0);
  wave = ParseWave(Riff({{"fmt ", Format(2, 1, 8)}, {"data", "ad"}}));  // ADPCM: its silence is not zeros
  ASSERT_TRUE(wave);
  AppendSilence(*wave, 100);
  EXPECT_EQ(wave->samples.size(), 2u);
}

}  // namespace
}  // namespace vistrel
