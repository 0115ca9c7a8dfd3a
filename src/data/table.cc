// TTable: one table of the store, read in the order of one index.
#include "data/driver.h"
#include "data/engine.h"

namespace morvane::db {

std::unique_ptr<Cursor> TTable::MakeCursor() {
  if (table_name_.empty()) throw EDatabaseError("Table name is missing");
  return RequireDatabase().Link().OpenTable(table_name_, index_name_);
}

bool TTable::Exists() {
  if (table_name_.empty()) return false;
  return RequireDatabase().Link().TableExists(table_name_);
}

bool TTable::HasMoreRowsThan(int64_t n) {
  if (table_name_.empty()) throw EDatabaseError("Table name is missing");
  return RequireDatabase().Link().HasMoreRowsThan(table_name_, n);
}

void TTable::FindNearest(const std::vector<KeyValue>& key) {
  if (!Active()) throw EDatabaseError("Cannot perform this operation on a closed data set");
  cursor_->Seek(key);
  ReadCurrent();
}

void TTable::FindPrior(const std::vector<KeyValue>& key) {
  if (!Active()) throw EDatabaseError("Cannot perform this operation on a closed data set");
  cursor_->SeekBackward(key);
  ReadCurrent();
}

}  // namespace morvane::db
