// THistData, the data module a request is served on.
//
// The extension keeps a pool of these; a request borrows one, runs on it and
// gives it back, so a module serves one request at a time and its components
// need no lock. Each module carries every database object a request uses:
// three named connections (HistDB for the daily tick tables, HistSQLDB for
// daily bars and names, PLRDB for stored base bars and sessions) bound to an
// engine session of its own, the tick table and queries on them, and a private
// connection to the order database (OrdDB) with two run-time queries.
//
// The module is made in two steps, as the pool does: the constructor makes the
// design-time objects (it raises only if the engine cannot make them), then
// WebModuleCreate sets up credentials and the private connection. The web
// frame wraps the module; this class knows nothing of HTTP beyond the sink its
// records go to.
#ifndef MORVANE_DATA_HIST_DATA_H_
#define MORVANE_DATA_HIST_DATA_H_

#include <memory>
#include <string>
#include <string_view>

#include "data/engine.h"
#include "records/response_sink.h"
#include "support/ini_file.h"

namespace morvane {

class THistData {
 public:
  // Makes the design-time objects and names the module's session
  // ("HistSession_" plus the lowest free number).
  THistData();
  // Releases everything the module made, the private connection, its two
  // queries and its private session included.
  ~THistData();
  THistData(const THistData&) = delete;
  THistData& operator=(const THistData&) = delete;

  // The creation handler: loads the calendar on the first creation of the
  // process, gives HistSQLDB and PLRDB their credentials from the settings
  // and opens the private connection, reading the settings file once for all
  // of it. Raises when the settings cannot be had; a private connection that
  // cannot be made is logged and leaves OrdDB and both queries empty.
  void WebModuleCreate();

  // Makes the private session, connection and two queries and hands them out,
  // with the alias and login from `settings` (DBInitConfig); true when all
  // were made. On a failed connection the three are empty.
  bool DatabaseNewQueryOpen(const TIniFile& settings, std::unique_ptr<db::TDatabase>* database,
                            std::unique_ptr<db::TQuery>* interval_query,
                            std::unique_ptr<db::TQuery>* symbol_query);

  // The response that the records of the current request go to. Set by the
  // request handler for the length of one request.
  ResponseSink* Response() const { return response_; }
  void SetResponse(ResponseSink* r) { response_ = r; }

  // Where the records of the module's answers are formed, kept from one
  // request to the next (see RecordWriter).
  std::string& RecordBuffer() { return record_buffer_; }

  // The engine session of the design-time objects.
  db::TSession& HistSession() { return *hist_session_; }

  // --- Design-time objects -------------------------------------------------
  db::TDatabase HistDB;     // alias "HISTDATA", read-only
  db::TDatabase HistSQLDB;  // alias "Historical", read-only
  db::TDatabase PLRDB;      // alias "plrdata"

  db::TTable HistTable;  // a day's tick table on HistDB, index "SymbolTime"
  db::TField* HistTableID;
  db::TField* HistTableDate;
  db::TField* HistTableTime;
  db::TField* HistTableSymbol;
  db::TField* HistTableBid;
  db::TField* HistTableOffer;
  db::TField* HistTablePrice;
  db::TField* HistTableBidSize;
  db::TField* HistTableVolume;
  db::TField* HistTableOfferSize;

  db::TQuery StockNameQuery;  // names of a product on HistSQLDB
  db::TField* StockNameQueryname_e;
  db::TField* StockNameQueryname_c;

  db::TStoredProc spIntervalQuery;  // "QueryIntervals;1" on PLRDB
  db::TField* spIntervalQueryTimeBegin;
  db::TField* spIntervalQueryDuration;
  db::TField* spIntervalQuerySeqNo;
  db::TField* spIntervalQueryPriceOpen;
  db::TField* spIntervalQueryPriceHigh;
  db::TField* spIntervalQueryPriceLow;
  db::TField* spIntervalQueryPriceClose;
  db::TField* spIntervalQueryVolume;

  db::TStoredProc spMarketSessionQuery;  // "QueryMarketSession;1" on PLRDB
  db::TField* spMarketSessionQueryTimeOpen;
  db::TField* spMarketSessionQueryTimeClose;

  db::TStoredProc spQueryDaily;  // "usp_Closing_Price;1" on HistSQLDB
  db::TField* spQueryDailyc_date;
  db::TField* spQueryDailystock_code;
  db::TField* spQueryDailyhigh;
  db::TField* spQueryDailylow;
  db::TField* spQueryDailyclosing;
  db::TField* spQueryDailyshares_traded;
  db::TField* spQueryDailyturnover;

  // --- Run-time objects on the private connection; empty when it failed. ---
  // The connection stays open between requests; the request handler has it
  // made again when its server closed it meanwhile (TDatabase::DropIfStale).
  std::unique_ptr<db::TDatabase> OrdDB;
  std::unique_ptr<db::TQuery> IntervalQuery;
  std::unique_ptr<db::TQuery> IsValidSymbolQuery;

 private:
  std::unique_ptr<db::TSession> hist_session_;
  std::string private_session_name_;
  ResponseSink* response_ = nullptr;
  std::string record_buffer_;
};

// --- Process-wide start-up and settings of the data module ------------------

// Opens the diagnostic log at its path and starts the session-ID generator
// (InitialLock, then InitialSessionID). Raises what those raise.
void OpenLogAndStartSessionIDs();

// The start-up step of the extension, called once at load:
// OpenLogAndStartSessionIDs, then the setting MaxConnection of section
// MORVANE, which is the result; 10 when it is missing, empty, not a 32-bit
// integer, or when anything here fails.
int32_t GetMaxConnection();

// The private connection's alias and login, as section OMS_DATABASE of the
// settings gives them.
struct DsnLogin {
  std::string source = "omsdata";  // DSN_source; the default when missing or empty
  std::string user;                // DSN_user; empty: no credentials are set
  std::string password;            // DSN_password
};

// Reads the private connection's alias and login from `settings` (the
// settings file the module's creation opened). A value of its own for each
// creation: modules are made concurrently, so nothing of it is kept
// process-wide. Safe for concurrent use.
DsnLogin DBInitConfig(const TIniFile& settings);

// Empties the session prefix (at unload). Its storage is never destroyed,
// so this is safe whatever order the library's globals are destroyed in.
void ClearDataModuleTexts();

}  // namespace morvane

#endif  // MORVANE_DATA_HIST_DATA_H_
