// The PostgreSQL driver.
//
// Names: the system writes its SQL with unquoted names, which PostgreSQL folds
// to lower case; so that tables read by name (TTable), procedures and their
// parameters agree with that SQL, every name the engine itself puts into a
// statement is folded to lower case and then quoted ("hist030705",
// "dailysymbol", "usp_closing_price"). A store creates its objects with
// lower-case (or unquoted) names.
//
// Stored procedures are set-returning SQL functions of the procedure's name,
// called with named notation: "@From_Symbol" is passed as from_symbol => $n;
// every declared input parameter is passed (null when unbound), result
// parameters are not. Values travel as text; results are read in text form,
// a server-side cursor fetching 1000 rows at a time, so that no result is
// held whole. Data sets open outside a transaction share one read
// transaction that ends when the last of them closes.
#ifndef MORVANE_DATA_POSTGRES_DRIVER_H_
#define MORVANE_DATA_POSTGRES_DRIVER_H_

#include <string>
#include <string_view>

#include "data/alias_file.h"
#include "data/driver.h"

namespace morvane::db {

// `name` folded to lower case and quoted as a PostgreSQL identifier.
std::string PgIdentifier(std::string_view name);

}  // namespace morvane::db

#endif  // MORVANE_DATA_POSTGRES_DRIVER_H_
