#include "data/alias_file.h"

#include <dlfcn.h>

#include <cstdlib>
#include <mutex>
#include <system_error>
#include <unordered_map>

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

// The alias file as a look-up finds it: the path it was opened by (the one
// in the current directory by its bare name, so that finding it costs no
// look-up of the current directory's own path) and its parse; `ini` is
// nullptr when no file was found, and also when MORVANE_ALIASES names one
// that is not there.
struct FoundFile {
  std::string path;
  std::shared_ptr<const TIniFile> ini;
  bool in_current_directory = false;
};

FoundFile FindFile() {
  if (const char* env = std::getenv("MORVANE_ALIASES"); env != nullptr && *env != '\0') {
    return {env, ReadIniCachedIfFile(env)};
  }
  if (auto ini = ReadIniCachedIfFile(kAliasFileName)) return {kAliasFileName, std::move(ini), true};
  for (std::string path : {(OwnDirectory() / kAliasFileName).string(),
                           (fs::path(SystemConfigDir()) / kAliasFileName).string()}) {
    if (auto ini = ReadIniCachedIfFile(path)) return {std::move(path), std::move(ini)};
  }
  return {};
}

// The settings of `name` as `file` gives them; `cacheable` is set to false
// when they depend on more than the file (a PATH that does not exist yet,
// so that whether it is a directory is not known).
AliasConfig Resolve(const std::string& name, const FoundFile& found, bool* cacheable) {
  // Messages and relative PATHs need the file's full path; worked out here,
  // once per change of the file, never per connect.
  std::error_code ec;
  const fs::path file =
      found.in_current_directory ? fs::current_path(ec) / found.path : fs::path(found.path);
  const TIniFile& ini = *found.ini;
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
    if (e.path.back() == '/') {
      a.directory = true;
    } else {
      const fs::file_status st = fs::status(p, ec);
      a.directory = fs::is_directory(st);
      *cacheable = fs::exists(st);
    }
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

// Aliases worked out from the alias file, by name as asked for. An entry
// holds while the look-up finds the same file by the same path and the file
// cache gives out the same parse (it does while the file keeps its identity,
// size and times), so an edited or replaced alias file is seen by the first
// connect after the change. Every connect looks its alias up, and working it
// out again cost more system calls than the rest of a small request.
struct Kept {
  std::string path;
  std::shared_ptr<const TIniFile> ini;  // also keeps its address from being reused
  std::shared_ptr<const AliasConfig> config;
};

struct KeptAliases {
  // A bound on what a caller asking for ever new names can make it hold.
  static constexpr size_t kMaxEntries = 64;
  std::mutex mu;
  std::unordered_map<std::string, Kept> by_name;

  static KeptAliases& Get() {
    // Never destroyed: connects may run from other globals' destructors.
    static auto* kept = new KeptAliases;
    return *kept;
  }
};

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

std::shared_ptr<const AliasConfig> LookUpAliasKept(const std::string& name) {
  FoundFile found = FindFile();
  if (found.path.empty()) {
    throw EDatabaseError("Unknown alias '" + name + "': no alias file " + kAliasFileName +
                         " was found");
  }
  if (!found.ini) {
    throw EDatabaseError("Unknown alias '" + name + "': alias file " + found.path +
                         " does not exist");
  }
  KeptAliases& kept = KeptAliases::Get();
  {
    std::lock_guard lock(kept.mu);
    const auto it = kept.by_name.find(name);
    if (it != kept.by_name.end() && it->second.ini == found.ini && it->second.path == found.path) {
      return it->second.config;
    }
  }
  bool cacheable = true;
  auto config = std::make_shared<const AliasConfig>(Resolve(name, found, &cacheable));
  std::lock_guard lock(kept.mu);
  if (!cacheable) {
    kept.by_name.erase(name);
  } else {
    if (kept.by_name.size() >= KeptAliases::kMaxEntries) kept.by_name.clear();
    kept.by_name[name] = {std::move(found.path), std::move(found.ini), config};
  }
  return config;
}

AliasConfig LookUpAlias(const std::string& name) {
  return *LookUpAliasKept(name);
}

}  // namespace morvane::db
