// Where aliases come from and what an alias file may say.
#include "data/alias_file.h"

#include <gtest/gtest.h>

#include "support/error.h"
#include "support/test_env.h"

namespace morvane::db {
namespace {

using morvane::testing::ScopedCwd;
using morvane::testing::ScopedEnv;
using morvane::testing::TempDir;
using morvane::testing::WriteFile;

TEST(AliasFileTest, ExplicitFileWinsAndRelativePathsFollowIt) {
  TempDir dir;
  WriteFile(dir / "mine.ini",
            "; stores\n[histdata]\nDRIVER=sqlite\nPATH = ticks/\n\n[Historical]\n"
            "DRIVER=POSTGRES\nCONNINFO=host=/tmp dbname=hist\n");
  ScopedEnv env("MORVANE_ALIASES", (dir / "mine.ini").c_str());
  const AliasConfig ticks = LookUpAlias("HISTDATA");  // section names ignore case
  EXPECT_EQ(ticks.driver, DriverKind::kSqlite);
  EXPECT_TRUE(ticks.directory);
  EXPECT_EQ(ticks.path, (dir.path() / "ticks/").lexically_normal());
  const AliasConfig hist = LookUpAlias("historical");
  EXPECT_EQ(hist.driver, DriverKind::kPostgres);
  EXPECT_EQ(hist.conninfo, "host=/tmp dbname=hist");
}

TEST(AliasFileTest, LookupTriesCurrentDirectoryThenSystemDirectory) {
  TempDir cwd, sys;
  ScopedEnv no_explicit("MORVANE_ALIASES", nullptr);
  ScopedEnv sysconf("MORVANE_SYSCONFDIR", sys.path().c_str());
  ScopedCwd in(cwd.path());
  WriteFile(sys / "aliases.ini", "[A]\nDRIVER=SQLITE\nPATH=/var/lib/a.db\n");
  EXPECT_EQ(FindAliasFile(), sys / "aliases.ini");
  EXPECT_EQ(LookUpAlias("A").path, "/var/lib/a.db");
  WriteFile(cwd / "aliases.ini", "[A]\nDRIVER=SQLITE\nPATH=a.db\n");
  EXPECT_EQ(LookUpAlias("A").path, std::filesystem::current_path() / "a.db");
}

TEST(AliasFileTest, BadAliasesNameTheAlias) {
  TempDir dir;
  WriteFile(dir / "a.ini", "[X]\nDRIVER=ORACLE\n[Y]\nDRIVER=SQLITE\n");
  ScopedEnv env("MORVANE_ALIASES", (dir / "a.ini").c_str());
  const auto message = [](const char* alias) -> std::string {
    try {
      LookUpAlias(alias);
    } catch (const EDatabaseError& e) {
      return e.what();
    }
    return {};
  };
  EXPECT_NE(message("X").find("ORACLE"), std::string::npos);
  EXPECT_NE(message("Y").find("PATH"), std::string::npos);
  EXPECT_NE(message("Z").find("'Z'"), std::string::npos);
  ScopedEnv gone("MORVANE_ALIASES", (dir / "missing.ini").c_str());
  EXPECT_NE(message("X").find("missing.ini"), std::string::npos);
}

}  // namespace
}  // namespace morvane::db
