// Reading a day's tick table through TTable, as the tick generators do: one
// seek, then every row with its fields read. Reports rows per second.
//
// Run: cmake -DMORVANE_BENCH=ON ... && build/bench_engine_read_bench
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "data/engine.h"

namespace {

using morvane::db::FieldType;
using morvane::db::TDatabase;
using morvane::db::TField;
using morvane::db::TQuery;
using morvane::db::TTable;

constexpr int kRows = 100000;

// A SQLite store with one 100,000-row day table of 50 products, made once.
class Store {
 public:
  Store() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "morvane-bench.XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr) abort();
    dir_ = tmpl;
    std::ofstream(dir_ / "aliases.ini") << "[BENCH]\nDRIVER=SQLITE\nPATH=ticks/\n";
    setenv("MORVANE_ALIASES", (dir_ / "aliases.ini").c_str(), 1);
    TDatabase db;
    db.SetAliasName("BENCH");
    db.SetCreateStore(true);
    db.ExecuteDirect(
        "CREATE TABLE hist030509 (ID INTEGER PRIMARY KEY, Date DATE, Time TIME, "
        "Symbol VARCHAR(15), Bid DOUBLE, Offer DOUBLE, Price DOUBLE, BidSize DOUBLE, "
        "Volume DOUBLE, OfferSize DOUBLE)");
    db.ExecuteDirect(
        "CREATE INDEX hist030509_SymbolTime ON hist030509 (Symbol COLLATE NOCASE, Time)");
    TQuery ins;
    ins.SetDatabase(&db);
    ins.SetSQL(
        "INSERT INTO hist030509 (Date, Time, Symbol, Bid, Offer, Price, BidSize, Volume, "
        "OfferSize) VALUES (:D, :T, :S, :B, :O, :P, :BS, :V, :OS)");
    db.StartTransaction();
    for (int i = 0; i < kRows; ++i) {
      const int product = i % 50;
      const int second = 9 * 3600 + i / 50;
      ins.ParamByName("D").SetAsString("2003-05-09");
      char t[16];
      snprintf(t, sizeof t, "%02d:%02d:%02d", second / 3600, second / 60 % 60, second % 60);
      ins.ParamByName("T").SetAsString(t);
      ins.ParamByName("S").SetAsString("P" + std::to_string(1000 + product));
      ins.ParamByName("B").SetAsFloat(10 + i % 7 * 0.01);
      ins.ParamByName("O").SetAsFloat(10.02 + i % 7 * 0.01);
      ins.ParamByName("P").SetAsFloat(10.01 + i % 7 * 0.01);
      ins.ParamByName("BS").SetAsFloat(1000);
      ins.ParamByName("V").SetAsFloat(i * 100.0);
      ins.ParamByName("OS").SetAsFloat(2000);
      ins.ExecSQL();
    }
    db.Commit();
  }
  ~Store() { std::filesystem::remove_all(dir_); }

 private:
  std::filesystem::path dir_;
};

void BM_ReadDayTable(benchmark::State& state) {
  static Store store;
  TDatabase db;
  db.SetAliasName("BENCH");
  db.SetReadOnly(true);
  TTable table;
  table.SetDatabase(&db);
  table.SetIndexName("SymbolTime");
  TField* date = table.DeclareField("Date", FieldType::kDate);
  TField* time = table.DeclareField("Time", FieldType::kTime);
  TField* symbol = table.DeclareField("Symbol", FieldType::kText);
  TField* price = table.DeclareField("Price", FieldType::kFloat);
  TField* volume = table.DeclareField("Volume", FieldType::kFloat);
  int64_t rows = 0;
  for (auto _ : state) {
    table.SetTableName("hist030509");
    table.Open();
    table.FindNearest({std::string("P1000")});
    double sum = 0;
    for (; !table.Eof(); table.Next()) {
      sum += date->AsDateTime() + time->AsDateTime() + price->AsFloat() + volume->AsFloat() +
             static_cast<double>(symbol->TextView().size());
      ++rows;
    }
    benchmark::DoNotOptimize(sum);
    table.Close();
  }
  state.SetItemsProcessed(rows);
  state.counters["rows/s"] =
      benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReadDayTable)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
