// Compiled gettext catalogues: files from msgfmt in both byte orders, and damaged files.
#include "i18n/mo_reader.h"

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "languages_folder.h"
#include "mo_builder.h"

namespace vistrel {
namespace {

using testing::BuildMo;
using testing::ByteOrder;
using testing::MoEntry;
using testing::MsgidSlot;
using testing::PutWord;
using testing::TranslationSlot;

TEST(MoFile, MsgfmtFilesInBothByteOrdersGiveTheWholeCatalogue) {
  // tests/data/i18n/catalogue.po once read: no header, no untranslated entry, plurals under their
  // singular only, and of two entries for one msgid (with a context or not) the later one in the
  // file, where msgfmt sorts them by their full keys ("menu\004Open" after "Open", but
  // "Alpha\004Save" before "Save").
  const MoCatalogue expected{
      {L"Open", L"\u00d6ffnen (Men\u00fc)"}, {L"Save", L"Speichern"}, {L"%d file", L"%d Datei"},
      {L"Settings", L"\u041d\u0430\u0441\u0442\u0440\u043e\u0439\u043a\u0438 \u65e5\u672c \U0001F600"},
      {L"Gr\u00fc\u00dfe", L"Greetings"}, {L"Recording %s to %s", L"Aufnahme %s nach %s"},
      {L"Done: 100%%", L"Fertig: 100%%"}};
  const std::filesystem::path folder(VISTREL_TEST_MO_DIR);
  for (const auto& [name, magic] : {std::pair{"catalogue.mo", "\xDE\x12\x04\x95"},
                                    std::pair{"catalogue-be.mo", "\x95\x04\x12\xDE"}}) {
    SCOPED_TRACE(name);
    ASSERT_EQ(testing::ReadFile(folder / name).substr(0, 4), std::string(magic, 4));
    EXPECT_EQ(ReadMoFile(folder / name), expected);
  }

  EXPECT_TRUE(ReadMoFile(folder / "no-such-file.mo").empty());
  EXPECT_TRUE(ReadMoFile(folder).empty()) << "a folder";
}

// Any magic other than the little-endian one means big-endian, so each case is also read with the
// big-endian magic replaced by junk.
TEST(MoEntries, ContextsPluralsHeaderEncodingAndDuplicatesInEitherByteOrder) {
  const std::pair<std::vector<MoEntry>, MoCatalogue> rows[] = {
      // The context is dropped up to the first separator only, and may be empty.
      {{{"ctx\x04Print", "Drucken"}, {"a\x04" "b\x04" "c", "x"}, {"\x04Lead", "y"}},
       {{L"Print", L"Drucken"}, {L"b\x04" L"c", L"x"}, {L"Lead", L"y"}}},
      // A plural entry keeps its singular and its first form.
      {{{std::string("%d item\0%d items", 16), std::string("%d Ding\0%d Dinge\0", 17)},
        {std::string("ctx\x04one\0many", 12), std::string("eins\0viele", 10)}},
       {{L"%d item", L"%d Ding"}, {L"one", L"eins"}}},
      // The header entry is skipped, other empty keys and empty translations are not.
      {{{"", "Content-Type: text/plain; charset=UTF-8\n"}, {"ctx\x04", "only a context"}, {"A", ""}},
       {{L"", L"only a context"}, {L"A", L""}}},
      // UTF-8 whatever the header says: Latin-1 bytes are not.
      {{{"", "Content-Type: text/plain; charset=ISO-8859-1\n"}, {"Greeting", "Gr\xC3\xBC\xC3\x9F" "e"},
        {"Broken", "Gr\xFC\xDF" "e"}},
       {{L"Greeting", L"Gr\u00fc\u00dfe"}, {L"Broken", L"Gr\uFFFD\uFFFDe"}}},
      // A later duplicate replaces the earlier one.
      {{{"A", "first"}, {"B", "b"}, {"A", "second"}}, {{L"A", L"second"}, {L"B", L"b"}}},
  };
  for (const auto& [entries, expected] : rows) {
    SCOPED_TRACE(::testing::Message() << entries.size() << " entries, the first " << entries[0].msgid);
    EXPECT_EQ(ReadMoCatalogue(BuildMo(entries)), expected);
    std::string big = BuildMo(entries, ByteOrder::kBig);
    EXPECT_EQ(ReadMoCatalogue(big), expected);
    EXPECT_EQ(ReadMoCatalogue(big.replace(0, 4, "junk")), expected);
  }
}

// Three entries whose strings follow the tables in order: msgids A, B, C, then translations.
std::string ThreeEntries() { return BuildMo({{"A", "alpha"}, {"B", "beta"}, {"C", "gamma"}}); }

TEST(MoDamage, EveryTruncationYieldsTheEntriesThatAreWhole) {
  EXPECT_TRUE(ReadMoCatalogue({}).empty());
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
    if (size < 20) EXPECT_TRUE(partial.empty()) << size;  // no whole header: magic alone, or less
  }
  // Cut inside the last translation: the first two entries are still read.
  EXPECT_EQ(ReadMoCatalogue(full.substr(0, full.rfind("gamma") + 3)), (MoCatalogue{{L"A", L"alpha"}, {L"B", L"beta"}}));
  // Cut inside the translation table: no index has both of its slots.
  EXPECT_TRUE(ReadMoCatalogue(full.substr(0, TranslationSlot(3, 0) + 6)).empty());
}

TEST(MoDamage, AWordPointingOutsideTheFileSkipsOnlyWhatItBreaks) {
  const std::string full = ThreeEntries();
  const auto size = static_cast<std::uint32_t>(full.size());
  const MoCatalogue withoutB{{L"A", L"alpha"}, {L"C", L"gamma"}};
  // {where, the word written there, what is read}
  const std::tuple<std::size_t, std::uint32_t, MoCatalogue> cases[] = {
      {MsgidSlot(1) + 4, size, withoutB},                 // msgid starts at the end
      {MsgidSlot(1) + 4, 0xFFFFFFFF, withoutB},           // msgid far outside
      {MsgidSlot(1), 0xFFFFFFFF, withoutB},               // msgid longer than the file
      {TranslationSlot(3, 1), size, withoutB},            // translation longer than the file
      {TranslationSlot(3, 1) + 4, size - 2, withoutB},    // translation runs past the end
      {TranslationSlot(3, 1) + 4, 0xFFFFFFFC, withoutB},  // offset + length wraps in 32 bits
      {8, 0, {}},                                         // no entries
      {0, 0x95041278, {}},  // a damaged little-endian magic: read big-endian, nothing is usable
      {12, 0xFFFFFFF8, {}}, {12, 0xFFFFFFFF, {}}, {12, 0x7FFFFFFF, {}},  // the msgid table outside
      {16, 0xFFFFFFF8, {}}, {16, 0xFFFFFFFF, {}}, {16, 0x7FFFFFFF, {}},  // the translation table outside
  };
  for (const auto& [at, value, expected] : cases) {
    SCOPED_TRACE(::testing::Message() << "word at " << at << " = " << value);
    std::string bytes = full;
    PutWord(bytes, at, value);
    EXPECT_EQ(ReadMoCatalogue(bytes), expected);
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

// `count` entries: msgid i is the `msgidLength` bytes of one shared text from offset i (so every
// msgid differs), and every translation is the whole shared text.
std::string OverlappingCatalogue(std::uint32_t count, std::uint32_t textLength, std::uint32_t msgidLength) {
  std::string bytes = BuildMo({});
  PutWord(bytes, 8, count);
  PutWord(bytes, 16, static_cast<std::uint32_t>(TranslationSlot(count, 0)));
  const auto text = static_cast<std::uint32_t>(TranslationSlot(count, count));
  for (std::uint32_t i = 0; i < count; ++i) {
    PutWord(bytes, MsgidSlot(i), msgidLength);
    PutWord(bytes, MsgidSlot(i) + 4, text + i);
    PutWord(bytes, TranslationSlot(count, i), textLength);
    PutWord(bytes, TranslationSlot(count, i) + 4, text);
  }
  std::mt19937 random(7);
  for (std::uint32_t i = 0; i < textLength; ++i) bytes.push_back(static_cast<char>('a' + random() % 26));
  return bytes;
}

TEST(MoDamage, OverlappingEntriesCannotMakeTheCatalogueMuchLargerThanTheFile) {
  // 5000 entries of 100 kB each would be half a gigabyte of text from a file of about 180 kB.
  const std::string file = OverlappingCatalogue(5000, 100000, 1000);
  const MoCatalogue catalogue = ReadMoCatalogue(file);
  std::size_t characters = 0;
  for (const auto& [msgid, translation] : catalogue) characters += msgid.size() + translation.size();
  EXPECT_GT(catalogue.size(), 0u) << "the entries that fit are still read";
  EXPECT_LE(characters, 2 * file.size() + 65536);
  // A catalogue whose entries share nothing is read whole.
  EXPECT_EQ(ReadMoCatalogue(OverlappingCatalogue(3, 300, 10)).size(), 3u);
}

}  // namespace
}  // namespace vistrel
