#include "app/ini_text.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace tkb {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool isLineBreak(char c) { return c == '\n' || c == '\r'; }

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

// One line of the file: [begin, contentEnd) is its text, [contentEnd, end) its line break
// ("\r\n", "\n", a lone "\r" as the reader takes it, or nothing at the end of the file).
struct Line {
  size_t begin = 0, contentEnd = 0, end = 0;
  // BrokenSection: "[name" without "]". The reader then files the keys below it under a
  // section no name can match, until the next good header. A lone "[" reads on across line
  // ends: "[", blank lines and "MONITOR]" make one header, named on its last line.
  enum class Kind { Other, Section, BrokenSection, Key } kind = Kind::Other;
  std::string_view name;                    // section or key name, as the reader trims it
  size_t valueBegin = 0, valueEnd = 0;      // the value the reader takes (Key lines)
};

struct Lines : std::vector<Line> {
  bool openBracketAtEnd = false;  // the text ends inside a header that a lone "[" began
};

Lines splitLines(std::string_view text) {
  Lines lines;
  bool openBracket = false;
  size_t pos = 0;
  // A UTF-8 byte-order mark is skipped by the reader and kept by us.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") pos = 3;
  size_t lineBegin = 0;
  while (lineBegin < text.size()) {
    Line line;
    line.begin = lineBegin;
    size_t end = pos;
    while (end < text.size() && !isLineBreak(text[end])) ++end;
    line.contentEnd = end;
    if (end < text.size()) end += (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1;
    line.end = end;

    const std::string_view content = text.substr(pos, line.contentEnd - pos);
    size_t i = 0;
    while (i < content.size() && isBlank(content[i])) ++i;
    if (openBracket && i < content.size()) {
      // The rest of a header begun by a lone "[" above.
      openBracket = false;
      const size_t close = content.find(']', i);
      line.kind = close != std::string_view::npos ? Line::Kind::Section : Line::Kind::BrokenSection;
      if (close != std::string_view::npos) line.name = trimmed(content.substr(i, close - i));
    } else if (openBracket) {
      // a blank line inside such a header
    } else if (i < content.size() && content[i] == '[' && trimmed(content.substr(i + 1)).empty()) {
      openBracket = true;
    } else if (i < content.size() && content[i] == '[') {
      const size_t close = content.find(']', i + 1);
      if (close != std::string_view::npos) {
        line.kind = Line::Kind::Section;
        line.name = trimmed(content.substr(i + 1, close - i - 1));
      } else {
        line.kind = Line::Kind::BrokenSection;
      }
    } else if (i < content.size() && content[i] != ';' && content[i] != '#') {
      const size_t equals = content.find('=', i);
      if (equals != std::string_view::npos && equals > i) {
        line.kind = Line::Kind::Key;
        line.name = trimmed(content.substr(i, equals - i));
        size_t value = equals + 1;
        while (value < content.size() && isBlank(content[value])) ++value;
        size_t valueEnd = content.size();
        while (valueEnd > value && isBlank(content[valueEnd - 1])) --valueEnd;
        line.valueBegin = pos + value;
        line.valueEnd = pos + valueEnd;
      }
    }
    lines.push_back(line);
    lineBegin = pos = end;
  }
  lines.openBracketAtEnd = openBracket;
  return lines;
}

std::string_view lineBreakOf(std::string_view text, const Lines& lines) {
  for (const Line& line : lines)
    if (line.end > line.contentEnd) return text.substr(line.contentEnd, line.end - line.contentEnd);
  return "\n";
}

std::string setOne(std::string text, const IniEntry& entry) {
  const Lines lines = splitLines(text);
  const std::string_view view = text;
  const std::string_view lineBreak = lineBreakOf(view, lines);
  // New keys go after the last key of the section's first occurrence (or its header).
  std::optional<size_t> insertAfter;
  bool inSection = false, inFirstOccurrence = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    const Line& line = lines[i];
    if (line.kind == Line::Kind::BrokenSection) {
      inSection = inFirstOccurrence = false;
    } else if (line.kind == Line::Kind::Section) {
      inSection = sameName(line.name, entry.section);
      inFirstOccurrence = inSection && !insertAfter;
      if (inFirstOccurrence) insertAfter = i;
    } else if (line.kind == Line::Kind::Key && inSection) {
      if (sameName(line.name, entry.key)) {
        text.replace(line.valueBegin, line.valueEnd - line.valueBegin, entry.value);
        return text;
      }
      if (inFirstOccurrence) insertAfter = i;
    }
  }
  const std::string keyLine = entry.key + "=" + entry.value;
  if (insertAfter) {
    const Line& after = lines[*insertAfter];
    std::string added;
    if (after.end == after.contentEnd) added += lineBreak;  // the file's last line, unended
    added += keyLine;
    added += after.end > after.contentEnd ? view.substr(after.contentEnd, after.end - after.contentEnd)
                                          : lineBreak;
    text.insert(after.end, added);
    return text;
  }
  std::string added;
  if (!lines.empty()) {
    const Line& last = lines.back();
    if (last.end == last.contentEnd) added += lineBreak;
    const bool lastBlank = trimmed(view.substr(last.begin, last.contentEnd - last.begin)).empty();
    if (lines.openBracketAtEnd) {
      // A stray "[" would take the new header for the rest of its own: a comment line ends it.
      added += ";";
      added += lineBreak;
    } else if (!lastBlank) {
      added += lineBreak;  // one blank line between sections
    }
  }
  added += "[" + entry.section + "]";
  added += lineBreak;
  added += keyLine;
  added += lineBreak;
  return text + added;
}

}  // namespace

bool iniEntryWritable(const IniEntry& entry) {
  for (const std::string* part : {&entry.section, &entry.key, &entry.value})
    for (char c : *part)
      if (c == '\0' || isLineBreak(c)) return false;
  const std::string_view section = trimmed(entry.section);
  const std::string_view key = trimmed(entry.key);
  if (section.empty() || section.size() != entry.section.size() ||
      entry.section.find(']') != std::string::npos)
    return false;
  if (key.empty() || key.size() != entry.key.size() || entry.key.find('=') != std::string::npos) return false;
  return key.front() != '[' && key.front() != ';' && key.front() != '#';
}

std::vector<IniEntry> iniSectionEntries(std::string_view text, std::string_view section) {
  std::vector<IniEntry> entries;
  bool inSection = false;
  for (const Line& line : splitLines(text)) {
    if (line.kind == Line::Kind::BrokenSection || line.kind == Line::Kind::Section) {
      inSection = line.kind == Line::Kind::Section && sameName(line.name, section);
    } else if (line.kind == Line::Kind::Key && inSection) {
      const bool seen = std::any_of(entries.begin(), entries.end(),
                                    [&](const IniEntry& e) { return sameName(e.key, line.name); });
      if (!seen)
        entries.push_back({std::string(section), std::string(line.name),
                           std::string(text.substr(line.valueBegin, line.valueEnd - line.valueBegin))});
    }
  }
  return entries;
}

std::string removeIniKey(std::string_view text, std::string_view section, std::string_view key) {
  std::string result;
  result.reserve(text.size());
  bool inSection = false;
  size_t kept = 0;  // text before this offset is in result
  for (const Line& line : splitLines(text)) {
    if (line.kind == Line::Kind::BrokenSection || line.kind == Line::Kind::Section) {
      inSection = line.kind == Line::Kind::Section && sameName(line.name, section);
    } else if (line.kind == Line::Kind::Key && inSection && sameName(line.name, key)) {
      result.append(text.substr(kept, line.begin - kept));
      kept = line.end;
    }
  }
  result.append(text.substr(kept));
  return result;
}

std::string setIniValues(std::string_view text, std::span<const IniEntry> entries) {
  std::string result(text);
  for (const IniEntry& entry : entries) result = setOne(std::move(result), entry);
  return result;
}

}  // namespace tkb
