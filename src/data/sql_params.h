// ":name" parameters of SQL statements.
#ifndef MORVANE_DATA_SQL_PARAMS_H_
#define MORVANE_DATA_SQL_PARAMS_H_

#include <string_view>

#include "data/driver.h"

namespace morvane::db {

// Replaces every ":name" parameter of `sql` by `prefix` followed by the
// parameter's number (1 for the first distinct name, ...): "?1" for SQLite,
// "$1" for PostgreSQL. Names match ignoring letter case, so ":Symbol" and
// ":SYMBOL" are one parameter. Quoted strings, quoted identifiers, comments
// and "::" casts are left as they are.
TranslatedSql TranslateParams(std::string_view sql, char prefix);

}  // namespace morvane::db

#endif  // MORVANE_DATA_SQL_PARAMS_H_
