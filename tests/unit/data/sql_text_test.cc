// Statement parameters and the stores' date and time text.
#include <gtest/gtest.h>

#include "data/sql_params.h"
#include "data/store_text.h"

namespace morvane::db {
namespace {

TEST(SqlParamsTest, NamesBecomeNumberedPlaceholders) {
  const TranslatedSql t = TranslateParams(
      "select x::text, ':no' from t where a = :Sym and b = \"c:d\" and c = :sym -- :x\n"
      " and d >= :From_Date",
      '$');
  EXPECT_EQ(t.text,
            "select x::text, ':no' from t where a = $1 and b = \"c:d\" and c = $1 -- :x\n"
            " and d >= $2");
  EXPECT_EQ(t.names, (std::vector<std::string>{"Sym", "From_Date"}));
  EXPECT_EQ(TranslateParams("values (:a, :b)", '?').text, "values (?1, ?2)");
}

TEST(StoreTextTest, ParsesTheStoredForms) {
  TDateTime v = 0;
  ASSERT_TRUE(ParseStoreDateTime("2003-05-09", &v));
  EXPECT_EQ(v, EncodeDate(2003, 5, 9));
  ASSERT_TRUE(ParseStoreDateTime("09:30:00.250", &v));
  EXPECT_NEAR(v, EncodeTime(9, 30, 0, 250), 1e-12);
  ASSERT_TRUE(ParseStoreDateTime("2003-05-09 09:30:00", &v));
  EXPECT_NEAR(v, EncodeDate(2003, 5, 9) + EncodeTime(9, 30, 0), 1e-9);
  ASSERT_TRUE(ParseStoreDateTime("2003-05-09 09:30:00.5+02", &v));  // a zone is ignored
  EXPECT_NEAR(v, EncodeDate(2003, 5, 9) + EncodeTime(9, 30, 0, 500), 1e-9);
  ASSERT_TRUE(ParseStoreDateTime("10:00:00.123456", &v));
  EXPECT_NEAR(v, EncodeTime(10, 0, 0, 123), 1e-12);
  for (const char* bad : {"", "2003-02-30", "25:00:00", "2003-05-09x", "abc", "12:60:00"}) {
    EXPECT_FALSE(ParseStoreDateTime(bad, &v)) << bad;
  }
}

TEST(StoreTextTest, FormatsDaysTimesAndBoth) {
  char buf[kStoreTextMax];
  const auto fmt = [&](TDateTime v) { return std::string(buf, FormatStoreDateTime(buf, v)); };
  EXPECT_EQ(fmt(EncodeDate(2003, 5, 9)), "2003-05-09");
  EXPECT_EQ(fmt(EncodeTime(9, 5, 0)), "09:05:00");
  EXPECT_EQ(fmt(EncodeDate(2003, 5, 9) + EncodeTime(9, 5, 0, 7)), "2003-05-09 09:05:00.007");
  EXPECT_EQ(std::string(buf, FormatStoreTime(buf, EncodeTime(23, 59, 59, 999))), "23:59:59.999");
}

}  // namespace
}  // namespace morvane::db
