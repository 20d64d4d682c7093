// Inputs made to hurt: a catalogue whose entries all point at one large text, window titles that
// are too long or hold control characters, track volumes far out of range, sound files that lie
// about their chunks.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

#include "capture/capture_naming.h"
#include "core/file_names.h"
#include "core/text.h"
#include "core/wave_data.h"
#include "i18n/mo_reader.h"
#include "tracks/track_config.h"

namespace vistrel {
namespace {

void PutWord(std::string& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// A little-endian .mo file of `count` entries: msgid i is the `msgidLength` bytes of one shared
// text from offset i (so every msgid differs), and every translation is the whole shared text.
std::string OverlappingCatalogue(std::uint32_t count, std::uint32_t textLength, std::uint32_t msgidLength) {
  const std::uint32_t tables = 28;
  const std::uint32_t text = tables + 2 * 8 * count;
  std::string bytes(text + textLength, '\0');
  PutWord(bytes, 0, 0x950412de);
  PutWord(bytes, 8, count);
  PutWord(bytes, 12, tables);
  PutWord(bytes, 16, tables + 8 * count);
  for (std::uint32_t i = 0; i < count; ++i) {
    PutWord(bytes, tables + 8 * i, msgidLength);
    PutWord(bytes, tables + 8 * i + 4, text + i);
    PutWord(bytes, tables + 8 * (count + i), textLength);
    PutWord(bytes, tables + 8 * (count + i) + 4, text);
  }
  std::mt19937 random(7);
  for (std::uint32_t i = 0; i < textLength; ++i) bytes[text + i] = static_cast<char>('a' + random() % 26);
  return bytes;
}

TEST(HostileCatalogue, OverlappingEntriesCannotMakeItMuchLargerThanTheFile) {
  // 5000 entries of 100 kB each would be half a gigabyte of text from a file of about 180 kB.
  const std::string file = OverlappingCatalogue(5000, 100000, 1000);
  const MoCatalogue catalogue = ReadMoCatalogue(file);
  std::size_t characters = 0;
  for (const auto& [msgid, translation] : catalogue) characters += msgid.size() + translation.size();
  EXPECT_GT(catalogue.size(), 0u) << "the entries that fit are still read";
  EXPECT_LE(characters, 2 * file.size() + 65536);
  // A catalogue whose entries share nothing is read whole.
  const std::string fair = OverlappingCatalogue(3, 300, 10);
  EXPECT_EQ(ReadMoCatalogue(fair).size(), 3u);
}

TEST(TitleFileNames, ControlCharactersAndLongTitlesGiveNamesThatFit) {
  const std::wstring stamp = L"2026-03-05_09-05-03";
  EXPECT_EQ(CaptureFileName(3, L"a\tb\nc\x7f", stamp), L"a_b_c__2026-03-05_09-05-03.png");
  const std::wstring folder = L"C:\\Users\\someone with a long name\\Pictures\\Vistrel";
  const std::wstring title(240, L'x');
  const std::wstring name = CaptureFileName(3, title, stamp, folder);
  // Room left for "_NN" of a name taken already and ".part".
  EXPECT_LE(folder.size() + 1 + name.size() + 11, kMaxPathChars);
  EXPECT_EQ(name.substr(name.size() - stamp.size() - 5), L"_" + stamp + L".png");
  // A cut never splits a surrogate pair.
  std::wstring emoji;
  for (int i = 0; i < 150; ++i) emoji += L"\U0001F600";
  const std::wstring cut = FitFileNameBase(folder, emoji, L"_" + stamp + L".mp4");
  EXPECT_EQ(Utf8ToWide(WideToUtf8(cut)), cut) << "no lone surrogate at the cut";
  EXPECT_TRUE(FitFileNameBase(std::wstring(300, L'f'), L"title", L".png").empty()) << "no room at all";
}

TEST(TrackVolume, AppliedWithinTheEditorsRangeWhateverTheFileSays) {
  EXPECT_FLOAT_EQ(TrackGain(50), 0.5f);
  EXPECT_FLOAT_EQ(TrackGain(100), 1.0f);
  EXPECT_FLOAT_EQ(TrackGain(20000000), 1.0f);
  EXPECT_FLOAT_EQ(TrackGain(-5), 0.0f);
}


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
