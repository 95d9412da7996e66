// Dates as the rest of the system holds them, RFC 822 date text, zone tables, unit
// conversions and small time measurements.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>

namespace gatemoor {

// Days since 30 December 1899; the fraction is the time of day.
using TDateTime = double;

// Flags that ParseRfc822Date reports; 0x0001 accompanies every irregularity.
namespace date_flags {
inline constexpr std::uint16_t kIrregular = 0x0001;
inline constexpr std::uint16_t kEmpty = 0x0003;
inline constexpr std::uint16_t kNoDayName = 0x0201;
inline constexpr std::uint16_t kUnknownDayName = 0x0081;
inline constexpr std::uint16_t kYearExpanded = 0x2000;
inline constexpr std::uint16_t kBadDate = 0x1001;
inline constexpr std::uint16_t kDayNameMismatch = 0x0101;
inline constexpr std::uint16_t kBadTime = 0x0801;
inline constexpr std::uint16_t kZoneMissing = 0x0021;
inline constexpr std::uint16_t kZoneLetter = 0x0004;
inline constexpr std::uint16_t kZoneNumeric = 0x0008;
inline constexpr std::uint16_t kZoneName = 0x0010;
inline constexpr std::uint16_t kZoneUnrecognised = 0x0041;
}  // namespace date_flags

// Marker for a zone name or letter that is not known (real offsets never reach it).
inline constexpr double kUnknownZoneHours = 13;

struct Rfc822DateParse {
    std::uint16_t flags = 0;
    TDateTime date = 0;     // the clock time as written, not converted to UTC
    double zoneOffset = 0;  // days, east positive
};

// --- clock -------------------------------------------------------------------------
// The local clock as a date value. Tests replace it; an empty function restores it.
[[nodiscard]] TDateTime Now();
void SetClockForTests(std::function<TDateTime()> clock);
[[nodiscard]] TDateTime Today();  // Now() without its time of day

// --- conversions between calendar values and date values ------------------------
// Gregorian calendar, years 1 to 9999; times 0:00:00.000 to 23:59:59.999. False (and
// `out` untouched) for anything else.
[[nodiscard]] bool TryEncodeDate(int year, int month, int day, TDateTime& out);
[[nodiscard]] bool TryEncodeTime(int hour, int minute, int second, int ms, TDateTime& out);
// The whole part is the day, the fraction (whatever the sign) the time of day, rounded
// to the millisecond. Values outside the years 1 to 9999, infinities and NaN decode to
// all zeros, and their DayOfWeek is 0.
void DecodeDate(TDateTime value, int& year, int& month, int& day);
void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& ms);
[[nodiscard]] int DayOfWeek(TDateTime value);  // 1 = Sunday .. 7 = Saturday
// Local calendar time <-> date value, and local date value <-> seconds since 1970 (UTC).
// Out-of-range tm fields carry over (month 13 is January of the next year).
[[nodiscard]] TDateTime DateTimeFromTm(const std::tm& local);
[[nodiscard]] TDateTime LocalDateTimeFromUnix(std::time_t seconds);  // 0 if unreadable
// Milliseconds are dropped; -1 when the value is no date.
[[nodiscard]] std::time_t UnixFromLocalDateTime(TDateTime local);
// Formats with a small picture language, letters in either case: d dd (day), ddd dddd
// (short and long day name), m mm (month, or minutes right after h or hh with only
// non-letters between, so "hh:mm:ss" is a time), mmm mmmm (month names), yy yyyy, h hh,
// n nn, s ss, z zzz (milliseconds); "text" and 'text' are copied without the quotes,
// anything else is copied. English names. Enough for the log and report names.
[[nodiscard]] std::string FormatDateTime(std::string_view picture, TDateTime value);

// --- RFC 822 ------------------------------------------------------------------------
// "ddd, d mmm yyyy hh:mm:ss " then "+" for a positive offset, else "-", then the
// absolute offset as hhmm: offset 0 gives "-0000".
[[nodiscard]] std::string FormatRfc822Date(TDateTime date, double zoneOffset);
[[nodiscard]] double LocalZoneOffset();  // days, daylight saving included
// Reads "[day name,] day month year time zone"; every irregularity is a flag, never an
// exception. A numeric zone is [sign]hhmm. The clock's year decides the century of a
// short year.
[[nodiscard]] Rfc822DateParse ParseRfc822Date(std::string_view text);

[[nodiscard]] double ZoneOffsetFromName(std::string_view name);    // hours, 13 unknown
[[nodiscard]] double MilitaryZoneOffset(std::string_view letter);  // hours, 13 unknown
[[nodiscard]] int DayFromName(std::string_view name);              // "sun".."sat" -> 1..7, else -1
[[nodiscard]] int MonthFromName(std::string_view name);            // "jan".."dec" -> 1..12, else -1

// --- unit conversions ----------------------------------------------------------------
inline constexpr double DaysToMilliseconds(double days) {
    return days * 86400000.0;
}
inline constexpr double DaysToSeconds(double days) {
    return days * 86400.0;
}
inline constexpr double DaysToMinutes(double days) {
    return days * 1440.0;
}
inline constexpr double MillisecondsToDays(double ms) {
    return ms / 86400000.0;
}
inline constexpr double SecondsToDays(double s) {
    return s / 86400.0;
}
inline constexpr double MinutesToDays(double m) {
    return m / 1440.0;
}
inline constexpr double HoursToDays(double h) {
    return h / 24.0;
}
inline constexpr double MinutesToMilliseconds(double m) {
    return m * 60000.0;
}

// Time of day as the integer that logs and sessions store: the value's fractional part
// (negative for negative values) * 2147483647, truncated; 0 for infinities and NaN.
[[nodiscard]] std::int32_t EncodeTimeOfDay(TDateTime value);
[[nodiscard]] TDateTime DecodeTimeOfDay(std::int32_t value);

// Packed 32-bit file date as unsigned decimal text; "0" outside the years 1980 to 2099.
[[nodiscard]] std::string FileDateText(TDateTime value);

// True when stamp has passed; a clock jump of more than intervalMs + 1000 either way
// (for intervals of at least one second), or a stamp that is no number, resets stamp to
// now and answers true.
bool DeadlineReached(TDateTime& stamp, double intervalMs);

// Calling thread's processor time in units of 0.1 ms, low 32 bits.
[[nodiscard]] std::uint32_t ThreadCpuTime();

}  // namespace gatemoor
