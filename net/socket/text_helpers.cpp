// Text, date, path and byte-search helpers shared by all network code, plus
// the small system wrappers (ticks, pause, process number, main thread).
#include "net/socket/text_helpers.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <limits>
#include <thread>

#include "net/socket/exceptions.h"
#include "net/socket/platform.h"

namespace quillon {

namespace {

constexpr int64_t kMsPerDay = 86400000;
// Day number of 1899-12-30 counted from 1970-01-01.
constexpr int64_t kDaysBefore1970 = 25569;
// Range of representable dates: 0001-01-01 .. 9999-12-31 23:59:59.999.
constexpr double kMinDateTime = -693593.99999999;
constexpr double kMaxDateTime = 2958465.99999999;

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}
bool IsControlOrSpace(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}
char AsciiUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  }
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Parses [blanks][sign](digits | '$' hexdigits) into a value whose magnitude
// is at most `limit` (negative values may reach limit + 1). False on any
// other character, empty digits or overflow.
bool ParseInteger(std::string_view text, uint64_t limit, int64_t& out) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  unsigned base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  }
  if (i == text.size()) return false;
  const uint64_t max = negative ? limit + 1 : limit;
  uint64_t value = 0;
  for (; i < text.size(); ++i) {
    const int digit =
        base == 16 ? HexDigit(text[i]) : ((text[i] >= '0' && text[i] <= '9') ? text[i] - '0' : -1);
    if (digit < 0) return false;
    if (value > (max - static_cast<uint64_t>(digit)) / base) return false;
    value = value * base + static_cast<uint64_t>(digit);
  }
  if (negative) {
    // -(limit + 1) is representable: compute it without signed overflow.
    out = value == 0 ? 0 : -static_cast<int64_t>(value - 1) - 1;
  } else {
    out = static_cast<int64_t>(value);
  }
  return true;
}

// Proleptic Gregorian calendar <-> day count from 1970-01-01.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2 ? 1 : 0;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2 ? 1 : 0);
}

bool IsLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
  static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[static_cast<size_t>(month - 1)];
}

// A date part and a time-of-day part joined by the usual convention: before
// 1899-12-30 the value is date - time, so that the fraction is still the time.
TDateTime Combine(TDateTime date, TDateTime time) {
  return date < 0 ? date - time : date + time;
}

// Splits a value into its day number (relative to 1899-12-30) and the
// milliseconds of the day, rounded. Non-finite values count as 0 and values
// outside years 1..9999 are clamped, so that decoding never misbehaves.
void SplitValue(TDateTime value, int64_t& days, int64_t& msOfDay) {
  if (!std::isfinite(value)) value = 0;
  value = std::clamp(value, kMinDateTime, kMaxDateTime);
  const double whole = std::trunc(value);
  days = static_cast<int64_t>(whole);
  msOfDay = std::llround(std::fabs(value - whole) * static_cast<double>(kMsPerDay));
  if (msOfDay >= kMsPerDay) {  // rounded up to midnight: the next calendar day
    msOfDay -= kMsPerDay;
    days += 1;
  }
}

TDateTime FromBrokenDown(const std::tm& tm, long nanoseconds) {
  TDateTime date = 0;
  TDateTime time = 0;
  if (!TryEncodeDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, date)) return 0;
  // A leap second (tm_sec 60) is folded into the last second of the minute.
  TryEncodeTime(tm.tm_hour, tm.tm_min, std::min(tm.tm_sec, 59),
                static_cast<int>(nanoseconds / 1000000), time);
  return Combine(date, time);
}

constexpr std::array<const char*, 7> kDayNames = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::array<const char*, 12> kMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::array<const char*, 7> kDayNamesUpper = {"SUN", "MON", "TUE", "WED",
                                                       "THU", "FRI", "SAT"};
constexpr std::array<const char*, 12> kMonthNamesUpper = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                                          "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

// The thread that ran the library's static initialisation: the program's
// main thread, as the library is linked statically and initialised before
// main() runs.
const std::thread::id gMainThreadId = std::this_thread::get_id();

}  // namespace

std::string Sprintf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string result;
  if (length > 0) {
    result.resize(static_cast<size_t>(length) + 1);
    std::vsnprintf(result.data(), result.size(), format, args);
    result.resize(static_cast<size_t>(length));
  }
  va_end(args);
  return result;
}

int32_t StrToIntDef(std::string_view text, int32_t fallback) {
  int64_t value = 0;
  if (!ParseInteger(text, static_cast<uint64_t>(std::numeric_limits<int32_t>::max()), value)) {
    return fallback;
  }
  return static_cast<int32_t>(value);
}

int64_t StrToInt64Def(std::string_view text, int64_t fallback) {
  int64_t value = 0;
  if (!ParseInteger(text, static_cast<uint64_t>(std::numeric_limits<int64_t>::max()), value)) {
    return fallback;
  }
  return value;
}

int32_t StrToInt(std::string_view text) {
  int64_t value = 0;
  if (!ParseInteger(text, static_cast<uint64_t>(std::numeric_limits<int32_t>::max()), value)) {
    throw EIdConvertError("'" + std::string(text) + "' n'est pas une valeur entière correcte.");
  }
  return static_cast<int32_t>(value);
}

std::string UpperCase(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = AsciiUpper(c);
  return result;
}

std::string LowerCase(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = AsciiLower(c);
  return result;
}

std::string Trim(std::string_view text) {
  return TrimRight(TrimLeft(text));
}

std::string TrimLeft(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsControlOrSpace(text[i])) ++i;
  return std::string(text.substr(i));
}

std::string TrimRight(std::string_view text) {
  size_t n = text.size();
  while (n > 0 && IsControlOrSpace(text[n - 1])) --n;
  return std::string(text.substr(0, n));
}

// The texts handled here are UTF-8 or single-byte: no byte of a multi-byte
// character can be taken for an ASCII delimiter, so a plain byte search is
// exact and no code-page-aware search is needed.
size_t Pos(std::string_view sub, std::string_view text) {
  if (sub.empty()) return 0;
  const size_t at = text.find(sub);
  return at == std::string_view::npos ? 0 : at + 1;
}

std::string SplitOff(std::string& text, std::string_view delimiter, bool remove,
                     bool caseSensitive) {
  if (!caseSensitive) return SplitOffNoCase(text, delimiter, remove);
  const size_t p = Pos(delimiter, text);
  if (p == 0) {
    std::string head = text;
    if (remove) text.clear();
    return head;
  }
  std::string head = text.substr(0, p - 1);
  if (remove) text.erase(0, p - 1 + delimiter.size());
  return head;
}

std::string SplitOffNoCase(std::string& text, std::string_view delimiter, bool remove) {
  // Upper-casing ASCII letters keeps every byte in place, so a position in
  // the upper-cased copy is the same position in the caller's text.
  const size_t p = Pos(UpperCase(delimiter), UpperCase(text));
  if (p == 0) {
    std::string head = text;
    if (remove) text.clear();
    return head;
  }
  std::string head = text.substr(0, p - 1);
  if (remove) text.erase(0, p - 1 + delimiter.size());
  return head;
}

size_t LastPosNoCase(std::string_view sub, std::string_view text, long start) {
  if (sub.empty() || sub.size() > text.size()) return 0;
  const auto textLength = static_cast<long>(text.size());
  if (start == -1) start = textLength;
  long candidate = std::min(start, textLength - static_cast<long>(sub.size()) + 1);
  for (; candidate >= 1; --candidate) {
    if (EqualNoCase(text.substr(static_cast<size_t>(candidate - 1), sub.size()), sub)) {
      return static_cast<size_t>(candidate);
    }
  }
  return 0;
}

int IndexInList(std::string_view text, const std::vector<std::string>& list, bool caseSensitive) {
  for (size_t i = 0; i < list.size(); ++i) {
    if (caseSensitive ? list[i] == text : EqualNoCase(list[i], text)) return static_cast<int>(i);
  }
  return -1;
}

int DayNameToNumber(std::string_view text) {
  const std::string upper = UpperCase(text);
  for (size_t i = 0; i < kDayNamesUpper.size(); ++i) {
    if (upper == kDayNamesUpper[i]) return static_cast<int>(i) + 1;
  }
  return 0;
}

int MonthNameToNumber(std::string_view text) {
  const std::string upper = UpperCase(text);
  for (size_t i = 0; i < kMonthNamesUpper.size(); ++i) {
    if (upper == kMonthNamesUpper[i]) return static_cast<int>(i) + 1;
  }
  return 0;
}

bool TryEncodeDate(int year, int month, int day, TDateTime& out) {
  if (year < 1 || year > 9999 || month < 1 || month > 12) return false;
  if (day < 1 || day > DaysInMonth(year, month)) return false;
  const int64_t days =
      DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
  out = static_cast<TDateTime>(days + kDaysBefore1970);
  return true;
}

bool TryEncodeTime(int hour, int minute, int second, int ms, TDateTime& out) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || ms < 0 ||
      ms > 999) {
    return false;
  }
  const int64_t total = ((int64_t{hour} * 60 + minute) * 60 + second) * 1000 + ms;
  out = static_cast<double>(total) / static_cast<double>(kMsPerDay);
  return true;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int ms) {
  TDateTime date = 0;
  TDateTime time = 0;
  if (!TryEncodeDate(year, month, day, date) || !TryEncodeTime(hour, minute, second, ms, time)) {
    throw EIdConvertError(Sprintf("Date ou heure incorrecte : %04d-%02d-%02d %02d:%02d:%02d.%03d",
                                  year, month, day, hour, minute, second, ms));
  }
  return Combine(date, time);
}

void DecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& minute,
                    int& second, int& ms) {
  int64_t days = 0;
  int64_t msOfDay = 0;
  SplitValue(value, days, msOfDay);
  int64_t y = 0;
  unsigned m = 0;
  unsigned d = 0;
  CivilFromDays(days - kDaysBefore1970, y, m, d);
  year = static_cast<int>(y);
  month = static_cast<int>(m);
  day = static_cast<int>(d);
  hour = static_cast<int>(msOfDay / 3600000);
  minute = static_cast<int>(msOfDay / 60000 % 60);
  second = static_cast<int>(msOfDay / 1000 % 60);
  ms = static_cast<int>(msOfDay % 1000);
}

int DayOfWeek(TDateTime value) {
  int64_t days = 0;
  int64_t msOfDay = 0;
  SplitValue(value, days, msOfDay);
  // Day 0, 1899-12-30, was a Saturday (7).
  return static_cast<int>(((days + 6) % 7 + 7) % 7) + 1;
}

TDateTime NowLocal() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  std::tm local{};
  if (localtime_r(&now.tv_sec, &local) == nullptr) return NowUtc();
  return FromBrokenDown(local, now.tv_nsec);
}

TDateTime NowUtc() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  const double seconds = static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
  return static_cast<double>(kDaysBefore1970) + seconds / 86400.0;
}

TDateTime ParseInternetDate(std::string& text) {
  // Accepts 'Sun, 06 Nov 1994 08:49:37 GMT' (RFC 1123),
  // 'Sunday, 06-Nov-94 08:49:37 GMT' (RFC 850) and 'Sun Nov  6 08:49:37 1994'
  // (asctime). Leaves the zone, left-trimmed, in `text`. Every failure gives 0.
  try {
    text = Trim(text);
    if (text.empty()) return 0;
    if (DayNameToNumber(text.substr(0, 3)) != 0) {
      SplitOff(text, " ");
      text = TrimLeft(text);
    }
    const size_t dash = Pos("-", text);
    const std::string_view delimiter = (dash > 1 && dash < Pos(" ", text)) ? "-" : " ";

    int day = 0;
    int month = 0;
    auto readDay = [&] {
      day = StrToIntDef(SplitOff(text, delimiter), 1);
      text = TrimLeft(text);
    };
    auto readMonth = [&] {
      month = MonthNameToNumber(SplitOff(text, delimiter));
      text = TrimLeft(text);
    };
    std::string next = text;
    if (MonthNameToNumber(SplitOff(next, delimiter, false)) != 0) {
      readMonth();
      readDay();
    } else {
      readDay();
      readMonth();
    }

    std::string token = SplitOff(text, " ");
    int year = StrToIntDef(token, 1900);
    if (year == 1900) {
      // asctime form: the time comes before the year.
      year = StrToIntDef(text, 1900);
      text = token;
    }
    if (year >= 0 && year < 80) {
      year += 2000;
    } else if (year >= 80 && year < 100) {
      year += 1900;
    }

    TDateTime date = 0;
    if (!TryEncodeDate(year, month, day, date)) return 0;

    TDateTime time = 0;
    if (Pos(":", text) != 0) {
      std::string clock = SplitOff(text, " ");
      const int hours = StrToIntDef(SplitOff(clock, ":"), 0);
      const int minutes = StrToIntDef(SplitOff(clock, ":"), 0);
      const int seconds = StrToIntDef(SplitOff(clock, " "), 0);
      if (!TryEncodeTime(hours, minutes, seconds, 0, time)) return 0;
    }
    text = TrimLeft(text);
    return Combine(date, time);
  } catch (...) {
    // Allocation failure is the only thing that can get here; a date that
    // cannot be read is simply no date.
    return 0;
  }
}

TDateTime ParseZoneOffset(std::string_view text) {
  const std::string zone = Trim(text).substr(0, 5);
  if (zone.empty() || (zone[0] != '+' && zone[0] != '-')) return 0;
  const std::string_view view(zone);
  int64_t hours = 0;
  int64_t minutes = 0;
  if (!ParseInteger(view.substr(1, 2), std::numeric_limits<int32_t>::max(), hours) ||
      !ParseInteger(view.substr(std::min<size_t>(3, view.size())),
                    std::numeric_limits<int32_t>::max(), minutes)) {
    return 0;
  }
  TDateTime offset = 0;
  if (!TryEncodeTime(static_cast<int>(hours), static_cast<int>(minutes), 0, 0, offset)) return 0;
  return zone[0] == '-' ? -offset : offset;
}

TDateTime InternetDateToLocal(std::string text) {
  TDateTime value = ParseInternetDate(text);
  // An unreadable date stays "no date" rather than becoming the local offset.
  if (value == 0) return 0;
  const TDateTime offset = text.size() > 4 ? ParseZoneOffset(text) : 0;
  value -= offset;
  return value + LocalZoneOffset();
}

TDateTime LocalZoneOffset() {
  int bias = 0;
  if (!platform::LocalZoneBias(bias)) {
    throw EIdFailedToRetreiveTimeZoneInfo(
        "Echec lors de la tentative de récupération des informations de fuseau horaire.");
  }
  const TDateTime magnitude = static_cast<double>(std::abs(bias)) / 1440.0;
  return bias > 0 ? -magnitude : magnitude;
}

std::string FormatZoneOffset(TDateTime offset, bool gmtAllowed) {
  if (offset == 0 && gmtAllowed) return "GMT";
  const double magnitude = std::isfinite(offset) ? std::fabs(offset) : 0.0;
  // The hours and minutes of the offset's time of day, to the nearest minute.
  const int64_t minutes =
      static_cast<int64_t>(std::llround(std::fmod(magnitude, 1.0) * 1440.0)) % 1440;
  std::string result =
      Sprintf(" %02d%02d", static_cast<int>(minutes / 60), static_cast<int>(minutes % 60));
  result[0] = offset >= 0 ? '+' : '-';
  return result;
}

std::string FormatInternetDate(TDateTime value, bool gmtAllowed) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0;
  DecodeDateTime(value, year, month, day, hour, minute, second, ms);
  const std::string clock = Sprintf("%02d:%02d:%02d", hour, minute, second);
  return Sprintf("%s, %d %s %d %s %s", kDayNames[static_cast<size_t>(DayOfWeek(value) - 1)], day,
                 kMonthNames[static_cast<size_t>(month - 1)], year, clock.c_str(),
                 FormatZoneOffset(LocalZoneOffset(), gmtAllowed).c_str());
}

std::string MergePath(std::string_view basePath, std::string_view path,
                      std::string_view delimiter) {
  if (delimiter.empty()) return std::string(basePath) + std::string(path);
  if (path.substr(0, delimiter.size()) == delimiter) return std::string(path);
  const bool keepTrail = path.empty() || (path.size() >= delimiter.size() &&
                                          path.substr(path.size() - delimiter.size()) == delimiter);

  std::string work(basePath);
  auto endsWithDelimiter = [&](const std::string& s) {
    return s.size() >= delimiter.size() &&
           std::string_view(s).substr(s.size() - delimiter.size()) == delimiter;
  };
  if (!work.empty() && !endsWithDelimiter(work)) work += delimiter;
  work += path;

  const std::string_view all(work);
  std::string result;
  size_t i = 0;
  while (i < all.size()) {
    if (all.substr(i, delimiter.size()) == delimiter) {
      if (i == 0) {
        result = std::string(delimiter);
      } else if (!endsWithDelimiter(result)) {
        result += delimiter;
      }
      i += delimiter.size();
    } else if (all[i] == '.') {
      // ".." goes up one level only when it is a whole segment: "..x" is an
      // ordinary name.
      const bool wholeParent =
          all.substr(i, 2) == ".." &&
          (i + 2 == all.size() || all.substr(i + 2, delimiter.size()) == delimiter);
      if (endsWithDelimiter(result) && wholeParent) {
        // At the root there is no level to go up to: the root stays.
        if (result == delimiter) {
          i += 2;
          continue;
        }
        result.erase(result.size() - delimiter.size());
        const size_t previous = result.rfind(delimiter);
        result.erase(previous == std::string::npos ? 0 : previous + delimiter.size());
        i += 2;
      } else {
        result += '.';
        ++i;
      }
    } else {
      result += all[i];
      ++i;
    }
  }
  if (result != delimiter && endsWithDelimiter(result) && !keepTrail) {
    result.erase(result.size() - delimiter.size());
  }
  return result;
}

size_t FindInMemory(std::string_view sub, const void* block, size_t size) {
  if (sub.empty() || sub.size() > size || block == nullptr) return 0;
  const std::string_view haystack(static_cast<const char*>(block), size);
  const size_t at = haystack.find(sub);
  return at == std::string_view::npos ? 0 : at + 1;
}

uint32_t CurrentTicks() {
  return platform::TickCount();
}

uint32_t ElapsedTicks(uint32_t oldTicks, uint32_t newTicks) {
  // Unsigned subtraction is the difference modulo 2^32, which stays right
  // across one wrap of the counter.
  return newTicks - oldTicks;
}

void PauseFor(uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

uint32_t CurrentProcessNumber() {
  return static_cast<uint32_t>(getpid());
}

bool IsMainThread() {
  return std::this_thread::get_id() == gMainThreadId;
}

bool IsDottedQuad(std::string_view text) {
  std::string rest = Trim(text);
  for (int part = 0; part < 4; ++part) {
    const int32_t value = StrToIntDef(SplitOff(rest, "."), -1);
    if (value < 0 || value > 255) return false;
  }
  return true;
}

bool LooksLikeHostName(std::string_view text) {
  if (Pos(".", text) != 0 && text.front() == '.') return false;
  return !IsDottedQuad(text);
}

std::string DomainPart(std::string_view host) {
  const size_t p = Pos(".", host);
  return p == 0 ? std::string(host) : std::string(host.substr(p - 1));
}

}  // namespace quillon
