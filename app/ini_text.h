// Changing values in the text of an INI file without disturbing anything else in it. The same
// files are shared with the Windows program and edited by hand, so a write changes only the line
// of the key written (or adds one line to its section, or adds the section at the end): every
// other byte (CRLF line ends, comments, blank lines, lines neither program understands, order)
// stays exactly as it was. Lines are recognised as the reader (SimpleIni) recognises them.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tkb {

struct IniEntry {
  std::string section;
  std::string key;
  std::string value;
};

// False when writing the entry would change the file's structure: a line break or NUL
// anywhere, a section name with ']', a key with '=' or one that would read as a section,
// comment or nothing.
bool iniEntryWritable(const IniEntry& entry);

// text with each entry set in turn: the first occurrence of its key in its section (names
// without regard to case) gets the new value; a missing key is added after the last key of the
// section's first occurrence; a missing section is added at the end. Added lines end like the
// file's lines do (LF for a new file). Entries must be iniEntryWritable.
std::string setIniValues(std::string_view text, std::span<const IniEntry> entries);

// The keys of a section as the reader sees them, in file order: every occurrence of the
// section counts, a repeated key only the first time (its first value counts), names as
// written.
std::vector<IniEntry> iniSectionEntries(std::string_view text, std::string_view section);

// text without the key in the section (names without regard to case): every line of it, in
// every occurrence of the section, goes with its line break, so no later duplicate takes its
// place. Every other byte stays as it was; a missing key leaves the text unchanged.
std::string removeIniKey(std::string_view text, std::string_view section, std::string_view key);

}  // namespace tkb
