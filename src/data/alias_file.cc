#include "data/alias_file.h"

#include <dlfcn.h>

#include <cstdlib>
#include <system_error>

#include "support/ascii_text.h"
#include "support/error.h"
#include "support/ini_file.h"
#include "support/ini_file_cache.h"
#include "support/settings_location.h"

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
// Worked out once: the library does not move while it is loaded, and every
// connect looks the alias file up.
const fs::path& OwnDirectory() {
  static const fs::path dir = [] {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&IsFile), &info) == 0 || info.dli_fname == nullptr) {
      return fs::path();
    }
    std::error_code ec;
    fs::path p = fs::weakly_canonical(fs::path(info.dli_fname), ec);
    return ec ? fs::path(info.dli_fname).parent_path() : p.parent_path();
  }();
  return dir;
}

}  // namespace

fs::path FindAliasFile() {
  if (const char* env = std::getenv("MORVANE_ALIASES"); env != nullptr && *env != '\0') {
    return fs::path(env);
  }
  std::error_code ec;
  if (fs::path p = fs::current_path(ec) / kAliasFileName; IsFile(p)) return p;
  if (fs::path p = OwnDirectory() / kAliasFileName; IsFile(p)) return p;
  if (fs::path p = fs::path(SystemConfigDir()) / kAliasFileName; IsFile(p)) return p;
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
  const std::shared_ptr<const TIniFile> kept = ReadIniCached(file.string());
  const TIniFile& ini = *kept;
  if (ini.ReadSectionValues(name).empty()) {
    throw EDatabaseError("Unknown alias '" + name + "' (not in " + file.string() + ")");
  }
  struct {
    std::string driver, path, conninfo;
  } e{ini.ReadString(name, "DRIVER", ""), ini.ReadString(name, "PATH", ""),
      ini.ReadString(name, "CONNINFO", "")};
  AliasConfig a;
  a.name = name;
  if (EqualsIgnoringCase(e.driver, "SQLITE")) {
    a.driver = DriverKind::kSqlite;
    if (e.path.empty()) {
      throw EDatabaseError("Alias '" + name + "' names no PATH in " + file.string());
    }
    fs::path p(e.path);
    if (p.is_relative()) p = file.parent_path() / p;
    std::error_code ec;
    a.directory = e.path.back() == '/' || fs::is_directory(p, ec);
    a.path = p.lexically_normal();
  } else if (EqualsIgnoringCase(e.driver, "POSTGRES")) {
    a.driver = DriverKind::kPostgres;
    a.conninfo = e.conninfo;
  } else {
    throw EDatabaseError("Alias '" + name + "' has unknown DRIVER '" + e.driver + "' in " +
                         file.string() + " (SQLITE or POSTGRES)");
  }
  return a;
}

}  // namespace morvane::db
