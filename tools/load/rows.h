// The rows the loader writes, one struct per kind of store row.
//
// Both the CSV loaders and the demo market produce these, so the same writers
// put either into a store. Text members are views: they must stay valid until
// the writer has taken the row. A number that is absent (an empty CSV field) is
// nullopt and is stored as null.
#ifndef MORVANE_TOOLS_LOAD_ROWS_H_
#define MORVANE_TOOLS_LOAD_ROWS_H_

#include <cstdint>
#include <optional>
#include <string_view>

#include "support/date_time.h"

namespace morvane::load {

using OptNum = std::optional<double>;

// One tick of a daily tick table; `date` is a whole day, `time` a time of day.
struct TickRow {
  TDateTime date = 0;
  TDateTime time = 0;
  std::string_view symbol;
  OptNum bid, offer, price, bid_size, volume, offer_size;
};

// DailySymbol: a product's English and Chinese names.
struct NameRow {
  std::string_view stock_code;
  std::optional<std::string_view> name_e, name_c;
};

// One day's bar of the daily-bar store.
struct DailyBarRow {
  TDateTime c_date = 0;
  std::string_view stock_code;
  OptNum high, low, closing, shares_traded, turnover;
};

// One stored base bar; `time_begin` is a date and time.
struct BaseBarRow {
  std::string_view symbol;
  TDateTime time_begin = 0;
  std::optional<int64_t> duration, seq_no;
  OptNum price_open, price_high, price_low, price_close, volume;
};

// One market session of a product, both ends times of day.
struct SessionRow {
  std::string_view symbol;
  TDateTime time_open = 0;
  TDateTime time_close = 0;
};

// symbolTable: a product and its validity mark ("1" is valid).
struct SymbolRow {
  std::string_view symbol;
  std::optional<std::string_view> is_valid;
};

// One finished bar of an interval table.
struct IntervalRow {
  std::string_view symbol;
  TDateTime date = 0;  // whole day
  TDateTime time = 0;  // time of day
  OptNum open, high, low, close, volume;
};

}  // namespace morvane::load

#endif  // MORVANE_TOOLS_LOAD_ROWS_H_
