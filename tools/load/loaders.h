// Loading the CSV files of each kind into a store.
//
// Each function reads one file (header and format: csv_reader.h; columns:
// docs/stores.md) and writes its rows, in file order, in one transaction on
// `db`: either the whole file is in the store afterwards, or, when a row is
// malformed or the store refuses it, nothing of the file is, and LoadError
// "FILE:LINE: what is wrong" is raised. For ticks this includes day tables
// created for the file: they are created inside the same transaction.
//
// `db` must be connected and have no transaction active. Each function
// returns the number of rows loaded.
#ifndef MORVANE_TOOLS_LOAD_LOADERS_H_
#define MORVANE_TOOLS_LOAD_LOADERS_H_

#include <cstdint>
#include <string>

#include "data/engine.h"
#include "store_schema.h"

namespace morvane::load {

// Date,Time,Symbol,Bid,Offer,Price,BidSize,Volume,OfferSize
int64_t LoadTicksFile(const std::string& path, db::TDatabase* db);
// Stock_code,name_e,name_c
int64_t LoadNamesFile(const std::string& path, db::TDatabase* db);
// c_date,stock_code,high,low,closing,shares_traded,turnover
int64_t LoadDailyFile(const std::string& path, db::TDatabase* db);
// Symbol,TimeBegin,Duration,SeqNo,PriceOpen,PriceHigh,PriceLow,PriceClose,Volume
int64_t LoadBaseBarsFile(const std::string& path, db::TDatabase* db);
// Symbol,TimeOpen,TimeClose
int64_t LoadSessionsFile(const std::string& path, db::TDatabase* db);
// symbol,isValid
int64_t LoadSymbolsFile(const std::string& path, db::TDatabase* db);
// Symbol,Date,Time,Open,High,Low,Close,Volume into IntervalTable<seconds>.
// Requires: seconds is one of kIntervalLengths.
int64_t LoadIntervalsFile(const std::string& path, db::TDatabase* db, int seconds);

}  // namespace morvane::load

#endif  // MORVANE_TOOLS_LOAD_LOADERS_H_
