// morvane-load: creates the stores and fills them from CSV files or with the
// demo market. Exit status: 0 done, 1 a load failed (nothing of the failing
// file was kept), 2 the command line is wrong.
#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "data/alias_file.h"
#include "data/connection_pool.h"
#include "demo_loader.h"
#include "field_parse.h"
#include "load_error.h"
#include "loaders.h"
#include "store_schema.h"
#include "stores.h"
#include "support/clock.h"
#include "support/int_parse.h"

namespace morvane::load {
namespace {

constexpr const char* kUsage =
    R"(usage: morvane-load [--aliases FILE] [--alias NAME] COMMAND [ARGS]

Creates the stores the Morvane server reads and fills them through its
database engine, so the same commands serve SQLite and PostgreSQL stores.

Options:
  --aliases FILE   the alias file (default: aliases.ini found as the server
                   finds it, or $MORVANE_ALIASES)
  --alias NAME     write to this alias instead of the command's usual store
  -h, --help       this text

Commands (CSV files: a header row with exactly the columns shown):
  init                      create tables, indexes and procedures of every
                            store (HISTDATA, Historical, plrdata and the order
                            database); safe to repeat
  ticks FILE...             HISTDATA: Date,Time,Symbol,Bid,Offer,Price,BidSize,
                            Volume,OfferSize (each row into its day's table)
  names FILE...             Historical: Stock_code,name_e,name_c
  daily FILE...             Historical: c_date,stock_code,high,low,closing,
                            shares_traded,turnover
  basebars FILE...          plrdata: Symbol,TimeBegin,Duration,SeqNo,PriceOpen,
                            PriceHigh,PriceLow,PriceClose,Volume
  sessions FILE...          plrdata: Symbol,TimeOpen,TimeClose
  symbols FILE...           order database (OMS_DATABASE/DSN_source, default
                            omsdata): symbol,isValid
  intervals --length 60|180|300 FILE...
                            order database: Symbol,Date,Time,Open,High,Low,
                            Close,Volume
  demo [--seed N] [--days N] [--symbols N] [--ticks-per-day N] [--end YYYY-MM-DD]
                            a synthetic market in every store (defaults: seed
                            20030705, 20 days, 24 symbols, 200 ticks per day,
                            ending today)

Each file is loaded in one transaction: a malformed row stops the load with
FILE:LINE and what is wrong, and nothing of that file is kept.
Exit status: 0 done, 1 a load failed, 2 usage error.
)";

struct UsageError {
  std::string message;
};

struct Args {
  std::vector<std::string> items;
  size_t pos = 0;
  bool Done() const { return pos >= items.size(); }
};

// "--name value" or "--name=value" at the current position.
bool TakeOption(Args* a, const char* name, std::string* value) {
  const std::string& s = a->items[a->pos];
  const std::string n = name;
  if (s == n) {
    if (a->pos + 1 >= a->items.size()) throw UsageError{n + " needs a value"};
    *value = a->items[a->pos + 1];
    a->pos += 2;
    return true;
  }
  if (s.rfind(n + "=", 0) == 0) {
    *value = s.substr(n.size() + 1);
    ++a->pos;
    return true;
  }
  return false;
}

int PositiveInt(const std::string& option, const std::string& text) {
  auto v = ParseInt32(text);
  if (!v || *v < 1) throw UsageError{option + " needs a positive number, not \"" + text + "\""};
  return *v;
}

int Init(const std::string& override_alias) {
  for (const std::string& line : InitStores(override_alias)) std::cout << "init: " << line << "\n";
  return 0;
}

template <class Load>
int LoadFiles(const std::vector<std::string>& files, StoreRole role,
              const std::string& override_alias, Load load) {
  if (files.empty()) throw UsageError{"no FILE given"};
  const std::string alias = AliasFor(role, override_alias);
  StoreConnections stores;
  for (const std::string& f : files) {
    const int64_t n = load(f, stores.Get(alias));
    std::cout << f << ": " << n << " rows loaded into alias " << alias << "\n";
  }
  return 0;
}

int Demo(Args* a, const std::string& override_alias) {
  DemoOptions o;
  o.end = Today();
  std::string v;
  while (!a->Done()) {
    if (TakeOption(a, "--seed", &v)) {
      const char* end = v.data() + v.size();
      auto [stop, ec] = std::from_chars(v.data(), end, o.seed);
      if (ec != std::errc() || stop != end) throw UsageError{"--seed needs a number"};
    } else if (TakeOption(a, "--days", &v)) {
      o.days = PositiveInt("--days", v);
    } else if (TakeOption(a, "--symbols", &v)) {
      o.symbols = PositiveInt("--symbols", v);
      if (o.symbols > kDemoProductCount) {
        throw UsageError{"--symbols is at most " + std::to_string(kDemoProductCount)};
      }
    } else if (TakeOption(a, "--ticks-per-day", &v)) {
      o.ticks_per_day = PositiveInt("--ticks-per-day", v);
    } else if (TakeOption(a, "--end", &v)) {
      auto d = ParseCsvDate(v);
      if (!d) throw UsageError{"--end needs a date YYYY-MM-DD"};
      o.end = *d;
    } else {
      throw UsageError{"demo: unknown argument \"" + a->items[a->pos] + "\""};
    }
  }
  o.is_holiday = SettingsHolidays();
  const DemoCounts c = LoadDemo(o, override_alias);
  std::cout << "demo: " << c.ticks << " ticks, " << c.daily << " daily bars, " << c.base_bars
            << " base bars, " << c.intervals << " interval bars, " << c.names << " names, "
            << c.symbols << " symbols, " << c.sessions << " sessions\n";
  return 0;
}

int Run(Args* a) {
  std::string override_alias;
  std::string command;
  std::vector<std::string> rest;
  int length = 0;  // intervals --length
  std::string v;
  // Global options may stand anywhere before demo's own arguments.
  while (!a->Done()) {
    const std::string& s = a->items[a->pos];
    if (s == "-h" || s == "--help") {
      std::cout << kUsage;
      return 0;
    }
    if (TakeOption(a, "--aliases", &v)) {
      std::error_code ec;
      if (!std::filesystem::is_regular_file(v, ec)) {
        throw UsageError{"alias file " + v + " does not exist"};
      }
      setenv("MORVANE_ALIASES", std::filesystem::absolute(v).c_str(), 1);
    } else if (TakeOption(a, "--alias", &v)) {
      if (v.empty()) throw UsageError{"--alias needs a name"};
      override_alias = v;
    } else if (command == "intervals" && TakeOption(a, "--length", &v)) {
      length = ParseInt32Or(v, 0);
      if (std::ranges::find(kIntervalLengths, length) == kIntervalLengths.end()) {
        throw UsageError{"--length must be 60, 180 or 300"};
      }
    } else if (command.empty() && s.rfind("--", 0) == 0) {
      throw UsageError{"unknown option \"" + s + "\""};
    } else if (command.empty()) {
      command = s;
      ++a->pos;
      if (command == "demo") break;  // its own options follow
    } else {
      rest.push_back(s);
      ++a->pos;
    }
  }
  if (command.empty()) throw UsageError{"no command given"};

  if (command == "init") {
    if (!rest.empty()) throw UsageError{"init takes no arguments"};
    return Init(override_alias);
  }
  if (command == "demo") return Demo(a, override_alias);
  if (command == "ticks") return LoadFiles(rest, StoreRole::kTicks, override_alias, LoadTicksFile);
  if (command == "names") return LoadFiles(rest, StoreRole::kDaily, override_alias, LoadNamesFile);
  if (command == "daily") return LoadFiles(rest, StoreRole::kDaily, override_alias, LoadDailyFile);
  if (command == "basebars") {
    return LoadFiles(rest, StoreRole::kBars, override_alias, LoadBaseBarsFile);
  }
  if (command == "sessions") {
    return LoadFiles(rest, StoreRole::kBars, override_alias, LoadSessionsFile);
  }
  if (command == "symbols") {
    return LoadFiles(rest, StoreRole::kOrders, override_alias, LoadSymbolsFile);
  }
  if (command == "intervals") {
    if (length == 0) throw UsageError{"intervals needs --length 60|180|300"};
    return LoadFiles(rest, StoreRole::kOrders, override_alias,
                     [length](const std::string& f, db::TDatabase* db) {
                       return LoadIntervalsFile(f, db, length);
                     });
  }
  throw UsageError{"unknown command \"" + command + "\""};
}

}  // namespace
}  // namespace morvane::load

int main(int argc, char** argv) {
  // Stores are closed before the process ends, not left to the pool that
  // keeps a server's links between requests.
  struct CloseKeptLinks {
    ~CloseKeptLinks() { morvane::db::ConnectionPool::Process().Clear(); }
  } close_kept_links;
  morvane::load::Args args;
  for (int i = 1; i < argc; ++i) args.items.emplace_back(argv[i]);
  try {
    return morvane::load::Run(&args);
  } catch (const morvane::load::UsageError& e) {
    std::cerr << "morvane-load: " << e.message << "\n(morvane-load --help shows the usage)\n";
    return 2;
  } catch (const std::exception& e) {
    std::cerr << "morvane-load: " << e.what() << "\n";
    return 1;
  }
}
