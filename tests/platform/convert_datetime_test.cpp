#include <gtest/gtest.h>

#include <clocale>

#include "platform/convert.h"
#include "platform/datetime.h"
#include "platform/errors.h"

namespace ventari {
namespace {

TEST(IntegerSyntax, AcceptsDecimalAndHexadecimalForms) {
  EXPECT_EQ(StrToInt("42"), 42);
  EXPECT_EQ(StrToInt("   -7"), -7);
  EXPECT_EQ(StrToInt("+12"), 12);
  EXPECT_EQ(StrToInt("$18"), 24);
  EXPECT_EQ(StrToInt("x18"), 24);
  EXPECT_EQ(StrToInt("X1f"), 31);
  EXPECT_EQ(StrToInt("0x18"), 24);
  EXPECT_EQ(StrToInt("0XfF"), 255);
  EXPECT_EQ(StrToInt("$FFFFFFFF"), -1);  // a 32-bit pattern
  EXPECT_EQ(StrToInt("2147483647"), 2147483647);
  EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
  EXPECT_EQ(StrToInt("007"), 7);
}

TEST(IntegerSyntax, RejectsEverythingElseWithTheQuotedValue) {
  for (const char* bad : {"", " ", "+$18", "18h", "12 ", "\t1", "$", "0x", "$123456789",
                          "2147483648", "-2147483649", "+", "--1", "1e3", "0x-1"}) {
    EXPECT_FALSE(TryStrToInt(bad).has_value()) << "'" << bad << "'";
  }
  try {
    StrToInt(" 1 ");
    FAIL();
  } catch (const EConvertError& error) {
    EXPECT_STREQ(error.what(), "' 1 ' is not a valid integer value");
  }
}

TEST(DateTime, ScaleStartsOn30December1899AndRoundTrips) {
  EXPECT_EQ(*TryEncodeDateTime({1899, 12, 30}), 0.0);
  EXPECT_EQ(*TryEncodeDateTime({1900, 1, 1}), 2.0);
  const TDateTime value = *TryEncodeDateTime({2002, 7, 30, 18, 0, 0});
  EXPECT_DOUBLE_EQ(value, 37467.75);
  const DateTimeParts back = DecodeDateTime(value);
  EXPECT_EQ(back.year, 2002);
  EXPECT_EQ(back.month, 7);
  EXPECT_EQ(back.day, 30);
  EXPECT_EQ(back.hour, 18);
  EXPECT_FALSE(TryEncodeDateTime({2002, 2, 29}).has_value());
  EXPECT_TRUE(TryEncodeDateTime({2004, 2, 29}).has_value());
  EXPECT_FALSE(TryEncodeDateTime({2002, 7, 30, 24, 0, 0}).has_value());
}

TEST(DateTime, DayMonthYearTextWithOptionalTime) {
  EXPECT_DOUBLE_EQ(*TryParseDayMonthYear("30/07/2002 18:00:00"), 37467.75);
  EXPECT_DOUBLE_EQ(*TryParseDayMonthYear("30/07/2002"), 37467.0);
  EXPECT_DOUBLE_EQ(*TryParseDayMonthYear("30/07/2002 18:00"), 37467.75);
  for (const char* bad :
       {"", "//", "30/07/", "30/13/2002", "31/06/2002", "30/07/2002x", "30/07/200218:00",
        "30/07/2002 18", "30/07/2002 25:00:00", "30/07/2002 18:00:00 x", "2002-07-30"}) {
    EXPECT_FALSE(TryParseDayMonthYear(bad).has_value()) << bad;
  }
}

TEST(DateTime, ClockLineLeavesOutMidnight) {
  std::setlocale(LC_TIME, "C");  // short date %m/%d/%y, long time %H:%M:%S
  EXPECT_EQ(DateTimeToStr(*TryEncodeDateTime({2002, 7, 30, 18, 5, 9})), "07/30/02 18:05:09");
  EXPECT_EQ(DateTimeToStr(*TryEncodeDateTime({2002, 7, 30})), "07/30/02");
}

TEST(ErrorTexts, IoNumbersAndTheErrorBoxFullStop) {
  EXPECT_STREQ(EInOutError(2).what(), "File not found");
  EXPECT_STREQ(EInOutError(3).what(), "Invalid filename");
  EXPECT_STREQ(EInOutError(4).what(), "Too many open files");
  EXPECT_STREQ(EInOutError(5).what(), "File access denied");
  EXPECT_STREQ(EInOutError(100).what(), "Read beyond end of file");
  EXPECT_STREQ(EInOutError(101).what(), "Disk full");
  EXPECT_STREQ(EInOutError(106).what(), "Invalid numeric input");
  EXPECT_STREQ(EInOutError(32).what(), "I/O error 32");
  EXPECT_EQ(IoCodeFromErrno(ENOENT), 2);
  EXPECT_EQ(IoCodeFromErrno(EACCES), 5);
  EXPECT_EQ(ErrorBoxText("Unable to create directory"), "Unable to create directory.");
  EXPECT_EQ(ErrorBoxText("Range check error."), "Range check error.");
  EXPECT_EQ(ErrorBoxText("Stop!"), "Stop!");  // "!" sorts before "."
  EXPECT_EQ(ErrorBoxText("'' is not a valid integer value"), "'' is not a valid integer value.");
  EXPECT_EQ(ErrorBoxText(""), "");
}

}  // namespace
}  // namespace ventari
