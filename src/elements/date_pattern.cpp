#include "elements/date_pattern.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstdlib>

namespace kad {

namespace {

constexpr std::array<std::string_view, 7> kDayNames = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                       "Thursday", "Friday", "Saturday"};
constexpr std::array<std::string_view, 12> kMonthNames = {
    "January", "February", "March",     "April",   "May",      "June",
    "July",    "August",   "September", "October", "November", "December"};

char lower(char c)
{
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool startsWithNoCase(std::string_view text, std::size_t at, std::string_view word)
{
    if (text.size() - at < word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (lower(text[at + i]) != word[i]) return false;
    }
    return true;
}

// The length of the run of the same letter (either case) starting at at.
std::size_t runLength(std::string_view text, std::size_t at)
{
    const char letter = lower(text[at]);
    std::size_t end = at;
    while (end < text.size() && lower(text[end]) == letter)
        ++end;
    return end - at;
}

void appendNumber(std::string& out, int value, int width)
{
    std::string digits = std::to_string(std::abs(static_cast<long long>(value)));
    if (value < 0) out += '-';
    for (int i = static_cast<int>(digits.size()); i < width; ++i)
        out += '0';
    out += digits;
}

// An out-of-range month has no name; its number stands in.
void appendMonthName(std::string& out, int month, bool shortName)
{
    if (month < 1 || month > 12) {
        appendNumber(out, month, 0);
        return;
    }
    const std::string_view name = kMonthNames[static_cast<std::size_t>(month - 1)];
    out += shortName ? name.substr(0, 3) : name;
}

void appendDayName(std::string& out, const DateTimeValue& when, bool shortName)
{
    const std::string_view name =
        kDayNames[static_cast<std::size_t>(dayOfWeek(when.year, when.month, when.day))];
    out += shortName ? name.substr(0, 3) : name;
}

// The 12-hour markers, as they stand at at: their length, or 0.
std::size_t meridianMarkerLength(std::string_view pattern, std::size_t at)
{
    if (startsWithNoCase(pattern, at, "am/pm")) return 5;
    if (startsWithNoCase(pattern, at, "ampm")) return 4;
    if (startsWithNoCase(pattern, at, "a/p")) return 3;
    return 0;
}

// Quoted text runs to its closing quote, or to the end of the pattern when
// the quote is never closed. Returns the position after it.
std::size_t skipQuoted(std::string_view pattern, std::size_t at)
{
    const std::size_t close = pattern.find(pattern[at], at + 1);
    return close == std::string_view::npos ? pattern.size() : close + 1;
}

bool usesTwelveHourClock(std::string_view pattern)
{
    std::size_t at = 0;
    while (at < pattern.size()) {
        const char c = pattern[at];
        if (c == '"' || c == '\'') {
            at = skipQuoted(pattern, at);
        } else if (meridianMarkerLength(pattern, at) > 0) {
            return true;
        } else {
            ++at;
        }
    }
    return false;
}

class Formatter {
public:
    Formatter(const DateTimeValue& when, bool twelveHour) : when_(when), twelveHour_(twelveHour) {}

    std::string expand(std::string_view pattern)
    {
        std::size_t at = 0;
        while (at < pattern.size())
            at = step(pattern, at);
        return std::move(out_);
    }

private:
    std::size_t step(std::string_view pattern, std::size_t at)
    {
        const char c = pattern[at];
        if (c == '"' || c == '\'') {
            const std::size_t end = skipQuoted(pattern, at);
            const std::size_t closing = pattern[end - 1] == c && end - 1 > at ? 1 : 0;
            out_ += pattern.substr(at + 1, end - at - 1 - closing);
            return end;
        }
        if (const std::size_t marker = meridianMarkerLength(pattern, at)) {
            appendMeridian(pattern.substr(at, marker));
            return at + marker;
        }
        std::size_t run = 0;
        switch (lower(c)) {
        case 'd':
            run = std::min<std::size_t>(runLength(pattern, at), 6);
            appendDay(run);
            lastWasHour_ = false;
            return at + run;
        case 'm':
            run = std::min<std::size_t>(runLength(pattern, at), 4);
            if (lastWasHour_ && run <= 2) {
                appendNumber(out_, when_.minute, static_cast<int>(run));
            } else {
                appendMonth(run);
            }
            lastWasHour_ = false;
            return at + run;
        case 'y':
            run = std::min<std::size_t>(runLength(pattern, at), 4);
            if (run <= 2) {
                appendNumber(out_, std::abs(when_.year) % 100, 2);
            } else {
                appendNumber(out_, when_.year, 4);
            }
            lastWasHour_ = false;
            return at + run;
        case 'h':
            run = std::min<std::size_t>(runLength(pattern, at), 2);
            appendNumber(out_, displayedHour(), static_cast<int>(run));
            lastWasHour_ = true;
            return at + run;
        case 'n':
            return appendTwoDigitField(pattern, at, when_.minute);
        case 's':
            return appendTwoDigitField(pattern, at, when_.second);
        case 'z':
            run = std::min<std::size_t>(runLength(pattern, at), 3);
            appendNumber(out_, when_.millisecond, run == 1 ? 0 : 3);
            lastWasHour_ = false;
            return at + run;
        default:
            // Separators, blanks and letters without a meaning are text; they
            // do not end an hour's hold on a following "m" ("hh:mm").
            out_ += c;
            return at + 1;
        }
    }

    std::size_t appendTwoDigitField(std::string_view pattern, std::size_t at, int value)
    {
        const std::size_t run = std::min<std::size_t>(runLength(pattern, at), 2);
        appendNumber(out_, value, static_cast<int>(run));
        lastWasHour_ = false;
        return at + run;
    }

    void appendDay(std::size_t run)
    {
        switch (run) {
        case 1:
        case 2:
            appendNumber(out_, when_.day, static_cast<int>(run));
            break;
        case 3:
        case 4:
            appendDayName(out_, when_, run == 3);
            break;
        case 5:
            appendNumber(out_, when_.day, 2);
            out_ += '/';
            appendNumber(out_, when_.month, 2);
            out_ += '/';
            appendNumber(out_, when_.year, 4);
            break;
        default:
            appendDayName(out_, when_, false);
            out_ += ", ";
            appendMonthName(out_, when_.month, false);
            out_ += ' ';
            appendNumber(out_, when_.day, 1);
            out_ += ", ";
            appendNumber(out_, when_.year, 4);
            break;
        }
    }

    void appendMonth(std::size_t run)
    {
        if (run <= 2) {
            appendNumber(out_, when_.month, static_cast<int>(run));
        } else {
            appendMonthName(out_, when_.month, run == 3);
        }
    }

    // The marker's case is kept: "am/pm" gives "pm", "AM/PM" gives "PM".
    void appendMeridian(std::string_view marker)
    {
        const bool afternoon = when_.hour >= 12;
        const bool upper = std::isupper(static_cast<unsigned char>(marker[0])) != 0;
        std::string text;
        if (marker.size() == 3) {
            text = afternoon ? "p" : "a";
        } else {
            text = afternoon ? "pm" : "am";
        }
        if (upper) {
            for (char& ch : text)
                ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        }
        out_ += text;
        lastWasHour_ = false;
    }

    int displayedHour() const
    {
        if (!twelveHour_ || when_.hour < 0 || when_.hour > 23) return when_.hour;
        const int hour = when_.hour % 12;
        return hour == 0 ? 12 : hour;
    }

    const DateTimeValue& when_;
    bool twelveHour_;
    bool lastWasHour_ = false;
    std::string out_;
};

} // namespace

int dayOfWeek(int year, int month, int day)
{
    // Days from 1 March of year 0 in the proleptic Gregorian calendar; an
    // out-of-range month or day simply counts on, so any input has a weekday.
    std::int64_t y = year;
    std::int64_t m = month - 1;
    y += m >= 0 ? m / 12 : -((11 - m) / 12);
    m = ((m % 12) + 12) % 12 + 1;
    if (m <= 2) --y;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yearOfEra = y - era * 400;
    const std::int64_t dayOfYear = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const std::int64_t days = era * 146097 + dayOfEra - 719468; // since 1970-01-01, a Thursday
    return static_cast<int>((((days + 4) % 7) + 7) % 7);
}

std::string formatDatePattern(std::string_view pattern, const DateTimeValue& when)
{
    if (pattern.empty()) pattern = kDefaultDatePattern;
    return Formatter(when, usesTwelveHourClock(pattern)).expand(pattern);
}

} // namespace kad
