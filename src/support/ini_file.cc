#include "support/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

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

bool SameState(const struct stat& a, const struct stat& b) {
  return a.st_ino == b.st_ino && a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
         a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// The whole of an open file, read from its start; false on a read error.
bool ReadAll(int fd, std::string* text) {
  text->clear();
  char buf[8192];
  for (off_t at = 0;;) {
    const ssize_t n = ::pread(fd, buf, sizeof buf, at);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    text->append(buf, static_cast<size_t>(n));
    at += n;
  }
}

// How long a reader waits, at most, for a file that is being rewritten: an
// empty file counts as being rewritten for a second after its modification.
constexpr auto kRewriteWait = std::chrono::seconds(1);
constexpr auto kRewritePause = std::chrono::milliseconds(2);

// One whole state of the file at `path`; false when it cannot be read.
//
// Operators edit settings files in place while requests read them, and an
// editor that rewrites in place truncates the file and then writes it
// again. A read that overlaps the writing sees the file change size or
// modification time under it, and is made again. A read between the
// truncation and the writing finds the file empty and still, so an empty
// file modified within the last second is read again for a moment: it is
// taken as empty only once it has stayed so. (A rewrite in place in several
// writes shows a reader each piece; only writing a new file and renaming it
// over the old one rules that out.)
bool ReadWholeState(const std::string& path, std::string* text) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  const auto give_up = std::chrono::steady_clock::now() + kRewriteWait;
  bool ok = false;
  for (;;) {
    struct stat before {};
    struct stat after {};
    ok = ::fstat(fd, &before) == 0 && ReadAll(fd, text) && ::fstat(fd, &after) == 0;
    if (!ok || std::chrono::steady_clock::now() >= give_up) {
      break;
    }
    const bool still =
        SameState(before, after) && static_cast<off_t>(text->size()) == after.st_size;
    const auto modified = std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::seconds(after.st_mtim.tv_sec) +
            std::chrono::nanoseconds(after.st_mtim.tv_nsec)));
    const bool just_emptied =
        text->empty() && std::chrono::system_clock::now() - modified < std::chrono::seconds(1);
    if (still && !just_emptied) {
      break;
    }
    std::this_thread::sleep_for(kRewritePause);
  }
  ::close(fd);
  return ok;
}

}  // namespace

TIniFile::TIniFile(std::string path) : path_(std::move(path)) {
  std::string text;
  if (ReadWholeState(path_, &text)) {
    Parse(text);
  }
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
