#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "foundation/Time.h"

namespace gatemoor {
namespace {

constexpr double kHour = 1.0 / 24;
constexpr double kMinute = 1.0 / 1440;

TDateTime At(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
             int ms = 0) {
    TDateTime date = 0, time = 0;
    EXPECT_TRUE(TryEncodeDate(year, month, day, date));
    EXPECT_TRUE(TryEncodeTime(hour, minute, second, ms, time));
    return date + time;
}

// Puts the clock at a fixed moment for the test and gives the real clock back after.
class FixedClock : public ::testing::Test {
protected:
    void SetUp() override { SetNow(At(2025, 6, 15, 12)); }
    void TearDown() override { SetClockForTests({}); }
    void SetNow(TDateTime now) {
        now_ = now;
        SetClockForTests([this] { return now_; });
    }
    TDateTime now_ = 0;
};

// --- calendar conversions ----------------------------------------------------------------

TEST(TimeCalendar, EncodeDateFollowsTheGregorianCalendar) {
    struct Case {
        const char* name;
        int year, month, day;
        std::optional<double> value;
    } cases[] = {
        {"the zero date", 1899, 12, 30, 0},
        {"first of 1900", 1900, 1, 1, 2},
        {"5 March 2002", 2002, 3, 5, 37320},
        {"first year", 1, 1, 1, -693593},
        {"last day", 9999, 12, 31, 2958465},
        {"29 Feb in a leap year", 2004, 2, 29, 38046},
        {"29 Feb 2000 (divisible by 400)", 2000, 2, 29, 36585},
        {"29 Feb 1900 (century)", 1900, 2, 29, std::nullopt},
        {"29 Feb 2003", 2003, 2, 29, std::nullopt},
        {"31 April", 2002, 4, 31, std::nullopt},
        {"day 0", 2002, 3, 0, std::nullopt},
        {"month 13", 2002, 13, 1, std::nullopt},
        {"year 0", 0, 1, 1, std::nullopt},
        {"year 10000", 10000, 1, 1, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TDateTime out = -12345;
        ASSERT_EQ(TryEncodeDate(c.year, c.month, c.day, out), c.value.has_value());
        EXPECT_EQ(out, c.value.value_or(-12345));
    }
}

TEST(TimeCalendar, EncodeTimeChecksEveryField) {
    TDateTime out = 0;
    EXPECT_TRUE(TryEncodeTime(23, 59, 59, 999, out));
    EXPECT_DOUBLE_EQ(out, 86399999.0 / 86400000.0);
    EXPECT_TRUE(TryEncodeTime(12, 0, 0, 0, out));
    EXPECT_EQ(out, 0.5);
    const std::array<int, 4> invalid[] = {
        {24, 0, 0, 0}, {0, 60, 0, 0}, {0, 0, 60, 0}, {0, 0, 0, 1000}, {-1, 0, 0, 0}};
    for (auto [h, m, s, ms] : invalid) {
        SCOPED_TRACE(testing::Message() << h << ":" << m << ":" << s << "." << ms);
        EXPECT_FALSE(TryEncodeTime(h, m, s, ms, out));
    }
}

TEST(TimeCalendar, DecodeIsTheInverseOfEncodeOverTwoCenturies) {
    for (int day = -1000; day <= 75000; ++day) {
        int y = 0, m = 0, d = 0;
        DecodeDate(day, y, m, d);
        TDateTime back = 0;
        ASSERT_TRUE(TryEncodeDate(y, m, d, back)) << day;
        ASSERT_EQ(back, day);
    }
}

TEST(TimeCalendar, DayOfWeekCountsFromSunday) {
    EXPECT_EQ(DayOfWeek(0), 7);                   // 30 Dec 1899, a Saturday
    EXPECT_EQ(DayOfWeek(-1), 6);                  // the Friday before
    EXPECT_EQ(DayOfWeek(At(2002, 3, 5, 23)), 3);  // Tuesday, late in the day
    EXPECT_EQ(DayOfWeek(At(2004, 2, 29)), 1);     // Sunday
    EXPECT_EQ(DayOfWeek(std::nan("")), 0);
}

TEST(TimeCalendar, DecodeRoundsToTheMillisecondAndCarriesIntoTheNextDay) {
    int y, mo, d, h, mi, s, ms;
    const TDateTime almostMidnight = At(2002, 3, 5) + 86399999.6 / 86400000.0;
    DecodeDate(almostMidnight, y, mo, d);
    DecodeTime(almostMidnight, h, mi, s, ms);
    EXPECT_EQ((std::array{y, mo, d, h, mi, s, ms}), (std::array{2002, 3, 6, 0, 0, 0, 0}));

    // Before the zero date the fraction still counts forward from midnight.
    DecodeDate(-1.25, y, mo, d);
    DecodeTime(-1.25, h, mi, s, ms);
    EXPECT_EQ((std::array{y, mo, d, h, mi, s, ms}), (std::array{1899, 12, 29, 6, 0, 0, 0}));
}

TEST(TimeCalendar, ValuesThatAreNoDateDecodeToZeros) {
    for (double value : {std::nan(""), HUGE_VAL, -HUGE_VAL, 1e300, 2958466.0, -693594.0}) {
        SCOPED_TRACE(value);
        int y = 1, m = 1, d = 1, h = 1, mi = 1, s = 1, ms = 1;
        DecodeDate(value, y, m, d);
        DecodeTime(value, h, mi, s, ms);
        EXPECT_EQ((std::array{y, m, d, h, mi, s, ms}), (std::array{0, 0, 0, 0, 0, 0, 0}));
        EXPECT_EQ(UnixFromLocalDateTime(value), -1);
    }
}

TEST(TimeCalendar, TmFieldsCarryOver) {
    std::tm tm{};
    tm.tm_year = 2002 - 1900;
    tm.tm_mon = 12;  // January of the next year
    tm.tm_mday = 32;
    tm.tm_hour = 6;
    EXPECT_EQ(DateTimeFromTm(tm), At(2003, 2, 1, 6));
}

// The zone is set for the whole test program; nothing else here reads local time
// without restoring it.
class TimeInZone : public ::testing::Test {
protected:
    void Use(const char* zone) {
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    void SetUp() override {
        if (const char* tz = std::getenv("TZ")) saved_ = tz;
    }
    void TearDown() override {
        if (saved_)
            ::setenv("TZ", saved_->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }
    std::optional<std::string> saved_;
};

TEST_F(TimeInZone, LocalConversionsFollowTheZone) {
    Use("XST-2");  // two hours east of Greenwich
    EXPECT_DOUBLE_EQ(LocalZoneOffset(), 2 * kHour);
    EXPECT_DOUBLE_EQ(LocalDateTimeFromUnix(0), 25569 + 2 * kHour);
    EXPECT_EQ(UnixFromLocalDateTime(25569 + 2 * kHour), 0);
    const std::time_t moment = 1015323072;  // 5 Mar 2002 10:11:12 UTC
    EXPECT_DOUBLE_EQ(LocalDateTimeFromUnix(moment), At(2002, 3, 5, 12, 11, 12));
    EXPECT_EQ(UnixFromLocalDateTime(At(2002, 3, 5, 12, 11, 12, 900)), moment);

    Use("EST5EDT,M3.2.0,M11.1.0");
    EXPECT_DOUBLE_EQ(LocalDateTimeFromUnix(moment), At(2002, 3, 5, 5, 11, 12));
    EXPECT_DOUBLE_EQ(LocalDateTimeFromUnix(moment + 120 * 86400),
                     At(2002, 7, 3, 6, 11, 12));  // daylight saving
}

// --- clock ------------------------------------------------------------------------------------

TEST(TimeClock, TestClockReplacesNowAndAnEmptyOneRestoresIt) {
    SetClockForTests([] { return At(2004, 3, 5, 18, 30); });
    EXPECT_EQ(Now(), At(2004, 3, 5, 18, 30));
    EXPECT_EQ(Today(), At(2004, 3, 5));
    SetClockForTests({});
    const TDateTime system = LocalDateTimeFromUnix(std::time(nullptr));
    EXPECT_NEAR(DaysToSeconds(Now() - system), 0, 2);
}

// --- picture formatting -----------------------------------------------------------------------

TEST(TimeFormat, Pictures) {
    const TDateTime value = At(2004, 3, 15, 14, 5, 9, 7);
    struct Case {
        const char* name;
        const char* picture;
        const char* text;
    } cases[] = {
        {"log file date", "dd mmm yyyy", "15 Mar 2004"},
        {"generated message id", ".yyyy.mm.dd.hh.nn.ss", ".2004.03.15.14.05.09"},
        {"m after h is minutes", "hh-mm-ss", "14-05-09"},
        {"mmm after h is the month", "h mmm", "14 Mar"},
        {"short forms", "d/m/yy h:n:s", "15/3/04 14:5:9"},
        {"long names", "dddd d mmmm", "Monday 15 March"},
        {"milliseconds", "zzz z", "007 7"},
        {"upper case", "DD MMM YYYY", "15 Mar 2004"},
        {"quoted text", "'day' d \"at\" hh", "day 15 at 14"},
        {"unclosed quote", "d 'mm", "15 mm"},
        {"other characters", "[d] #", "[15] #"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FormatDateTime(c.picture, value), c.text);
    }
    EXPECT_EQ(FormatDateTime("dd mmm yyyy", 0), "30 Dec 1899");
    EXPECT_EQ(FormatDateTime("dd mmm yyyy", At(2004, 3, 5)), "05 Mar 2004");
}

// --- RFC 822 formatting -----------------------------------------------------------------------

TEST(TimeRfc822, FormatWritesTheSignAndTheOffset) {
    const TDateTime date = At(2002, 3, 5, 10, 11, 12);
    struct Case {
        const char* name;
        double offset;
        const char* text;
    } cases[] = {
        {"west", -5 * kHour, "Tue, 5 Mar 2002 10:11:12 -0500"},
        {"zero is written with a minus", 0, "Tue, 5 Mar 2002 10:11:12 -0000"},
        {"east", kHour, "Tue, 5 Mar 2002 10:11:12 +0100"},
        {"half hour east", 5.5 * kHour, "Tue, 5 Mar 2002 10:11:12 +0530"},
        {"half hour west", -3.5 * kHour, "Tue, 5 Mar 2002 10:11:12 -0330"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FormatRfc822Date(date, c.offset), c.text);
    }
    EXPECT_EQ(FormatRfc822Date(At(2004, 12, 25, 0, 0, 1), 0), "Sat, 25 Dec 2004 00:00:01 -0000");
}

TEST(TimeRfc822, ParseReadsWhatFormatWrites) {
    const TDateTime dates[] = {At(2002, 3, 5, 10, 11, 12), At(1999, 12, 31, 23, 59, 59),
                               At(2024, 2, 29), At(2100, 1, 1, 7, 0, 30)};
    const double offsets[] = {kHour, -5 * kHour, 9.5 * kHour, -(3 * kHour + 30 * kMinute)};
    for (TDateTime date : dates) {
        for (double offset : offsets) {
            const std::string text = FormatRfc822Date(date, offset);
            SCOPED_TRACE(text);
            const Rfc822DateParse parsed = ParseRfc822Date(text);
            EXPECT_EQ(parsed.flags, date_flags::kZoneNumeric);
            EXPECT_NEAR(DaysToMilliseconds(parsed.date - date), 0, 0.5);
            EXPECT_NEAR(DaysToMinutes(parsed.zoneOffset - offset), 0, 1e-6);
        }
    }
}

// --- RFC 822 parsing --------------------------------------------------------------------------

struct ParseCase {
    const char* name;
    std::string text;
    std::uint16_t flags;
    std::optional<TDateTime> date = std::nullopt;
    double offset = 0;
};

void Check(const ParseCase& c) {
    SCOPED_TRACE(c.name);
    const Rfc822DateParse parsed = ParseRfc822Date(c.text);
    EXPECT_EQ(parsed.flags, c.flags) << std::hex << parsed.flags;
    if (c.date) {
        EXPECT_NEAR(DaysToMilliseconds(parsed.date - *c.date), 0, 0.5);
    }
    EXPECT_NEAR(DaysToMinutes(parsed.zoneOffset - c.offset), 0, 1e-6);
    EXPECT_TRUE(std::isfinite(parsed.date));
}

using TimeRfc822Parse = FixedClock;  // the clock's year 2025 decides short years

TEST_F(TimeRfc822Parse, WellFormedAndCommonDates) {
    const TDateTime march5 = At(2002, 3, 5, 10, 11, 12);
    const ParseCase cases[] = {
        {"numeric zone", "Tue, 5 Mar 2002 10:11:12 +0100", 0x0008, march5, kHour},
        {"negative zone", "Tue, 5 Mar 2002 10:11:12 -0500", 0x0008, march5, -5 * kHour},
        {"minus zero", "Tue, 5 Mar 2002 10:11:12 -0000", 0x0008, march5, 0},
        {"half hours", "Tue, 5 Mar 2002 10:11:12 -0330", 0x0008, march5, -3.5 * kHour},
        {"unsigned zone starts with its hours", "Tue, 5 Mar 2002 10:11:12 0100", 0x0008, march5,
         kHour},
        {"no day name", "5 Mar 2002 10:11:12 GMT", 0x0211, march5, 0},
        {"zone name ignores case", "Tue, 5 Mar 2002 10:11:12 est", 0x0010, march5, -5 * kHour},
        {"names ignore case", "TUE, 05 mar 2002 10:11:12 +0100", 0x0008, march5, kHour},
        {"without seconds", "Tue, 5 Mar 2002 10:11 +0100", 0x0008, At(2002, 3, 5, 10, 11), kHour},
        {"blank after colons dropped", "Tue, 5 Mar 2002 10: 11: 12 +0100", 0x0008, march5, kHour},
        {"extra blanks", "  Tue,   5  Mar   2002   10:11:12   +0100  ", 0x0008, march5, kHour},
        {"comment after the zone ignored", "Tue, 5 Mar 2002 10:11:12 +0100 (CET)", 0x0008, march5,
         kHour},
        {"military letter", "Tue, 5 Mar 2002 10:11:12 Z", 0x0004, march5, 0},
        {"military m", "Tue, 5 Mar 2002 10:11:12 m", 0x0004, march5, -12 * kHour},
        {"military y", "Tue, 5 Mar 2002 10:11:12 Y", 0x0004, march5, 12 * kHour},
        {"leap day", "Sun, 29 Feb 2004 00:00:00 +0000", 0x0008, At(2004, 2, 29), 0},
    };
    for (const auto& c : cases)
        Check(c);
}

TEST_F(TimeRfc822Parse, EachIrregularityHasItsFlag) {
    const TDateTime march5 = At(2002, 3, 5, 10, 11, 12);
    const ParseCase cases[] = {
        {"empty", "", 0x0003, 0},
        {"only blanks and controls", std::string(" \t\0\r\n ", 6), 0x0003, 0},
        {"unknown day name", "Xyz, 5 Mar 2002 10:11:12 +0100", 0x0081 | 0x0101 | 0x0008, march5,
         kHour},
        {"full day name", "Tuesday, 5 Mar 2002 10:11:12 +0100", 0x0081 | 0x0101 | 0x0008, march5,
         kHour},
        {"day name without comma loses a letter", "Tue 5 Mar 2002 10:11:12 +0100",
         0x0081 | 0x0101 | 0x0008, march5, kHour},
        {"wrong day name", "Mon, 5 Mar 2002 10:11:12 +0100", 0x0101 | 0x0008, march5, kHour},
        {"short year and wrong day", "Mon, 5 Mar 02 10:11:12 EST", 0x2000 | 0x0101 | 0x0010, march5,
         -5 * kHour},
        {"30 February", "Tue, 30 Feb 2002 10:11:12 +0100", 0x1001 | 0x0008, std::nullopt, kHour},
        {"29 Feb 1900", "29 Feb 1900 10:11:12 +0100", 0x0201 | 0x1001 | 0x0008, std::nullopt,
         kHour},
        {"unknown month", "Tue, 5 Foo 2002 10:11:12 +0100", 0x1001 | 0x0008, std::nullopt, kHour},
        {"hour 24", "Tue, 5 Mar 2002 24:00:00 +0100", 0x0801 | 0x0008, At(2002, 3, 5), kHour},
        {"minute 60", "Tue, 5 Mar 2002 10:60:00 +0100", 0x0801 | 0x0008, At(2002, 3, 5), kHour},
        {"hour alone", "Tue, 5 Mar 2002 10 +0100", 0x0801 | 0x0008, At(2002, 3, 5), kHour},
        {"four time parts", "Tue, 5 Mar 2002 10:11:12:13 +0100", 0x0809, At(2002, 3, 5), kHour},
        {"empty minute", "Tue, 5 Mar 2002 10::12 +0100", 0x0809, At(2002, 3, 5), kHour},
        {"zone missing", "Tue, 5 Mar 2002 10:11:12", 0x0021, march5, 0},
        {"unknown zone name", "Tue, 5 Mar 2002 10:11:12 XYZ", 0x0051, march5, 0},
        {"j is no zone", "Tue, 5 Mar 2002 10:11:12 j", 0x0045, march5, 0},
        {"digit as zone letter", "Tue, 5 Mar 2002 10:11:12 5", 0x0045, march5, 0},
        {"lone sign", "Tue, 5 Mar 2002 10:11:12 -", 0x0045, march5, 0},
        {"short numeric zone", "Tue, 5 Mar 2002 10:11:12 +01", 0x0049, march5, 0},
        {"three digit zone", "Tue, 5 Mar 2002 10:11:12 +010", 0x0049, march5, 0},
        {"two signs", "Tue, 5 Mar 2002 10:11:12 +-0100", 0x0051, march5, 0},
        {"zone with parentheses", "Tue, 5 Mar 2002 10:11:12 (GMT)", 0x0051, march5, 0},
    };
    for (const auto& c : cases)
        Check(c);
}

TEST_F(TimeRfc822Parse, ShortYearsAreComparedAsTextWithThisYear) {
    struct Case {
        const char* name;
        int clockYear;
        const char* year;
        int expanded;  // 0: the expanded year is no valid date
    } cases[] = {
        {"greater goes to 1900s", 2025, "99", 1999},
        {"equal stays in 2000s", 2025, "25", 2025},
        {"one more", 2025, "26", 1926},
        {"smaller", 2025, "02", 2002},
        {"leading zero of this year", 2005, "05", 2005},
        {"leading zero compared as text", 2005, "06", 1906},
        {"one digit below as text", 2025, "2", 202},
        {"one digit above as text", 2025, "3", 193},
        {"three digits become five", 2025, "102", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetNow(At(c.clockYear, 6, 15, 12));
        const Rfc822DateParse parsed =
            ParseRfc822Date(std::string("5 Mar ") + c.year + " 10:11:12 +0100");
        const std::uint16_t base = 0x0201 | 0x2000 | 0x0008;
        if (c.expanded == 0) {
            EXPECT_EQ(parsed.flags, base | 0x1001);
        } else {
            EXPECT_EQ(parsed.flags, base);
            EXPECT_EQ(parsed.date, At(c.expanded, 3, 5, 10, 11, 12));
        }
    }
}

TEST_F(TimeRfc822Parse, JunkNeverBreaksTheParser) {
    const std::string digits200(200, '9');
    const std::string longText(100000, 'x');
    const std::string nul("\0", 1);
    const TDateTime march5 = At(2002, 3, 5, 10, 11, 12);
    const ParseCase cases[] = {
        {"lone comma", ",", 0x1821, 0},
        {"commas", ",,,,", 0x18A1, 0},
        {"colons", ": : :", 0x1821, 0},
        {"200 digits", digits200, 0x1A21, 0},
        {"200-digit day", digits200 + " Mar 2002 10:11:12 +0100", 0x1209, std::nullopt, kHour},
        {"200-digit year", "Tue, 5 Mar " + digits200 + " 10:11:12 +0100", 0x1009, std::nullopt,
         kHour},
        {"200-digit hour", "Tue, 5 Mar 2002 " + digits200 + ":11:12 +0100", 0x0809, At(2002, 3, 5),
         kHour},
        {"200-digit zone", "Tue, 5 Mar 2002 10:11:12 +" + digits200, 0x0008, march5,
         99 * kHour + 99 * kMinute},
        {"200-digit zone name", "Tue, 5 Mar 2002 10:11:12 " + longText.substr(0, 200), 0x0051,
         march5, 0},
        {"NUL bytes around are trimmed", nul + "Tue," + nul + " 5 Mar 2002 10:11:12 +0100" + nul,
         0x0008, march5, kHour},
        {"NUL inside the month", "Tue, 5 M" + nul + "r 2002 10:11:12 +0100", 0x1009, std::nullopt,
         kHour},
        {"only NUL and text", nul + nul + "x" + nul, 0x1821, 0},
        {"very long word", longText, 0x18A1, 0},
        {"very long tail ignored", "Tue, 5 Mar 2002 10:11:12 +0100 " + longText, 0x0008, march5,
         kHour},
        {"high bytes", "\xff\xfe\xfd \x80 \x81 \x82", 0x18A1, 0},
        {"tabs do not separate", "Tue,\t5\tMar\t2002\t10:11:12\t+0100", 0x18A1, 0},
        {"signed day", "Tue, -5 Mar 2002 10:11:12 +0100", 0x1009, std::nullopt, kHour},
        {"signed year", "Tue, 5 Mar -2 10:11:12 +0100", 0x1009, std::nullopt, kHour},
        {"day 0", "Tue, 0 Mar 2002 10:11:12 +0100", 0x1009, std::nullopt, kHour},
        {"year 0000", "Tue, 5 Mar 0000 10:11:12 +0100", 0x1009, std::nullopt, kHour},
        {"only a day name", "Tue,", 0x1821, 0},
    };
    for (const auto& c : cases)
        Check(c);
}

TEST_F(TimeRfc822Parse, EveryCutOfAGoodDateIsIrregular) {
    const std::string good = "Tue, 5 Mar 2002 10:11:12 +0100";
    for (std::size_t length = 0; length < good.size(); ++length) {
        const std::string cut = good.substr(0, length);
        SCOPED_TRACE(cut);
        EXPECT_TRUE(ParseRfc822Date(cut).flags & date_flags::kIrregular);
    }
}

// --- zone and name tables -----------------------------------------------------------------------

TEST(TimeZones, NamesAreSearchedInOrderIgnoringCase) {
    struct Case {
        const char* name;
        double hours;
    } cases[] = {
        {"UT", 0},     {"gmt", 0},    {"EST", -5},   {"Edt", -4}, {"CST", -6},  // not the later -5
        {"CDT", -5},   {"SST", -11},                                            // not the later 2
        {"FST", -2},                                                            // not the later 2
        {"ACST", 9.5}, {"NST", -3.5}, {"NDT", -2.5}, {"JT", 7.5}, {"NZD", -1},
        {"WAT", 1},  // the last entry
        {"XYZ", 13},   {"", 13},      {"GMT ", 13},  {"G", 13},   {"ESTX", 13},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ZoneOffsetFromName(c.name), c.hours);
    }
}

TEST(TimeZones, MilitaryLetters) {
    struct Case {
        const char* letter;
        double hours;
    } cases[] = {
        {"a", -1}, {"A", -1}, {"i", -9}, {"j", 13}, {"J", 13}, {"k", -10}, {"m", -12}, {"n", 1},
        {"N", 1},  {"y", 12}, {"z", 0},  {"Z", 0},  {"", 13},  {"ab", 13}, {"1", 13},  {"-", 13},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.letter);
        EXPECT_EQ(MilitaryZoneOffset(c.letter), c.hours);
    }
}

TEST(TimeZones, DayAndMonthNames) {
    EXPECT_EQ(DayFromName("sun"), 1);
    EXPECT_EQ(DayFromName("SAT"), 7);
    EXPECT_EQ(DayFromName("Wed"), 4);
    for (const char* junk : {"", "Sunday", "su", "mon,", "xyz"})
        EXPECT_EQ(DayFromName(junk), -1);
    EXPECT_EQ(MonthFromName("jan"), 1);
    EXPECT_EQ(MonthFromName("DEC"), 12);
    EXPECT_EQ(MonthFromName("Jun"), 6);
    for (const char* junk : {"", "Sept", "ja", "13"})
        EXPECT_EQ(MonthFromName(junk), -1);
}

// --- stored forms and measurements
// ----------------------------------------------------------------

TEST(TimeStoredForms, TimeOfDayInteger) {
    EXPECT_EQ(EncodeTimeOfDay(0.5), 1073741823);
    EXPECT_EQ(EncodeTimeOfDay(At(2002, 3, 5, 12)), 1073741823);
    EXPECT_EQ(EncodeTimeOfDay(At(2002, 3, 5)), 0);
    EXPECT_EQ(EncodeTimeOfDay(std::nan("")), 0);
    EXPECT_NEAR(DecodeTimeOfDay(1073741823), 0.5, 1e-9);
    EXPECT_EQ(DecodeTimeOfDay(0), 0);
    for (TDateTime t : {At(2002, 3, 5, 0, 0, 1), At(2002, 3, 5, 23, 59, 59, 999)}) {
        SCOPED_TRACE(t);
        EXPECT_NEAR(DaysToMilliseconds(DecodeTimeOfDay(EncodeTimeOfDay(t)) - (t - At(2002, 3, 5))),
                    0, 0.05);  // one unit is 0.04 ms
    }
}

TEST(TimeStoredForms, FileDatePacksTheFields) {
    struct Case {
        const char* name;
        TDateTime value;
        const char* text;
    } cases[] = {
        {"first moment", At(1980, 1, 1), "2162688"},
        {"odd seconds halve", At(2002, 3, 5, 10, 11, 13), "744837478"},
        {"last moment, top bit set", At(2099, 12, 31, 23, 59, 59), "4020223869"},
        {"before 1980", At(1979, 12, 31, 23, 59, 59), "0"},
        {"after 2099", At(2100, 1, 1), "0"},
        {"no date", std::nan(""), "0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FileDateText(c.value), c.text);
    }
}

using TimeDeadline = FixedClock;

TEST_F(TimeDeadline, PassedStampsAndClockJumps) {
    struct Case {
        const char* name;
        double stampMs;  // relative to now
        double intervalMs;
        bool reached;
        bool reset;
    } cases[] = {
        {"still ahead", 500, 1000, false, false},
        {"just passed", -1, 1000, true, false},
        {"ahead by just under interval + 1000", 1999, 1000, false, false},
        {"too far ahead: clock went back", 2100, 1000, true, true},
        {"too far behind: clock went forward", -2100, 1000, true, true},
        {"short intervals never detect jumps", 5000, 999, false, false},
        {"short interval passed", -5000, 10, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TDateTime original = now_ + MillisecondsToDays(c.stampMs);
        TDateTime stamp = original;
        EXPECT_EQ(DeadlineReached(stamp, c.intervalMs), c.reached);
        EXPECT_EQ(stamp, c.reset ? now_ : original);
    }
    TDateTime broken = std::nan("");
    EXPECT_TRUE(DeadlineReached(broken, 10));
    EXPECT_EQ(broken, now_);
}

TEST(TimeMeasure, ThreadCpuTimeGrowsWhileTheThreadWorks) {
    const std::uint32_t start = ThreadCpuTime();
    const std::time_t giveUp = std::time(nullptr) + 5;
    volatile double sink = 0;
    while (ThreadCpuTime() - start < 20 && std::time(nullptr) < giveUp)
        sink = sink + 1;
    EXPECT_GE(ThreadCpuTime() - start, 20u);  // 2 ms of work in units of 0.1 ms
}

}  // namespace
}  // namespace gatemoor
