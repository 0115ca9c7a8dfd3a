// The loaders against real stores, SQLite and PostgreSQL, read back the way
// the server reads them: tables through their SymbolTime index, the
// procedures with the parameters the server binds, the statements it runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <tuple>

#include "data/engine.h"
#include "load_error.h"
#include "loaders.h"
#include "stores.h"
#include "support/test_env.h"
#include "table_writer.h"

namespace morvane::load {
namespace {

using db::FieldType;
using db::ParamDirection;
using PType = db::ParamType;
using testing::TempDir;
using testing::WriteFile;

enum class Kind { kSqlite, kPostgres };

class LoaderStore : public ::testing::TestWithParam<Kind> {
 protected:
  void SetUp() override {
    if (GetParam() == Kind::kPostgres) {
      if (testing::PostgresConnInfo().empty()) GTEST_SKIP() << "no PostgreSQL test cluster";
      pg_ = std::make_unique<testing::ScratchPostgresDb>();
      std::string text;
      for (const char* a : {"HISTDATA", "Historical", "plrdata", "omsdata"}) {
        text += std::string("[") + a + "]\nDRIVER=POSTGRES\nCONNINFO=" + pg_->conninfo() + "\n";
      }
      WriteFile(dir_ / "aliases.ini", text);
    } else {
      WriteFile(dir_ / "aliases.ini",
                "[HISTDATA]\nDRIVER=SQLITE\nPATH=ticks/\n"
                "[Historical]\nDRIVER=SQLITE\nPATH=historical.db\n"
                "[plrdata]\nDRIVER=SQLITE\nPATH=plrdata.db\n"
                "[omsdata]\nDRIVER=SQLITE\nPATH=omsdata.db\n");
    }
    WriteFile(dir_ / "oms.ini", "[OMS_DATABASE]\nDSN_source=omsdata\n");
    env_ = std::make_unique<testing::ScopedEnv>("MORVANE_ALIASES", (dir_ / "aliases.ini").c_str());
    cwd_ = std::make_unique<testing::ScopedCwd>(dir_.path());
    InitStores("");
  }

  std::unique_ptr<db::TDatabase> Open(const char* alias) {
    auto d = std::make_unique<db::TDatabase>();
    d->SetAliasName(alias);
    d->Open();
    return d;
  }

  std::string Csv(const std::string& name, const std::string& text) {
    WriteFile(dir_ / name, text);
    return (dir_ / name).string();
  }

  int64_t Count(const char* alias, const std::string& table) {
    auto d = Open(alias);
    db::TQuery q;
    q.SetDatabase(d.get());
    q.SetSQL("select count(*) as n from " + table);
    q.Open();
    return q.FieldByName("n").AsLargeInt();
  }

  TempDir dir_;
  std::unique_ptr<testing::ScratchPostgresDb> pg_;
  std::unique_ptr<testing::ScopedEnv> env_;
  std::unique_ptr<testing::ScopedCwd> cwd_;
};

TEST_P(LoaderStore, TicksGoToTheirDayTablesInSymbolTimeOrderIgnoringCase) {
  const std::string f = Csv("t.csv",
                            "Date,Time,Symbol,Bid,Offer,Price,BidSize,Volume,OfferSize\n"
                            "2003-07-05,10:00:01,0005,1.1,1.2,1.2,100,1000,200\n"
                            "2003-07-05,09:30:00.500,0700,5,5.1,5,10,20,30\n"
                            "2003-07-05,09:59:59,0005,1.0,1.1,1.1,100,900,200\n"
                            "2003-07-05,10:00:00,ab,1,2,,3,4,5\n"
                            "2003-07-05,09:00:00,AB,1,2,1.5,3,4,5\n"
                            "2003-07-07,09:30:00,0005,1,2,1.5,3,4,5\n");
  auto ticks = Open("HISTDATA");
  EXPECT_EQ(LoadTicksFile(f, ticks.get()), 6);

  db::TTable t;
  t.SetDatabase(ticks.get());
  t.SetTableName("hist030705");
  t.SetIndexName("SymbolTime");
  t.Open();
  std::vector<std::string> seen;
  for (; !t.Eof(); t.Next()) {
    seen.push_back(t.FieldByName("Symbol").AsString() + " " + t.FieldByName("Time").AsString() +
                   " " + t.FieldByName("Price").AsString());
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"0005 09:59:59 1.1", "0005 10:00:01 1.2",
                                            "0700 09:30:00 5", "AB 09:00:00 1.5", "ab 10:00:00 "}));
  // The tick's fraction of a second is kept.
  t.FindNearest({std::string("0700")});
  EXPECT_NEAR(t.FieldByName("Time").AsDateTime(), EncodeTime(9, 30, 0, 500), 1e-9);
  EXPECT_NEAR(t.FieldByName("Date").AsDateTime(), EncodeDate(2003, 7, 5), 1e-9);
  // The seek ignores letter case, as the index does.
  t.FindNearest({std::string("aB"), EncodeTime(9, 30, 0)});
  EXPECT_EQ(t.FieldByName("Symbol").AsString(), "ab");
  t.Close();
  EXPECT_EQ(Count("HISTDATA", "hist030707"), 1);
}

// More rows than one batch of the PostgreSQL writer, interleaving two days,
// with ties in (symbol, time) and empty values: every row arrives once, with
// its values, and ties keep the order they were written in.
TEST_P(LoaderStore, ManyTicksKeepTheirValuesAndTheirOrderOfWriting) {
  std::string csv = "Date,Time,Symbol,Bid,Offer,Price,BidSize,Volume,OfferSize\n";
  std::map<int, std::vector<std::tuple<std::string, std::string, std::string>>> model;
  const int rows = 2 * static_cast<int>(TickWriter::kBatch) + 37;
  for (int i = 0; i < rows; ++i) {
    const int day = 7 + i % 3 / 2;  // two of every three rows on the 7th
    const std::string sym = i % 5 == 0 ? "0005" : "0700";
    const std::string time = "10:00:" + std::string(i % 7 == 0 ? "00" : "30");
    const std::string price = i % 11 == 0 ? "" : std::to_string(i) + ".5";
    csv += "2003-07-0" + std::to_string(day) + "," + time + "," + sym + ",1,2," + price + ",3," +
           std::to_string(i) + ",5\n";
    model[day].emplace_back(sym, time, price.empty() ? "" : price + " " + std::to_string(i));
  }
  auto ticks = Open("HISTDATA");
  EXPECT_EQ(LoadTicksFile(Csv("many.csv", csv), ticks.get()), rows);
  for (auto& [day, written] : model) {
    std::stable_sort(written.begin(), written.end(), [](const auto& a, const auto& b) {
      return std::tie(std::get<0>(a), std::get<1>(a)) < std::tie(std::get<0>(b), std::get<1>(b));
    });
    std::vector<std::string> want, seen;
    for (const auto& [sym, time, rest] : written) want.push_back(sym + " " + time + " " + rest);
    db::TTable t;
    t.SetDatabase(ticks.get());
    t.SetTableName("hist03070" + std::to_string(day));
    t.SetIndexName("SymbolTime");
    for (t.Open(); !t.Eof(); t.Next()) {
      const bool no_price = t.FieldByName("Price").IsNull();
      seen.push_back(
          t.FieldByName("Symbol").AsString() + " " + t.FieldByName("Time").AsString() + " " +
          (no_price
               ? ""
               : t.FieldByName("Price").AsString() + " " + t.FieldByName("Volume").AsString()));
    }
    EXPECT_EQ(seen, want) << "day " << day;
  }
}

TEST_P(LoaderStore, AMalformedRowLeavesNothingOfItsFile) {
  auto ticks = Open("HISTDATA");
  LoadTicksFile(Csv("ok.csv",
                    "Date,Time,Symbol,Bid,Offer,Price,BidSize,Volume,OfferSize\n"
                    "2003-07-04,10:00:00,0005,1,1,1,1,1,1\n"),
                ticks.get());
  const std::string bad = Csv("bad.csv",
                              "Date,Time,Symbol,Bid,Offer,Price,BidSize,Volume,OfferSize\n"
                              "2003-07-04,10:00:01,0005,1,1,1,1,1,1\n"
                              "2003-07-08,10:00:01,0005,1,1,1,1,1,1\n"
                              "2003-02-30,10:00:02,0005,1,1,1,1,1,1\n");
  try {
    LoadTicksFile(bad, ticks.get());
    FAIL() << "no error";
  } catch (const LoadError& e) {
    EXPECT_EQ(std::string(e.what()),
              bad + ":4: column Date: \"2003-02-30\" is not a date YYYY-MM-DD");
  }
  EXPECT_EQ(Count("HISTDATA", "hist030704"), 1);
  db::TTable t;
  t.SetDatabase(ticks.get());
  t.SetTableName("hist030708");
  EXPECT_FALSE(t.Exists());
  if (GetParam() == Kind::kSqlite) {
    EXPECT_FALSE(std::filesystem::exists(dir_ / "ticks/hist030708.db"));
  }

  // A missing column and a wrong number stop the load the same way.
  auto hist = Open("Historical");
  const std::string missing = Csv("m.csv", "c_date,stock_code,high,low,closing,turnover\n");
  EXPECT_THROW(LoadDailyFile(missing, hist.get()), LoadError);
  const std::string wrong = Csv("w.csv",
                                "c_date,stock_code,high,low,closing,shares_traded,turnover\n"
                                "2003-07-04,0005,1,1,1,1,1\n"
                                "2003-07-05,0005,1,x,1,1,1\n");
  try {
    LoadDailyFile(wrong, hist.get());
    FAIL() << "no error";
  } catch (const LoadError& e) {
    EXPECT_EQ(std::string(e.what()), wrong + ":3: column low: \"x\" is not a number");
  }
  EXPECT_EQ(Count("Historical", "DailyBars"), 0);
}

TEST_P(LoaderStore, InitAgainKeepsTheData) {
  auto hist = Open("Historical");
  LoadNamesFile(Csv("n.csv", "Stock_code,name_e,name_c\n0005,HSBC,滙豐控股\n"), hist.get());
  hist.reset();
  InitStores("");
  EXPECT_EQ(Count("Historical", "DailySymbol"), 1);
}

TEST_P(LoaderStore, NamesAndDailyBarsAsTheDailyHistoryReadsThem) {
  auto hist = Open("Historical");
  LoadNamesFile(
      Csv("n.csv", "Stock_code,name_e,name_c\n0005,\"HSBC, HOLDINGS\",滙豐控股\n0700,,\n"),
      hist.get());
  LoadDailyFile(Csv("d.csv",
                    "c_date,stock_code,high,low,closing,shares_traded,turnover\n"
                    "2003-07-08,0005,3,1,2,100,200\n"
                    "2003-07-04,0005,9,8,8.5,,1e6\n"
                    "2003-07-05,0700,1,1,1,1,1\n"
                    "2003-06-30,0005,1,1,1,1,1\n"),
                hist.get());

  db::TQuery names;
  names.SetDatabase(hist.get());
  names.SetSQL("select name_e, name_c from DailySymbol where Stock_code = :Symbol");
  names.ParamByName("Symbol").SetAsString("0005");
  names.Open();
  EXPECT_EQ(names.FieldByName("name_e").AsString(), "HSBC, HOLDINGS");
  EXPECT_EQ(names.FieldByName("name_c").AsString(), "滙豐控股");

  db::TStoredProc sp;
  sp.SetDatabase(hist.get());
  sp.SetStoredProcName("usp_Closing_Price;1");
  sp.DeclareParam("@RETURN_VALUE", PType::kInteger, ParamDirection::kResult);
  sp.DeclareParam("@From_Symbol", PType::kText, ParamDirection::kInput);
  sp.DeclareParam("@To_Symbol", PType::kText, ParamDirection::kInput);
  sp.DeclareParam("@From_Date", PType::kDateTime, ParamDirection::kInput);
  sp.DeclareParam("@To_Date", PType::kDateTime, ParamDirection::kInput);
  sp.DeclareParam("@Adj", PType::kInteger, ParamDirection::kInput);
  sp.ParamByName("@From_Symbol").SetAsString("0005");
  sp.ParamByName("@To_Symbol").SetAsString("0005");
  sp.ParamByName("@From_Date").SetAsString("07/01/2003");
  sp.ParamByName("@To_Date").SetAsString("07/08/2003");
  sp.Open();
  std::vector<std::string> rows;
  for (; !sp.Eof(); sp.Next()) {
    std::string r = ShortDate(sp.FieldByName("c_date").AsDateTime());
    for (const char* c : {"high", "low", "closing", "shares_traded", "turnover"}) {
      r += "|" + sp.FieldByName(c).AsString();
    }
    rows.push_back(r);
  }
  EXPECT_EQ(rows,
            (std::vector<std::string>{"2003/7/4|9|8|8.5||1000000", "2003/7/8|3|1|2|100|200"}));
}

TEST_P(LoaderStore, BaseBarsAndSessionsAsTheFastIntervalsReadThem) {
  auto plr = Open("plrdata");
  LoadSessionsFile(Csv("s.csv",
                       "Symbol,TimeOpen,TimeClose\n0005,13:00:00,16:00:00\n"
                       "0005,09:30:00,12:00:00\n0700,09:30:00,16:00:00\n"),
                   plr.get());
  std::string bars =
      "Symbol,TimeBegin,Duration,SeqNo,PriceOpen,PriceHigh,PriceLow,PriceClose,Volume\n";
  for (int m = 0; m < 10; ++m) {
    bars += "0005,2003-07-05 09:5" + std::to_string(m) + ":00,60," + std::to_string(m + 1) +
            ",1,2,0.5," + std::to_string(m) + ",100\n";
  }
  bars += "0700,2003-07-05 09:55:00,60,1,1,1,1,1,1\n";
  LoadBaseBarsFile(Csv("b.csv", bars), plr.get());

  db::TStoredProc sessions;
  sessions.SetDatabase(plr.get());
  sessions.SetStoredProcName("QueryMarketSession;1");
  sessions.DeclareParam("RETURN_VALUE", PType::kInteger, ParamDirection::kResult);
  sessions.DeclareParam("@Symbol", PType::kText, ParamDirection::kInput);
  sessions.ParamByName("@Symbol").SetAsString("0005");
  sessions.Open();
  std::vector<std::string> got;
  for (; !sessions.Eof(); sessions.Next()) {
    got.push_back(Hms(sessions.FieldByName("TimeOpen").AsDateTime()) + "-" +
                  Hms(sessions.FieldByName("TimeClose").AsDateTime()));
  }
  EXPECT_EQ(got, (std::vector<std::string>{"09:30:00-12:00:00", "13:00:00-16:00:00"}));

  db::TStoredProc iv;
  iv.SetDatabase(plr.get());
  iv.SetStoredProcName("QueryIntervals;1");
  iv.DeclareParam("RETURN_VALUE", PType::kInteger, ParamDirection::kResult);
  iv.DeclareParam("@Symbol", PType::kText, ParamDirection::kInput);
  iv.DeclareParam("@Interval", PType::kInteger, ParamDirection::kInput);
  iv.DeclareParam("@TimeFrom", PType::kDateTime, ParamDirection::kInput);
  iv.DeclareParam("@TimeTo", PType::kDateTime, ParamDirection::kInput);
  iv.DeclareParam("@BackCount", PType::kInteger, ParamDirection::kInput);
  iv.ParamByName("@Symbol").SetAsString("0005");
  iv.ParamByName("@TimeFrom").SetAsDateTime(EncodeDate(2003, 7, 5) + EncodeTime(9, 55, 0));
  iv.ParamByName("@TimeTo").SetAsDateTime(EncodeDate(2003, 7, 5) + EncodeTime(9, 57, 0));
  iv.ParamByName("@BackCount").SetAsInteger(2);
  iv.Open();
  got.clear();
  for (; !iv.Eof(); iv.Next()) {
    got.push_back(Hms(iv.FieldByName("TimeBegin").AsDateTime()) + " " +
                  iv.FieldByName("PriceClose").AsString() + " " +
                  std::to_string(iv.FieldByName("SeqNo").AsInteger()));
  }
  // Two bars before 09:55, then 09:55 to 09:57 inclusive, ascending.
  EXPECT_EQ(got, (std::vector<std::string>{"09:53:00 3 4", "09:54:00 4 5", "09:55:00 5 6",
                                           "09:56:00 6 7", "09:57:00 7 8"}));
}

TEST_P(LoaderStore, SymbolsAndIntervalTablesAsTheOrderDatabaseReadsThem) {
  auto ord = Open("omsdata");
  LoadSymbolsFile(Csv("y.csv", "symbol,isValid\n0005,1\n0700,0\n0001,\n"), ord.get());
  LoadIntervalsFile(Csv("i.csv",
                        "Symbol,Date,Time,Open,High,Low,Close,Volume\n"
                        "0005,2003-07-05,09:52:00,1,2,0.5,1.5,100\n"
                        "0005,2003-07-05,09:51:00,1,1,1,1,0\n"
                        "0005,2003-07-06,09:51:00,1,1,1,1,0\n"),
                    ord.get(), 60);

  db::TQuery valid;
  valid.SetDatabase(ord.get());
  valid.SetSQL("select * from symbolTable where symbol = :symbol and isValid = '1'");
  for (const char* s : {"0005", "0700", "0001"}) {
    valid.Close();
    valid.ParamByName("Symbol").SetAsString(s);
    valid.Open();
    EXPECT_EQ(!valid.Eof(), std::string(s) == "0005") << s;
  }

  db::TQuery q;
  q.SetDatabase(ord.get());
  q.SetSQL("Select * FROM IntervalTable60 WHERE  Symbol = :Symbol AND Date = :Date order by Time");
  q.ParamByName("Symbol").SetAsString("0005");
  q.ParamByName("Date").SetAsString("2003/07/05");
  q.Open();
  std::vector<std::string> got;
  for (; !q.Eof(); q.Next()) {
    got.push_back(q.FieldByName("Date").AsString() + " " + q.FieldByName("Time").AsString() + " " +
                  q.FieldByName("Close").AsString() + " " +
                  std::to_string(q.FieldByName("Volume").AsInteger()));
  }
  EXPECT_EQ(got,
            (std::vector<std::string>{"2003/07/05 09:51:00 1 0", "2003/07/05 09:52:00 1.5 100"}));
}

INSTANTIATE_TEST_SUITE_P(Drivers, LoaderStore, ::testing::Values(Kind::kSqlite, Kind::kPostgres),
                         [](const ::testing::TestParamInfo<Kind>& p) {
                           return p.param == Kind::kSqlite ? "Sqlite" : "Postgres";
                         });

}  // namespace
}  // namespace morvane::load
