#include "http/date_parser.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "base/ascii.h"

namespace quillon {

namespace {

// Numbers stop growing once they reach this, so a long run of digits neither overflows nor
// passes a range check.
constexpr int kNumberCap = 100000000;
constexpr int kMinutesPerDay = 1440;
constexpr int kSecondsPerDay = 86400;
constexpr int kMinYear = 1;
constexpr int kMaxYear = 9999;
// Day counts of the cache stores are valid for these years.
constexpr int kMinDayCountYear = 100;
// A parsed year below this is a short form: above 49 it is in the 1900s, else in the 2000s.
constexpr int kFullYearStart = 1900;
constexpr int kTwoDigitYearPivot = 49;

constexpr const char* kDayNames[7] = {"sun", "mon", "tue", "wed", "thu", "fri", "sat"};
constexpr const char* kMonthNames[12] = {"jan", "feb", "mar", "apr", "may", "jun",
                                         "jul", "aug", "sep", "oct", "nov", "dec"};
// Month abbreviations some servers send in other languages, in the same order.
constexpr const char* kOtherMonthNames[12] = {"ian", "fev", "mar", "apr", "mai", "jun",
                                              "jul", "aug", "set", "okt", "nov", "dez"};
constexpr const char* kFormatDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kFormatMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

struct ZoneName {
  const char* name;
  int offsetMinutes;
};
// RFC 822 zone names, the military letters with RFC 822's (inverted) signs included.
constexpr ZoneName kZoneNames[] = {
    {"ut", 0},     {"gmt", 0},    {"est", -300}, {"edt", -240}, {"cst", -360},
    {"cdt", -300}, {"mst", -420}, {"mdt", -360}, {"pst", -480}, {"pdt", -420},
    {"a", -60},    {"z", 0},      {"m", -720},   {"n", 60},     {"y", 720},
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }
// White space as scanf sees it in the C locale.
bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
void SkipSpaces(std::string_view s, size_t& pos) {
  while (pos < s.size() && IsSpace(s[pos])) ++pos;
}
void SkipWord(std::string_view s, size_t& pos) {
  while (pos < s.size() && !IsSpace(s[pos])) ++pos;
}

// What scanf's "%d" reads: white space, an optional sign, at least one digit.
bool ScanInt(std::string_view s, size_t& pos, int& value) {
  size_t p = pos;
  SkipSpaces(s, p);
  bool negative = false;
  if (p < s.size() && (s[p] == '+' || s[p] == '-')) {
    negative = s[p] == '-';
    ++p;
  }
  if (p >= s.size() || !IsDigit(s[p])) return false;
  int v = 0;
  for (; p < s.size() && IsDigit(s[p]); ++p) {
    if (v < kNumberCap) v = v * 10 + (s[p] - '0');
  }
  value = negative ? -v : v;
  pos = p;
  return true;
}

// What "%0Nd" reads when no sign is expected: white space, then 1 to width digits.
bool ScanDigits(std::string_view s, size_t& pos, size_t width, int& value) {
  size_t p = pos;
  SkipSpaces(s, p);
  size_t start = p;
  int v = 0;
  for (; p < s.size() && p - start < width && IsDigit(s[p]); ++p) {
    if (v < kNumberCap) v = v * 10 + (s[p] - '0');
  }
  if (p == start) return false;
  value = v;
  pos = p;
  return true;
}

// What "%s" reads: white space, then a run of other characters.
bool ScanWord(std::string_view s, size_t& pos, std::string_view& word) {
  size_t p = pos;
  SkipSpaces(s, p);
  size_t start = p;
  SkipWord(s, p);
  if (p == start) return false;
  word = s.substr(start, p - start);
  pos = p;
  return true;
}

// Tables are compared on their first three letters: a shorter word must match a name whole.
bool MatchesName(std::string_view word, const char* name) {
  std::string_view head = word.substr(0, 3);
  return head == std::string_view(name).substr(0, 3);
}

int MonthOfWord(std::string_view word) {
  if (word.size() < 3) return 0;
  for (int i = 0; i < 12; ++i) {
    if (MatchesName(word, kMonthNames[i])) return i + 1;
  }
  for (int i = 0; i < 12; ++i) {
    if (MatchesName(word, kOtherMonthNames[i])) return i + 1;
  }
  return 0;
}

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }
int64_t FloorMod(int64_t a, int64_t b) { return a - FloorDiv(a, b) * b; }

// Days after 1 January 1970 of a proleptic Gregorian date (month 1-12).
constexpr int64_t DaysFromCivil(int64_t year, int month, int day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

// The date of a count of days after 1 January 1970, through the 400/100/4-year cycles.
void CivilFromDays(int64_t days, int64_t& year, int& month, int& day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t dayOfEra = days - era * 146097;
  const int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
  day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
  month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
  year = yearOfEra + era * 400 + (month <= 2);
}

// 1 January 1970 was a Thursday.
int WeekdayOfDays(int64_t days) { return static_cast<int>(FloorMod(days + 4, 7)); }

// 30 December 1899, the zero of the day count.
constexpr int64_t kDayCountEpoch = DaysFromCivil(1899, 12, 30);

bool IsLeapYear(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int64_t year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2 && IsLeapYear(year)) return 29;
  return kDays[month - 1];
}

struct DateFields {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

bool IsValidDate(const DateFields& f) {
  return f.year >= kMinYear && f.year <= kMaxYear && f.month >= 1 && f.month <= 12 &&
         f.day >= 1 && f.day <= DaysInMonth(f.year, f.month) && f.hour >= 0 && f.hour <= 23 &&
         f.minute >= 0 && f.minute <= 59 && f.second >= 0 && f.second <= 59;
}

// Moves a valid local date to UTC. The offset (minutes east of UTC) is under a day, so the
// date moves by one day at most. The day of week is that of the resulting date.
bool ToUtc(const DateFields& f, int offsetMinutes, SystemTime& out) {
  int minutes = f.hour * 60 + f.minute - offsetMinutes;
  int64_t days = DaysFromCivil(f.year, f.month, f.day);
  if (minutes < 0) {
    --days;
    minutes += kMinutesPerDay;
  } else if (minutes >= kMinutesPerDay) {
    ++days;
    minutes -= kMinutesPerDay;
  }
  int64_t year = 0;
  int month = 0;
  int day = 0;
  CivilFromDays(days, year, month, day);
  if (year < kMinYear || year > kMaxYear) return false;
  out.year = static_cast<uint16_t>(year);
  out.month = static_cast<uint16_t>(month);
  out.day = static_cast<uint16_t>(day);
  out.dayOfWeek = static_cast<uint16_t>(WeekdayOfDays(days));
  out.hour = static_cast<uint16_t>(minutes / 60);
  out.minute = static_cast<uint16_t>(minutes % 60);
  out.second = static_cast<uint16_t>(f.second);
  out.milliseconds = 0;
  return true;
}

// A numeric zone word without its sign: "hhmm", else "hh:mm", else hours alone.
bool ReadZoneDigits(std::string_view text, int& hours, int& minutes) {
  size_t pos = 0;
  if (ScanDigits(text, pos, 2, hours) && ScanDigits(text, pos, 2, minutes)) return true;
  pos = 0;
  if (ScanDigits(text, pos, 2, hours) && pos < text.size() && text[pos] == ':' &&
      ScanDigits(text, ++pos, 2, minutes)) {
    return true;
  }
  pos = 0;
  minutes = 0;
  return ScanDigits(text, pos, std::string_view::npos, hours);
}

// The offset in minutes east of UTC of a numeric zone ("-0800", "0100", "-5"); an offset of a
// day or more, or minutes above 59, is not a zone.
bool ReadNumericZone(std::string_view word, int& offsetMinutes) {
  bool negative = !word.empty() && word[0] == '-';
  if (negative) word.remove_prefix(1);
  int hours = 0;
  int minutes = 0;
  if (!ReadZoneDigits(word, hours, minutes)) return false;
  if (hours > 23 || minutes > 59) return false;
  offsetMinutes = (hours * 60 + minutes) * (negative ? -1 : 1);
  return true;
}

int NamedZoneOffset(std::string_view word) {
  for (const ZoneName& zone : kZoneNames) {
    if (MatchesName(word, zone.name)) return zone.offsetMinutes;
  }
  return 0;
}

// At most kMaxDateText characters of a text are read, so every parser works on a bounded text.
std::string_view Bounded(const char* text) {
  return std::string_view(text, strnlen(text, DateParser::kMaxDateText));
}

}  // namespace

bool DateParser::ParseHttpDate(const char* text, SystemTime& out) {
  if (text == nullptr) return false;
  char copy[kMaxDateText + 1];
  std::string_view original = Bounded(text);
  std::memcpy(copy, original.data(), original.size());
  copy[original.size()] = '\0';
  const size_t n = original.size();

  if (n > 10 && copy[10] == 'T' && copy[4] == '-' && copy[7] == '-') {
    return ParseIsoDate(copy, out);
  }
  for (size_t i = 0; i < n; ++i) copy[i] = LowerAscii(copy[i]);
  std::string_view s(copy, n);

  size_t pos = 0;
  while (pos < n && IsBlank(s[pos])) ++pos;
  if (pos == n) return false;

  // An optional day name ("sun," or "sunday"); the weekday is recomputed from the date.
  for (const char* name : kDayNames) {
    if (s.substr(pos, 3) == name) {
      while (pos < n && !IsBlank(s[pos]) && s[pos] != ',') ++pos;
      while (pos < n && IsBlank(s[pos])) ++pos;
      if (pos < n && s[pos] == ',') ++pos;
      while (pos < n && IsBlank(s[pos])) ++pos;
      break;
    }
  }

  // "%d%s%d": day, month word, year; then the three words are passed over as words.
  DateFields f;
  std::string_view monthWord;
  size_t scan = pos;
  if (!ScanInt(s, scan, f.day) || !ScanWord(s, scan, monthWord) || !ScanInt(s, scan, f.year)) {
    return false;
  }
  for (int i = 0; i < 3; ++i) {
    SkipWord(s, pos);
    SkipSpaces(s, pos);
  }
  f.month = MonthOfWord(monthWord);
  if (f.month == 0) return false;
  if (f.year < 0) return false;
  if (f.year < kFullYearStart) f.year += f.year > kTwoDigitYearPivot ? 1900 : 2000;

  // "%d:%d:%d", else "%d:%d" with seconds 0.
  scan = pos;
  if (!ScanInt(s, scan, f.hour) || scan >= n || s[scan] != ':' || !ScanInt(s, ++scan, f.minute)) {
    return false;
  }
  if (scan < n && s[scan] == ':') ScanInt(s, ++scan, f.second);
  SkipWord(s, pos);
  SkipSpaces(s, pos);

  // The zone word: none means GMT; a numeric offset; or a name (unknown names are 0000).
  if (pos < n && s[pos] == '+') ++pos;
  size_t end = pos;
  SkipWord(s, end);
  std::string_view zone = s.substr(pos, end - pos);
  int offsetMinutes = 0;
  if (!zone.empty()) {
    if (zone[0] == '-' || IsDigit(zone[0])) {
      if (!ReadNumericZone(zone, offsetMinutes)) return false;
    } else {
      offsetMinutes = NamedZoneOffset(zone);
    }
  }
  if (!IsValidDate(f)) return false;
  return ToUtc(f, offsetMinutes, out);
}

bool DateParser::ParseIsoDate(const char* text, SystemTime& out) {
  if (text == nullptr) return false;
  std::string_view s = Bounded(text);
  const size_t t = s.find('T');

  // The date: "-" read as white space, three numbers; one number is the compact YYYYMMDD form.
  char buffer[kMaxDateText + 1];
  std::string_view datePart = s.substr(0, t);
  for (size_t i = 0; i < datePart.size(); ++i) buffer[i] = datePart[i] == '-' ? ' ' : datePart[i];
  std::string_view date(buffer, datePart.size());
  DateFields f;
  size_t pos = 0;
  int count = 0;
  if (ScanInt(date, pos, f.year)) {
    ++count;
    if (ScanInt(date, pos, f.month)) {
      ++count;
      if (ScanInt(date, pos, f.day)) ++count;
    }
  }
  if (count == 1) {
    pos = 0;
    count = 0;
    if (ScanDigits(date, pos, 4, f.year) && ScanDigits(date, pos, 2, f.month) &&
        ScanDigits(date, pos, 2, f.day)) {
      count = 3;
    }
  }
  if (count < 3 || t == std::string_view::npos) return false;

  // The time: cut at the zone, a final "Z" dropped, ":" read as white space.
  std::string_view afterT = s.substr(t + 1);
  std::string_view timePart = afterT.substr(0, afterT.find_first_of("+-"));
  if (!timePart.empty() && timePart.back() == 'Z') timePart.remove_suffix(1);
  for (size_t i = 0; i < timePart.size(); ++i) buffer[i] = timePart[i] == ':' ? ' ' : timePart[i];
  std::string_view time(buffer, timePart.size());
  pos = 0;
  if (!ScanInt(time, pos, f.hour) || !ScanInt(time, pos, f.minute) ||
      !ScanInt(time, pos, f.second)) {
    return false;
  }

  // The zone: from the first "+" after the "T", else from the first "-"; none means UTC.
  size_t zoneStart = afterT.find('+');
  if (zoneStart == std::string_view::npos) zoneStart = afterT.find('-');
  int offsetMinutes = 0;
  if (zoneStart != std::string_view::npos) {
    size_t length = 0;
    for (char c : afterT.substr(zoneStart)) {
      if (c != ':' && c != '+') buffer[length++] = c;
    }
    if (!ReadNumericZone(std::string_view(buffer, length), offsetMinutes)) return false;
  }
  if (!IsValidDate(f)) return false;
  return ToUtc(f, offsetMinutes, out);
}

bool DateParser::FormatRequestDate(const SystemTime& time, StringBuffer& out) {
  return FormatRequestDate(time, TimeZoneBiasMinutes(), out);
}

bool DateParser::FormatRequestDate(const SystemTime& time, int biasMinutes, StringBuffer& out) {
  const int dayOfWeek = time.dayOfWeek > 6 ? 0 : time.dayOfWeek;
  const int month = (time.month == 0 || time.month > 12) ? 1 : time.month;
  // The sign comes from the offset itself, so a zone less than an hour west of UTC is "-00mm".
  const int64_t east = -static_cast<int64_t>(biasMinutes);
  const int64_t magnitude = east < 0 ? -east : east;
  char text[96];
  std::snprintf(text, sizeof text, "%s, %02u %s %u %02u:%02u:%02u %c%02lld%02lld",
                kFormatDayNames[dayOfWeek], unsigned{time.day}, kFormatMonthNames[month - 1],
                unsigned{time.year}, unsigned{time.hour}, unsigned{time.minute},
                unsigned{time.second}, east < 0 ? '-' : '+',
                static_cast<long long>(magnitude / 60), static_cast<long long>(magnitude % 60));
  return out.append(text);
}

bool DateParser::FormatHttpDate(const SystemTime& utc, StringBuffer& out) {
  const int month = (utc.month == 0 || utc.month > 12) ? 1 : utc.month;
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02u %s %04u %02u:%02u:%02u GMT",
                kFormatDayNames[DayOfWeek(utc.year, month, utc.day)], unsigned{utc.day},
                kFormatMonthNames[month - 1], unsigned{utc.year}, unsigned{utc.hour},
                unsigned{utc.minute}, unsigned{utc.second});
  return out.append(text);
}

SystemTime DateParser::DayCountToCalendar(double dayCount) {
  if (!(dayCount > kMinDayCount && dayCount < kMaxDayCount)) return UtcTimeNow();
  // Half a second away from zero, then truncation: rounding to the nearest second. As in the
  // automation date, the fraction of a negative count is a time after that day's midnight.
  const double halfSecond = 1.0 / (2.0 * kSecondsPerDay);
  const double rounded = dayCount < 0 ? dayCount - halfSecond : dayCount + halfSecond;
  const double whole = std::trunc(rounded);
  int64_t seconds = static_cast<int64_t>(std::fabs(rounded - whole) * kSecondsPerDay);
  if (seconds >= kSecondsPerDay) seconds = kSecondsPerDay - 1;
  const int64_t days = static_cast<int64_t>(whole) + kDayCountEpoch;

  SystemTime out;
  int64_t year = 0;
  int month = 0;
  int day = 0;
  CivilFromDays(days, year, month, day);
  out.year = static_cast<uint16_t>(year);
  out.month = static_cast<uint16_t>(month);
  out.day = static_cast<uint16_t>(day);
  out.dayOfWeek = static_cast<uint16_t>(WeekdayOfDays(days));
  out.hour = static_cast<uint16_t>(seconds / 3600);
  out.minute = static_cast<uint16_t>(seconds / 60 % 60);
  out.second = static_cast<uint16_t>(seconds % 60);
  out.milliseconds = 0;
  return out;
}

bool DateParser::CalendarToDayCount(const SystemTime& time, double& dayCount) {
  DateFields f{time.year, time.month, time.day, time.hour, time.minute, time.second};
  if (f.year < kMinDayCountYear || !IsValidDate(f)) return false;
  const int64_t days = DaysFromCivil(f.year, f.month, f.day) - kDayCountEpoch;
  const double fraction =
      static_cast<double>(f.hour * 3600 + f.minute * 60 + f.second) / kSecondsPerDay;
  dayCount =
      days >= 0 ? static_cast<double>(days) + fraction : static_cast<double>(days) - fraction;
  return true;
}

int DateParser::DayOfWeek(int year, int month, int day) {
  const int64_t monthIndex = static_cast<int64_t>(month) - 1;
  const int64_t fullYear = year + FloorDiv(monthIndex, 12);
  const int normalMonth = static_cast<int>(FloorMod(monthIndex, 12)) + 1;
  return WeekdayOfDays(DaysFromCivil(fullYear, normalMonth, 1) + (static_cast<int64_t>(day) - 1));
}

bool DateParser::ModifiedDateText(const char* lastModified, StringBuffer& out) {
  out.clear();
  if (lastModified == nullptr) return false;
  std::string_view s = Bounded(lastModified);
  // "%s %d %s %d": day name, day, month word, year.
  std::string_view dayName;
  std::string_view monthWord;
  int day = 0;
  int year = 0;
  size_t pos = 0;
  if (!ScanWord(s, pos, dayName) || dayName.size() > kMaxModifiedWord ||
      !ScanInt(s, pos, day) || !ScanWord(s, pos, monthWord) ||
      monthWord.size() > kMaxModifiedWord || !ScanInt(s, pos, year)) {
    return false;
  }
  int month = 0;
  for (int i = 0; i < 12 && month == 0; ++i) {
    if (monthWord.size() == 3 && LowerAscii(monthWord[0]) == kMonthNames[i][0] &&
        LowerAscii(monthWord[1]) == kMonthNames[i][1] &&
        LowerAscii(monthWord[2]) == kMonthNames[i][2]) {
      month = i + 1;
    }
  }
  if (month == 0 || year < kMinYear || year > kMaxYear || day < 1 ||
      day > DaysInMonth(year, month)) {
    return false;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%d-%02d-%02d", year, month, day);
  return out.append(text);
}

}  // namespace quillon
