#include "uLogLayout.h"

#include <cctype>
#include <cstring>

#include "Exception.h"

namespace {
// Conversion characters and their format types; place 0 (a blank) is the literal slot.
constexpr std::string_view kConversionChars = " cCdeFlLmMnprtx%";
constexpr std::string_view kFormatTypes = " ssssssdssssddss";

enum TConversion {
    cvLiteral = 0,
    cvLoggerName,
    cvClassName,
    cvDate,
    cvError,
    cvFileName,
    cvLocation,
    cvLineNumber,
    cvMessage,
    cvMethodName,
    cvNewLine,
    cvLevel,
    cvElapsed,
    cvThread,
    cvContext,
    cvPercent
};

bool IsConversionChar(char c) {
    return c != ' ' && kConversionChars.find(c) != std::string_view::npos;
}

size_t CharCount(std::string_view s) {
    size_t n = 0;
    for (unsigned char c : s)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

// The first `count` characters of a UTF-8 text.
std::string_view FirstChars(std::string_view s, size_t count) {
    size_t i = 0;
    for (; i < s.size(); ++i) {
        if ((static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) continue;
        if (count == 0) break;
        --count;
    }
    return s.substr(0, i);
}

// Applies a specification such as "%-5s" or "%.3d": "-" aligns left, the width pads
// with blanks, the precision cuts a text or pads a number with zeros. Other
// characters among the modifiers are ignored.
void AppendFormatted(std::string& out, std::string_view spec, std::string_view value,
                     bool bNumber) {
    bool bLeft = false;
    size_t width = 0, precision = 0;
    bool bPrecision = false;
    std::string_view mods = spec.size() >= 2 ? spec.substr(1, spec.size() - 2) : std::string_view{};
    for (size_t i = 0; i < mods.size(); ++i) {
        char c = mods[i];
        if (c == '-') {
            bLeft = true;
        } else if (c == '.') {
            bPrecision = true;
            precision = 0;
            while (i + 1 < mods.size() && std::isdigit(static_cast<unsigned char>(mods[i + 1])))
                precision = precision * 10 + size_t(mods[++i] - '0');
        } else if (std::isdigit(static_cast<unsigned char>(c))) {
            width = width * 10 + size_t(c - '0');
        }
    }
    std::string body;
    if (bNumber) {
        bool bNegative = !value.empty() && value.front() == '-';
        std::string_view digits = bNegative ? value.substr(1) : value;
        if (bNegative) body += '-';
        if (bPrecision && digits.size() < precision) body.append(precision - digits.size(), '0');
        body.append(digits);
    } else {
        body = bPrecision ? FirstChars(value, precision) : value;
    }
    size_t len = CharCount(body);
    if (len >= width) {
        out += body;
    } else if (bLeft) {
        out += body;
        out.append(width - len, ' ');
    } else {
        out.append(width - len, ' ');
        out += body;
    }
}

void AppendNumber(std::string& out, int value, int digits) {
    std::string s = std::to_string(value);
    if (int(s.size()) < digits) out.append(size_t(digits) - s.size(), '0');
    out += s;
}
}  // namespace

std::string FormatDateTimeParts(const std::string& format, const TDateTimeParts& m) {
    std::string out;
    size_t i = 0;
    while (i < format.size()) {
        char c = format[i];
        if (c == '"' || c == '\'') {
            size_t close = format.find(c, i + 1);
            if (close == std::string::npos) close = format.size();
            out.append(format, i + 1, close - i - 1);
            i = close + 1;
            continue;
        }
        char lower = char(std::tolower(static_cast<unsigned char>(c)));
        if (std::strchr("ymdhnsz", lower) == nullptr || lower == 0) {
            out += c;
            ++i;
            continue;
        }
        size_t run = 1;
        while (i + run < format.size() &&
               std::tolower(static_cast<unsigned char>(format[i + run])) == lower)
            ++run;
        i += run;
        int twoOrOne = run >= 2 ? 2 : 1;
        switch (lower) {
            case 'y':
                if (run >= 3)
                    AppendNumber(out, m.Year, 4);
                else
                    AppendNumber(out, m.Year % 100, 2);
                break;
            case 'm':
                AppendNumber(out, m.Month, twoOrOne);
                break;
            case 'd':
                AppendNumber(out, m.Day, twoOrOne);
                break;
            case 'h':
                AppendNumber(out, m.Hour, twoOrOne);
                break;
            case 'n':
                AppendNumber(out, m.Minute, twoOrOne);
                break;
            case 's':
                AppendNumber(out, m.Second, twoOrOne);
                break;
            case 'z':
                AppendNumber(out, m.MilliSecond, run >= 3 ? 3 : 1);
                break;
        }
    }
    return out;
}

void TLogPatternLayoutEx::SetPattern(const std::string& value) {
    FPattern = value;
    FPatternParts.clear();
    size_t i = 0;
    while (i < value.size()) {
        if (value[i] != '%') {
            size_t next = value.find('%', i);
            if (next == std::string::npos) next = value.size();
            FPatternParts.push_back({value.substr(i, next - i), cvLiteral});
            i = next;
            continue;
        }
        std::string part = "%";
        ++i;
        while (i < value.size() && !IsConversionChar(value[i])) part += value[i++];
        // A pattern that ends inside a conversion prints the message there.
        char conversion = i < value.size() ? value[i++] : 'm';
        size_t index = kConversionChars.find(conversion);
        part += kFormatTypes[index];
        FPatternParts.push_back({std::move(part), int(index)});
    }
}

std::string TLogPatternLayoutEx::Format(const TLogEvent& event) const {
    std::string out;
    for (const auto& part : FPatternParts) {
        std::string_view spec = part.Text;
        auto text = [&](std::string_view v) { AppendFormatted(out, spec, v, false); };
        auto number = [&](int64_t v) { AppendFormatted(out, spec, std::to_string(v), true); };
        switch (part.Index) {
            case cvLiteral:
                out += part.Text;
                break;
            case cvLoggerName:
                text(event.LoggerName);
                break;
            case cvDate:
                out += FormatDateTimeParts(FDateFormat, event.Moment);
                break;
            case cvError:
                if (event.Error && *event.Error->what())
                    text(std::string(ErrorClassName(*event.Error)) + " - \"" + event.Error->what() +
                         "\"");
                else
                    text("");
                break;
            case cvMessage:
                text(event.Message);
                break;
            case cvNewLine:
                text("\r\n");
                break;
            case cvLevel:
                text(event.LevelName);
                break;
            case cvElapsed:
                number(event.ElapsedMs);
                break;
            case cvThread:
                number(event.ThreadId);
                break;
            case cvContext:
                text("");
                break;
            case cvPercent:
                text("%");
                break;
            default:
                text("Unknown");
                break;  // class, file, location, line, method
        }
    }
    return out;
}
