#include "support/log_escape.h"

#include <gtest/gtest.h>

namespace morvane {
namespace {

TEST(LogEscape, ControlCharactersCannotBreakALine) {
  EXPECT_EQ(LogEscape("0005"), "0005");
  EXPECT_EQ(LogEscape("00\r\n2026/01/01 00:00:00 =>forged"),
            "00\\x0D\\x0A2026/01/01 00:00:00 =>forged");
  EXPECT_EQ(LogEscape(std::string_view("a\0b", 3)), "a\\x00b");
  EXPECT_EQ(LogEscape("tab\there\x7f"), "tab\\x09here\\x7F");
  // A literal "\x0D" typed by a client stays distinguishable from an escaped CR.
  EXPECT_EQ(LogEscape("\\x0D"), "\\\\x0D");
  // UTF-8 text is kept as it is.
  EXPECT_EQ(LogEscape("\xE6\xB1\x87\xE8\xB1\x90"), "\xE6\xB1\x87\xE8\xB1\x90");
}

}  // namespace
}  // namespace morvane
