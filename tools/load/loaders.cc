#include "loaders.h"

#include <filesystem>
#include <string_view>
#include <vector>

#include "csv_reader.h"
#include "field_parse.h"
#include "table_writer.h"

namespace morvane::load {
namespace {

// Product codes are at most this long in every store (the tick tables'
// Symbol column), and names at most this long (DailySymbol's fixed width).
constexpr size_t kMaxCodeChars = 15;
constexpr size_t kMaxNameChars = 50;

size_t Utf8Chars(std::string_view s) {
  size_t n = 0;
  for (char c : s) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

// Reads typed values of the current record, failing with the column's name.
class Row {
 public:
  Row(CsvReader* r, const std::vector<std::string_view>& columns) : r_(r), columns_(columns) {}

  std::string_view Code(size_t i) {
    std::string_view v = Required(i);
    if (Utf8Chars(v) > kMaxCodeChars) Bad(i, "is longer than 15 characters");
    return v;
  }
  std::optional<std::string_view> Name(size_t i) {
    const CsvField& f = r_->Field(i);
    if (f.null) return std::nullopt;
    if (Utf8Chars(f.text) > kMaxNameChars) Bad(i, "is longer than 50 characters");
    return f.text;
  }
  std::optional<std::string_view> OptText(size_t i) {
    const CsvField& f = r_->Field(i);
    if (f.null) return std::nullopt;
    return f.text;
  }
  TDateTime Date(size_t i) {
    auto v = ParseCsvDate(Required(i));
    if (!v) Bad(i, "is not a date YYYY-MM-DD");
    return *v;
  }
  TDateTime Time(size_t i) {
    auto v = ParseCsvTime(Required(i));
    if (!v) Bad(i, "is not a time HH:MM:SS or HH:MM:SS.fff");
    return *v;
  }
  TDateTime DateTime(size_t i) {
    auto v = ParseCsvDateTime(Required(i));
    if (!v) Bad(i, "is not a date and time YYYY-MM-DD HH:MM:SS");
    return *v;
  }
  OptNum Number(size_t i) {
    const CsvField& f = r_->Field(i);
    if (f.null) return std::nullopt;
    auto v = ParseCsvNumber(f.text);
    if (!v) Bad(i, "is not a number");
    return v;
  }
  std::optional<int64_t> Integer(size_t i) {
    const CsvField& f = r_->Field(i);
    if (f.null) return std::nullopt;
    auto v = ParseCsvInteger(f.text);
    if (!v) Bad(i, "is not an integer");
    return v;
  }

 private:
  std::string_view Required(size_t i) {
    const CsvField& f = r_->Field(i);
    if (f.null || f.text.empty()) {
      r_->Fail("column " + std::string(columns_[i]) + " is empty; a value is required");
    }
    return f.text;
  }
  [[noreturn]] void Bad(size_t i, std::string_view what) {
    r_->Fail("column " + std::string(columns_[i]) + ": \"" + std::string(r_->Field(i).text) +
             "\" " + std::string(what));
  }

  CsvReader* r_;
  const std::vector<std::string_view>& columns_;
};

// Runs the whole file in one transaction: `write_row` turns the current
// record into one row written through `writer`, whose kColumns the header
// must name.
template <class Writer, class WriteRow>
int64_t LoadFile(const std::string& path, db::TDatabase* db, Writer* writer, WriteRow write_row) {
  CsvReader reader(path);
  reader.ReadHeader(Writer::kColumns);
  Row row(&reader, Writer::kColumns);
  int64_t count = 0;
  db->StartTransaction();
  try {
    try {
      while (reader.Next()) {
        write_row(row, writer);
        ++count;
      }
      if constexpr (requires { writer->Flush(); }) writer->Flush();
    } catch (const LoadError&) {
      throw;
    } catch (const std::exception& e) {
      // The store refused the row (a constraint, a broken link).
      reader.Fail(e.what());
    }
    db->Commit();
  } catch (...) {
    try {
      if (db->InTransaction()) db->Rollback();
    } catch (const std::exception&) {
      // The link is gone and the store drops the transaction with it; the
      // error that stopped the load is the one to report.
    }
    throw;
  }
  return count;
}

}  // namespace

int64_t LoadTicksFile(const std::string& path, db::TDatabase* db) {
  std::vector<std::filesystem::path> new_files;
  TickWriter writer(db, DriverOf(db), &new_files);
  try {
    return LoadFile(path, db, &writer, [](Row& r, TickWriter* w) {
      TickRow t;
      t.date = r.Date(0);
      t.time = r.Time(1);
      t.symbol = r.Code(2);
      t.bid = r.Number(3);
      t.offer = r.Number(4);
      t.price = r.Number(5);
      t.bid_size = r.Number(6);
      t.volume = r.Number(7);
      t.offer_size = r.Number(8);
      w->Write(t);
    });
  } catch (...) {
    // The rollback emptied the day files this load created; take them away
    // too, once the connection has let go of them.
    if (!new_files.empty()) {
      db->Close();
      RemoveDayFiles(new_files);
    }
    throw;
  }
}

int64_t LoadNamesFile(const std::string& path, db::TDatabase* db) {
  NameWriter writer(db);
  return LoadFile(path, db, &writer, [](Row& r, NameWriter* w) {
    w->Write({r.Code(0), r.Name(1), r.Name(2)});
  });
}

int64_t LoadDailyFile(const std::string& path, db::TDatabase* db) {
  DailyBarWriter writer(db);
  return LoadFile(path, db, &writer, [](Row& r, DailyBarWriter* w) {
    DailyBarRow d;
    d.c_date = r.Date(0);
    d.stock_code = r.Code(1);
    d.high = r.Number(2);
    d.low = r.Number(3);
    d.closing = r.Number(4);
    d.shares_traded = r.Number(5);
    d.turnover = r.Number(6);
    w->Write(d);
  });
}

int64_t LoadBaseBarsFile(const std::string& path, db::TDatabase* db) {
  BaseBarWriter writer(db);
  return LoadFile(path, db, &writer, [](Row& r, BaseBarWriter* w) {
    BaseBarRow b;
    b.symbol = r.Code(0);
    b.time_begin = r.DateTime(1);
    b.duration = r.Integer(2);
    b.seq_no = r.Integer(3);
    b.price_open = r.Number(4);
    b.price_high = r.Number(5);
    b.price_low = r.Number(6);
    b.price_close = r.Number(7);
    b.volume = r.Number(8);
    w->Write(b);
  });
}

int64_t LoadSessionsFile(const std::string& path, db::TDatabase* db) {
  SessionWriter writer(db);
  return LoadFile(path, db, &writer, [](Row& r, SessionWriter* w) {
    w->Write({r.Code(0), r.Time(1), r.Time(2)});
  });
}

int64_t LoadSymbolsFile(const std::string& path, db::TDatabase* db) {
  SymbolWriter writer(db);
  return LoadFile(path, db, &writer, [](Row& r, SymbolWriter* w) {
    w->Write({r.Code(0), r.OptText(1)});
  });
}

int64_t LoadIntervalsFile(const std::string& path, db::TDatabase* db, int seconds) {
  IntervalWriter writer(db, seconds);
  return LoadFile(path, db, &writer, [](Row& r, IntervalWriter* w) {
    IntervalRow b;
    b.symbol = r.Code(0);
    b.date = r.Date(1);
    b.time = r.Time(2);
    b.open = r.Number(3);
    b.high = r.Number(4);
    b.low = r.Number(5);
    b.close = r.Number(6);
    b.volume = r.Number(7);
    w->Write(b);
  });
}

}  // namespace morvane::load
