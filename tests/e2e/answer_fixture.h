// A real morvane-server over stores filled by morvane-load, on either driver,
// for the tests that compare whole answers: one test makes its store, loads
// its rows, and starts a server at a frozen clock.
#ifndef MORVANE_TESTS_E2E_ANSWER_FIXTURE_H_
#define MORVANE_TESTS_E2E_ANSWER_FIXTURE_H_

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "e2e/e2e_store.h"
#include "support/server_process.h"

namespace morvane::testing {

// CSV headers of the loader's commands.
inline constexpr char kTickHeader[] = "Date,Time,Symbol,Bid,Offer,Price,BidSize,Volume,OfferSize\n";
inline constexpr char kNameHeader[] = "Stock_code,name_e,name_c\n";
inline constexpr char kSymbolHeader[] = "symbol,isValid\n";

// The two notes of product 0005 when its names are loaded with LoadNames().
inline constexpr char kNames0005[] = "NOTE|ENAME|HSBC|\r\nNOTE|CNAME|HK|\r\n";
inline constexpr char kNoData[] =
    "ERROR|No data for specified date|\r\nERROR|Record not found.|\r\n";

class AnswerTest : public ::testing::TestWithParam<StoreKind> {
 protected:
  void SetUp() override {
    if (!E2eStore::Available(GetParam())) GTEST_SKIP() << "no PostgreSQL test cluster";
  }

  // Makes the store with `settings` as the [MORVANE] lines.
  E2eStore& MakeStore(const std::string& settings = "MaxConnection=10\n") {
    store_ = std::make_unique<E2eStore>(settings, GetParam());
    return *store_;
  }
  E2eStore& store() { return *store_; }

  void Load(const std::string& command, const std::string& csv) {
    ASSERT_EQ(store_->LoadCsv(command, csv), 0) << command << "\n" << csv;
  }
  void LoadNames() { Load("names", std::string(kNameHeader) + "0005,HSBC,HK\n"); }

  // (Re)starts the server with its clock frozen at `clock` ("YYYY-MM-DD
  // HH:MM:SS", or with ".mmm": the host's --clock takes whole seconds, the
  // extension's clock variable milliseconds too).
  void Serve(const std::string& clock) {
    server_.reset();
    auto env = store_->env();
    std::vector<std::string> args = {"--clock", clock};
    if (clock.size() > 19) {
      env["MORVANE_CLOCK"] = clock;
      args.clear();
    }
    server_ = std::make_unique<ServerProcess>(store_->dir(), env, args);
  }
  int port() const { return server_->port(); }

  // The body of GET /?<query>.
  std::string Get(const std::string& query) { return HttpGet(port(), "/?" + query).body; }

  std::unique_ptr<E2eStore> store_;
  std::unique_ptr<ServerProcess> server_;
};

inline std::string StoreKindName(const ::testing::TestParamInfo<StoreKind>& info) {
  return StoreKindLabel(info.param);
}

#define MORVANE_ON_EVERY_STORE(Suite) \
  INSTANTIATE_TEST_SUITE_P(           \
      Stores, Suite, ::testing::Values(StoreKind::kSqlite, StoreKind::kPostgres), StoreKindName)

}  // namespace morvane::testing

#endif  // MORVANE_TESTS_E2E_ANSWER_FIXTURE_H_
