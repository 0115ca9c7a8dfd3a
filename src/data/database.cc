// TDatabase: one connection to the store an alias names.
#include <algorithm>

#include "data/alias_file.h"
#include "data/connection_pool.h"
#include "data/driver.h"
#include "data/engine.h"
#include "support/ascii_text.h"

namespace morvane::db {
namespace {

// The value of the "NAME=value" line of `params` named `name` (letter case
// ignored), and whether there was one.
bool ParamValue(const std::vector<std::string>& params, std::string_view name, std::string* out) {
  for (const std::string& line : params) {
    const size_t eq = line.find('=');
    if (eq != name.size() || !EqualsIgnoringCase(std::string_view(line).substr(0, eq), name)) {
      continue;
    }
    *out = line.substr(eq + 1);
    return true;
  }
  return false;
}

// Everything a link is made from, as the pool's key. Fields are separated by
// a byte that none of them can hold.
std::string PoolKey(const AliasConfig& alias, const Login& login, bool read_only, bool create) {
  std::string key;
  for (const std::string& part :
       {std::string(alias.driver == DriverKind::kSqlite ? "SQLITE" : "POSTGRES"),
        alias.path.string(), std::string(alias.directory ? "dir" : "file"), alias.conninfo,
        std::string(login.given ? "login" : "-"), login.user, login.password,
        std::string(read_only ? "ro" : "rw"), std::string(create ? "create" : "-")}) {
    key += part;
    key += '\0';
  }
  return key;
}

}  // namespace

TDatabase::TDatabase() = default;

TDatabase::~TDatabase() {
  Close();
  for (TDataSet* ds : data_sets_) ds->database_ = nullptr;
}

void TDatabase::Open() {
  Connect(false);
}

void TDatabase::Connect(bool by_data_set) {
  if (link_) return;
  if (alias_.empty()) {
    throw EDatabaseError("Database '" + database_name_ + "' names no alias");
  }
  std::shared_ptr<const AliasConfig> alias = LookUpAliasKept(alias_);
  Login login;
  if (alias->driver == DriverKind::kPostgres) {
    const bool has_user = ParamValue(params_, "USER NAME", &login.user);
    const bool has_password = ParamValue(params_, "PASSWORD", &login.password);
    login.given = has_user || has_password;
  }
  // The login comes from params_ alone, so the same alias object and the
  // same parameters make the same key.
  if (alias != key_alias_ || params_ != key_params_ || read_only_ != key_read_only_ ||
      create_store_ != key_create_) {
    pool_key_ =
        std::make_shared<const std::string>(PoolKey(*alias, login, read_only_, create_store_));
    key_alias_ = alias;
    key_params_ = params_;
    key_read_only_ = read_only_;
    key_create_ = create_store_;
  }
  if (!fresh_link_) link_ = ConnectionPool::Process().Take(*pool_key_, alias_);
  if (!link_) {
    link_ = alias->driver == DriverKind::kSqlite
                ? OpenSqliteConnection(*alias, read_only_, create_store_)
                : OpenPostgresConnection(*alias, login, read_only_);
    if (!fresh_link_) ConnectionPool::Process().CountOpened(alias_);
  }
  opened_by_data_set_ = by_data_set;
}

void TDatabase::CloseDataSets() {
  // Cursors and prepared statements belong to the link; they go first.
  for (TDataSet* ds : data_sets_) {
    ds->Close();
    ds->ReleaseStatements();
  }
}

void TDatabase::Close() {
  CloseDataSets();
  if (fresh_link_) {
    link_.reset();
  } else if (link_) {
    ConnectionPool::Process().Give(pool_key_, alias_, std::move(link_));
  }
}

void TDatabase::Discard() {
  CloseDataSets();
  if (link_) ConnectionPool::Process().CountDiscarded(alias_);
  link_.reset();
}

void TDatabase::DropIfStale() {
  if (!link_ || link_->InTransaction()) return;
  // A query an earlier request read from and left open would otherwise
  // keep the check from ever running on this link.
  for (TDataSet* ds : data_sets_) ds->Close();
  if (link_->Revalidate()) return;
  CloseDataSets();  // their statements belong to the link that goes
  ConnectionPool::Process().CountDiscarded(alias_);
  link_.reset();
}

bool TDatabase::Connected() const {
  return link_ != nullptr;
}

std::string TDatabase::DriverName() {
  return Link().DriverName();
}

Connection& TDatabase::Link() {
  Connect(true);
  return *link_;
}

void TDatabase::ExecuteDirect(const std::string& sql) {
  Link().ExecuteDirect(sql);
}
void TDatabase::CopyRows(const std::string& table, const std::vector<std::string_view>& columns,
                         const TCopyRows& rows) {
  if (rows.Rows() == 0) return;
  Link().CopyRows(table, columns, rows);
}

void Connection::CopyRows(const std::string& table, const std::vector<std::string_view>&,
                          const TCopyRows&) {
  throw EDatabaseError(std::string("The ") + DriverName() + " driver has no bulk copy (table '" +
                       table + "')");
}

void TDatabase::StartTransaction() {
  if (InTransaction()) {
    throw EDatabaseError("A transaction is already active on alias '" + alias_ + "'");
  }
  Link().Begin();
}
void TDatabase::Commit() {
  if (!InTransaction()) throw EDatabaseError("No transaction is active on alias '" + alias_ + "'");
  link_->Commit();
}
void TDatabase::Rollback() {
  if (!InTransaction()) throw EDatabaseError("No transaction is active on alias '" + alias_ + "'");
  link_->Rollback();
}
bool TDatabase::InTransaction() const {
  return link_ != nullptr && link_->InTransaction();
}

void TDatabase::Attach(TDataSet* ds) {
  if (std::find(data_sets_.begin(), data_sets_.end(), ds) == data_sets_.end()) {
    data_sets_.push_back(ds);
  }
}

void TDatabase::Detach(TDataSet* ds) {
  std::erase(data_sets_, ds);
}

void TDatabase::DataSetClosed() {
  if (keep_connection_ || !opened_by_data_set_ || !link_ || link_->InTransaction()) return;
  const bool any_open = std::any_of(data_sets_.begin(), data_sets_.end(),
                                    [](const TDataSet* ds) { return ds->Active(); });
  if (!any_open) {
    for (TDataSet* ds : data_sets_) ds->ReleaseStatements();
    if (fresh_link_) {
      link_.reset();
    } else {
      ConnectionPool::Process().Give(pool_key_, alias_, std::move(link_));
    }
  }
}

}  // namespace morvane::db
