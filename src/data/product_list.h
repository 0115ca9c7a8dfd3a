// The products a reader may ask for: those the order database lists as
// valid (symbolTable, isValid "1", the rows IsValidProduct looks for), each
// with its English name from the daily-bar store (DailySymbol) when it has
// one. For pickers such as the host's chart page; no request uses it.
//
// Opens the order database (DSN_source, with its login) and Historical
// (with DBUSER's login) as the data module does, through the kept links, so
// it costs two store opens and two reads; it never holds a data module.
// Never raises. Safe for concurrent use, also with requests.
#ifndef MORVANE_DATA_PRODUCT_LIST_H_
#define MORVANE_DATA_PRODUCT_LIST_H_

#include <string>
#include <vector>

namespace morvane {

struct ListedProduct {
  std::string symbol;  // as the order database holds it, trailing blanks cut
  std::string name;    // name_e, trailing blanks cut; empty when unknown
};

struct ProductList {
  bool ok = false;
  std::vector<ListedProduct> products;  // by symbol, each once
  std::string problem;                  // what failed, when not ok
};

ProductList ListValidProducts();

}  // namespace morvane

#endif  // MORVANE_DATA_PRODUCT_LIST_H_
