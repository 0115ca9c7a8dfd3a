#include "csv_reader.h"

#include <gtest/gtest.h>

#include "support/test_env.h"

namespace morvane::load {
namespace {

using testing::TempDir;
using testing::WriteFile;

struct Parsed {
  std::vector<std::vector<std::string>> rows;  // "<null>" for null
};

Parsed ReadAll(const std::string& path, const std::vector<std::string_view>& cols) {
  CsvReader r(path);
  r.ReadHeader(cols);
  Parsed p;
  while (r.Next()) {
    std::vector<std::string> row;
    for (size_t i = 0; i < cols.size(); ++i) {
      row.push_back(r.Field(i).null ? "<null>" : std::string(r.Field(i).text));
    }
    p.rows.push_back(row);
  }
  return p;
}

std::string ErrorOf(const std::string& path, const std::vector<std::string_view>& cols) {
  try {
    ReadAll(path, cols);
  } catch (const LoadError& e) {
    return e.what();
  }
  return "(no error)";
}

TEST(CsvReader, QuotingEscapesAndNulls) {
  TempDir dir;
  const auto f = dir / "a.csv";
  WriteFile(f,
            "\xEF\xBB\xBF"
            "a,b,c\r\n"
            "1,\"x,y\",\"say \"\"hi\"\"\"\r\n"
            ",\"\",3\n"
            "\"line\nbreak\",,\n");
  Parsed p = ReadAll(f, {"a", "b", "c"});
  ASSERT_EQ(p.rows.size(), 3u);
  EXPECT_EQ(p.rows[0], (std::vector<std::string>{"1", "x,y", "say \"hi\""}));
  // An empty field is null; a quoted empty field is an empty text.
  EXPECT_EQ(p.rows[1], (std::vector<std::string>{"<null>", "", "3"}));
  EXPECT_EQ(p.rows[2], (std::vector<std::string>{"line\nbreak", "<null>", "<null>"}));
}

TEST(CsvReader, ColumnsMayComeInAnyOrderAndBlankLinesAreSkipped) {
  TempDir dir;
  const auto f = dir / "a.csv";
  WriteFile(f, "c,a,b\n3,1,2\n\n6,4,5\n\n");
  Parsed p = ReadAll(f, {"a", "b", "c"});
  ASSERT_EQ(p.rows.size(), 2u);
  EXPECT_EQ(p.rows[0], (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_EQ(p.rows[1], (std::vector<std::string>{"4", "5", "6"}));
}

TEST(CsvReader, HeaderErrorsNameTheColumn) {
  TempDir dir;
  const auto f = dir / "h.csv";
  WriteFile(f, "a,b\n1,2\n");
  EXPECT_EQ(ErrorOf(f, {"a", "b", "c"}),
            f.string() + ":1: missing column \"c\"; expected the header a,b,c");
  WriteFile(f, "a,b,c,d\n");
  EXPECT_EQ(ErrorOf(f, {"a", "b", "c"}),
            f.string() + ":1: unknown column \"d\"; expected the header a,b,c");
  WriteFile(f, "a,b,a\n");
  EXPECT_EQ(ErrorOf(f, {"a", "b"}), f.string() + ":1: column \"a\" appears twice");
  WriteFile(f, "");
  EXPECT_EQ(ErrorOf(f, {"a"}), f.string() + ":1: the file is empty; expected the header a");
}

TEST(CsvReader, RowErrorsCarryTheLineOnWhichTheRecordStarts) {
  TempDir dir;
  const auto f = dir / "r.csv";
  WriteFile(f, "a,b\n1,2\n\"multi\nline\",2\n1,2,3\n");
  EXPECT_EQ(ErrorOf(f, {"a", "b"}), f.string() + ":5: expected 2 fields, found 3");
  WriteFile(f, "a,b\n1,\"open\n");
  EXPECT_EQ(ErrorOf(f, {"a", "b"}),
            f.string() + ":2: a quoted field is not closed before the end of the file");
  WriteFile(f, "a,b\n1,\"x\"y\n");
  EXPECT_EQ(ErrorOf(f, {"a", "b"}), f.string() + ":2: text follows the closing quote of a field");
  WriteFile(f, "a,b\n1,x\"y\n");
  EXPECT_EQ(ErrorOf(f, {"a", "b"}), f.string() + ":2: a double quote inside an unquoted field");
}

TEST(CsvReader, RecordsLargerThanTheReadBlockAreWhole) {
  TempDir dir;
  const auto f = dir / "big.csv";
  const std::string long_text(200000, 'x');
  WriteFile(f, "a,b\n" + long_text + ",\"" + long_text + "\"\n");
  Parsed p = ReadAll(f, {"a", "b"});
  ASSERT_EQ(p.rows.size(), 1u);
  EXPECT_EQ(p.rows[0][0], long_text);
  EXPECT_EQ(p.rows[0][1], long_text);
}

TEST(CsvReader, MissingFileIsALoadError) {
  EXPECT_THROW(CsvReader("/nonexistent/dir/file.csv"), LoadError);
}

}  // namespace
}  // namespace morvane::load
