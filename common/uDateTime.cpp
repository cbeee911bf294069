#include "uDateTime.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace {
constexpr int64_t kMsPerDay = 86400000;

// Days from 1970-01-01 for a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t yy = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yy + (m <= 2));
}

const int64_t kEpochOffsetDays = -DaysFromCivil(1899, 12, 30);  // 1899-12-30 .. 1970-01-01

int64_t ToMs(TDateTime dt) {
    return std::llround(dt.Value * kMsPerDay);
}
TDateTime FromMs(int64_t ms) {
    return TDateTime{double(ms) / kMsPerDay};
}
}  // namespace

TDateTime Now() {
    using namespace std::chrono;
    auto now = system_clock::now();
    std::time_t t = system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&t, &local);
    int ms = int(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    return EncodeDateTime({local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                           local.tm_min, local.tm_sec, ms});
}

TDateTime EncodeDateTime(const TDateTimeParts& p) {
    int64_t days = DaysFromCivil(p.Year, unsigned(p.Month), unsigned(p.Day)) + kEpochOffsetDays;
    int64_t ms = days * kMsPerDay + ((int64_t(p.Hour) * 60 + p.Minute) * 60 + p.Second) * 1000 +
                 p.MilliSecond;
    return FromMs(ms);
}

TDateTimeParts DecodeDateTime(TDateTime dt) {
    int64_t ms = ToMs(dt);
    int64_t days = ms >= 0 ? ms / kMsPerDay : -((-ms + kMsPerDay - 1) / kMsPerDay);
    int64_t rest = ms - days * kMsPerDay;
    TDateTimeParts p;
    CivilFromDays(days - kEpochOffsetDays, p.Year, p.Month, p.Day);
    p.MilliSecond = int(rest % 1000);
    rest /= 1000;
    p.Second = int(rest % 60);
    rest /= 60;
    p.Minute = int(rest % 60);
    p.Hour = int(rest / 60);
    return p;
}

int64_t SecondsBetween(TDateTime a, TDateTime b) {
    return (ToMs(b) - ToMs(a)) / 1000;
}

TDateTime IncSecond(TDateTime dt, int64_t seconds) {
    return FromMs(ToMs(dt) + seconds * 1000);
}

std::string FormatLogMoment(TDateTime dt) {
    auto p = DecodeDateTime(dt);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d.%02d.%04d %02d:%02d:%02d", p.Day, p.Month, p.Year, p.Hour,
                  p.Minute, p.Second);
    return buf;
}

std::string FormatXmlDate(TDateTime dt) {
    auto p = DecodeDateTime(dt);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", p.Year, p.Month, p.Day);
    return buf;
}

std::string FormatXmlDateTime(TDateTime dt) {
    auto p = DecodeDateTime(dt);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", p.Year, p.Month, p.Day, p.Hour,
                  p.Minute, p.Second);
    return buf;
}
