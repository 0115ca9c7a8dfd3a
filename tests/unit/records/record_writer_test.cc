// Response records: the column forms and the exact bytes of each record.
#include "records/record_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "records/number_text.h"
#include "support/date_time.h"

namespace morvane {
namespace {

std::string Fixed(double v, int decimals) {
  char text[kNumberTextCapacity];
  return std::string(text, FormatFixed(text, v, decimals));
}

std::string Stored(double v) {
  char text[kNumberTextCapacity];
  return std::string(text, FormatStoredFloat(text, v));
}

TEST(NumberText, FixedTwoAndThreeDecimals) {
  EXPECT_EQ(Fixed(12.5, 2), "12.50");
  EXPECT_EQ(Fixed(12.5, 3), "12.500");
  EXPECT_EQ(Fixed(3, 3), "3.000");
  EXPECT_EQ(Fixed(0, 2), "0.00");
  EXPECT_EQ(Fixed(-7.25, 2), "-7.25");
  EXPECT_EQ(Fixed(-0.5, 3), "-0.500");
  EXPECT_EQ(Fixed(1234567.891, 2), "1234567.89");
  EXPECT_EQ(Fixed(1e20, 2), "100000000000000000000.00");
  EXPECT_EQ(Fixed(0.000001, 3), "0.000");
  EXPECT_EQ(Fixed(42, 0), "42");
}

TEST(NumberText, FixedRoundsHalvesAwayFromZeroOnTheDecimalValue) {
  EXPECT_EQ(Fixed(0.125, 2), "0.13");
  EXPECT_EQ(Fixed(-0.125, 2), "-0.13");
  EXPECT_EQ(Fixed(2.675, 2), "2.68");  // nearest double is 2.67499999...
  EXPECT_EQ(Fixed(1.005, 2), "1.01");  // nearest double is 1.00499999...
  EXPECT_EQ(Fixed(0.0005, 3), "0.001");
  EXPECT_EQ(Fixed(12.3445, 3), "12.345");
  EXPECT_EQ(Fixed(12.3444, 3), "12.344");
  EXPECT_EQ(Fixed(0.005, 2), "0.01");
  EXPECT_EQ(Fixed(0.004, 2), "0.00");
  // Carries through nines into a new leading digit.
  EXPECT_EQ(Fixed(9.995, 2), "10.00");
  EXPECT_EQ(Fixed(-99.9996, 3), "-100.000");
  EXPECT_EQ(Fixed(0.9996, 3), "1.000");
  // Rounds to zero: no negative zero.
  EXPECT_EQ(Fixed(-0.001, 2), "0.00");
  EXPECT_EQ(Fixed(-0.0, 2), "0.00");
}

TEST(NumberText, FixedAgreesWithPrintfWhereNoHalfIsInvolved) {
  // k/7 never ends in a decimal half, so the C library's rounding of the
  // binary value and ours of the decimal value must agree.
  char expected[64];
  for (int k = -20000; k <= 20000; k += 3) {
    const double v = k / 7.0;
    std::snprintf(expected, sizeof(expected), "%.2f", v);
    ASSERT_EQ(Fixed(v, 2), expected) << k;
    std::snprintf(expected, sizeof(expected), "%.3f", v * 1000.3);
    ASSERT_EQ(Fixed(v * 1000.3, 3), expected) << k;
  }
}

TEST(NumberText, StoredFloatIsShortestWithFifteenDigits) {
  EXPECT_EQ(Stored(12.5), "12.5");
  EXPECT_EQ(Stored(3), "3");
  EXPECT_EQ(Stored(-3), "-3");
  EXPECT_EQ(Stored(0), "0");
  EXPECT_EQ(Stored(-0.0), "0");
  EXPECT_EQ(Stored(0.1 + 0.2), "0.3");
  EXPECT_EQ(Stored(100), "100");
  EXPECT_EQ(Stored(1.0 / 3), "0.333333333333333");
  EXPECT_EQ(Stored(2.0 / 3), "0.666666666666667");
  EXPECT_EQ(Stored(123456789012345.0), "123456789012345");
  EXPECT_EQ(Stored(0.00001), "0.00001");
  EXPECT_EQ(Stored(0.000123), "0.000123");
  EXPECT_EQ(Stored(-12.75), "-12.75");
}

TEST(NumberText, StoredFloatUsesExponentOnlyForTinyOrHugeValues) {
  EXPECT_EQ(Stored(0.000001), "1E-6");
  EXPECT_EQ(Stored(0.0000015), "1.5E-6");
  EXPECT_EQ(Stored(-2.5e-10), "-2.5E-10");
  EXPECT_EQ(Stored(1e15), "1E15");
  EXPECT_EQ(Stored(1234567890123456.0), "1.23456789012346E15");
  EXPECT_EQ(Stored(1e300), "1E300");
  EXPECT_EQ(Stored(std::numeric_limits<double>::quiet_NaN()), "NAN");
  EXPECT_EQ(Stored(-std::numeric_limits<double>::infinity()), "-INF");
}

// Where "%.15g" writes no exponent (from 0.0001 up to 15 integer digits).
TEST(NumberText, StoredFloatAgreesWithPercentG15InTheFixedRange) {
  char expected[64];
  for (int k = 1; k <= 30000; k += 7) {
    for (double scale : {1e-2, 1.0, 1e3, 1e9}) {
      const double v = k / 13.0 * scale;
      std::snprintf(expected, sizeof(expected), "%.15g", v);
      ASSERT_EQ(Stored(v), expected) << v;
    }
  }
}

// The short-decimal path must give the general conversion's bytes for every
// value: decimals of every length and sign, the boundaries of the path (15
// digits, five decimals, 0.00001, 10^15), their neighbours one unit in the
// last place away, and doubles from random bits.
TEST(NumberText, StoredFloatShortPathAgreesWithTheGeneralConversion) {
  std::mt19937_64 random(20261210);
  std::vector<double> values = {0.1 + 0.2,         1.0 / 3,          1e15,  1e15 - 1,
                                999999999999999.9, 99999.99999,      1e-5,  1.5e-5,
                                0.00001,           12.345,           2.675, 1e-6,
                                123456789012345.0, 12345678901234.5, 0.5,   4503599627370497.0};
  for (int i = 0; i < 200000; ++i) {
    const int k = static_cast<int>(random() % 9);  // 0 to 8 decimals
    const auto m = static_cast<int64_t>(random() % 10000000000000000ULL) >> (random() % 50);
    const double d = static_cast<double>(m) / std::pow(10.0, k);
    values.push_back(i % 2 ? d : -d);
  }
  for (int i = 0; i < 50000; ++i) {
    const uint64_t bits = random();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    values.push_back(d);
  }
  const size_t plain = values.size();
  for (size_t i = 0; i < plain; ++i) {
    values.push_back(std::nextafter(values[i], 0.0));
    values.push_back(std::nextafter(values[i], 1e300));
  }
  int differ = 0;
  for (const double v : values) {
    char general[kNumberTextCapacity];
    const std::string want(general, FormatStoredFloatGeneral(general, v));
    if (Stored(v) != want && ++differ <= 5)
      ADD_FAILURE() << v << ": " << Stored(v) << " != " << want;
  }
  EXPECT_EQ(differ, 0);
}

TEST(RecordWriter, FormsEveryColumnAndWritesEachRecordOnce) {
  StringSink sink;
  RecordWriter w(sink);
  const TDateTime day = EncodeDate(2003, 5, 9);
  const TDateTime at = day + EncodeTime(9, 5, 7);
  w.Begin("TICK")
      .Int(-12)
      .Fixed2(12.5)
      .StoredFloat(12.5)
      .Fixed3(3)
      .Ymd(day)
      .ShortDate(day)
      .Hms(at)
      .End();
  EXPECT_EQ(sink.Body(), "TICK|-12|12.50|12.5|3.000|2003/05/09|2003/5/9|09:05:07|\r\n");
  EXPECT_EQ(sink.Writes(), 1u);

  w.Begin("INTERVAL").Int(1).ShortDateTime(at).ShortDateTime(day).Text("-").Empty().End();
  EXPECT_EQ(sink.Body().substr(sink.Body().find("INTERVAL")),
            "INTERVAL|1|2003/5/9 09:05:07|2003/5/9|-||\r\n");
  EXPECT_EQ(sink.Writes(), 2u);
}

TEST(RecordWriter, BeginDropsAnUnfinishedRecord) {
  StringSink sink;
  RecordWriter w(sink);
  w.Begin("TICK").Int(1);
  w.Begin("NOTE").Text("ENAME").Text("HSBC HOLDINGS").End();
  EXPECT_EQ(sink.Body(), "NOTE|ENAME|HSBC HOLDINGS|\r\n");
}

TEST(RecordWriter, RecordCountNote) {
  StringSink sink;
  RecordWriter w(sink);
  w.WriteRecordCount(1234);
  w.WriteRecordCount(0);
  EXPECT_EQ(sink.Body(), "NOTE|RECORDCOUNT|1234|\r\nNOTE|RECORDCOUNT|0|\r\n");
  EXPECT_EQ(sink.Writes(), 2u);
  EXPECT_EQ(sink.Records(), 2u);  // each note is a record of the report
}

TEST(RecordWriter, ErrorRecords) {
  StringSink sink;
  SendErrorMsg(kErrNoDataForDate, sink);
  SendErrorMsg(kErrRecordNotFound, sink);
  EXPECT_EQ(sink.Body(), "ERROR|No data for specified date|\r\nERROR|Record not found.|\r\n");
  EXPECT_EQ(sink.Writes(), 2u);

  StringSink bare;
  WriteBareRecordNotFound(bare);
  EXPECT_EQ(bare.Body(), "ERROR|Record not found.|");
  EXPECT_EQ(bare.Body().size(), 24u);

  StringSink params;
  SendErrorMsg(kErrInvalidTimeFormat, params);
  SendErrorMsg(kErrInvalidDateFormat, params);
  SendErrorMsg(kErrInvalidParameterCount, params);
  EXPECT_EQ(params.Body(),
            "ERROR|Invalid time format(yyyy/m/d).|\r\n"
            "ERROR|Invalid date format(yyyy/m/d).|\r\n"
            "ERROR|Invalid number of parameters.|\r\n");

  StringSink long_message;
  const std::string text(2000, 'x');
  SendErrorMsg(text, long_message);
  EXPECT_EQ(long_message.Body(), text + "\r\n");
  // Only the ERROR records count as errors in the request's report.
  EXPECT_EQ(sink.ErrorRecords(), 2u);
  EXPECT_EQ(long_message.ErrorRecords(), 0u);
  EXPECT_EQ(long_message.Writes(), 1u);
}

TEST(RecordWriter, LongTextFieldsGrowTheBufferOnce) {
  StringSink sink;
  RecordWriter w(sink);
  const std::string name(5000, 'n');
  w.Begin("NOTE").Text("CNAME").Text(name).End();
  w.Begin("NOTE").Text("CNAME").Text(name).End();
  EXPECT_EQ(sink.Body(), "NOTE|CNAME|" + name + "|\r\nNOTE|CNAME|" + name + "|\r\n");
}

}  // namespace
}  // namespace morvane
