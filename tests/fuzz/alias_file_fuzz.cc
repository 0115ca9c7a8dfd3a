// Fuzzes the alias file: arbitrary contents looked up under the aliases the
// system connects to. A look-up either gives a complete configuration or
// raises EDatabaseError; nothing else may escape it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "data/alias_file.h"
#include "fuzz/fuzz_files.h"
#include "support/error.h"

namespace {

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "alias file: %s\n", what);
    std::abort();
  }
}

const char* const kAliases[] = {"HISTDATA", "Historical", "plrdata", "omsdata", "histdata", ""};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("MORVANE_ALIASES", (morvane::fuzz::ScratchDir() / "aliases.ini").c_str(), 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace morvane;
  fuzz::WriteBytes(fuzz::ScratchDir() / "aliases.ini", data, size);
  for (const char* name : kAliases) {
    try {
      const db::AliasConfig a = db::LookUpAlias(name);
      Check(a.name == name, "the configuration names another alias");
      if (a.driver == db::DriverKind::kSqlite) {
        Check(a.path.is_absolute(), "a SQLite path is not absolute");
      }
    } catch (const EDatabaseError&) {
      // Unknown alias or incomplete entries: the connect fails with this.
    }
  }
  return 0;
}
