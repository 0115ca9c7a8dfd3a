// Two lookups about the product a request names: whether the order database
// lists it as valid, and its English and Chinese names.
#ifndef MORVANE_DATA_SYMBOL_LOOKUP_H_
#define MORVANE_DATA_SYMBOL_LOOKUP_H_

#include <string>

#include "data/engine.h"
#include "data/hist_data.h"

namespace morvane {

// True when symbolTable holds a row for `symbol` whose isValid is "1", or when
// `query` is null (no private connection: nothing can be checked). Loads its
// own statement into `query`, logs "IsValidSymbolQuery.Close" and, once the
// query has opened, "IsValidSymbolQuery.Open"; leaves the query open. Engine
// failures pass through.
bool IsValidProduct(const std::string& symbol, db::TQuery* query);

// Writes "NOTE|ENAME|name_e|" and "NOTE|CNAME|name_c|" (each with CR LF) for
// the first DailySymbol row of `symbol` to the module's current response, or
// nothing when there is no row. Names go out exactly as the store holds them.
// Leaves StockNameQuery open. Engine failures pass through.
void GenStockName(THistData& module, const std::string& symbol);

}  // namespace morvane

#endif  // MORVANE_DATA_SYMBOL_LOOKUP_H_
