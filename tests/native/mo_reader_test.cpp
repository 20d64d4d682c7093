// Compiled gettext catalogues: files from msgfmt in both byte orders, and damaged files.
#include "i18n/mo_reader.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "mo_builder.h"

namespace vistrel {
namespace {

using testing::BuildMo;
using testing::ByteOrder;
using testing::MoEntry;
using testing::MsgidSlot;
using testing::PutWord;
using testing::TranslationSlot;

std::filesystem::path TestCatalogue(const char* name) {
  return std::filesystem::path(VISTREL_TEST_MO_DIR) / name;
}

std::string FileBytes(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// What tests/data/i18n/catalogue.po holds once read.
const MoCatalogue& ExpectedCatalogue() {
  static const MoCatalogue expected{
      {L"Open", L"\u00d6ffnen (Men\u00fc)"},
      {L"Save", L"Speichern"},
      {L"%d file", L"%d Datei"},
      {L"Settings", L"\u041d\u0430\u0441\u0442\u0440\u043e\u0439\u043a\u0438 \u65e5\u672c \U0001F600"},
      {L"Gr\u00fc\u00dfe", L"Greetings"},
      {L"Recording %s to %s", L"Aufnahme %s nach %s"},
      {L"Done: 100%%", L"Fertig: 100%%"},
  };
  return expected;
}

TEST(MoFromMsgfmt, LittleEndianCatalogue) {
  const std::string bytes = FileBytes(TestCatalogue("catalogue.mo"));
  ASSERT_GE(bytes.size(), 4u);
  ASSERT_EQ(bytes.substr(0, 4), std::string("\xDE\x12\x04\x95", 4));
  EXPECT_EQ(ReadMoFile(TestCatalogue("catalogue.mo")), ExpectedCatalogue());
}

TEST(MoFromMsgfmt, BigEndianCatalogue) {
  const std::string bytes = FileBytes(TestCatalogue("catalogue-be.mo"));
  ASSERT_GE(bytes.size(), 4u);
  ASSERT_EQ(bytes.substr(0, 4), std::string("\x95\x04\x12\xDE", 4));
  EXPECT_EQ(ReadMoFile(TestCatalogue("catalogue-be.mo")), ExpectedCatalogue());
}

TEST(MoFromMsgfmt, LaterEntryWinsWhetherItHasAContextOrNot) {
  // msgfmt sorts by the full key; the fixture relies on this order, so check it first.
  const std::string bytes = FileBytes(TestCatalogue("catalogue.mo"));
  const auto plainOpen = bytes.find(std::string("\0Open\0", 6));
  const auto menuOpen = bytes.find("menu\x04Open");
  const auto alphaSave = bytes.find("Alpha\x04Save");
  const auto plainSave = bytes.find(std::string("\0Save\0", 6));
  ASSERT_NE(plainOpen, std::string::npos);
  ASSERT_NE(menuOpen, std::string::npos);
  ASSERT_NE(alphaSave, std::string::npos);
  ASSERT_NE(plainSave, std::string::npos);
  ASSERT_LT(plainOpen, menuOpen);
  ASSERT_LT(alphaSave, plainSave);

  const MoCatalogue catalogue = ReadMoCatalogue(bytes);
  EXPECT_EQ(catalogue.at(L"Open"), L"\u00d6ffnen (Men\u00fc)");  // the context entry came later
  EXPECT_EQ(catalogue.at(L"Save"), L"Speichern");                  // the plain entry came later
}

TEST(MoFromMsgfmt, HeaderAndUntranslatedEntriesAreAbsent) {
  const MoCatalogue catalogue = ReadMoFile(TestCatalogue("catalogue.mo"));
  EXPECT_EQ(catalogue.count(L""), 0u);
  EXPECT_EQ(catalogue.count(L"Untranslated"), 0u);
  EXPECT_EQ(catalogue.count(L"%d files"), 0u);  // plural entries are found by the singular only
}

TEST(MoFile, MissingFileOrFolderGivesEmptyCatalogue) {
  EXPECT_TRUE(ReadMoFile(TestCatalogue("no-such-file.mo")).empty());
  EXPECT_TRUE(ReadMoFile(std::filesystem::path(VISTREL_TEST_MO_DIR)).empty());
}

TEST(MoEntries, ContextIsDroppedUpToTheFirstSeparator) {
  const MoCatalogue catalogue = ReadMoCatalogue(BuildMo({
      {"ctx\x04Print", "Drucken"},
      {"a\x04" "b\x04" "c", "x"},      // only the first separator ends the context
      {"\x04Lead", "y"},               // an empty context
  }));
  EXPECT_EQ(catalogue, (MoCatalogue{{L"Print", L"Drucken"}, {L"b\x04" L"c", L"x"}, {L"Lead", L"y"}}));
}

TEST(MoEntries, PluralsKeepSingularAndFirstForm) {
  const MoCatalogue catalogue = ReadMoCatalogue(BuildMo({
      {std::string("%d item\0%d items", 16), std::string("%d Ding\0%d Dinge\0", 17)},
      {std::string("ctx\x04one\0many", 12), std::string("eins\0viele", 10)},
  }));
  EXPECT_EQ(catalogue, (MoCatalogue{{L"%d item", L"%d Ding"}, {L"one", L"eins"}}));
}

TEST(MoEntries, HeaderEntryIsSkippedButOtherEmptyKeysAreNot) {
  const MoCatalogue catalogue = ReadMoCatalogue(BuildMo({
      {"", "Content-Type: text/plain; charset=UTF-8\n"},
      {"ctx\x04", "only a context"},
      {"A", ""},
  }));
  EXPECT_EQ(catalogue, (MoCatalogue{{L"", L"only a context"}, {L"A", L""}}));
}

TEST(MoEntries, TextIsUtf8WhateverTheHeaderSays) {
  const MoCatalogue catalogue = ReadMoCatalogue(BuildMo({
      {"", "Content-Type: text/plain; charset=ISO-8859-1\n"},
      {"Greeting", "Gr\xC3\xBC\xC3\x9F" "e"},
      {"Broken", "Gr\xFC\xDF" "e"},  // Latin-1 bytes are not UTF-8
  }));
  EXPECT_EQ(catalogue.at(L"Greeting"), L"Gr\u00fc\u00dfe");
  EXPECT_EQ(catalogue.at(L"Broken"), L"Gr\uFFFD\uFFFDe");
}

TEST(MoEntries, LaterDuplicateReplacesEarlier) {
  const MoCatalogue catalogue = ReadMoCatalogue(BuildMo({{"A", "first"}, {"B", "b"}, {"A", "second"}}));
  EXPECT_EQ(catalogue, (MoCatalogue{{L"A", L"second"}, {L"B", L"b"}}));
}

TEST(MoByteOrder, AnyOtherMagicMeansBigEndian) {
  std::string bytes = BuildMo({{"A", "a"}}, ByteOrder::kBig);
  EXPECT_EQ(ReadMoCatalogue(bytes), (MoCatalogue{{L"A", L"a"}}));
  bytes.replace(0, 4, "junk");
  EXPECT_EQ(ReadMoCatalogue(bytes), (MoCatalogue{{L"A", L"a"}}));
  // A little-endian file whose magic is damaged is read big-endian and yields nothing usable.
  std::string little = BuildMo({{"A", "a"}});
  little[0] = 'x';
  EXPECT_TRUE(ReadMoCatalogue(little).empty());
}

// Three entries whose strings follow the tables in order: msgids A, B, C, then translations.
std::string ThreeEntries() { return BuildMo({{"A", "alpha"}, {"B", "beta"}, {"C", "gamma"}}); }

TEST(MoDamage, EveryTruncationYieldsTheEntriesThatAreWhole) {
  const std::string full = ThreeEntries();
  const MoCatalogue complete = ReadMoCatalogue(full);
  ASSERT_EQ(complete.size(), 3u);
  for (std::size_t size = 0; size <= full.size(); ++size) {
    // A copy of exactly `size` bytes, so that the sanitizer sees any read past the end.
    const std::string cut = full.substr(0, size);
    const MoCatalogue partial = ReadMoCatalogue(cut);
    for (const auto& [msgid, translation] : partial) {
      ASSERT_EQ(complete.count(msgid), 1u) << size;
      EXPECT_EQ(complete.at(msgid), translation) << size;
    }
    if (size < 20) EXPECT_TRUE(partial.empty()) << size;
  }
  // Cut inside the last translation: the first two entries are still read.
  const std::size_t lastTranslation = full.rfind("gamma");
  EXPECT_EQ(ReadMoCatalogue(full.substr(0, lastTranslation + 3)),
            (MoCatalogue{{L"A", L"alpha"}, {L"B", L"beta"}}));
  // Cut inside the translation table: no index has both of its slots.
  EXPECT_TRUE(ReadMoCatalogue(full.substr(0, TranslationSlot(3, 0) + 6)).empty());
}

TEST(MoDamage, OffsetsAndLengthsPastTheEndSkipOnlyTheirEntry) {
  const std::string full = ThreeEntries();
  const auto size = static_cast<std::uint32_t>(full.size());
  struct Case {
    std::size_t at;
    std::uint32_t value;
  };
  for (const Case& damage : {
           Case{MsgidSlot(1) + 4, size},                  // msgid starts at the end
           Case{MsgidSlot(1) + 4, 0xFFFFFFFF},            // msgid far outside
           Case{MsgidSlot(1), 0xFFFFFFFF},                // msgid longer than the file
           Case{TranslationSlot(3, 1), size},             // translation longer than the file
           Case{TranslationSlot(3, 1) + 4, size - 2},     // translation runs past the end
           Case{TranslationSlot(3, 1) + 4, 0xFFFFFFFC},   // offset + length wraps in 32 bits
       }) {
    std::string bytes = full;
    PutWord(bytes, damage.at, damage.value);
    EXPECT_EQ(ReadMoCatalogue(bytes), (MoCatalogue{{L"A", L"alpha"}, {L"C", L"gamma"}}))
        << damage.at << " " << damage.value;
  }
}

TEST(MoDamage, HugeCountStopsAtTheEndOfTheTables) {
  std::string bytes = ThreeEntries();
  PutWord(bytes, 8, 0xFFFFFFFF);
  const MoCatalogue catalogue = ReadMoCatalogue(bytes);
  // Slots past the real three are read from the string area; whatever they yield, the real
  // entries are there with their own translations (no later slot is a valid string reference).
  EXPECT_EQ(catalogue.at(L"A"), L"alpha");
  EXPECT_EQ(catalogue.at(L"B"), L"beta");
  EXPECT_EQ(catalogue.at(L"C"), L"gamma");
}

TEST(MoDamage, ZeroCountReadsNothing) {
  std::string bytes = ThreeEntries();
  PutWord(bytes, 8, 0);
  EXPECT_TRUE(ReadMoCatalogue(bytes).empty());
}

TEST(MoDamage, TablesOutsideTheFileReadNothing) {
  for (std::uint32_t table : {0xFFFFFFF8u, 0xFFFFFFFFu, 0x7FFFFFFFu}) {
    std::string msgids = ThreeEntries();
    PutWord(msgids, 12, table);
    EXPECT_TRUE(ReadMoCatalogue(msgids).empty()) << table;
    std::string translations = ThreeEntries();
    PutWord(translations, 16, table);
    EXPECT_TRUE(ReadMoCatalogue(translations).empty()) << table;
  }
}

TEST(MoDamage, TableStraddlingTheEndKeepsTheSlotsBeforeIt) {
  std::string bytes = ThreeEntries();
  // The translation table is moved so that only its first two slots lie inside the file; they
  // point at the data of the original first two slots, which are copied there.
  const std::size_t moved = bytes.size();
  bytes += bytes.substr(TranslationSlot(3, 0), 16);
  bytes += "\x01\x02\x03";  // part of a third slot
  PutWord(bytes, 16, static_cast<std::uint32_t>(moved));
  EXPECT_EQ(ReadMoCatalogue(bytes), (MoCatalogue{{L"A", L"alpha"}, {L"B", L"beta"}}));
}

TEST(MoDamage, ShortOrEmptyInput) {
  EXPECT_TRUE(ReadMoCatalogue({}).empty());
  EXPECT_TRUE(ReadMoCatalogue(std::string("\xDE\x12\x04\x95", 4)).empty());
  const std::string full = ThreeEntries();
  EXPECT_TRUE(ReadMoCatalogue(full.substr(0, 19)).empty());
}

}  // namespace
}  // namespace vistrel
