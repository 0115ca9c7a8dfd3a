// The SQLite driver: the embedded default store.
//
// An alias's PATH is either one database file holding every table, or a
// directory in which each table is its own file "<table>.db" holding one table
// of that name (the daily tick tables). In a directory, a statement works on
// the file of the first table it names (after FROM, INTO, UPDATE, TABLE or
// ON); a transaction spans every file used inside it, committed file by file.
//
// Column kinds come from the declared column types (DATE, TIME,
// DATETIME/TIMESTAMP, INT..., REAL/FLOAT/DOUBLE/NUMERIC, CHAR/TEXT...); dates
// and times are held as text (store_text.h). Stored procedures are kept in the
// table morvane_procedures(name TEXT PRIMARY KEY, body TEXT): the body is one
// SELECT whose "@name" parameters are bound from the declared parameters.
#ifndef MORVANE_DATA_SQLITE_DRIVER_H_
#define MORVANE_DATA_SQLITE_DRIVER_H_

#include "data/alias_file.h"
#include "data/driver.h"

namespace morvane::db {

// The table that holds the stored procedures of a SQLite store.
inline constexpr const char* kSqliteProcedureTable = "morvane_procedures";

// The column kind that a SQLite declared type stands for (kUnknown when the
// declaration says nothing the engine knows).
FieldType SqliteDeclaredType(const char* decl);

}  // namespace morvane::db

#endif  // MORVANE_DATA_SQLITE_DRIVER_H_
