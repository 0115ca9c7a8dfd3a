// The alias file, aliases.ini: which store each alias names.
//
// An INI file read by the settings-file rules (support/ini_file.h), one
// section per alias (section names match ignoring letter case):
//   [HISTDATA]
//   DRIVER=SQLITE
//   PATH=data/ticks/          a directory: each table is its own <table>.db
//   [Historical]
//   DRIVER=POSTGRES
//   CONNINFO=host=/run/postgresql dbname=historical
// A relative PATH is taken from the alias file's directory.
//
// The file is MORVANE_ALIASES when that variable is set (a full path);
// otherwise "aliases.ini" in the current directory, then in the directory of
// the library holding this code, then in the system configuration directory
// ($MORVANE_SYSCONFDIR, else /etc/morvane). Unlike the settings file, an alias
// file is never downloaded. Every lookup sees the file as it is then (it is
// parsed again whenever it changed: ini_file_cache.h), so an edited file takes
// effect at the next connect (within a request, the next request's).
#ifndef MORVANE_DATA_ALIAS_FILE_H_
#define MORVANE_DATA_ALIAS_FILE_H_

#include <filesystem>
#include <memory>
#include <string>

namespace morvane::db {

enum class DriverKind { kSqlite, kPostgres };

struct AliasConfig {
  std::string name;  // as the caller spelled it
  DriverKind driver = DriverKind::kSqlite;
  std::filesystem::path path;  // SQLITE: absolute file or directory
  bool directory = false;      // SQLITE: PATH names a directory of tables
  std::string conninfo;        // POSTGRES: libpq connection string
};

// The alias file that a lookup would read; empty when none is found.
std::filesystem::path FindAliasFile();

// The settings of alias `name`. Raises EDatabaseError when no alias file is
// found, the alias is not in it, or its entries are incomplete.
AliasConfig LookUpAlias(const std::string& name);

// The same, as kept from an earlier look-up while the alias file is
// unchanged: the same object for as long as it holds, so a caller may keep
// what it worked out from it while the pointer stays the same. Costs one
// stat of the alias file when nothing changed, none while the file watch
// vouches for it (ini_file_cache.h). Safe for concurrent use.
std::shared_ptr<const AliasConfig> LookUpAliasKept(const std::string& name);

}  // namespace morvane::db

#endif  // MORVANE_DATA_ALIAS_FILE_H_
