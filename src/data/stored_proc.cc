// TStoredProc: a procedure of the store, called by name.
#include "data/driver.h"
#include "data/engine.h"

namespace morvane::db {

TParam& TStoredProc::DeclareParam(const std::string& name, ParamType type, ParamDirection dir) {
  params_.emplace_back(name, type, dir);
  return params_.back();
}

TParam& TStoredProc::ParamByName(std::string_view name) {
  if (TParam* p = FindParam(params_, name)) return *p;
  throw EDatabaseError("Parameter '" + std::string(name) + "' not found in procedure '" +
                       proc_name_ + "'");
}

std::unique_ptr<Cursor> TStoredProc::MakeCursor() {
  if (proc_name_.empty()) throw EDatabaseError("Stored procedure name is missing");
  // "usp_Closing_Price;1": the number names a member of a procedure group,
  // which neither store has; the store knows the procedure by its bare name.
  const std::string name = proc_name_.substr(0, proc_name_.find(';'));
  return RequireDatabase().Link().OpenProcedure(name, params_);
}

}  // namespace morvane::db
