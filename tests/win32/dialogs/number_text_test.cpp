// Reading numbers typed into the dialogs' edits.
#include <gtest/gtest.h>

#include "dialogs/dialog_common.h"

namespace {

TEST(DialogNumbers, SignedTextIsAWholeNumberOrNothing) {
  struct Case {
    const char* text;
    bool ok;
    int value;
  } cases[] = {
      {"0", true, 0},           {"-255", true, -255},       {"+12", true, 12},
      {" 7 ", true, 7},         {"2147483647", true, 2147483647},
      {"-2147483648", true, -2147483647 - 1},
      {"2147483648", false, 0}, {"99999999999999999999", false, 0},
      {"", false, 0},           {"-", false, 0},            {"abc", false, 0},
      {"12abc", false, 0},      {"1,000", false, 0},        {"1.5", false, 0},
      {"0x10", false, 0},       {"--1", false, 0},
  };
  for (const Case& c : cases) {
    int value = 12345;
    EXPECT_EQ(dialogs::ParseSigned(c.text, &value), c.ok) << '"' << c.text << '"';
    EXPECT_EQ(value, c.ok ? c.value : 12345) << '"' << c.text << "\" leaves the value alone on failure";
  }
}

TEST(DialogNumbers, WaitTimesAreNonNegativeAndFitAnInt) {
  int value = 1;
  EXPECT_TRUE(dialogs::ParseNonNegative("2147483647", &value));
  EXPECT_EQ(value, 2147483647);
  for (const char* text : {"2147483648", "3000000000", "4294967295", "-1", "x"}) {
    value = 1;
    EXPECT_FALSE(dialogs::ParseNonNegative(text, &value)) << text;
    EXPECT_EQ(value, 1) << text;
  }
}

TEST(DialogNumbers, RowsHoldValuesToTheirRange) {
  const dialogs::Row row = {0, 0, 0, -360, 360, 90};
  EXPECT_EQ(dialogs::ClampToRow(row, -1000), -360);
  EXPECT_EQ(dialogs::ClampToRow(row, 1000), 360);
  EXPECT_EQ(dialogs::ClampToRow(row, -5), -5);
}

}  // namespace
