// Feeds arbitrary text to the HTTP date readers and arbitrary numbers to the calendar
// conversions; whatever is accepted must be a real date.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/string_buffer.h"
#include "http/date_parser.h"

namespace {

void CheckDate(const quillon::SystemTime& t) {
  if (t.year < 1 || t.year > 9999 || t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 ||
      t.hour > 23 || t.minute > 59 || t.second > 59 ||
      t.dayOfWeek != quillon::DateParser::DayOfWeek(t.year, t.month, t.day)) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using quillon::DateParser;
  const std::string text(reinterpret_cast<const char*>(data), size);
  quillon::SystemTime t;
  if (DateParser::ParseHttpDate(text.c_str(), t)) {
    CheckDate(t);
    double dayCount = 0;
    if (DateParser::CalendarToDayCount(t, dayCount)) {
      CheckDate(DateParser::DayCountToCalendar(dayCount));
    }
    quillon::StringBuffer formatted;
    DateParser::FormatRequestDate(t, 0, formatted);
  }
  if (DateParser::ParseIsoDate(text.c_str(), t)) CheckDate(t);
  quillon::StringBuffer modified;
  if (DateParser::ModifiedDateText(text.c_str(), modified) && modified.length() > 10) std::abort();

  if (size >= 12) {
    double dayCount = 0;
    int fields[3] = {};
    std::memcpy(&dayCount, data, sizeof dayCount);
    std::memcpy(fields, data, sizeof fields);
    CheckDate(DateParser::DayCountToCalendar(dayCount));
    const int w = DateParser::DayOfWeek(fields[0], fields[1], fields[2]);
    if (w < 0 || w > 6) std::abort();
  }
  return 0;
}
