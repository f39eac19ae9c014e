#include "http/date_parser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <random>
#include <string>

namespace quillon {
namespace {

struct Expected {
  int year, month, day, hour, minute, second, dayOfWeek;
};

std::string Show(const SystemTime& t) {
  char text[64];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u dow %u", unsigned{t.year},
                unsigned{t.month}, unsigned{t.day}, unsigned{t.hour}, unsigned{t.minute},
                unsigned{t.second}, unsigned{t.dayOfWeek});
  return text;
}

std::string Show(const Expected& e) {
  SystemTime t;
  t.year = e.year;
  t.month = e.month;
  t.day = e.day;
  t.hour = e.hour;
  t.minute = e.minute;
  t.second = e.second;
  t.dayOfWeek = e.dayOfWeek;
  return Show(t);
}

SystemTime Make(int year, int month, int day, int hour, int minute, int second, int dayOfWeek) {
  SystemTime t;
  t.year = year;
  t.month = month;
  t.day = day;
  t.hour = hour;
  t.minute = minute;
  t.second = second;
  t.dayOfWeek = dayOfWeek;
  return t;
}

// Every field of a successful parse lies in range and the weekday belongs to the date (the
// current time that stands in for an unusable day count keeps its milliseconds).
void ExpectSane(const SystemTime& t, const std::string& input, bool fromParser = true) {
  EXPECT_GE(t.year, 1) << input;
  EXPECT_LE(t.year, 9999) << input;
  EXPECT_GE(t.month, 1) << input;
  EXPECT_LE(t.month, 12) << input;
  EXPECT_GE(t.day, 1) << input;
  EXPECT_LE(t.day, 31) << input;
  EXPECT_LE(t.hour, 23) << input;
  EXPECT_LE(t.minute, 59) << input;
  EXPECT_LE(t.second, 59) << input;
  if (fromParser) {
    EXPECT_EQ(t.milliseconds, 0) << input;
  }
  EXPECT_EQ(t.dayOfWeek, DateParser::DayOfWeek(t.year, t.month, t.day)) << input;
}

TEST(HttpDateTest, AcceptedFormsGiveUtc) {
  const struct {
    const char* input;
    Expected expected;
  } cases[] = {
      {"Sun, 06 Nov 1994 08:49:37 GMT", {1994, 11, 6, 8, 49, 37, 0}},
      {"06 Nov 1994 08:49:37 EST", {1994, 11, 6, 13, 49, 37, 0}},
      {"Sun, 06 Nov 94 08:49 -0800", {1994, 11, 6, 16, 49, 0, 0}},
      {"Mon, 31 Dec 2007 22:00:00 -0300", {2008, 1, 1, 1, 0, 0, 2}},
      {"Tue, 01 Jan 2008 01:30:00 +0200", {2007, 12, 31, 23, 30, 0, 1}},
      {"01 dez 2008 10:00:00", {2008, 12, 1, 10, 0, 0, 1}},
      {"1 mai 2008 10:00:00", {2008, 5, 1, 10, 0, 0, 4}},
      {"15 okt 2008 10:00:00", {2008, 10, 15, 10, 0, 0, 3}},
      {"SUN, 06 NOV 1994 08:49:37 GMT", {1994, 11, 6, 8, 49, 37, 0}},
      {"  \tSun,\t06  Nov\t1994   08:49:37   GMT  ", {1994, 11, 6, 8, 49, 37, 0}},
      {"Sun,06 Nov 1994 08:49:37 GMT", {1994, 11, 6, 8, 49, 37, 0}},
      {"Sunday 06 Nov 1994 08:49:37", {1994, 11, 6, 8, 49, 37, 0}},
      {"Sun, 06 November 1994 08:49:37 GMT", {1994, 11, 6, 8, 49, 37, 0}},
      {"Sun, 06 Nov 1994, 08:49:37 GMT", {1994, 11, 6, 8, 49, 37, 0}},
      {"Sun, 06 Nov 09 08:49:37 GMT", {2009, 11, 6, 8, 49, 37, 5}},
      {"Sun, 06 Nov 49 08:49:37 GMT", {2049, 11, 6, 8, 49, 37, 6}},
      {"Sun, 06 Nov 50 08:49:37 GMT", {1950, 11, 6, 8, 49, 37, 1}},
      {"Sun, 06 Nov 105 08:49:37 GMT", {2005, 11, 6, 8, 49, 37, 0}},
      {"Thu, 29 Feb 2024 23:59:59 GMT", {2024, 2, 29, 23, 59, 59, 4}},
      // The day name is not trusted: the weekday is that of the date.
      {"Fri, 06 Nov 1994 08:49:37 GMT", {1994, 11, 6, 8, 49, 37, 0}},
      // A time word with trailing text is read up to its first non-digit.
      {"Sun, 06 Nov 1994 08:49:37.250 GMT", {1994, 11, 6, 8, 49, 37, 0}},
      {"Sun, 06 Nov 1994 08:49: GMT", {1994, 11, 6, 8, 49, 0, 0}},
  };
  for (const auto& c : cases) {
    SystemTime t;
    ASSERT_TRUE(DateParser::ParseHttpDate(c.input, t)) << c.input;
    EXPECT_EQ(Show(t), Show(c.expected)) << c.input;
  }
}

TEST(HttpDateTest, ZoneNamesAndOffsets) {
  const struct {
    const char* zone;
    int day, hour, minute;
  } cases[] = {
      {"UT", 6, 12, 0},     {"GMT", 6, 12, 0},    {"EST", 6, 17, 0},    {"EDT", 6, 16, 0},
      {"CST", 6, 18, 0},    {"CDT", 6, 17, 0},    {"MST", 6, 19, 0},    {"MDT", 6, 18, 0},
      {"PST", 6, 20, 0},    {"PDT", 6, 19, 0},    {"A", 6, 13, 0},      {"Z", 6, 12, 0},
      {"M", 7, 0, 0},       {"N", 6, 11, 0},      {"Y", 6, 0, 0},       {"CET", 6, 12, 0},
      {"UTC", 6, 12, 0},    {"Estonia", 6, 17, 0}, {"(GMT)", 6, 12, 0}, {"+0100", 6, 11, 0},
      {"0100", 6, 11, 0},   {"-0800", 6, 20, 0},  {"+05:30", 6, 6, 30}, {"-5", 6, 17, 0},
      {"+1", 6, 11, 0},     {"+", 6, 12, 0},      {"-0000", 6, 12, 0},  {"+2359", 5, 12, 1},
      {"-2359", 7, 11, 59},
  };
  for (const auto& c : cases) {
    std::string input = std::string("Sun, 06 Nov 1994 12:00:00 ") + c.zone;
    SystemTime t;
    ASSERT_TRUE(DateParser::ParseHttpDate(input.c_str(), t)) << input;
    EXPECT_EQ(t.day, c.day) << input;
    EXPECT_EQ(t.hour, c.hour) << input;
    EXPECT_EQ(t.minute, c.minute) << input;
    EXPECT_EQ(t.second, 0) << input;
    ExpectSane(t, input);
  }
}

TEST(HttpDateTest, RefusedForms) {
  const char* cases[] = {
      "",
      " \t ",
      "Sunday, 06-Nov-94 08:49:37 GMT",
      "Sun Nov  6 08:49:37 1994",
      "Sun, 06 Foo 1994 08:49:37 GMT",
      "Sun, 06 No 1994 08:49:37 GMT",
      "Sun, 06 Nov 1994",
      "Sun, 06 Nov 1994 08 GMT",
      "Sun, 06 Nov 1994 noon GMT",
      "Sun, 06 Nov",
      "Sun, 31 Feb 2009 10:00:00 GMT",
      "Sun, 29 Feb 2100 10:00:00 GMT",
      "Sun, 00 Nov 1994 08:49:37 GMT",
      "Sun, -6 Nov 1994 08:49:37 GMT",
      "Sun, 06 Nov -5 08:49:37 GMT",
      "Sun, 06 Nov 10000 08:49:37 GMT",
      "Sun, 06 Nov 1994 24:00:00 GMT",
      "Sun, 06 Nov 1994 08:60:00 GMT",
      "Sun, 06 Nov 1994 08:49:60 GMT",
      "Sun, 06 Nov 1994 -1:49:37 GMT",
      "Sun, 06 Nov 1994 08:49:37 -",
      "Sun, 06 Nov 1994 08:49:37 +2400",
      "Sun, 06 Nov 1994 08:49:37 +0160",
      "Sun, 06 Nov 1994 08:49:37 -x",
      "Fri, 31 Dec 9999 23:00:00 -0200",
  };
  for (const char* input : cases) {
    SystemTime t;
    EXPECT_FALSE(DateParser::ParseHttpDate(input, t)) << input;
  }
  SystemTime t;
  EXPECT_FALSE(DateParser::ParseHttpDate(nullptr, t));
}

TEST(HttpDateTest, HugeNumbersAreRefusedWithoutOverflow) {
  const std::string digits(60, '9');
  const std::string cases[] = {
      "Sun, " + digits + " Nov 1994 08:49:37 GMT",
      "Sun, 06 Nov " + digits + " 08:49:37 GMT",
      "Sun, 06 Nov 1994 " + digits + ":49:37 GMT",
      "Sun, 06 Nov 1994 08:" + digits + ":37 GMT",
      "Sun, 06 Nov 1994 08:49:" + digits + " GMT",
      "Sun, 06 Nov 1994 08:49:37 +" + digits,
      "Sun, 06 Nov 1994 08:49:37 -" + digits,
      "Sun, 06 Nov 2147483647 08:49:37 GMT",
      "Sun, 06 Nov -2147483648 08:49:37 GMT",
      "2009-01-" + digits + "T10:00:00Z",
      "2009-01-26T10:00:" + digits + "Z",
      "2009-01-26T10:00:00+" + digits,
  };
  for (const std::string& input : cases) {
    SystemTime t;
    EXPECT_FALSE(DateParser::ParseHttpDate(input.c_str(), t)) << input;
  }
}

TEST(HttpDateTest, OnlyTheFirst199CharactersAreRead) {
  // The zone lies beyond the limit, so the date counts as GMT.
  std::string input = "Sun, 06 Nov 1994 08:49:37" + std::string(180, ' ') + "EST";
  SystemTime t;
  ASSERT_TRUE(DateParser::ParseHttpDate(input.c_str(), t));
  EXPECT_EQ(t.hour, 8);
  input = "Sun, 06 Nov 1994 08:49:37" + std::string(170, ' ') + "EST";
  ASSERT_TRUE(DateParser::ParseHttpDate(input.c_str(), t));
  EXPECT_EQ(t.hour, 13);
}

TEST(IsoDateTest, AcceptedForms) {
  const struct {
    const char* input;
    Expected expected;
  } cases[] = {
      {"2009-01-26T10:00:00Z", {2009, 1, 26, 10, 0, 0, 1}},
      {"2009-01-26T10:00:00+01:00", {2009, 1, 26, 9, 0, 0, 1}},
      {"2009-01-26T10:00:00-05:30", {2009, 1, 26, 15, 30, 0, 1}},
      {"2009-01-26T10:00:00", {2009, 1, 26, 10, 0, 0, 1}},
      {"2009-01-26T10:00:00.123Z", {2009, 1, 26, 10, 0, 0, 1}},
      {"2009-01-26T10:00:00+0100", {2009, 1, 26, 9, 0, 0, 1}},
      {"2009-01-26T10:00:00+01", {2009, 1, 26, 9, 0, 0, 1}},
      {"2009-01-01T00:30:00+01:00", {2008, 12, 31, 23, 30, 0, 3}},
      {"2008-12-31T23:30:00-01:00", {2009, 1, 1, 0, 30, 0, 4}},
  };
  for (const auto& c : cases) {
    SystemTime t;
    ASSERT_TRUE(DateParser::ParseHttpDate(c.input, t)) << c.input;
    EXPECT_EQ(Show(t), Show(c.expected)) << c.input;
  }
  // The compact date is read when ParseIsoDate is called itself.
  SystemTime t;
  ASSERT_TRUE(DateParser::ParseIsoDate("20090126T10:00:00Z", t));
  EXPECT_EQ(Show(t), Show(Expected{2009, 1, 26, 10, 0, 0, 1}));
}

TEST(IsoDateTest, RefusedForms) {
  const char* cases[] = {
      "2009-01-26",            "2009-01-26T10:00",     "2009-01-26T10:00Z",
      "2009-13-26T10:00:00Z",  "2009-02-29T10:00:00Z", "2009-01-26T25:00:00Z",
      "2009-01-26T10:00:00+",  "2009-01-26T10:00:00+24:00", "0000-01-01T00:00:00Z",
      "2009-01T10:00:00Z",     "T10:00:00",            "2009 01T10:00:00",
      "0001-01-01T00:30:00+01:00",
  };
  for (const char* input : cases) {
    SystemTime t;
    EXPECT_FALSE(DateParser::ParseIsoDate(input, t)) << input;
  }
  SystemTime t;
  EXPECT_FALSE(DateParser::ParseIsoDate(nullptr, t));
  // Not ISO by its shape, and not an RFC 822 date either.
  EXPECT_FALSE(DateParser::ParseHttpDate("2009-01-26 10:00:00Z", t));
}

std::string Formatted(const SystemTime& t, int bias) {
  StringBuffer out;
  EXPECT_TRUE(DateParser::FormatRequestDate(t, bias, out));
  return std::string(out.view());
}

TEST(RequestDateTest, FieldsAreWrittenAsGivenWithTheZoneOffset) {
  const SystemTime t = Make(1994, 11, 6, 8, 49, 37, 0);
  EXPECT_EQ(Formatted(t, 0), "Sun, 06 Nov 1994 08:49:37 +0000");
  EXPECT_EQ(Formatted(t, 300), "Sun, 06 Nov 1994 08:49:37 -0500");
  EXPECT_EQ(Formatted(t, -60), "Sun, 06 Nov 1994 08:49:37 +0100");
  EXPECT_EQ(Formatted(t, -330), "Sun, 06 Nov 1994 08:49:37 +0530");
  EXPECT_EQ(Formatted(t, 210), "Sun, 06 Nov 1994 08:49:37 -0330");
  EXPECT_EQ(Formatted(t, 30), "Sun, 06 Nov 1994 08:49:37 -0030");
  EXPECT_EQ(Formatted(Make(2009, 1, 2, 3, 4, 5, 5), 0), "Fri, 02 Jan 2009 03:04:05 +0000");
}

TEST(RequestDateTest, OutOfRangeWeekdayAndMonthFallBack) {
  EXPECT_EQ(Formatted(Make(2009, 0, 2, 3, 4, 5, 7), 0), "Sun, 02 Jan 2009 03:04:05 +0000");
  EXPECT_EQ(Formatted(Make(2009, 13, 2, 3, 4, 5, 65535), 0), "Sun, 02 Jan 2009 03:04:05 +0000");
  EXPECT_EQ(Formatted(Make(65535, 12, 65535, 65535, 65535, 65535, 6),
                      std::numeric_limits<int>::min()),
            "Sat, 65535 Dec 65535 65535:65535:65535 +3579139408");
}

TEST(RequestDateTest, AppendsToTheText) {
  StringBuffer out("If-Modified-Since: ");
  ASSERT_TRUE(DateParser::FormatRequestDate(Make(1994, 11, 6, 8, 49, 37, 0), 0, out));
  EXPECT_EQ(out.view(), "If-Modified-Since: Sun, 06 Nov 1994 08:49:37 +0000");
}

TEST(HttpDateTest, ImfFixdateInGmtWithTheWeekdayOfTheDate) {
  const struct {
    SystemTime utc;
    const char* text;
  } cases[] = {
      {Make(1994, 11, 6, 8, 49, 37, 3), "Sun, 06 Nov 1994 08:49:37 GMT"},
      {Make(2024, 2, 29, 23, 59, 59, 0), "Thu, 29 Feb 2024 23:59:59 GMT"},
      {Make(2009, 0, 2, 3, 4, 5, 0), "Fri, 02 Jan 2009 03:04:05 GMT"},
  };
  for (const auto& c : cases) {
    StringBuffer out;
    ASSERT_TRUE(DateParser::FormatHttpDate(c.utc, out));
    EXPECT_EQ(out.view(), c.text);
  }
}

// Sets TZ for one test and puts the old value back.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    const char* old = std::getenv("TZ");
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (had_) {
      setenv("TZ", old_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  bool had_ = false;
  std::string old_;
};

TEST(RequestDateTest, MachineZoneIsUsedByDefault) {
  const SystemTime t = Make(1994, 11, 6, 8, 49, 37, 0);
  {
    ScopedTimeZone zone("UTC0");
    StringBuffer out;
    ASSERT_TRUE(DateParser::FormatRequestDate(t, out));
    EXPECT_EQ(out.view(), "Sun, 06 Nov 1994 08:49:37 +0000");
  }
  {
    ScopedTimeZone zone("IST-5:30");
    StringBuffer out;
    ASSERT_TRUE(DateParser::FormatRequestDate(t, out));
    EXPECT_EQ(out.view(), "Sun, 06 Nov 1994 08:49:37 +0530");
  }
}

TEST(DayCountTest, KnownDayCounts) {
  const struct {
    double dayCount;
    Expected expected;
  } cases[] = {
      {0.0, {1899, 12, 30, 0, 0, 0, 6}},
      {1.0, {1899, 12, 31, 0, 0, 0, 0}},
      {2.0, {1900, 1, 1, 0, 0, 0, 1}},
      {60.0, {1900, 2, 28, 0, 0, 0, 3}},
      {61.0, {1900, 3, 1, 0, 0, 0, 4}},
      {25569.0, {1970, 1, 1, 0, 0, 0, 4}},
      {36526.0, {2000, 1, 1, 0, 0, 0, 6}},
      {36585.75, {2000, 2, 29, 18, 0, 0, 2}},
      {39448.5, {2008, 1, 1, 12, 0, 0, 2}},
      {-1.25, {1899, 12, 29, 6, 0, 0, 5}},
      {-0.5, {1899, 12, 30, 12, 0, 0, 6}},
      {2958465.0, {9999, 12, 31, 0, 0, 0, 5}},
      {-657434.0, {100, 1, 1, 0, 0, 0, 5}},
      // Rounded to the nearest second, across midnight when needed.
      {1.0 - 0.4 / 86400, {1899, 12, 31, 0, 0, 0, 0}},
      {1.0 - 0.6 / 86400, {1899, 12, 30, 23, 59, 59, 6}},
      {36526.0 + 1.4 / 86400, {2000, 1, 1, 0, 0, 1, 6}},
      {36526.0 + 1.6 / 86400, {2000, 1, 1, 0, 0, 2, 6}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Show(DateParser::DayCountToCalendar(c.dayCount)), Show(c.expected)) << c.dayCount;
  }
}

TEST(DayCountTest, OutOfRangeGivesTheCurrentTime) {
  const double cases[] = {-657435.0, 2958466.0, 1e300, -1e300,
                          std::numeric_limits<double>::quiet_NaN(),
                          std::numeric_limits<double>::infinity(),
                          -std::numeric_limits<double>::infinity()};
  for (double d : cases) {
    SystemTime t = DateParser::DayCountToCalendar(d);
    EXPECT_GE(t.year, 2024) << d;
    EXPECT_LT(t.year, 9999) << d;
  }
}

TEST(DayCountTest, CalendarToDayCountIsTheInverse) {
  double d = 0;
  ASSERT_TRUE(DateParser::CalendarToDayCount(Make(1899, 12, 30, 0, 0, 0, 0), d));
  EXPECT_EQ(d, 0.0);
  ASSERT_TRUE(DateParser::CalendarToDayCount(Make(2000, 1, 1, 18, 0, 0, 0), d));
  EXPECT_EQ(d, 36526.75);
  ASSERT_TRUE(DateParser::CalendarToDayCount(Make(1899, 12, 29, 6, 0, 0, 0), d));
  EXPECT_EQ(d, -1.25);
  ASSERT_TRUE(DateParser::CalendarToDayCount(Make(100, 1, 1, 0, 0, 0, 0), d));
  EXPECT_EQ(d, -657434.0);
  ASSERT_TRUE(DateParser::CalendarToDayCount(Make(9999, 12, 31, 23, 59, 59, 0), d));
  EXPECT_EQ(Show(DateParser::DayCountToCalendar(d)), Show(Expected{9999, 12, 31, 23, 59, 59, 5}));

  // Every day from year 100 to 9999 at a time of day that changes from day to day.
  std::mt19937 random(7);
  for (int64_t day = -657434; day <= 2958465; day += 1 + static_cast<int>(random() % 97)) {
    SystemTime t = DateParser::DayCountToCalendar(static_cast<double>(day));
    t.hour = random() % 24;
    t.minute = random() % 60;
    t.second = random() % 60;
    ASSERT_TRUE(DateParser::CalendarToDayCount(t, d)) << day;
    ASSERT_EQ(std::trunc(d), static_cast<double>(day));
    ASSERT_EQ(Show(DateParser::DayCountToCalendar(d)), Show(t)) << day;
  }
}

TEST(DayCountTest, CalendarToDayCountRefusesImpossibleTimes) {
  const SystemTime cases[] = {
      Make(99, 12, 31, 0, 0, 0, 0),   Make(10000, 1, 1, 0, 0, 0, 0), Make(2009, 0, 1, 0, 0, 0, 0),
      Make(2009, 13, 1, 0, 0, 0, 0),  Make(2009, 2, 29, 0, 0, 0, 0), Make(2009, 1, 0, 0, 0, 0, 0),
      Make(2009, 1, 1, 24, 0, 0, 0),  Make(2009, 1, 1, 0, 60, 0, 0), Make(2009, 1, 1, 0, 0, 60, 0),
  };
  for (const SystemTime& t : cases) {
    double d = 12.5;
    EXPECT_FALSE(DateParser::CalendarToDayCount(t, d)) << Show(t);
    EXPECT_EQ(d, 12.5);
  }
}

TEST(DayOfWeekTest, ProlepticGregorianWeekdays) {
  const struct {
    int year, month, day, expected;
  } cases[] = {
      {1994, 11, 6, 0}, {2000, 2, 29, 2}, {2000, 3, 1, 3}, {1900, 1, 1, 1}, {1, 1, 1, 1},
      {1582, 10, 15, 5}, {1582, 10, 4, 1}, {0, 1, 1, 6}, {-1, 12, 31, 5}, {9999, 12, 31, 5},
      // Months and days beyond their range count on.
      {1994, 13, 1, 0}, {1995, 0, 31, 6}, {1994, 11, 0, 1}, {1994, 11, 36, 2},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DateParser::DayOfWeek(c.year, c.month, c.day), c.expected)
        << c.year << "-" << c.month << "-" << c.day;
  }
}

TEST(DayOfWeekTest, ExtremeNumbersStayInRange) {
  const int extremes[] = {std::numeric_limits<int>::min(), -1, 0,
                          std::numeric_limits<int>::max()};
  for (int y : extremes) {
    for (int m : extremes) {
      for (int d : extremes) {
        int w = DateParser::DayOfWeek(y, m, d);
        EXPECT_GE(w, 0);
        EXPECT_LE(w, 6);
      }
    }
  }
}

TEST(ModifiedDateTextTest, YearMonthDayOfTheLastModifiedValue) {
  const struct {
    const char* input;
    const char* expected;
  } cases[] = {
      {"Sun, 06 Nov 1994 08:49:37 GMT", "1994-11-06"},
      {"Sun, 06 nov 1994", "1994-11-06"},
      {"x 6 DEC 2009", "2009-12-06"},
      {"\tSun,  6\tNov   1994", "1994-11-06"},
      {"Sun, 06 Nov 94 08:49:37 GMT", "94-11-06"},
      {"Thu, 29 Feb 2024 00:00:00 GMT", "2024-02-29"},
      {"Sun, 06 Nov. 1994 08:49:37 GMT", ""},
      {"Sun, 06 November 1994 08:49:37 GMT", ""},
      {"Sun, 01 dez 2008 10:00:00 GMT", ""},
      {"Sunday, 06-Nov-94 08:49:37 GMT", ""},
      {"Sun Nov  6 08:49:37 1994", ""},
      {"06 Nov 1994 08:49:37 GMT", ""},
      {"2009-01-26T10:00:00Z", ""},
      {"Sun, 06 Nov", ""},
      {"Sun, 31 Feb 2009 08:49:37 GMT", ""},
      {"Sun, 00 Nov 1994 08:49:37 GMT", ""},
      {"Sun, 06 Nov 0 08:49:37 GMT", ""},
      {"Sun, 06 Nov -1994 08:49:37 GMT", ""},
      {"Sun, 06 Nov 99999999999999999999 08:49:37 GMT", ""},
      {"Sun, 99999999999999999999 Nov 1994 08:49:37 GMT", ""},
      {"", ""},
      {"   ", ""},
  };
  for (const auto& c : cases) {
    StringBuffer out("stale");
    EXPECT_EQ(DateParser::ModifiedDateText(c.input, out), *c.expected != '\0') << c.input;
    EXPECT_EQ(out.view(), c.expected) << c.input;
  }
  StringBuffer out("stale");
  EXPECT_FALSE(DateParser::ModifiedDateText(nullptr, out));
  EXPECT_TRUE(out.isEmpty());
}

TEST(ModifiedDateTextTest, LongWordsGiveAnEmptyText) {
  const std::string fits(DateParser::kMaxModifiedWord, 'x');
  const std::string tooLong(DateParser::kMaxModifiedWord + 1, 'x');
  const std::string huge(100000, 'N');
  StringBuffer out;
  EXPECT_TRUE(DateParser::ModifiedDateText((fits + " 06 Nov 1994").c_str(), out));
  EXPECT_EQ(out.view(), "1994-11-06");
  const std::string refused[] = {
      tooLong + " 06 Nov 1994",
      "Sun, 06 " + tooLong + " 1994",
      huge,
      "Sun, 06 " + huge + " 1994",
  };
  for (const std::string& input : refused) {
    EXPECT_FALSE(DateParser::ModifiedDateText(input.c_str(), out)) << input.substr(0, 40);
    EXPECT_TRUE(out.isEmpty());
  }
}

// Random bytes and random soups of date words: the parsers never crash, never overrun
// (ASan) and never overflow (UBSan); whatever they accept is a real date.
TEST(DateGarbageTest, GarbageNeverCrashes) {
  const char* words[] = {"Sun,", "Mon", "06", "31", "Nov", "dez", "1994", "94", "08:49:37",
                         "08:49", "GMT", "EST", "+0100", "-0800", "+05:30", "-", "+", ":",
                         "T", "Z", "2009-01-26T10:00:00Z", "2009-01-26T", "99999999999999",
                         "-2147483648", " ", "\t", ",", "\xff", "\x80"};
  std::mt19937 random(20240601);
  int accepted = 0;
  for (int i = 0; i < 40000; ++i) {
    std::string input;
    if (i % 2 == 0) {
      const size_t length = random() % 260;
      for (size_t k = 0; k < length; ++k) input += static_cast<char>(1 + random() % 255);
    } else {
      const size_t count = random() % 12;
      for (size_t k = 0; k < count; ++k) {
        input += words[random() % std::size(words)];
        if (random() % 3 != 0) input += ' ';
      }
    }
    SystemTime t;
    if (DateParser::ParseHttpDate(input.c_str(), t)) {
      ExpectSane(t, input);
      ++accepted;
    }
    if (DateParser::ParseIsoDate(input.c_str(), t)) ExpectSane(t, input);
    StringBuffer text;
    if (DateParser::ModifiedDateText(input.c_str(), text)) {
      EXPECT_LE(text.length(), 10u) << input;
    }
    double d = 0;
    std::memcpy(&d, input.data(), std::min(input.size(), sizeof d));
    ExpectSane(DateParser::DayCountToCalendar(d), input, false);
    const int w = DateParser::DayOfWeek(static_cast<int>(random()), static_cast<int>(random()),
                                        static_cast<int>(random()));
    EXPECT_TRUE(w >= 0 && w <= 6);
    if (HasFailure()) break;
  }
  // The word soups do reach the end of the parser now and then.
  EXPECT_GT(accepted, 0);
}

}  // namespace
}  // namespace quillon
