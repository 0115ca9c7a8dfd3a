#include "demo_loader.h"

#include <filesystem>
#include <map>
#include <memory>

#include "calendar/trading_calendar.h"
#include "support/settings_location.h"
#include "table_writer.h"

namespace morvane::load {
namespace {

std::vector<std::string> ReadHolidayItems(int year) {
  auto settings = omsIniFile();
  const std::string file = settings->ReadString("MORVANE", "HolidayFile", "");
  auto holidays = file.empty() ? std::move(settings) : omsIniFile(file);
  return HolidayItems(holidays->ReadString(HolidaySection(year), "Holiday", ""));
}

// "code1', 'code2" for an IN list; the demo's codes hold no quotes.
std::string InList(const std::vector<std::string_view>& codes) {
  std::string out = "(";
  for (size_t i = 0; i < codes.size(); ++i) {
    if (i != 0) out += ", ";
    out += '\'';
    out.append(codes[i]);
    out += '\'';
  }
  return out + ")";
}

class StoreSink final : public MarketSink {
 public:
  StoreSink(StoreConnections* stores, const std::string& override_alias,
            const std::vector<std::string_view>& codes,
            std::vector<std::filesystem::path>* new_files)
      : codes_(InList(codes)) {
    ticks_db_ = stores->Get(AliasFor(StoreRole::kTicks, override_alias));
    daily_db_ = stores->Get(AliasFor(StoreRole::kDaily, override_alias));
    bars_db_ = stores->Get(AliasFor(StoreRole::kBars, override_alias));
    orders_db_ = stores->Get(AliasFor(StoreRole::kOrders, override_alias));
    for (db::TDatabase* db : {ticks_db_, daily_db_, bars_db_, orders_db_}) {
      if (!db->InTransaction()) db->StartTransaction();
    }
    Clear(daily_db_, "DailySymbol", "Stock_code");
    Clear(daily_db_, "DailyBars", "stock_code");
    Clear(bars_db_, "BaseBars", "Symbol");
    Clear(bars_db_, "MarketSessions", "Symbol");
    Clear(orders_db_, "symbolTable", "symbol");
    for (int s : kIntervalLengths) Clear(orders_db_, IntervalTableName(s), "Symbol");
    // A day table from an earlier run keeps its other products' ticks.
    ticks_ = std::make_unique<TickWriter>(
        ticks_db_, DriverOf(ticks_db_), new_files,
        [this](const std::string& table) { Clear(ticks_db_, table, "Symbol"); });
    names_ = std::make_unique<NameWriter>(daily_db_);
    daily_ = std::make_unique<DailyBarWriter>(daily_db_);
    base_ = std::make_unique<BaseBarWriter>(bars_db_);
    sessions_ = std::make_unique<SessionWriter>(bars_db_);
    symbols_ = std::make_unique<SymbolWriter>(orders_db_);
    for (int s : kIntervalLengths) intervals_[s] = std::make_unique<IntervalWriter>(orders_db_, s);
  }

  void Name(const NameRow& row) override {
    names_->Write(row);
    ++counts.names;
  }
  void Symbol(const SymbolRow& row) override {
    symbols_->Write(row);
    ++counts.symbols;
  }
  void Session(const SessionRow& row) override {
    sessions_->Write(row);
    ++counts.sessions;
  }
  void Tick(const TickRow& row) override {
    ticks_->Write(row);
    ++counts.ticks;
  }
  void DailyBar(const DailyBarRow& row) override {
    daily_->Write(row);
    ++counts.daily;
  }
  void BaseBar(const BaseBarRow& row) override {
    base_->Write(row);
    ++counts.base_bars;
  }
  void IntervalBar(int seconds, const IntervalRow& row) override {
    intervals_.at(seconds)->Write(row);
    ++counts.intervals;
  }
  void EndDay(TDateTime) override {}

  DemoCounts counts;

  // Writes the rows the writers still hold. Requires: before the commits.
  void Flush() { ticks_->Flush(); }

 private:
  void Clear(db::TDatabase* db, const std::string& table, const char* column) {
    db->ExecuteDirect("DELETE FROM " + table + " WHERE " + column + " IN " + codes_);
  }

  std::string codes_;
  db::TDatabase* ticks_db_ = nullptr;
  db::TDatabase* daily_db_ = nullptr;
  db::TDatabase* bars_db_ = nullptr;
  db::TDatabase* orders_db_ = nullptr;
  std::unique_ptr<TickWriter> ticks_;
  std::unique_ptr<NameWriter> names_;
  std::unique_ptr<DailyBarWriter> daily_;
  std::unique_ptr<BaseBarWriter> base_;
  std::unique_ptr<SessionWriter> sessions_;
  std::unique_ptr<SymbolWriter> symbols_;
  std::map<int, std::unique_ptr<IntervalWriter>> intervals_;
};

}  // namespace

std::function<bool(TDateTime)> SettingsHolidays() {
  auto by_year = std::make_shared<std::map<int, std::vector<std::string>>>();
  return [by_year](TDateTime day) {
    const CivilDate d = DecodeDate(day);
    auto it = by_year->find(d.year);
    if (it == by_year->end()) {
      std::vector<std::string> items;
      try {
        items = ReadHolidayItems(d.year);
      } catch (const std::exception&) {
        // No holiday file to be had: weekends only, as the calendar does.
      }
      it = by_year->emplace(d.year, std::move(items)).first;
    }
    return ListsDay(it->second, day);
  };
}

DemoCounts LoadDemo(const DemoOptions& options, const std::string& override_alias) {
  std::vector<std::filesystem::path> new_files;  // day files of a SQLite tick store
  bool committing = false;
  StoreConnections stores;
  try {
    DemoCounts counts;
    {
      StoreSink sink(&stores, override_alias, DemoProductCodes(options.symbols), &new_files);
      GenerateDemoMarket(options, &sink);
      sink.Flush();
      counts = sink.counts;
    }  // the writers' statements go before the commits
    committing = true;
    stores.CommitAll();
    return counts;
  } catch (...) {
    stores.RollbackAll();
    // The rollback emptied the day files this run created; take them away
    // too, unless the tick store may have committed before another failed.
    if (!committing && !new_files.empty()) {
      stores.CloseAll();
      RemoveDayFiles(new_files);
    }
    throw;
  }
}

}  // namespace morvane::load
