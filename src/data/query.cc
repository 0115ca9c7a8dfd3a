// TQuery: an SQL statement with ":name" parameters.
#include <string_view>

#include "data/driver.h"
#include "data/engine.h"
#include "data/sql_params.h"

namespace morvane::db {

TQuery::TQuery() = default;
TQuery::~TQuery() = default;

void TQuery::SetSQL(std::string sql) {
  Close();
  if (sql == sql_) {
    // Same statement: keep what was prepared, forget the values.
    for (TParam& p : params_) p.Clear();
    return;
  }
  exec_.reset();
  translated_.reset();
  translated_for_ = nullptr;
  params_.clear();
  for (std::string& name : TranslateParams(sql, '?').names) {
    params_.emplace_back(std::move(name), ParamType::kUnknown, ParamDirection::kInput);
  }
  sql_ = std::move(sql);
}

TParam& TQuery::ParamByName(std::string_view name) {
  if (TParam* p = FindParam(params_, name)) return *p;
  throw EDatabaseError("Parameter '" + std::string(name) + "' not found");
}

std::unique_ptr<Cursor> TQuery::MakeCursor() {
  if (sql_.empty()) throw EDatabaseError("No SQL statement available");
  Connection& link = RequireDatabase().Link();
  // Driver names are the drivers' own constant texts.
  if (!translated_ || std::string_view(translated_for_) != link.DriverName()) {
    translated_ = std::make_unique<TranslatedSql>(link.Translate(sql_));
    translated_for_ = link.DriverName();
  }
  return link.OpenQuery(*translated_, params_);
}

void TQuery::ExecSQL() {
  if (sql_.empty()) throw EDatabaseError("No SQL statement available");
  Connection& link = RequireDatabase().Link();
  if (!exec_) exec_ = link.Prepare(link.Translate(sql_));
  exec_->Execute(params_);
}

void TQuery::ReleaseStatements() {
  exec_.reset();
}

}  // namespace morvane::db
