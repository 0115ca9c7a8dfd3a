// The daily tick tables: naming, counting back over days with data, the
// existence pre-check, and the day walk's positioning and stop rules.
#include "data/day_tables.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "module_stores.h"

namespace morvane::testing {
namespace {

using Lines = std::vector<std::string>;

TDateTime Day(int y, int m, int d) {
  return EncodeDate(y, m, d);
}
TDateTime At(int h, int m, int s, int ms = 0) {
  return EncodeTime(h, m, s, ms);
}

TEST(GetFileNameTest, NamesADayTableByTwoDigitYearMonthAndDay) {
  EXPECT_EQ(GetFileName(Day(2003, 7, 5)), "hist030705");
  EXPECT_EQ(GetFileName(Day(1999, 12, 31)), "hist991231");
  EXPECT_EQ(GetFileName(Day(2000, 1, 1)), "hist000101");
  EXPECT_EQ(GetFileName(Day(2010, 10, 10)), "hist101010");
  // A hundred years apart, the same table.
  EXPECT_EQ(GetFileName(Day(1903, 7, 5)), "hist030705");
}

class DayTablesTest : public ModuleTest {
 protected:
  void SetUp() override {
    ModuleTest::SetUp();
    if (IsSkipped()) return;
    Store("omsdata", load::StoreRole::kOrders);
    Store("HISTDATA", load::StoreRole::kTicks);
    module_ = std::make_unique<THistData>();
    module_->WebModuleCreate();
  }
  void TearDown() override {
    module_.reset();
    ModuleTest::TearDown();
  }

  // A day table with no rows at all.
  void AddEmptyTable(TDateTime day) {
    db::TDatabase& db = Store("HISTDATA", load::StoreRole::kTicks);
    for (const std::string& sql : load::TickTableStatements(GetFileName(day), StoreKind()))
      db.ExecuteDirect(sql);
  }

  // Counted days (more than 10 rows) only on 3, 7 and 9 March 2003; tables
  // of 10 rows or fewer on 5 and 8 March; busy days just outside the range.
  void MakeMarch() {
    AddTickCount(Day(2003, 3, 3), 11);
    AddTickCount(Day(2003, 3, 7), 6, "0005");  // rows of every product count
    AddTickCount(Day(2003, 3, 7), 6, "0011");
    AddTickCount(Day(2003, 3, 9), 30);
    AddTickCount(Day(2003, 3, 5), 10);
    AddTickCount(Day(2003, 3, 8), 1);
    AddTickCount(Day(2003, 2, 28), 50);
    AddTickCount(Day(2003, 3, 11), 50);
  }

  TDateTime Seek(int32_t count) {
    return SeekDateByCount(*module_, count, Day(2003, 3, 1), Day(2003, 3, 10));
  }

  // The rows a generator using the standard row tests would read, as
  // "yymmdd Symbol hh:nn:ss".
  Lines Walk(const DayWalk& walk) {
    Lines rows;
    THistData& m = *module_;
    WalkDays(m, walk, [&](TDateTime day) {
      for (; !m.HistTable.Eof(); m.HistTable.Next()) {
        if (RowEndsDay(m, walk, day)) break;
        rows.push_back(Yymmdd(day) + " " + m.HistTableSymbol->AsString() + " " +
                       m.HistTableTime->AsString());
      }
    });
    EXPECT_FALSE(m.HistTable.Active());
    return rows;
  }

  DayWalk Range(const std::string& symbol, TDateTime begin, TDateTime end, TDateTime time_begin,
                TDateTime time_end) {
    DayWalk w;
    w.symbol = symbol;
    w.start_day = begin;
    w.date_begin = begin;
    w.date_end = end;
    w.time_begin = time_begin;
    w.time_end = time_end;
    return w;
  }

  std::unique_ptr<THistData> module_;
};

TEST_P(DayTablesTest, DayCountZeroIsTheFirstDayWhateverTablesExist) {
  EXPECT_EQ(Seek(0), Day(2003, 3, 1));
  MakeMarch();
  EXPECT_EQ(Seek(0), Day(2003, 3, 1));
}

TEST_P(DayTablesTest, CountsBackFromTheLastDayOverDaysOfMoreThanTenRows) {
  MakeMarch();
  EXPECT_EQ(Seek(1), Day(2003, 3, 9));
  EXPECT_EQ(Seek(2), Day(2003, 3, 7));
  EXPECT_EQ(Seek(3), Day(2003, 3, 3));
  // Fewer counted days than asked for: the day before the range.
  EXPECT_EQ(Seek(4), Day(2003, 2, 28));
  EXPECT_EQ(Seek(5), Day(2003, 2, 28));
  EXPECT_EQ(Seek(1000), Day(2003, 2, 28));
  // A negative count stops at the first day looked at.
  EXPECT_EQ(Seek(-1), Day(2003, 3, 10));
  EXPECT_FALSE(module_->HistTable.Active());
}

TEST_P(DayTablesTest, TenRowsIsNotADayElevenIs) {
  const TDateTime ten = Day(2003, 3, 4);
  const TDateTime eleven = Day(2003, 3, 5);
  AddTickCount(ten, 10);
  AddTickCount(eleven, 11);
  AddEmptyTable(Day(2003, 3, 6));
  EXPECT_EQ(SeekDateByCount(*module_, 1, ten, ten), ten - 1);
  EXPECT_EQ(SeekDateByCount(*module_, 1, eleven, eleven), eleven);
  EXPECT_EQ(SeekDateByCount(*module_, 1, ten, Day(2003, 3, 6)), eleven);
  EXPECT_EQ(SeekDateByCount(*module_, 2, ten, Day(2003, 3, 6)), ten - 1);
}

TEST_P(DayTablesTest, AnEndBeforeTheBeginIsTheAnswer) {
  MakeMarch();
  EXPECT_EQ(SeekDateByCount(*module_, 2, Day(2003, 3, 9), Day(2003, 3, 7)), Day(2003, 3, 7));
}

TEST_P(DayTablesTest, PreCheckLooksOnlyAtRangesOfMoreThanOneDay) {
  const TDateTime d1 = Day(2003, 3, 3);
  const TDateTime d2 = Day(2003, 3, 4);
  EXPECT_FALSE(PreCheckExistDaysData(*module_, d1, d2));
  AddTickCount(d1, 20);
  EXPECT_FALSE(PreCheckExistDaysData(*module_, d1, d1));  // one day: not looked at
  EXPECT_TRUE(PreCheckExistDaysData(*module_, d1, d2));
  EXPECT_TRUE(PreCheckExistDaysData(*module_, d1 - 1, d1));
  EXPECT_FALSE(PreCheckExistDaysData(*module_, d2, d2 + 3));
  AddEmptyTable(d2 + 2);  // a table without rows still exists
  EXPECT_TRUE(PreCheckExistDaysData(*module_, d2, d2 + 3));
  EXPECT_FALSE(module_->HistTable.Active());
}

TEST_P(DayTablesTest, ASymbolDifferingOnlyInCaseEndsTheDay) {
  const TDateTime d = Day(2003, 3, 3);
  AddTicks(d, {{"ABD", At(9, 0, 0)},
               {"ABC", At(10, 0, 0)},
               {"abc", At(9, 30, 0)},
               {"ABC", At(9, 0, 0)},
               {"AB", At(8, 0, 0)}});
  const TDateTime all_day_end = At(23, 59, 59);
  EXPECT_EQ(Walk(Range("ABC", d, d, 0, all_day_end)), (Lines{"030303 ABC 09:00:00"}));
  // The index finds "ABC" first for "abc"; the exact test stops at once.
  EXPECT_EQ(Walk(Range("abc", d, d, 0, all_day_end)), Lines{});
  EXPECT_EQ(Walk(Range("AB", d, d, 0, all_day_end)), (Lines{"030303 AB 08:00:00"}));
}

TEST_P(DayTablesTest, SymbolsAreKeysNotPatterns) {
  const TDateTime d = Day(2003, 3, 3);
  AddTicks(d, {{"ABC", At(9, 0, 0)},
               {"A_C", At(9, 1, 0)},
               {"A%", At(9, 2, 0)},
               {"A'C", At(9, 3, 0)},
               {"ABC", At(9, 4, 0)}});
  const TDateTime end = At(23, 59, 59);
  EXPECT_EQ(Walk(Range("A_C", d, d, 0, end)), (Lines{"030303 A_C 09:01:00"}));
  EXPECT_EQ(Walk(Range("A%", d, d, 0, end)), (Lines{"030303 A% 09:02:00"}));
  EXPECT_EQ(Walk(Range("A'C", d, d, 0, end)), (Lines{"030303 A'C 09:03:00"}));
  EXPECT_EQ(Walk(Range("ABC", d, d, 0, end)),
            (Lines{"030303 ABC 09:00:00", "030303 ABC 09:04:00"}));
}

TEST_P(DayTablesTest, TimeLimitsApplyToTheFirstAndLastDaysOnly) {
  const TDateTime d1 = Day(2003, 3, 3);
  const TDateTime d2 = Day(2003, 3, 4);
  AddTicks(d1, {{"HSBC", At(15, 59, 0)},
                {"HSBC", At(9, 59, 59)},
                {"HSBC", At(10, 0, 0)},
                {"HSBC", At(10, 30, 0)},
                {"HSBD", At(10, 30, 0)}});
  AddTicks(d2, {{"HSBC", At(11, 0, 1)},
                {"HSBA", At(10, 30, 0)},
                {"HSBC", At(9, 0, 0)},
                {"HSBC", At(11, 0, 0)},
                {"HSBC", At(11, 0, 0, 500)}});
  const Lines two_days = {"030303 HSBC 10:00:00", "030303 HSBC 10:30:00", "030303 HSBC 15:59:00",
                          "030304 HSBC 09:00:00", "030304 HSBC 11:00:00"};
  EXPECT_EQ(Walk(Range("HSBC", d1, d2, At(10, 0, 0), At(11, 0, 0))), two_days);

  // On a one-day range both limits apply to that day.
  EXPECT_EQ(Walk(Range("HSBC", d1, d1, At(10, 0, 0), At(11, 0, 0))),
            (Lines{"030303 HSBC 10:00:00", "030303 HSBC 10:30:00"}));
  EXPECT_EQ(Walk(Range("HSBC", d2, d2, At(10, 0, 0), At(11, 0, 0))),
            (Lines{"030304 HSBC 11:00:00"}));
}

TEST_P(DayTablesTest, DaysBetweenAreReadWholeAndMissingDaysSkipped) {
  const TDateTime d1 = Day(2003, 3, 3);
  AddTicks(d1, {{"HSBC", At(9, 0, 0)}, {"HSBC", At(16, 0, 0)}});
  // 4 March has no table.
  AddTicks(d1 + 2, {{"HSBC", At(8, 0, 0)}, {"HSBC", At(17, 0, 0)}});
  AddTicks(d1 + 3, {{"HSBC", At(9, 0, 0)}, {"HSBC", At(16, 0, 0)}});
  EXPECT_EQ(Walk(Range("HSBC", d1, d1 + 3, At(10, 0, 0), At(11, 0, 0))),
            (Lines{"030303 HSBC 16:00:00", "030305 HSBC 08:00:00", "030305 HSBC 17:00:00",
                   "030306 HSBC 09:00:00"}));
}

TEST_P(DayTablesTest, AStartDayBeforeTheRangeIsReadFromItsFirstRow) {
  const TDateTime d0 = Day(2003, 3, 2);
  const TDateTime d1 = Day(2003, 3, 3);
  AddTicks(d0, {{"HSBC", At(9, 0, 0)}, {"HSBC", At(12, 0, 0)}});
  AddTicks(d1, {{"HSBC", At(9, 0, 0)}, {"HSBC", At(12, 0, 0)}});
  DayWalk w = Range("HSBC", d1, d1, At(10, 0, 0), At(13, 0, 0));
  w.start_day = d0;
  w.mark_read_only = false;
  EXPECT_EQ(Walk(w),
            (Lines{"030302 HSBC 09:00:00", "030302 HSBC 12:00:00", "030303 HSBC 12:00:00"}));
}

TEST_P(DayTablesTest, MillisecondLimitsAreExact) {
  const TDateTime d = Day(2003, 3, 3);
  AddTicks(d, {{"HSBC", At(10, 0, 0, 249)},
               {"HSBC", At(10, 0, 0, 250)},
               {"HSBC", At(10, 0, 0, 750)},
               {"HSBC", At(10, 0, 0, 751)}});
  EXPECT_EQ(Walk(Range("HSBC", d, d, At(10, 0, 0, 250), At(10, 0, 0, 750))).size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Drivers, DayTablesTest,
                         ::testing::Values(Driver::kSqlite, Driver::kPostgres), DriverLabel);

}  // namespace
}  // namespace morvane::testing
