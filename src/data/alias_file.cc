#include "data/alias_file.h"

#include <dlfcn.h>

#include <cstdlib>
#include <fstream>
#include <system_error>

#include "support/error.h"

namespace morvane::db {
namespace {

namespace fs = std::filesystem;

constexpr const char* kAliasFileName = "aliases.ini";

bool IsFile(const fs::path& p) {
  std::error_code ec;
  return fs::is_regular_file(p, ec);
}

// The directory of the shared object (or program) this code was linked into,
// so that an extension library finds an aliases.ini installed beside it.
fs::path OwnDirectory() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&OwnDirectory), &info) == 0 || info.dli_fname == nullptr) {
    return {};
  }
  std::error_code ec;
  fs::path p = fs::weakly_canonical(fs::path(info.dli_fname), ec);
  return ec ? fs::path(info.dli_fname).parent_path() : p.parent_path();
}

fs::path SystemConfigDirectory() {
  const char* env = std::getenv("MORVANE_SYSCONFDIR");
  return (env != nullptr && *env != '\0') ? fs::path(env) : fs::path("/etc/morvane");
}

std::string_view Trim(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) {
      return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
    };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

struct Entries {
  bool found = false;
  std::string driver, path, conninfo;
};

// Reads the entries of section `alias`. Lines starting with ';' or '#' are
// comments; a key may appear once per section (the last one wins).
Entries ReadSection(const fs::path& file, const std::string& alias) {
  std::ifstream in(file);
  if (!in) throw EDatabaseError("Cannot read alias file " + file.string());
  Entries e;
  bool inside = false;
  std::string line;
  while (std::getline(in, line)) {
    std::string_view l = Trim(line);
    if (l.empty() || l.front() == ';' || l.front() == '#') continue;
    if (l.front() == '[') {
      const size_t close = l.find(']');
      inside =
          close != std::string_view::npos && SameIgnoringCase(Trim(l.substr(1, close - 1)), alias);
      e.found = e.found || inside;
      continue;
    }
    if (!inside) continue;
    const size_t eq = l.find('=');
    if (eq == std::string_view::npos) continue;
    const std::string_view key = Trim(l.substr(0, eq));
    const std::string value(Trim(l.substr(eq + 1)));
    if (SameIgnoringCase(key, "DRIVER")) e.driver = value;
    if (SameIgnoringCase(key, "PATH")) e.path = value;
    if (SameIgnoringCase(key, "CONNINFO")) e.conninfo = value;
  }
  return e;
}

}  // namespace

fs::path FindAliasFile() {
  if (const char* env = std::getenv("MORVANE_ALIASES"); env != nullptr && *env != '\0') {
    return fs::path(env);
  }
  std::error_code ec;
  const fs::path candidates[] = {fs::current_path(ec) / kAliasFileName,
                                 OwnDirectory() / kAliasFileName,
                                 SystemConfigDirectory() / kAliasFileName};
  for (const fs::path& p : candidates) {
    if (IsFile(p)) return p;
  }
  return {};
}

AliasConfig LookUpAlias(const std::string& name) {
  const fs::path file = FindAliasFile();
  if (file.empty()) {
    throw EDatabaseError("Unknown alias '" + name + "': no alias file " + kAliasFileName +
                         " was found");
  }
  if (!IsFile(file)) {
    throw EDatabaseError("Unknown alias '" + name + "': alias file " + file.string() +
                         " does not exist");
  }
  const Entries e = ReadSection(file, name);
  if (!e.found) {
    throw EDatabaseError("Unknown alias '" + name + "' (not in " + file.string() + ")");
  }
  AliasConfig a;
  a.name = name;
  if (SameIgnoringCase(e.driver, "SQLITE")) {
    a.driver = DriverKind::kSqlite;
    if (e.path.empty()) {
      throw EDatabaseError("Alias '" + name + "' names no PATH in " + file.string());
    }
    fs::path p(e.path);
    if (p.is_relative()) p = file.parent_path() / p;
    std::error_code ec;
    a.directory = e.path.back() == '/' || fs::is_directory(p, ec);
    a.path = p.lexically_normal();
  } else if (SameIgnoringCase(e.driver, "POSTGRES")) {
    a.driver = DriverKind::kPostgres;
    a.conninfo = e.conninfo;
  } else {
    throw EDatabaseError("Alias '" + name + "' has unknown DRIVER '" + e.driver + "' in " +
                         file.string() + " (SQLITE or POSTGRES)");
  }
  return a;
}

}  // namespace morvane::db
