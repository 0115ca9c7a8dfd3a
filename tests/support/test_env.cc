#include "support/test_env.h"

#include <libpq-fe.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace morvane::testing {

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "morvane-test.XXXXXX").string();
  if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void WriteFile(const std::filesystem::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
  if (const char* old = std::getenv(name)) {
    had_old_ = true;
    old_ = old;
  }
  if (value != nullptr) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
}

ScopedEnv::~ScopedEnv() {
  if (had_old_) {
    setenv(name_.c_str(), old_.c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

ScopedCwd::ScopedCwd(const std::filesystem::path& dir) : old_(std::filesystem::current_path()) {
  std::filesystem::current_path(dir);
}

ScopedCwd::~ScopedCwd() {
  std::error_code ec;
  std::filesystem::current_path(old_, ec);
}

std::string PostgresConnInfo() {
  const char* state = std::getenv("MORVANE_TEST_PG_STATE");
  if (state == nullptr) return {};
  std::ifstream in(state);
  std::string line;
  std::getline(in, line);
  return line;
}

namespace {
void AdminExec(const std::string& conninfo, const std::string& sql) {
  PGconn* c = PQconnectdb(conninfo.c_str());
  if (PQstatus(c) != CONNECTION_OK) {
    std::string msg = PQerrorMessage(c);
    PQfinish(c);
    throw std::runtime_error("test cluster: " + msg);
  }
  PGresult* r = PQexec(c, sql.c_str());
  const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
  std::string msg = PQerrorMessage(c);
  PQclear(r);
  PQfinish(c);
  if (!ok) throw std::runtime_error("test cluster: " + msg);
}
}  // namespace

ScratchPostgresDb::ScratchPostgresDb() : admin_(PostgresConnInfo()) {
  if (admin_.empty())
    throw std::runtime_error("no PostgreSQL test cluster (MORVANE_TEST_PG_STATE)");
  static std::atomic<int> seq{0};
  std::random_device rd;
  name_ = "t" + std::to_string(getpid()) + "_" + std::to_string(seq++) + "_" +
          std::to_string(rd() % 100000);
  AdminExec(admin_, "CREATE DATABASE " + name_);
  // Replace dbname=... of the admin string.
  conninfo_ = admin_;
  auto pos = conninfo_.find("dbname=");
  if (pos != std::string::npos) {
    auto end = conninfo_.find(' ', pos);
    conninfo_.replace(pos, end == std::string::npos ? std::string::npos : end - pos,
                      "dbname=" + name_);
  } else {
    conninfo_ += " dbname=" + name_;
  }
}

ScratchPostgresDb::~ScratchPostgresDb() {
  try {
    AdminExec(admin_, "DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
  } catch (...) {
  }
}

std::filesystem::path BuildDir() {
  const char* dir = std::getenv("MORVANE_BUILD_DIR");
  return dir != nullptr ? std::filesystem::path(dir) : std::filesystem::current_path();
}

}  // namespace morvane::testing
