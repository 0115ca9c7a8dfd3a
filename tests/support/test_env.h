// Helpers shared by the tests: temporary directories, environment, and the
// throwaway PostgreSQL cluster that ctest starts for the run.
#ifndef MORVANE_TESTS_SUPPORT_TEST_ENV_H_
#define MORVANE_TESTS_SUPPORT_TEST_ENV_H_

#include <filesystem>
#include <string>

namespace morvane::testing {

// A fresh directory under the system temp directory, removed on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Writes `text` to `path`, replacing it.
void WriteFile(const std::filesystem::path& path, const std::string& text);
std::string ReadFile(const std::filesystem::path& path);

// Sets (or, with nullptr, unsets) an environment variable for the life of
// the object, restoring the old value afterwards.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  bool had_old_ = false;
  std::string old_;
};

// Changes the current directory for the life of the object.
class ScopedCwd {
 public:
  explicit ScopedCwd(const std::filesystem::path& dir);
  ~ScopedCwd();
  ScopedCwd(const ScopedCwd&) = delete;
  ScopedCwd& operator=(const ScopedCwd&) = delete;

 private:
  std::filesystem::path old_;
};

// The libpq connection string of the test cluster, or empty when the run has
// none (the file named by MORVANE_TEST_PG_STATE is missing).
std::string PostgresConnInfo();

// Creates a fresh, empty PostgreSQL database in the test cluster and returns
// its connection string; the database is dropped when the object dies.
class ScratchPostgresDb {
 public:
  ScratchPostgresDb();
  ~ScratchPostgresDb();
  ScratchPostgresDb(const ScratchPostgresDb&) = delete;
  ScratchPostgresDb& operator=(const ScratchPostgresDb&) = delete;
  const std::string& conninfo() const { return conninfo_; }
  const std::string& name() const { return name_; }

 private:
  std::string admin_;
  std::string name_;
  std::string conninfo_;
};

// The build directory (where morvane-server, libmorvane.so and morvane-load
// are): MORVANE_BUILD_DIR when set, else the current directory, where ctest
// runs the tests.
std::filesystem::path BuildDir();

// The source tree (for scripts under tests/).
inline std::filesystem::path SourceDir() {
  return MORVANE_TEST_SOURCE_DIR;
}

}  // namespace morvane::testing

#endif  // MORVANE_TESTS_SUPPORT_TEST_ENV_H_
