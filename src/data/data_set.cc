// TDataSet: opening, row stepping and field binding shared by tables, queries
// and stored procedures.
#include "data/driver.h"
#include "data/engine.h"
#include "support/ascii_text.h"

namespace morvane::db {
void Cursor::Seek(std::span<const TTable::KeyValue>) {
  throw EDatabaseError("This data set has no index to search");
}
void Cursor::SeekBackward(std::span<const TTable::KeyValue>) {
  throw EDatabaseError("This data set has no index to search");
}

TDataSet::TDataSet() = default;

TDataSet::~TDataSet() {
  cursor_.reset();
  if (database_ != nullptr) database_->Detach(this);
}

void TDataSet::SetDatabase(TDatabase* db) {
  if (db == database_) return;
  Close();
  ReleaseStatements();
  if (database_ != nullptr) database_->Detach(this);
  database_ = db;
  if (database_ != nullptr) database_->Attach(this);
}

TDatabase& TDataSet::RequireDatabase() {
  if (database_ == nullptr) throw EDatabaseError("Data set is bound to no database");
  return *database_;
}

TField* TDataSet::DeclareField(const std::string& name, FieldType type) {
  persistent_.push_back(std::make_unique<TField>(name, type));
  declared_types_.push_back(type);
  return persistent_.back().get();
}

void TDataSet::Open() {
  if (Active()) return;
  cursor_ = MakeCursor();
  try {
    BindFields();
    ReadCurrent();
  } catch (...) {
    Close();
    throw;
  }
}

void TDataSet::BindFields() {
  bound_.clear();
  dynamic_.clear();
  const std::vector<ColumnInfo>& columns = cursor_->Columns();
  std::vector<bool> matched(persistent_.size(), false);
  for (const ColumnInfo& col : columns) {
    TField* field = nullptr;
    for (size_t i = 0; i < persistent_.size(); ++i) {
      if (!matched[i] && EqualsIgnoringCase(persistent_[i]->FieldName(), col.name)) {
        field = persistent_[i].get();
        matched[i] = true;
        // The store's own column type decides how values are read; the
        // declared type stands in where the store does not say.
        field->SetType(col.type != FieldType::kUnknown ? col.type : declared_types_[i]);
        break;
      }
    }
    if (field == nullptr) {
      dynamic_.push_back(std::make_unique<TField>(col.name, col.type));
      field = dynamic_.back().get();
    }
    field->SetNull();
    bound_.push_back(field);
  }
  for (size_t i = 0; i < persistent_.size(); ++i) {
    if (!matched[i]) {
      throw EDatabaseError("Field '" + persistent_[i]->FieldName() + "' not found in the result");
    }
  }
}

void TDataSet::ReadCurrent() {
  eof_ = !cursor_->Fetch(bound_);
}

void TDataSet::Close() {
  if (!cursor_) return;
  cursor_.reset();
  bound_.clear();
  dynamic_.clear();
  eof_ = true;
  if (database_ != nullptr) database_->DataSetClosed();
}

void TDataSet::Next() {
  if (!Active()) throw EDatabaseError("Cannot perform this operation on a closed data set");
  if (!eof_) eof_ = !cursor_->Fetch(bound_);
}

int64_t TDataSet::RecordCount() {
  if (!Active()) throw EDatabaseError("Cannot perform this operation on a closed data set");
  return cursor_->RecordCount();
}

TField* TDataSet::FindField(std::string_view name) {
  if (Active()) {
    for (TField* f : bound_) {
      if (EqualsIgnoringCase(f->FieldName(), name)) return f;
    }
    return nullptr;
  }
  for (const auto& f : persistent_) {
    if (EqualsIgnoringCase(f->FieldName(), name)) return f.get();
  }
  return nullptr;
}

TField& TDataSet::FieldByName(std::string_view name) {
  TField* f = FindField(name);
  if (f == nullptr) throw EDatabaseError("Field '" + std::string(name) + "' not found");
  return *f;
}

}  // namespace morvane::db
