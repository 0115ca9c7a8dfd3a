// Streaming reader of the loader's CSV files.
//
// The format: one header row, then one record per row; fields separated by
// commas; a field may be enclosed in double quotes, inside which a doubled
// quote stands for one quote and commas and line breaks are plain text; rows
// end with LF or CR LF; a UTF-8 byte-order mark before the header is skipped.
// An empty unquoted field is null; a quoted empty field ("") is an empty text.
//
// Memory stays constant whatever the file's size: the reader holds one read
// buffer and the current record, and a record longer than kMaxRecordBytes is
// an error rather than a reason to grow without bound.
//
// Errors are raised as LoadError carrying "FILE:LINE: what is wrong", LINE
// being the physical line on which the offending record starts.
//
// Not thread-safe: one reader per file, used by one thread.
#ifndef MORVANE_TOOLS_LOAD_CSV_READER_H_
#define MORVANE_TOOLS_LOAD_CSV_READER_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "load_error.h"

namespace morvane::load {

// One field of the current record. `text` stays valid until the next call of
// CsvReader::Next.
struct CsvField {
  std::string_view text;
  bool null = false;
};

class CsvReader {
 public:
  static constexpr size_t kMaxRecordBytes = size_t{1} << 20;

  // Opens `path` for reading; raises LoadError when it cannot be opened.
  explicit CsvReader(std::string path);
  ~CsvReader();
  CsvReader(const CsvReader&) = delete;
  CsvReader& operator=(const CsvReader&) = delete;

  // Reads the header row and checks that it names exactly `columns` (each
  // once, none other, names compared exactly, any order). After it, Field(i)
  // is the value of columns[i] whatever the file's column order.
  void ReadHeader(const std::vector<std::string_view>& columns);

  // Moves to the next record; false at the end of the file. A record whose
  // field count differs from the header's is an error.
  bool Next();

  // The value of the header column ReadHeader was given at position `i`.
  const CsvField& Field(size_t i) const { return fields_[order_[i]]; }

  const std::string& Path() const { return path_; }
  // The line on which the current record starts (the header is line 1).
  int64_t Line() const { return record_line_; }

  // Raises LoadError "PATH:LINE: what" for the current record.
  [[noreturn]] void Fail(std::string_view what) const;

 private:
  // Reads one record's raw fields into fields_; false at end of file.
  bool ReadRecord();
  bool Fill();
  int Peek();
  int Get();

  std::string path_;
  std::FILE* file_ = nullptr;
  std::vector<char> buf_;
  size_t pos_ = 0;
  size_t end_ = 0;
  bool eof_ = false;
  int64_t line_ = 1;                              // the physical line the reader stands on
  int64_t record_line_ = 0;                       // where the current record started
  std::string text_;                              // unescaped bytes of every field of the record
  std::vector<std::pair<size_t, size_t>> spans_;  // offset, length in text_
  std::vector<bool> quoted_;
  std::vector<CsvField> fields_;
  std::vector<size_t> order_;  // requested column -> file column
  size_t width_ = 0;           // field count of the header
};

}  // namespace morvane::load

#endif  // MORVANE_TOOLS_LOAD_CSV_READER_H_
