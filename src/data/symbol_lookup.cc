#include "data/symbol_lookup.h"

#include "support/log.h"

namespace morvane {

bool IsValidProduct(const std::string& symbol, db::TQuery* query) {
  if (query == nullptr) return true;
  query->ClearSQL();
  query->Close();
  LogLine("IsValidSymbolQuery.Close");
  query->SetSQL("select * from symbolTable where symbol = :symbol and isValid = '1'");
  query->ParamByName("Symbol").SetAsString(symbol);
  query->Open();
  LogLine("IsValidSymbolQuery.Open");
  bool any = false;
  while (!query->Eof()) {
    any = true;
    query->Next();
  }
  return any;
}

void GenStockName(THistData& module, const std::string& symbol) {
  db::TQuery& q = module.StockNameQuery;
  q.Close();
  q.ParamByName("Symbol").SetAsString(symbol);
  q.Open();
  if (q.Eof()) return;
  ResponseSink* out = module.Response();
  if (out == nullptr) return;
  // Two short records per request: built in one string each, not a hot path.
  std::string record = "NOTE|ENAME|";
  module.StockNameQueryname_e->AppendText(&record);
  record += "|\r\n";
  out->Write(record);
  record = "NOTE|CNAME|";
  module.StockNameQueryname_c->AppendText(&record);
  record += "|\r\n";
  out->Write(record);
  out->CountRecords(2, 0);
}

}  // namespace morvane
