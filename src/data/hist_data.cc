#include "data/hist_data.h"

#include "calendar/trading_calendar.h"
#include "data/session_ids.h"
#include "support/log.h"
#include "support/settings_location.h"

namespace morvane {

using db::FieldType;
using db::ParamDirection;
using db::ParamType;

THistData::THistData() {
  HistDB.SetAliasName("HISTDATA");
  HistDB.SetDatabaseName("HistDB");
  HistDB.SetReadOnly(true);
  HistDB.SetLoginPrompt(false);

  HistSQLDB.SetAliasName("Historical");
  HistSQLDB.SetDatabaseName("HistSQLDB");
  HistSQLDB.SetReadOnly(true);
  HistSQLDB.SetLoginPrompt(false);
  HistSQLDB.Params() = {"USER NAME=sa", "PASSWORD="};

  PLRDB.SetAliasName("plrdata");
  PLRDB.SetDatabaseName("PLRDB");
  PLRDB.SetLoginPrompt(false);
  PLRDB.Params() = {"USER NAME=sa", "PASSWORD="};

  HistTable.SetDatabase(&HistDB);
  HistTable.SetReadOnly(true);
  HistTable.SetIndexName("SymbolTime");
  HistTableID = HistTable.DeclareField("ID", FieldType::kInteger);
  HistTableDate = HistTable.DeclareField("Date", FieldType::kDate);
  HistTableTime = HistTable.DeclareField("Time", FieldType::kTime);
  HistTableSymbol = HistTable.DeclareField("Symbol", FieldType::kText);
  HistTableBid = HistTable.DeclareField("Bid", FieldType::kFloat);
  HistTableOffer = HistTable.DeclareField("Offer", FieldType::kFloat);
  HistTablePrice = HistTable.DeclareField("Price", FieldType::kFloat);
  HistTableBidSize = HistTable.DeclareField("BidSize", FieldType::kFloat);
  HistTableVolume = HistTable.DeclareField("Volume", FieldType::kFloat);
  HistTableOfferSize = HistTable.DeclareField("OfferSize", FieldType::kFloat);

  StockNameQuery.SetDatabase(&HistSQLDB);
  StockNameQuery.SetSQL("select name_e, name_c from DailySymbol where Stock_code = :Symbol");
  StockNameQueryname_e = StockNameQuery.DeclareField("name_e", FieldType::kText);
  StockNameQueryname_c = StockNameQuery.DeclareField("name_c", FieldType::kText);

  spIntervalQuery.SetDatabase(&PLRDB);
  spIntervalQuery.SetStoredProcName("QueryIntervals;1");
  spIntervalQuery.DeclareParam("RETURN_VALUE", ParamType::kInteger, ParamDirection::kResult);
  spIntervalQuery.DeclareParam("@Symbol", ParamType::kText, ParamDirection::kInput);
  spIntervalQuery.DeclareParam("@Interval", ParamType::kInteger, ParamDirection::kInput);
  spIntervalQuery.DeclareParam("@TimeFrom", ParamType::kDateTime, ParamDirection::kInput);
  spIntervalQuery.DeclareParam("@TimeTo", ParamType::kDateTime, ParamDirection::kInput);
  spIntervalQuery.DeclareParam("@BackCount", ParamType::kInteger, ParamDirection::kInput);
  spIntervalQueryTimeBegin = spIntervalQuery.DeclareField("TimeBegin", FieldType::kDateTime);
  spIntervalQueryDuration = spIntervalQuery.DeclareField("Duration", FieldType::kInteger);
  spIntervalQuerySeqNo = spIntervalQuery.DeclareField("SeqNo", FieldType::kInteger);
  spIntervalQueryPriceOpen = spIntervalQuery.DeclareField("PriceOpen", FieldType::kFloat);
  spIntervalQueryPriceHigh = spIntervalQuery.DeclareField("PriceHigh", FieldType::kFloat);
  spIntervalQueryPriceLow = spIntervalQuery.DeclareField("PriceLow", FieldType::kFloat);
  spIntervalQueryPriceClose = spIntervalQuery.DeclareField("PriceClose", FieldType::kFloat);
  spIntervalQueryVolume = spIntervalQuery.DeclareField("Volume", FieldType::kFloat);

  spMarketSessionQuery.SetDatabase(&PLRDB);
  spMarketSessionQuery.SetStoredProcName("QueryMarketSession;1");
  spMarketSessionQuery.DeclareParam("RETURN_VALUE", ParamType::kInteger, ParamDirection::kResult)
      .SetAsInteger(0);
  spMarketSessionQuery.DeclareParam("@Symbol", ParamType::kText, ParamDirection::kInput);
  spMarketSessionQueryTimeOpen =
      spMarketSessionQuery.DeclareField("TimeOpen", FieldType::kDateTime);
  spMarketSessionQueryTimeClose =
      spMarketSessionQuery.DeclareField("TimeClose", FieldType::kDateTime);

  spQueryDaily.SetDatabase(&HistSQLDB);
  spQueryDaily.SetStoredProcName("usp_Closing_Price;1");
  spQueryDaily.DeclareParam("@RETURN_VALUE", ParamType::kInteger, ParamDirection::kResult)
      .SetAsInteger(0);
  spQueryDaily.DeclareParam("@From_Symbol", ParamType::kText, ParamDirection::kInput);
  spQueryDaily.DeclareParam("@To_Symbol", ParamType::kText, ParamDirection::kInput);
  spQueryDaily.DeclareParam("@From_Date", ParamType::kDateTime, ParamDirection::kInput);
  spQueryDaily.DeclareParam("@To_Date", ParamType::kDateTime, ParamDirection::kInput);
  spQueryDaily.DeclareParam("@Adj", ParamType::kInteger, ParamDirection::kInput);
  spQueryDailyc_date = spQueryDaily.DeclareField("c_date", FieldType::kDateTime);
  spQueryDailystock_code = spQueryDaily.DeclareField("stock_code", FieldType::kText);
  spQueryDailyhigh = spQueryDaily.DeclareField("high", FieldType::kFloat);
  spQueryDailylow = spQueryDaily.DeclareField("low", FieldType::kFloat);
  spQueryDailyclosing = spQueryDaily.DeclareField("closing", FieldType::kFloat);
  spQueryDailyshares_traded = spQueryDaily.DeclareField("shares_traded", FieldType::kFloat);
  spQueryDailyturnover = spQueryDaily.DeclareField("turnover", FieldType::kFloat);

  // The session is named last, as the engine does when a module has been
  // loaded: naming it rebinds every database of the module to the name.
  hist_session_ = db::TSession::MakeAutoNamed();  // made active
  for (db::TDatabase* d : {&HistDB, &HistSQLDB, &PLRDB})
    d->SetSessionName(hist_session_->SessionName());
}

THistData::~THistData() {
  // The queries go before the connection they run on, and the connection
  // before its session.
  IsValidSymbolQuery.reset();
  IntervalQuery.reset();
  OrdDB.reset();
  if (!private_session_name_.empty()) db::TSession::FreeSession(private_session_name_);
}

void THistData::WebModuleCreate() {
  // One look-up and one read of the settings file serve the whole creation:
  // the calendar, the logins and the private connection.
  std::shared_ptr<const TIniFile> settings;
  try {
    settings = omsIniFile("");
  } catch (...) {
    // The calendar logs the failure in its own words and keeps its defaults;
    // the creation itself stops here.
    InitialHolidayList();
    throw;
  }
  InitialHolidayList(*settings);

  const std::string user = settings->ReadString("MORVANE", "DBUSER", "sa");
  const std::string password = settings->ReadString("MORVANE", "DBPASSWORD", "");
  const std::vector<std::string> login = {"USER NAME=" + user, "PASSWORD=" + password};
  HistSQLDB.Params() = login;
  PLRDB.Params() = login;

  DatabaseNewQueryOpen(*settings, &OrdDB, &IntervalQuery, &IsValidSymbolQuery);
}

bool THistData::DatabaseNewQueryOpen(const TIniFile& settings,
                                     std::unique_ptr<db::TDatabase>* database,
                                     std::unique_ptr<db::TQuery>* interval_query,
                                     std::unique_ptr<db::TQuery>* symbol_query) {
  database->reset();
  interval_query->reset();
  symbol_query->reset();

  const DsnLogin dsn = DBInitConfig(settings);
  const std::string id = GenNextSessionID();
  SetThreadSessionID(id);
  db::TSession* const session = db::TSession::OpenSession(id);
  // A module made before keeps its own session; remember this one so that
  // destroying the module frees it.
  if (!private_session_name_.empty() && private_session_name_ != id) {
    db::TSession::FreeSession(private_session_name_);
  }
  private_session_name_ = id;

  auto ord = std::make_unique<db::TDatabase>();
  ord->SetAliasName(dsn.source);
  ord->SetDatabaseName("ordDB" + id);
  ord->SetSessionName(id);
  if (!dsn.user.empty()) {
    LogLine("Using database " + dsn.source + " user " + dsn.user + " SessionID " + id);
    ord->SetLoginPrompt(false);
    ord->Params() = {"USER NAME=" + dsn.user, "PASSWORD=" + dsn.password};
  }

  try {
    LogLine("begin keep connection");
    ord->SetKeepConnection(true);
    LogLine("connection");
    db::TSession::MakeCurrent(session);
    LogLine("Current Session");
    ord->Open();
    LogLine("connected");
    auto symbols = std::make_unique<db::TQuery>();
    symbols->SetDatabase(ord.get());
    LogLine("valid Query");
    auto intervals = std::make_unique<db::TQuery>();
    intervals->SetDatabase(ord.get());
    LogLine("IntervalQuery");
    *database = std::move(ord);
    *symbol_query = std::move(symbols);
    *interval_query = std::move(intervals);
    return true;
  } catch (const std::exception& e) {
    LogLine(std::string("Cannot connect to database ") + e.what());
    database->reset();
    interval_query->reset();
    symbol_query->reset();
    return false;
  }
}

}  // namespace morvane
