#include "stores.h"

#include "data/alias_file.h"
#include "load_error.h"
#include "support/settings_location.h"

namespace morvane::load {

std::string AliasFor(StoreRole role, const std::string& override_alias) {
  if (!override_alias.empty()) return override_alias;
  switch (role) {
    case StoreRole::kTicks:
      return "HISTDATA";
    case StoreRole::kDaily:
      return "Historical";
    case StoreRole::kBars:
      return "plrdata";
    case StoreRole::kOrders:
      break;
  }
  // The extension finds its order database the same way, so the loader fills
  // the store the server will read.
  try {
    std::string alias = omsIniFile()->ReadString("OMS_DATABASE", "DSN_source", "");
    if (!alias.empty()) return alias;
  } catch (const std::exception&) {
    // No settings to be had: the default below, as the extension does.
  }
  return "omsdata";
}

db::TDatabase* StoreConnections::Get(const std::string& alias) {
  auto& slot = dbs_[alias];
  if (!slot) {
    auto db = std::make_unique<db::TDatabase>();
    db->SetAliasName(alias);
    db->SetDatabaseName("morvane-load " + alias);
    db->SetLoginPrompt(false);
    db->SetKeepConnection(true);
    // The loader is what makes stores; the server only opens them.
    db->SetCreateStore(true);
    db->Open();
    slot = std::move(db);
  }
  return slot.get();
}

void StoreConnections::CommitAll() {
  for (auto& [alias, db] : dbs_) {
    if (db && db->InTransaction()) db->Commit();
  }
}

void StoreConnections::RollbackAll() noexcept {
  for (auto& [alias, db] : dbs_) {
    try {
      if (db && db->InTransaction()) db->Rollback();
    } catch (const std::exception&) {
      // The link is gone; the store drops the transaction with it.
    }
  }
}

void StoreConnections::CloseAll() noexcept {
  for (auto& [alias, db] : dbs_) {
    try {
      if (db) db->Close();
    } catch (const std::exception&) {
      // Nothing is left to let go of.
    }
  }
}

namespace {

const char* RoleName(StoreRole role) {
  switch (role) {
    case StoreRole::kTicks:
      return "daily tick tables";
    case StoreRole::kDaily:
      return "daily bars and names";
    case StoreRole::kBars:
      return "base bars and sessions";
    case StoreRole::kOrders:
      return "valid products and interval tables";
  }
  return "";
}

}  // namespace

std::vector<std::string> InitStores(const std::string& override_alias) {
  StoreConnections stores;
  std::vector<std::string> report;
  int done = 0;
  for (StoreRole role :
       {StoreRole::kTicks, StoreRole::kDaily, StoreRole::kBars, StoreRole::kOrders}) {
    const std::string alias = AliasFor(role, override_alias);
    try {
      db::LookUpAlias(alias);
    } catch (const EDatabaseError& e) {
      report.push_back(std::string(RoleName(role)) + ": skipped (" + e.what() + ")");
      continue;
    }
    db::TDatabase* db = stores.Get(alias);
    const StoreDriver driver = DriverOf(db);
    db->StartTransaction();
    try {
      for (const std::string& sql : SchemaStatements(role, driver)) db->ExecuteDirect(sql);
      db->Commit();
    } catch (...) {
      stores.RollbackAll();
      throw;
    }
    report.push_back(std::string(RoleName(role)) + ": alias " + alias + " ready");
    ++done;
  }
  if (done == 0) throw LoadError("init: none of the stores' aliases is in the alias file");
  return report;
}

}  // namespace morvane::load
