#pragma once
// The layout of a log entry: a pattern of literal text and conversions ("%d", "%-5p",
// "%m", ...) rendered for one event. Kept apart from the logging framework so that the
// entry format can be checked without writing a file.
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "uDateTime.h"

// Everything a conversion may print about one log call.
struct TLogEvent {
    std::string_view LoggerName;
    std::string_view LevelName;
    std::string_view Message;
    const std::exception* Error = nullptr;  // the error attached to the call, if any
    uint32_t ThreadId = 0;
    TDateTimeParts Moment;  // local date and time of the call
    int64_t ElapsedMs = 0;  // since the log was set up
};

class TLogPatternLayoutEx {
public:
    // Stores and parses the pattern.
    void SetPattern(const std::string& value);
    const std::string& Pattern() const { return FPattern; }
    // Date format of "%d": yyyy, yy, mm, m, dd, d, hh, h, nn, n, ss, s, zzz, z;
    // text in quotes and any other character are copied.
    void SetDateFormat(const std::string& value) { FDateFormat = value; }
    const std::string& DateFormat() const { return FDateFormat; }

    std::string Format(const TLogEvent& event) const;

private:
    struct TPatternPart {
        std::string Text;  // the literal, or the format specification ("%-5s")
        int Index = 0;     // 0 for a literal, else the conversion's place in the table
    };

    std::string FPattern;
    std::string FDateFormat;
    std::vector<TPatternPart> FPatternParts;
};

// Renders a moment with a date format of the kind TLogPatternLayoutEx uses.
std::string FormatDateTimeParts(const std::string& format, const TDateTimeParts& moment);

// The entry format of the service's log.
inline constexpr const char* kLogPattern = "[%d][%t] %p %c %x - %m%n(%e)%n";
inline constexpr const char* kLogDateFormat = "yyyy.mm.dd hh:nn:ss.zzz";
