#include "data/product_list.h"

#include <algorithm>
#include <exception>
#include <map>

#include "data/engine.h"
#include "data/hist_data.h"
#include "support/settings_location.h"

namespace morvane {
namespace {

// Fixed-width columns come padded with blanks; a picker shows the text.
std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
  return text;
}

}  // namespace

ProductList ListValidProducts() {
  ProductList list;
  std::string stage = "settings";
  try {
    const auto settings = omsIniFile("");
    const DsnLogin dsn = DBInitConfig(*settings);

    stage = "store " + dsn.source;
    db::TDatabase orders;
    orders.SetAliasName(dsn.source);
    orders.SetDatabaseName("ProductList");
    if (!dsn.user.empty()) orders.Params() = {"USER NAME=" + dsn.user, "PASSWORD=" + dsn.password};
    std::map<std::string, std::string> names;  // symbol -> name: sorted and unique
    {
      db::TQuery valid;
      valid.SetDatabase(&orders);
      valid.SetSQL("select symbol from symbolTable where isValid = '1'");
      valid.Open();
      for (; !valid.Eof(); valid.Next()) {
        std::string symbol = Trimmed(valid.FieldByName("symbol").AsString());
        if (!symbol.empty()) names.emplace(std::move(symbol), std::string());
      }
    }
    orders.Close();

    stage = "store Historical";
    db::TDatabase daily;
    daily.SetAliasName("Historical");
    daily.SetDatabaseName("ProductList");
    daily.SetReadOnly(true);
    daily.Params() = {"USER NAME=" + settings->ReadString("MORVANE", "DBUSER", "sa"),
                      "PASSWORD=" + settings->ReadString("MORVANE", "DBPASSWORD", "")};
    {
      db::TQuery named;
      named.SetDatabase(&daily);
      named.SetSQL("select Stock_code, name_e from DailySymbol");
      named.Open();
      for (; !named.Eof(); named.Next()) {
        const auto it = names.find(Trimmed(named.FieldByName("Stock_code").AsString()));
        // The first row of a code names it, as GenStockName takes it.
        if (it != names.end() && it->second.empty()) {
          it->second = Trimmed(named.FieldByName("name_e").AsString());
        }
      }
    }
    daily.Close();

    list.products.reserve(names.size());
    for (auto& [symbol, name] : names) list.products.push_back({symbol, std::move(name)});
    list.ok = true;
  } catch (const std::exception& e) {
    list.products.clear();
    list.problem = stage + ": " + e.what();
  } catch (...) {
    list.products.clear();
    list.problem = stage + ": failed";
  }
  return list;
}

}  // namespace morvane
