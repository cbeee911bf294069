#pragma once
// Moments as local date-times, counted as days since 1899-12-30 (the fraction is the
// time of day), the form in which the database and the logs exchange them.
#include <cstdint>
#include <string>

struct TDateTime {
    double Value = 0.0;
    auto operator<=>(const TDateTime&) const = default;
};

struct TDateTimeParts {
    int Year = 1899, Month = 12, Day = 30, Hour = 0, Minute = 0, Second = 0, MilliSecond = 0;
};

TDateTime Now();
TDateTime EncodeDateTime(const TDateTimeParts& p);
TDateTimeParts DecodeDateTime(TDateTime dt);
// Whole seconds from a to b (negative when b is earlier).
int64_t SecondsBetween(TDateTime a, TDateTime b);
TDateTime IncSecond(TDateTime dt, int64_t seconds);
// "dd.mm.yyyy hh:nn:ss"
std::string FormatLogMoment(TDateTime dt);
// "YYYY-MM-DD"
std::string FormatXmlDate(TDateTime dt);
// "YYYY-MM-DDThh:nn:ss"
std::string FormatXmlDateTime(TDateTime dt);
