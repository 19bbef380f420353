#pragma once

// Kadrillo's date and time pattern notation, shared by the overlay, the
// datecode element and the inlay panel's preview so that all three show the
// same text for the same pattern.
//
//   d dd ddd dddd   day, two-digit day, short and long day name
//   ddddd           short date, "dd/mm/yyyy"
//   dddddd          long date, "dddd, mmmm d, yyyy"
//   m mm mmm mmmm   month, two-digit month, short and long month name
//                   (an "m" or "mm" right after "h" or "hh" means minutes)
//   yy yyyy         two- and four-digit year
//   h hh            hour (12-hour clock when am/pm, a/p or ampm appears)
//   n nn            minutes
//   s ss            seconds
//   z zzz           milliseconds
//   am/pm a/p ampm  12-hour clock markers
//   / :             separators
//   "text" 'text'   kept as it stands
// Names are English. Letters that mean nothing are kept as text; an empty
// pattern formats as kDefaultDatePattern.

#include <string>
#include <string_view>

namespace kad {

inline constexpr std::string_view kDefaultDatePattern = "dddddd hh:nn:ss";

struct DateTimeValue {
    int year = 1970;
    int month = 1; // 1..12
    int day = 1;   // 1..31
    int hour = 0;  // 0..23
    int minute = 0;
    int second = 0;
    int millisecond = 0;

    bool operator==(const DateTimeValue&) const = default;
};

// The day of the week of a date, 0 = Sunday .. 6 = Saturday.
int dayOfWeek(int year, int month, int day);

// Expands pattern for when. Never fails: out-of-range fields are shown as
// they are, unknown letters as text.
std::string formatDatePattern(std::string_view pattern, const DateTimeValue& when);

} // namespace kad
