// Text, date, path and byte-search helpers shared by all network code, plus
// the small system wrappers (ticks, pause, process number, main thread).
// Texts are 8-bit std::strings; positions are 1-based and 0 means not found.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

// printf-style formatting of the system's templates ("%s", "%d", ...).
std::string Sprintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Integer conversion: optional leading blanks, optional sign, decimal digits,
// or hexadecimal digits after '$'. Anything else, empty text or overflow gives
// `fallback`; StrToInt raises EIdConvertError on the same inputs.
int32_t StrToIntDef(std::string_view text, int32_t fallback);
int64_t StrToInt64Def(std::string_view text, int64_t fallback);
int32_t StrToInt(std::string_view text);

std::string UpperCase(std::string_view text);  // ASCII letters only
std::string LowerCase(std::string_view text);  // ASCII letters only
std::string Trim(std::string_view text);       // drops bytes <= ' ' at both ends
std::string TrimLeft(std::string_view text);
std::string TrimRight(std::string_view text);

// 1-based position of `sub` in `text`, 0 when absent.
size_t Pos(std::string_view sub, std::string_view text);

std::string SplitOff(std::string& text, std::string_view delimiter, bool remove = true,
                     bool caseSensitive = true);
std::string SplitOffNoCase(std::string& text, std::string_view delimiter, bool remove = true);
size_t LastPosNoCase(std::string_view sub, std::string_view text, long start = -1);
int IndexInList(std::string_view text, const std::vector<std::string>& list,
                bool caseSensitive = true);

int DayNameToNumber(std::string_view text);    // 1..7 (Sunday first) or 0
int MonthNameToNumber(std::string_view text);  // 1..12 or 0

// Date-times are days since 1899-12-30 00:00, time of day as the fraction;
// 0 means no date.
// Before 1899-12-30 the value is date - time (the fraction stays the time of
// day). Years 1..9999; EncodeDateTime raises EIdConvertError on an impossible
// date or time, the Try forms return false. Decoding rounds to the
// millisecond; non-finite values decode as 0 and others are clamped to years
// 1..9999.
using TDateTime = double;
TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int ms);
bool TryEncodeDate(int year, int month, int day, TDateTime& out);
bool TryEncodeTime(int hour, int minute, int second, int ms, TDateTime& out);
void DecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& minute,
                    int& second, int& ms);
int DayOfWeek(TDateTime value);  // 1..7, Sunday first
TDateTime NowLocal();            // the local wall-clock time
TDateTime NowUtc();

// Reads the RFC 1123, RFC 850 and asctime date forms; leaves the zone text,
// left-trimmed, in `text`. Never throws: an unreadable date gives 0.
TDateTime ParseInternetDate(std::string& text);
// "+hhmm" / "-hhmm" as a signed day fraction; anything else gives 0.
TDateTime ParseZoneOffset(std::string_view text);
// A parsed date moved from its zone to the local zone; 0 when unreadable.
TDateTime InternetDateToLocal(std::string text);
TDateTime LocalZoneOffset();  // raises EIdFailedToRetreiveTimeZoneInfo
std::string FormatZoneOffset(TDateTime offset, bool gmtAllowed);
std::string FormatInternetDate(TDateTime value, bool gmtAllowed = false);

std::string MergePath(std::string_view basePath, std::string_view path,
                      std::string_view delimiter = "/");
size_t FindInMemory(std::string_view sub, const void* block, size_t size);

uint32_t CurrentTicks();
// new - old modulo 2^32: right across one wrap of the counter.
uint32_t ElapsedTicks(uint32_t oldTicks, uint32_t newTicks);
void PauseFor(uint32_t milliseconds);
uint32_t CurrentProcessNumber();
// True on the thread that ran the library's static initialisation, which is
// the program's main thread (the library is linked statically).
bool IsMainThread();

bool IsDottedQuad(std::string_view text);
bool LooksLikeHostName(std::string_view text);
std::string DomainPart(std::string_view host);

}  // namespace quillon
