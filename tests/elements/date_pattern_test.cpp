#include <gtest/gtest.h>

#include <string>

#include "elements/date_pattern.h"

using kad::DateTimeValue;
using kad::formatDatePattern;

namespace {

constexpr const char* kLongExample = "dddddd hh:nn:ss";
constexpr const char* kClockExample = "dddd, yyyy mmmm dd, h:nn:ss am/pm";

DateTimeValue at(int year, int month, int day, int hour, int minute, int second, int ms = 0)
{
    return DateTimeValue{year, month, day, hour, minute, second, ms};
}

struct Row {
    DateTimeValue when;
    const char* pattern;
    const char* expected;
};

void expectRows(const std::initializer_list<Row>& rows)
{
    for (const Row& row : rows)
        EXPECT_EQ(formatDatePattern(row.pattern, row.when), row.expected)
            << "pattern \"" << row.pattern << "\"";
}

TEST(DatePattern, PanelExamplesAroundTheClock)
{
    // 26 October 2005 was a Wednesday.
    expectRows({
        {at(2005, 10, 26, 13, 48, 5), kLongExample, "Wednesday, October 26, 2005 13:48:05"},
        {at(2005, 10, 26, 13, 48, 5), kClockExample, "Wednesday, 2005 October 26, 1:48:05 pm"},
        {at(2005, 10, 26, 0, 0, 0), kLongExample, "Wednesday, October 26, 2005 00:00:00"},
        {at(2005, 10, 26, 0, 0, 0), kClockExample, "Wednesday, 2005 October 26, 12:00:00 am"},
        {at(2005, 10, 26, 12, 0, 0), kClockExample, "Wednesday, 2005 October 26, 12:00:00 pm"},
        {at(2005, 10, 26, 1, 2, 3), kClockExample, "Wednesday, 2005 October 26, 1:02:03 am"},
        // A single-digit day has no leading zero in the long date.
        {at(1999, 3, 7, 9, 5, 0), kLongExample, "Sunday, March 7, 1999 09:05:00"},
    });
}

TEST(DatePattern, DayMonthAndYearFields)
{
    const DateTimeValue when = at(2004, 2, 9, 7, 3, 4, 45);
    expectRows({
        {when, "d dd ddd dddd", "9 09 Mon Monday"},
        {when, "ddddd", "09/02/2004"},
        {when, "m mm mmm mmmm", "2 02 Feb February"},
        {when, "yy yyyy", "04 2004"},
        {when, "h hh n nn s ss", "7 07 3 03 4 04"},
        {when, "z zzz", "45 045"},
        {when, "DD/MM/YYYY", "09/02/2004"},
    });
}

TEST(DatePattern, MinutesAfterAnHour)
{
    const DateTimeValue when = at(2004, 2, 9, 7, 3, 4);
    expectRows({
        {when, "hh:mm", "07:03"},
        {when, "h:m", "7:3"},
        {when, "hhmm", "0703"},
        // Only right after an hour; elsewhere "mm" is the month.
        {when, "mm hh", "02 07"},
        {when, "hh:nn mm", "07:03 02"},
        // A month name stays a month name even after an hour.
        {when, "hh mmm", "07 Feb"},
    });
}

TEST(DatePattern, TwelveHourMarkers)
{
    expectRows({
        {at(2020, 1, 1, 0, 30, 0), "h:nn a/p", "12:30 a"},
        {at(2020, 1, 1, 15, 30, 0), "h:nn a/p", "3:30 p"},
        {at(2020, 1, 1, 15, 30, 0), "h:nn A/P", "3:30 P"},
        {at(2020, 1, 1, 15, 30, 0), "hh:nn ampm", "03:30 pm"},
        {at(2020, 1, 1, 11, 30, 0), "hh:nn AMPM", "11:30 AM"},
        {at(2020, 1, 1, 12, 0, 0), "h AM/PM", "12 PM"},
        // The marker may come before the hour it governs.
        {at(2020, 1, 1, 18, 0, 0), "am/pm h", "pm 6"},
        // Without a marker the clock runs to 23.
        {at(2020, 1, 1, 18, 0, 0), "h", "18"},
    });
}

TEST(DatePattern, TextAndUnknownLetters)
{
    const DateTimeValue when = at(2005, 10, 26, 13, 48, 5);
    expectRows({
        {when, "\"Recorded\" dd/mm", "Recorded 26/10"},
        {when, "'day' d", "day 26"},
        {when, "\"it's\" yyyy", "it's 2005"},
        {when, "'say \"hi\"'", "say \"hi\""},
        // An unclosed quote runs to the end.
        {when, "yyyy 'left open", "2005 left open"},
        {when, "\"\"", ""},
        {when, "x q, yyyy!", "x q, 2005!"},
        {when, "Tape 7 @ hh:nn", "Tape 7 @ 13:48"},
        // A lone "a" is a letter, not a marker, and does not switch the clock.
        {when, "a hh", "a 13"},
        // A marker inside quotes is text only.
        {when, "'am/pm' h", "am/pm 13"},
    });
}

TEST(DatePattern, OutOfRangeValuesNeverFail)
{
    // Damaged input is shown as it stands rather than refused.
    const std::string text = formatDatePattern("dddddd mmm", at(2005, 13, 45, 30, 99, 99));
    EXPECT_NE(text.find("13 45, 2005"), std::string::npos) << text;
    EXPECT_NE(text.find(" 13"), std::string::npos) << text;
    EXPECT_EQ(formatDatePattern("hh:nn:ss", at(2005, 1, 1, 30, 99, 99)), "30:99:99");
    EXPECT_EQ(formatDatePattern("h am/pm", at(2005, 1, 1, -1, 0, 0)), "-1 am");
    EXPECT_EQ(formatDatePattern("dddddddd", at(2005, 10, 26, 0, 0, 0)),
              "Wednesday, October 26, 200526");
}

TEST(DatePattern, DayOfWeekAcrossCenturies)
{
    EXPECT_EQ(kad::dayOfWeek(1970, 1, 1), 4);
    EXPECT_EQ(kad::dayOfWeek(2000, 2, 29), 2);
    EXPECT_EQ(kad::dayOfWeek(1900, 3, 1), 4);
    EXPECT_EQ(kad::dayOfWeek(2005, 10, 26), 3);
    EXPECT_EQ(kad::dayOfWeek(2100, 1, 1), 5);
    EXPECT_EQ(kad::dayOfWeek(1600, 1, 1), 6);
    // Past the end of a month and year counts on.
    EXPECT_EQ(kad::dayOfWeek(2005, 10, 32), kad::dayOfWeek(2005, 11, 1));
    EXPECT_EQ(kad::dayOfWeek(2005, 13, 1), kad::dayOfWeek(2006, 1, 1));
    EXPECT_EQ(kad::dayOfWeek(2005, 0, 1), kad::dayOfWeek(2004, 12, 1));
    for (int day = -400; day < 400; ++day) {
        const int weekday = kad::dayOfWeek(2005, 6, day);
        EXPECT_GE(weekday, 0);
        EXPECT_LE(weekday, 6);
    }
}

} // namespace
