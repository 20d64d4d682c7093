// Reader for compiled gettext catalogues (.mo files). Windows-free.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>

namespace vistrel {

// English source text (msgid) -> translation. Lookup is exact and case-sensitive.
using MoCatalogue = std::map<std::wstring, std::wstring>;

// The entries of a .mo file held in memory.
//  - Byte order: the magic DE 12 04 95 (as bytes) means little-endian; anything else is read as
//    big-endian. The revision and the hash table are not used.
//  - The catalogue header (the entry whose msgid is empty) is skipped.
//  - A message context ("ctx" 0x04 "msgid") is dropped; a plural entry is stored under its singular
//    msgid with its first plural form.
//  - Both texts are decoded as UTF-8, whatever charset the header names.
//  - A later entry with the same msgid replaces an earlier one.
// A damaged or truncated file is never rejected as a whole: every entry whose table slots and
// both texts lie inside the data is used, the others are left out. Nothing outside `bytes` is read,
// and entries whose texts overlap cannot make the catalogue much larger than the file: once the
// texts taken add up to twice its size (and 64 KiB), the rest is left out, and `capped` (when
// given) is set.
MoCatalogue ReadMoCatalogue(std::string_view bytes, bool* capped = nullptr);

// The same for a file; a file that cannot be opened gives an empty catalogue.
MoCatalogue ReadMoFile(const std::filesystem::path& path);

}  // namespace vistrel
