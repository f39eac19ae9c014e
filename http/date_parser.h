// HTTP dates: a lenient reader of RFC 822/1123 and ISO 8601 dates, the request-date form of the
// log lines, the IMF-fixdate of If-Modified-Since, and the day-count form (OLE automation date)
// the caches store. Locale-free: it never calls setlocale. RFC 850 and asctime dates are
// refused, and nothing is logged: a false result simply means "no date".
#pragma once

#include <cstdint>

#include "base/platform.h"
#include "base/string_buffer.h"

namespace quillon {

class DateParser {
 public:
  // Only this many characters of a date text are read.
  static constexpr uint32_t kMaxDateText = 199;
  // Words longer than this in a Last-Modified value make ModifiedDateText give up.
  static constexpr uint32_t kMaxModifiedWord = 31;
  // Day counts outside this open interval (years 100 to 9999) are not converted.
  static constexpr double kMinDayCount = -657435.0;
  static constexpr double kMaxDayCount = 2958466.0;

  // Reads an RFC 822/1123 date (day name optional, two-digit years, zone names or numeric
  // offsets) or, when it looks like one, an ISO 8601 date; out is UTC. False for a null or
  // unreadable text or an impossible date; out may then be partly filled.
  static bool ParseHttpDate(const char* text, SystemTime& out);
  // Reads "YYYY-MM-DDThh:mm:ss" (or a compact date) with "Z" or a "+hh:mm"/"-hh:mm" zone;
  // out is UTC. False as ParseHttpDate.
  static bool ParseIsoDate(const char* text, SystemTime& out);

  // Appends "Sun, 06 Nov 1994 08:49:37 +0000": the fields as given, then the offset of the
  // machine's current time zone. A day of week above 6 is written as Sun, a month outside 1-12
  // as Jan. False only when memory runs out.
  static bool FormatRequestDate(const SystemTime& time, StringBuffer& out);
  // The same with the zone bias given (minutes to add to local time to get UTC).
  static bool FormatRequestDate(const SystemTime& time, int biasMinutes, StringBuffer& out);

  // Appends the IMF-fixdate of a UTC time, "Sun, 06 Nov 1994 08:49:37 GMT" (RFC 7231
  // 7.1.1.1), the form servers compare If-Modified-Since in; the day name is computed from the
  // date. A month outside 1-12 is written as Jan. False only when memory runs out.
  static bool FormatHttpDate(const SystemTime& utc, StringBuffer& out);

  // The calendar time of a day count, rounded to the second (milliseconds 0). A day count that
  // is not finite or lies outside the valid range gives the current UTC time instead.
  static SystemTime DayCountToCalendar(double dayCount);
  // The day count of a calendar time (milliseconds and day of week ignored). False, with
  // dayCount untouched, for a year outside 100-9999 or a field out of range.
  static bool CalendarToDayCount(const SystemTime& time, double& dayCount);
  // 0 (Sunday) to 6 in the proleptic Gregorian calendar; months outside 1-12 and days beyond
  // the month count on into the following ones.
  static int DayOfWeek(int year, int month, int day);

  // The Last-Modified value "Sun, 06 Nov 1994 08:49:37 GMT" as "1994-11-06" (no zone
  // conversion). Replaces out; false with out empty when the value is missing or unreadable.
  static bool ModifiedDateText(const char* lastModified, StringBuffer& out);
};

}  // namespace quillon
