#include "support/ini_file.h"

#include <fstream>
#include <sstream>

#include "support/ascii_text.h"

namespace morvane {
namespace {

// The value as the profile reader hands it back: quotes that wrap the whole
// value are an operator's way of keeping blanks, not part of the value.
std::string CleanValue(std::string_view raw) {
  std::string_view v = TrimBlanks(raw);
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    v = v.substr(1, v.size() - 2);
  }
  if (v.size() > kMaxIniValueLength) {
    v = v.substr(0, kMaxIniValueLength);
  }
  return std::string(v);
}

}  // namespace

TIniFile::TIniFile(std::string path) : path_(std::move(path)) {
  std::ifstream in(path_, std::ios::binary);
  if (!in) {
    return;
  }
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) {
    return;
  }
  Parse(text.str());
}

void TIniFile::Parse(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) {
    text.remove_prefix(3);
  }
  Section* current = nullptr;
  while (!text.empty()) {
    const std::size_t eol = text.find('\n');
    std::string_view line = text.substr(0, eol);
    text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    line = TrimBlanks(line);
    if (line.empty() || line.front() == ';') {
      continue;
    }

    if (line.front() == '[') {
      const std::size_t close = line.find(']');
      const std::string_view name =
          TrimBlanks(line.substr(1, close == std::string_view::npos ? line.npos : close - 1));
      // A repeated section is still opened, but lookups stop at the first one.
      sections_.push_back(Section{std::string(name), {}});
      current = &sections_.back();
      continue;
    }
    if (current == nullptr) {
      continue;
    }
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
      continue;
    }
    const std::string_view key = TrimBlanks(line.substr(0, eq));
    if (key.empty()) {
      continue;
    }
    current->entries.push_back(Entry{std::string(key), CleanValue(line.substr(eq + 1))});
  }
}

const TIniFile::Section* TIniFile::FindSection(std::string_view name) const {
  const std::string_view wanted = TrimBlanks(name);
  for (const Section& s : sections_) {
    if (EqualsIgnoringCase(s.name, wanted)) {
      return &s;
    }
  }
  return nullptr;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 std::string_view def) const {
  if (const Section* s = FindSection(section)) {
    const std::string_view wanted = TrimBlanks(key);
    for (const Entry& e : s->entries) {
      if (EqualsIgnoringCase(e.key, wanted)) {
        return e.value;
      }
    }
  }
  return std::string(def);
}

std::vector<std::string> TIniFile::ReadSectionValues(std::string_view section) const {
  std::vector<std::string> out;
  const Section* s = FindSection(section);
  if (s == nullptr) {
    return out;
  }
  for (std::size_t i = 0; i < s->entries.size(); ++i) {
    const Entry& e = s->entries[i];
    bool seen = false;
    for (std::size_t j = 0; j < i && !seen; ++j) {
      seen = EqualsIgnoringCase(s->entries[j].key, e.key);
    }
    if (!seen) {
      out.push_back(e.key + "=" + e.value);
    }
  }
  return out;
}

}  // namespace morvane
