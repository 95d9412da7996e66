#include "foundation/Time.h"

#include <array>
#include <atomic>
#include <cmath>
#include <mutex>
#include <utility>

#include "platform/SystemServices.h"

namespace gatemoor {
namespace {

constexpr std::int64_t kMsPerDay = 86400000;
constexpr std::int64_t kUnixEpochDay = 25569;  // 1 January 1970
constexpr std::int64_t kFirstDay = -693593;    // 1 January 0001
constexpr std::int64_t kLastDay = 2958465;     // 31 December 9999
constexpr double kTimeOfDayScale = 2147483647.0;

constexpr std::array<std::string_view, 7> kShortDayNames = {"Sun", "Mon", "Tue", "Wed",
                                                            "Thu", "Fri", "Sat"};
constexpr std::array<std::string_view, 7> kLongDayNames = {
    "Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
constexpr std::array<std::string_view, 12> kShortMonthNames = {
    "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::array<std::string_view, 12> kLongMonthNames = {
    "January", "February", "March",     "April",   "May",      "June",
    "July",    "August",   "September", "October", "November", "December"};

struct ZoneName {
    std::string_view name;
    double hours;
};

// Searched in order and the first match counts, so the later CST, CDT, SST and FST
// entries are never reached; they stay to keep the table as it has always been.
constexpr ZoneName kZoneNames[] = {
    {"UT", 0},    {"GMT", 0},   {"EST", -5},   {"EDT", -4},   {"CST", -6},    {"CDT", -5},
    {"MST", -7},  {"MDT", -6},  {"PST", -8},   {"PDT", -7},   {"ATL", -4},    {"ALA", -9},
    {"HAW", -10}, {"AEST", 10}, {"AEDT", 11},  {"ACST", 9.5}, {"ACDT", 10.5}, {"AWST", 8},
    {"WET", 0},   {"AST", -4},  {"CST", -5},   {"CDT", -5},   {"UTC", 0},     {"BST", -3},
    {"GST", -3},  {"AKDT", -8}, {"ADT", -3},   {"HDT", -9},   {"HST", -10},   {"SST", -11},
    {"IST", 1},   {"WEST", 1},  {"CET", 1},    {"CEST", 2},   {"EET", 2},     {"EEST", 3},
    {"MSK", 3},   {"MSD", 4},   {"NST", -3.5}, {"NDT", -2.5}, {"WST", -4},    {"WDT", -3},
    {"AKS", -9},  {"AKD", -8},  {"FST", -2},   {"FDT", -1},   {"YST", -9},    {"YDT", -8},
    {"NZS", 12},  {"NZD", -1},  {"EAS", 10},   {"EAD", 11},   {"CAS", 9.5},   {"CAD", 10.5},
    {"JST", 9},   {"KST", 9},   {"KDT", 10},   {"CCT", 8},    {"HKT", 8},     {"WAS", 8},
    {"WAD", 9},   {"JT", 7.5},  {"MEZ", 1},    {"MES", 2},    {"SWT", 1},     {"SST", 2},
    {"FWT", 1},   {"FST", 2},   {"WAT", 1},
};

// --- calendar arithmetic (proleptic Gregorian) ------------------------------------------

bool IsLeapYear(int year) {
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month) {
    static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[static_cast<std::size_t>(month - 1)];
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// Days since 1 January 1970 of a calendar date; month may be any value (it carries
// into the year), the day may run past the month's end.
std::int64_t DaysFromCivil(std::int64_t year, std::int64_t month, std::int64_t day) {
    const std::int64_t carry = FloorDiv(month - 1, 12);
    year += carry;
    month -= carry * 12;
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = FloorDiv(year, 400);
    const std::int64_t yoe = year - era * 400;
    const std::int64_t mp = (month + 9) % 12;
    const std::int64_t doy = (153 * mp + 2) / 5;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468 + (day - 1);
}

void CivilFromDays(std::int64_t days, int& year, int& month, int& day) {
    days += 719468;
    const std::int64_t era = FloorDiv(days, 146097);
    const std::int64_t doe = days - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

struct SplitValue {
    std::int64_t day = 0;  // date value of the calendar day
    std::int64_t msOfDay = 0;
};

// A date value as calendar day and milliseconds of that day. The whole part counts days
// and the fraction, whatever the sign, is the time of day. Rounding to the millisecond
// may carry into the next day, so that 23:59:59.9999 reads as midnight, never as 24:00.
bool SplitDateTime(TDateTime value, SplitValue& out) {
    if (!std::isfinite(value)) return false;
    double whole = 0;
    const double fraction = std::fabs(std::modf(value, &whole));
    if (whole < static_cast<double>(kFirstDay) || whole > static_cast<double>(kLastDay))
        return false;
    out.day = static_cast<std::int64_t>(whole);
    out.msOfDay = std::llround(fraction * static_cast<double>(kMsPerDay));
    if (out.msOfDay >= kMsPerDay) {
        out.msOfDay -= kMsPerDay;
        ++out.day;
    }
    return out.day <= kLastDay;
}

struct Fields {
    bool valid = false;
    int year = 0, month = 0, day = 0, dayOfWeek = 0;
    int hour = 0, minute = 0, second = 0, ms = 0;
};

Fields FieldsOf(TDateTime value) {
    Fields f;
    SplitValue split;
    if (!SplitDateTime(value, split)) return f;
    f.valid = true;
    CivilFromDays(split.day - kUnixEpochDay, f.year, f.month, f.day);
    // Day 0, 30 December 1899, was a Saturday.
    f.dayOfWeek = static_cast<int>((split.day % 7 + 13) % 7) + 1;
    f.hour = static_cast<int>(split.msOfDay / 3600000);
    f.minute = static_cast<int>(split.msOfDay / 60000 % 60);
    f.second = static_cast<int>(split.msOfDay / 1000 % 60);
    f.ms = static_cast<int>(split.msOfDay % 1000);
    return f;
}

// --- the clock ----------------------------------------------------------------------------

std::mutex gClockMutex;
std::function<TDateTime()> gClock;
std::atomic<bool> gClockReplaced{false};

TDateTime SystemNow() {
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    std::tm local{};
    if (!::localtime_r(&ts.tv_sec, &local)) return 0;
    return DateTimeFromTm(local) + MillisecondsToDays(static_cast<double>(ts.tv_nsec / 1000000));
}

// --- text helpers ---------------------------------------------------------------------------

bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

// Removes blanks and control characters (NUL included) from both ends.
std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool IsAllDigits(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text)
        if (!IsDigit(c)) return false;
    return true;
}

// Decimal digits only, at most `limit`; longer numbers are refused before they overflow.
bool ParseBounded(std::string_view text, int limit, int& out) {
    if (!IsAllDigits(text)) return false;
    std::int64_t value = 0;
    for (char c : text) {
        value = value * 10 + (c - '0');
        if (value > limit) return false;
    }
    out = static_cast<int>(value);
    return true;
}

// The word up to the first space, trimmed; `rest` keeps what follows it, trimmed.
std::string_view TakeWord(std::string_view& rest) {
    const std::size_t space = rest.find(' ');
    std::string_view word = rest.substr(0, space);
    rest = space == std::string_view::npos ? std::string_view() : Trim(rest.substr(space + 1));
    return Trim(word);
}

// One pass, left to right: the joined text is not searched again.
std::string DropBlankAfterColons(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        out += text[i];
        if (text[i] == ':' && i + 1 < text.size() && text[i + 1] == ' ') ++i;
    }
    return out;
}

std::string TwoDigits(int value) {
    std::string text = std::to_string(value);
    return text.size() < 2 ? "0" + text : text;
}

std::string Padded(int value, std::size_t width) {
    std::string text = std::to_string(value);
    if (text.size() < width) text.insert(0, width - text.size(), '0');
    return text;
}

// --- the date parse steps ---------------------------------------------------------------------

// Two-digit and shorter years: a text greater than this year's last two digits belongs
// to the last century.
std::string ExpandedYear(std::string_view year) {
    int thisYear = 0, month = 0, day = 0;
    DecodeDate(Now(), thisYear, month, day);
    const std::string century = std::string(year) > TwoDigits(thisYear % 100) ? "19" : "20";
    return century + std::string(year);
}

bool TryDatePart(int month, std::string_view dayText, std::string_view yearText, TDateTime& out) {
    int day = 0, year = 0;
    return ParseBounded(dayText, 31, day) && ParseBounded(yearText, 9999, year) &&
           TryEncodeDate(year, month, day, out);
}

// h:m or h:m:s, each part one or more digits (leading zeros allowed).
bool TryTimePart(std::string_view text, TDateTime& out) {
    std::array<int, 3> parts = {0, 0, 0};
    std::size_t count = 0;
    while (count < parts.size()) {
        const std::size_t colon = text.find(':');
        if (!ParseBounded(text.substr(0, colon), 59, parts[count])) return false;
        ++count;
        if (colon == std::string_view::npos) break;
        text.remove_prefix(colon + 1);
        if (count == parts.size()) return false;  // a fourth part
    }
    return count >= 2 && TryEncodeTime(parts[0], parts[1], parts[2], 0, out);
}

bool IsSignedNumber(std::string_view text) {
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) text.remove_prefix(1);
    return IsAllDigits(text);
}

// Numeric zones are [sign]hhmm. The digits are read after the sign; an unsigned zone
// starts with its hours (reading from the second character would turn 0100 into ten
// hours).
void ReadNumericZone(std::string_view zone, Rfc822DateParse& result) {
    const bool negative = zone.find('-') != std::string_view::npos;
    std::string_view digits = zone;
    if (digits.front() == '+' || digits.front() == '-') digits.remove_prefix(1);
    int hours = 0, minutes = 0;
    if (digits.size() < 4 || !ParseBounded(digits.substr(0, 2), 99, hours) ||
        !ParseBounded(digits.substr(2, 2), 99, minutes)) {
        result.flags |= date_flags::kZoneUnrecognised;
        return;
    }
    const double offset = HoursToDays(hours) + MinutesToDays(minutes);
    result.zoneOffset = negative && offset != 0 ? -offset : offset;
}

void ReadZone(std::string_view zone, Rfc822DateParse& result) {
    if (zone.empty()) {
        result.flags |= date_flags::kZoneMissing;
    } else if (zone.size() == 1) {
        result.flags |= date_flags::kZoneLetter;
        const double hours = MilitaryZoneOffset(zone);
        if (hours == kUnknownZoneHours)
            result.flags |= date_flags::kZoneUnrecognised;
        else
            result.zoneOffset = HoursToDays(hours);
    } else if (IsSignedNumber(zone)) {
        result.flags |= date_flags::kZoneNumeric;
        ReadNumericZone(zone, result);
    } else {
        result.flags |= date_flags::kZoneName;
        const double hours = ZoneOffsetFromName(zone);
        if (hours >= kUnknownZoneHours)
            result.flags |= date_flags::kZoneUnrecognised;
        else
            result.zoneOffset = HoursToDays(hours);
    }
}

// --- the picture formatter -------------------------------------------------------------------

std::size_t RunLength(std::string_view picture, std::size_t pos, std::size_t most) {
    const char c = LowerAscii(picture[pos]);
    std::size_t n = 1;
    while (n < most && pos + n < picture.size() && LowerAscii(picture[pos + n]) == c)
        ++n;
    return n;
}

std::string_view NameOf(const auto& table, int number) {
    if (number < 1 || number > static_cast<int>(table.size())) return {};
    return table[static_cast<std::size_t>(number - 1)];
}

}  // namespace

// --- clock -------------------------------------------------------------------------------------

TDateTime Now() {
    if (gClockReplaced.load(std::memory_order_acquire)) {
        std::function<TDateTime()> clock;
        {
            std::lock_guard lock(gClockMutex);
            clock = gClock;
        }
        if (clock) return clock();
    }
    return SystemNow();
}

void SetClockForTests(std::function<TDateTime()> clock) {
    std::lock_guard lock(gClockMutex);
    gClockReplaced.store(static_cast<bool>(clock), std::memory_order_release);
    gClock = std::move(clock);
}

TDateTime Today() {
    return std::trunc(Now());
}

// --- conversions ---------------------------------------------------------------------------------

bool TryEncodeDate(int year, int month, int day, TDateTime& out) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month))
        return false;
    out = static_cast<TDateTime>(DaysFromCivil(year, month, day) + kUnixEpochDay);
    return true;
}

bool TryEncodeTime(int hour, int minute, int second, int ms, TDateTime& out) {
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || ms < 0 ||
        ms > 999)
        return false;
    const std::int64_t total = ((hour * 60LL + minute) * 60 + second) * 1000 + ms;
    out = static_cast<double>(total) / static_cast<double>(kMsPerDay);
    return true;
}

void DecodeDate(TDateTime value, int& year, int& month, int& day) {
    const Fields f = FieldsOf(value);
    year = f.year;
    month = f.month;
    day = f.day;
}

void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& ms) {
    const Fields f = FieldsOf(value);
    hour = f.hour;
    minute = f.minute;
    second = f.second;
    ms = f.ms;
}

int DayOfWeek(TDateTime value) {
    return FieldsOf(value).dayOfWeek;
}

TDateTime DateTimeFromTm(const std::tm& local) {
    const std::int64_t days =
        DaysFromCivil(local.tm_year + 1900LL, local.tm_mon + 1LL, local.tm_mday) + kUnixEpochDay;
    // A leap second is shown as the last second of its minute.
    const int second = local.tm_sec > 59 ? 59 : local.tm_sec;
    const std::int64_t seconds = (local.tm_hour * 60LL + local.tm_min) * 60 + second;
    return static_cast<double>(days) + SecondsToDays(static_cast<double>(seconds));
}

TDateTime LocalDateTimeFromUnix(std::time_t seconds) {
    std::tm local{};
    if (!::localtime_r(&seconds, &local)) return 0;
    return DateTimeFromTm(local);
}

std::time_t UnixFromLocalDateTime(TDateTime local) {
    const Fields f = FieldsOf(local);
    if (!f.valid) return -1;
    std::tm tm{};
    tm.tm_year = f.year - 1900;
    tm.tm_mon = f.month - 1;
    tm.tm_mday = f.day;
    tm.tm_hour = f.hour;
    tm.tm_min = f.minute;
    tm.tm_sec = f.second;
    tm.tm_isdst = -1;  // let the zone rules decide whether daylight saving applies
    return std::mktime(&tm);
}

std::string FormatDateTime(std::string_view picture, TDateTime value) {
    const Fields f = FieldsOf(value);
    std::string out;
    bool afterHour = false;  // m or mm right after h or hh means minutes
    std::size_t pos = 0;
    while (pos < picture.size()) {
        const char c = picture[pos];
        const char token = LowerAscii(c);
        if (c == '"' || c == '\'') {
            const std::size_t close = picture.find(c, pos + 1);
            const std::size_t end = close == std::string_view::npos ? picture.size() : close;
            out.append(picture.substr(pos + 1, end - pos - 1));
            pos = end == picture.size() ? end : end + 1;
            continue;
        }
        std::size_t n = 1;
        switch (token) {
            case 'd':
                n = RunLength(picture, pos, 4);
                if (n <= 2)
                    out += n == 1 ? std::to_string(f.day) : TwoDigits(f.day);
                else
                    out += NameOf(n == 3 ? kShortDayNames : kLongDayNames, f.dayOfWeek);
                break;
            case 'm':
                n = RunLength(picture, pos, 4);
                if (n <= 2 && afterHour)
                    out += n == 1 ? std::to_string(f.minute) : TwoDigits(f.minute);
                else if (n <= 2)
                    out += n == 1 ? std::to_string(f.month) : TwoDigits(f.month);
                else
                    out += NameOf(n == 3 ? kShortMonthNames : kLongMonthNames, f.month);
                break;
            case 'y':
                n = RunLength(picture, pos, 4);
                out += n <= 2 ? TwoDigits(f.year % 100) : Padded(f.year, 4);
                break;
            case 'h':
                n = RunLength(picture, pos, 2);
                out += n == 1 ? std::to_string(f.hour) : TwoDigits(f.hour);
                break;
            case 'n':
                n = RunLength(picture, pos, 2);
                out += n == 1 ? std::to_string(f.minute) : TwoDigits(f.minute);
                break;
            case 's':
                n = RunLength(picture, pos, 2);
                out += n == 1 ? std::to_string(f.second) : TwoDigits(f.second);
                break;
            case 'z':
                n = RunLength(picture, pos, 3);
                out += n < 3 ? std::to_string(f.ms) : Padded(f.ms, 3);
                break;
            default:
                out += c;
                break;
        }
        if (token >= 'a' && token <= 'z') afterHour = token == 'h';
        pos += n;
    }
    return out;
}

// --- RFC 822
// --------------------------------------------------------------------------------------

std::string FormatRfc822Date(TDateTime date, double zoneOffset) {
    std::string text = FormatDateTime("ddd, d mmm yyyy hh:mm:ss ", date);
    text += zoneOffset > 0 ? '+' : '-';
    text += FormatDateTime("hhmm", std::fabs(zoneOffset));
    return text;
}

double LocalZoneOffset() {
    return MinutesToDays(platform::LocalZoneOffsetMinutes());
}

Rfc822DateParse ParseRfc822Date(std::string_view text) {
    Rfc822DateParse result;
    std::string_view rest = Trim(text);
    if (rest.empty()) {
        result.flags = date_flags::kEmpty;
        return result;
    }

    std::string_view dayName = TakeWord(rest);
    std::string_view dayText;
    if (IsAllDigits(dayName)) {
        result.flags = date_flags::kNoDayName;
        dayText = dayName;
        dayName = {};
    } else {
        dayText = TakeWord(rest);
    }
    const std::string_view monthText = TakeWord(rest);
    const std::string_view yearText = TakeWord(rest);
    const std::string timeAndZone = DropBlankAfterColons(rest);
    std::string_view tail = timeAndZone;
    const std::string_view timeText = TakeWord(tail);
    const std::string_view zoneText = TakeWord(tail);

    // The name was written with its comma, which goes whatever it is.
    if (!dayName.empty()) dayName = Trim(dayName.substr(0, dayName.size() - 1));
    if (!dayName.empty() && DayFromName(dayName) == -1) result.flags |= date_flags::kUnknownDayName;

    std::string year(yearText);
    if (IsAllDigits(yearText) && yearText.size() < 4) {
        result.flags |= date_flags::kYearExpanded;
        year = ExpandedYear(yearText);
    }

    TDateTime date = 0;
    const bool dateValid = TryDatePart(MonthFromName(monthText), dayText, year, date);
    if (!dateValid) result.flags |= date_flags::kBadDate;
    // Without a valid date there is no day of the week to compare the name with.
    if (dateValid && !dayName.empty() && DayFromName(dayName) != DayOfWeek(date))
        result.flags |= date_flags::kDayNameMismatch;

    TDateTime time = 0;
    if (TryTimePart(timeText, time))
        date += time;
    else
        result.flags |= date_flags::kBadTime;
    result.date = date;

    ReadZone(zoneText, result);
    return result;
}

double ZoneOffsetFromName(std::string_view name) {
    for (const ZoneName& zone : kZoneNames)
        if (EqualsIgnoreCase(zone.name, name)) return zone.hours;
    return kUnknownZoneHours;
}

double MilitaryZoneOffset(std::string_view letter) {
    if (letter.size() != 1) return kUnknownZoneHours;
    const char c = LowerAscii(letter.front());
    if (c >= 'a' && c <= 'i') return -(c - 'a' + 1);
    if (c >= 'k' && c <= 'm') return -(c - 'k' + 10);
    if (c >= 'n' && c <= 'y') return c - 'n' + 1;
    if (c == 'z') return 0;
    return kUnknownZoneHours;
}

int DayFromName(std::string_view name) {
    for (std::size_t i = 0; i < kShortDayNames.size(); ++i)
        if (EqualsIgnoreCase(kShortDayNames[i], name)) return static_cast<int>(i) + 1;
    return -1;
}

int MonthFromName(std::string_view name) {
    for (std::size_t i = 0; i < kShortMonthNames.size(); ++i)
        if (EqualsIgnoreCase(kShortMonthNames[i], name)) return static_cast<int>(i) + 1;
    return -1;
}

// --- unit conversions and measurements
// ------------------------------------------------------------

std::int32_t EncodeTimeOfDay(TDateTime value) {
    if (!std::isfinite(value)) return 0;
    double whole = 0;
    return static_cast<std::int32_t>(std::modf(value, &whole) * kTimeOfDayScale);
}

TDateTime DecodeTimeOfDay(std::int32_t value) {
    return value == 0 ? 0 : static_cast<double>(value) / kTimeOfDayScale;
}

std::string FileDateText(TDateTime value) {
    const Fields f = FieldsOf(value);
    if (f.year < 1980 || f.year > 2099) return "0";
    // Unsigned: from 2044 on the year reaches the top bit.
    const std::uint32_t packed =
        static_cast<std::uint32_t>(f.second / 2) | static_cast<std::uint32_t>(f.minute) << 5 |
        static_cast<std::uint32_t>(f.hour) << 11 | static_cast<std::uint32_t>(f.day) << 16 |
        static_cast<std::uint32_t>(f.month) << 21 | static_cast<std::uint32_t>(f.year - 1980) << 25;
    return std::to_string(packed);
}

bool DeadlineReached(TDateTime& stamp, double intervalMs) {
    const TDateTime now = Now();
    const double remaining = DaysToMilliseconds(stamp - now);
    // A stamp that is no number at all would never pass.
    const bool unreadable = !std::isfinite(remaining);
    const bool jumped = intervalMs >= 1000 && std::fabs(remaining) > intervalMs + 1000;
    if (unreadable || jumped) {
        stamp = now;
        return true;
    }
    return remaining < 0;
}

std::uint32_t ThreadCpuTime() {
    return static_cast<std::uint32_t>(platform::ThreadCpuTime100ns() / 1000u);
}

}  // namespace gatemoor
