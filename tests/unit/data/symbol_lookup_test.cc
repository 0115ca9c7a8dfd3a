// The product lookups: validity in the order database and the two name
// records from the daily-bar store.
#include "data/symbol_lookup.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "module_stores.h"
#include "records/response_sink.h"

namespace morvane::testing {
namespace {

using Lines = std::vector<std::string>;

const Lines kCheckLines = {"IsValidSymbolQuery.Close", "IsValidSymbolQuery.Open"};

class SymbolLookupTest : public ModuleTest {
 protected:
  void SetUp() override {
    ModuleTest::SetUp();
    if (IsSkipped()) return;
    Store("omsdata", load::StoreRole::kOrders);
    Store("Historical", load::StoreRole::kDaily);
    module_ = std::make_unique<THistData>();
    module_->WebModuleCreate();
    module_->SetResponse(&sink_);
  }
  void TearDown() override {
    module_.reset();
    ModuleTest::TearDown();
  }

  std::string Names(const std::string& symbol) {
    StringSink sink;
    module_->SetResponse(&sink);
    GenStockName(*module_, symbol);
    module_->SetResponse(&sink_);
    return sink.Body();
  }

  StringSink sink_;
  std::unique_ptr<THistData> module_;
};

TEST_P(SymbolLookupTest, OneRowGivesTheEnglishThenTheChineseName) {
  AddName("0005", "HSBC HOLDINGS", "滙豐控股");
  AddName("0011", "HANG SENG BANK", "恒生銀行");
  GenStockName(*module_, "0005");
  EXPECT_EQ(sink_.Body(), "NOTE|ENAME|HSBC HOLDINGS|\r\nNOTE|CNAME|滙豐控股|\r\n");
  EXPECT_EQ(sink_.Writes(), 2u);                  // each record goes out as soon as it is formed
  EXPECT_TRUE(module_->StockNameQuery.Active());  // left open for the next call
}

TEST_P(SymbolLookupTest, SeveralRowsGiveTheFirstRowsNamesOnly) {
  AddName("0005", "FIRST E", "FIRST C");
  AddName("0005", "SECOND E", "SECOND C");
  EXPECT_EQ(Names("0005"), "NOTE|ENAME|FIRST E|\r\nNOTE|CNAME|FIRST C|\r\n");
}

TEST_P(SymbolLookupTest, NoRowWritesNothing) {
  AddName("0005", "HSBC HOLDINGS", "HSBC");
  GenStockName(*module_, "9999");
  EXPECT_EQ(sink_.Body(), "");
  EXPECT_EQ(sink_.Writes(), 0u);
}

TEST_P(SymbolLookupTest, NamesGoOutAsStoredNullAsAnEmptyField) {
  AddName("0005", std::nullopt, "HSBC");
  AddName("0011", "HANG SENG  ", std::nullopt);
  AddName("0388", " HKEX", "");
  EXPECT_EQ(Names("0005"), "NOTE|ENAME||\r\nNOTE|CNAME|HSBC|\r\n");
  EXPECT_EQ(Names("0011"), "NOTE|ENAME|HANG SENG  |\r\nNOTE|CNAME||\r\n");
  EXPECT_EQ(Names("0388"), "NOTE|ENAME| HKEX|\r\nNOTE|CNAME||\r\n");
}

TEST_P(SymbolLookupTest, RepeatedCallsEachReadTheirOwnSymbol) {
  AddName("0005", "HSBC HOLDINGS", "HSBC");
  AddName("0011", "HANG SENG BANK", "HANG SENG");
  EXPECT_EQ(Names("0005"), "NOTE|ENAME|HSBC HOLDINGS|\r\nNOTE|CNAME|HSBC|\r\n");
  EXPECT_EQ(Names("9999"), "");
  EXPECT_EQ(Names("0011' or '1'='1"), "");
  EXPECT_EQ(Names("0011"), "NOTE|ENAME|HANG SENG BANK|\r\nNOTE|CNAME|HANG SENG|\r\n");
}

TEST_P(SymbolLookupTest, AMissingNameTablePassesTheFailureThrough) {
  Store("Historical", load::StoreRole::kDaily).ExecuteDirect("DROP TABLE DailySymbol");
  EXPECT_THROW(GenStockName(*module_, "0005"), EDatabaseError);
  EXPECT_EQ(sink_.Body(), "");
}

TEST_P(SymbolLookupTest, WithoutAQueryEveryProductIsValidAndNothingIsLogged) {
  const size_t mark = LogMark();
  EXPECT_TRUE(IsValidProduct("0005", nullptr));
  EXPECT_TRUE(IsValidProduct("", nullptr));
  EXPECT_EQ(LogLines(mark), Lines{});
}

TEST_P(SymbolLookupTest, OnlyARowMarkedOneMakesAProductValid) {
  AddSymbol("0005", "1");
  AddSymbol("0011", "0");
  AddSymbol("0388", std::nullopt);
  AddSymbol("0700", "1");
  AddSymbol("0700", "1");
  AddSymbol("0941", "Y");
  AddSymbol("0941", "0");
  db::TQuery* q = module_->IsValidSymbolQuery.get();
  ASSERT_NE(q, nullptr);
  EXPECT_TRUE(IsValidProduct("0005", q));
  EXPECT_FALSE(IsValidProduct("0011", q));
  EXPECT_FALSE(IsValidProduct("0388", q));
  EXPECT_TRUE(IsValidProduct("0700", q));  // two valid rows count as one
  EXPECT_FALSE(IsValidProduct("0941", q));
  EXPECT_FALSE(IsValidProduct("9999", q));
  EXPECT_TRUE(IsValidProduct("0005", q));  // the open query from before is closed first
  // The symbol is a value, never statement text.
  EXPECT_FALSE(IsValidProduct("9999' or '1'='1", q));
  EXPECT_FALSE(IsValidProduct("0005' --", q));
}

TEST_P(SymbolLookupTest, EachCheckLogsCloseThenOpenAndLeavesTheQueryOpen) {
  AddSymbol("0005", "1");
  db::TQuery* q = module_->IsValidSymbolQuery.get();
  ASSERT_NE(q, nullptr);
  const size_t mark = LogMark();
  IsValidProduct("0005", q);
  EXPECT_EQ(LogLines(mark), kCheckLines);
  EXPECT_TRUE(q->Active());
  EXPECT_EQ(q->SQL(), "select * from symbolTable where symbol = :symbol and isValid = '1'");
  IsValidProduct("9999", q);
  Lines twice = kCheckLines;
  twice.insert(twice.end(), kCheckLines.begin(), kCheckLines.end());
  EXPECT_EQ(LogLines(mark), twice);
}

TEST_P(SymbolLookupTest, AQueryThatFailsToOpenLogsOnlyTheClose) {
  Store("omsdata", load::StoreRole::kOrders).ExecuteDirect("DROP TABLE symbolTable");
  db::TQuery* q = module_->IsValidSymbolQuery.get();
  ASSERT_NE(q, nullptr);
  const size_t mark = LogMark();
  EXPECT_THROW(IsValidProduct("0005", q), EDatabaseError);
  EXPECT_EQ(LogLines(mark), Lines{"IsValidSymbolQuery.Close"});
  EXPECT_FALSE(q->Active());
}

INSTANTIATE_TEST_SUITE_P(Drivers, SymbolLookupTest,
                         ::testing::Values(Driver::kSqlite, Driver::kPostgres), DriverLabel);

}  // namespace
}  // namespace morvane::testing
