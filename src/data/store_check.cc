#include "data/store_check.h"

#include <unistd.h>

#include <exception>
#include <memory>
#include <vector>

#include "data/alias_file.h"
#include "data/engine.h"
#include "support/ini_file.h"
#include "support/settings_location.h"

namespace morvane {
namespace {

// Store messages can be long (a server's whole complaint) and may hold line
// ends; a readiness answer is one short line per failure.
std::string Clause(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  }
  constexpr size_t kMax = 200;
  if (text.size() > kMax) text = text.substr(0, kMax - 3) + "...";
  return text;
}

void Add(std::string* problems, const std::string& clause) {
  if (!problems->empty()) *problems += "; ";
  *problems += Clause(clause);
}

bool Readable(const std::string& path) {
  return ::access(path.c_str(), R_OK) == 0;
}

struct StoreUse {
  std::string alias;
  bool read_only;
  std::vector<std::string> login;
};

// The stores as THistData opens them (hist_data.cc, module_settings.cc).
std::vector<StoreUse> StoresOf(const TIniFile& settings) {
  const std::vector<std::string> login = {
      "USER NAME=" + settings.ReadString("MORVANE", "DBUSER", "sa"),
      "PASSWORD=" + settings.ReadString("MORVANE", "DBPASSWORD", "")};
  std::string order = settings.ReadString("OMS_DATABASE", "DSN_source", "");
  if (order.empty()) order = "omsdata";
  const std::string order_user = settings.ReadString("OMS_DATABASE", "DSN_user", "");
  std::vector<std::string> order_login;
  if (!order_user.empty()) {
    order_login = {"USER NAME=" + order_user,
                   "PASSWORD=" + settings.ReadString("OMS_DATABASE", "DSN_password", "")};
  }
  return {{"HISTDATA", true, {}},
          {"Historical", true, login},
          {"plrdata", false, login},
          {order, false, order_login}};
}

}  // namespace

StoreCheck CheckStores() {
  StoreCheck check;
  try {
    std::string settings_path = FindLocalSettingsFile();
    if (settings_path.empty() && Readable(kDownloadedSettingsPath)) {
      settings_path = kDownloadedSettingsPath;
    }
    if (settings_path.empty()) {
      Add(&check.problem, std::string("settings file ") + kSettingsFileName + " not found");
    } else if (!Readable(settings_path)) {
      Add(&check.problem, "settings file " + settings_path + " cannot be read");
    }
    const std::filesystem::path aliases = db::FindAliasFile();
    if (aliases.empty()) {
      Add(&check.problem, "alias file aliases.ini not found");
    } else if (!Readable(aliases.string())) {
      Add(&check.problem, "alias file " + aliases.string() + " cannot be read");
    }
    if (!check.problem.empty()) return check;

    const TIniFile settings(settings_path);
    for (const StoreUse& use : StoresOf(settings)) {
      db::TDatabase store;
      store.SetAliasName(use.alias);
      store.SetDatabaseName("ReadinessCheck");
      store.SetReadOnly(use.read_only);
      store.Params() = use.login;
      store.SetFreshLink(true);
      try {
        store.Open();
        store.Close();
      } catch (const std::exception& e) {
        Add(&check.problem, "store " + use.alias + ": " + e.what());
      }
    }
  } catch (const std::exception& e) {
    Add(&check.problem, e.what());
  }
  check.ready = check.problem.empty();
  return check;
}

}  // namespace morvane
