#include "uVariant.h"

#include <charconv>
#include <cmath>

namespace {
std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

[[noreturn]] void NotConvertible(const std::string& text, const char* to) {
    throw EConvertError("Could not convert variant of type (String) into type (" + std::string(to) +
                        "): '" + text + "'");
}

int64_t ParseInt(const std::string& text) {
    auto s = Trim(text);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    int64_t v = 0;
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || ec != std::errc() || p != s.data() + s.size()) NotConvertible(text, "Int64");
    return v;
}

double ParseDouble(const std::string& text) {
    auto s = Trim(text);
    double v = 0;
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || ec != std::errc() || p != s.data() + s.size()) NotConvertible(text, "Double");
    return v;
}
}  // namespace

std::string TVariant::AsString() const {
    struct V {
        std::string operator()(std::monostate) const { return {}; }
        std::string operator()(int64_t v) const { return std::to_string(v); }
        std::string operator()(double v) const {
            char buf[64];
            auto [p, ec] = std::to_chars(buf, buf + sizeof buf, v);
            return std::string(buf, p);
        }
        std::string operator()(const std::string& v) const { return v; }
        std::string operator()(TDateTime v) const { return FormatLogMoment(v); }
    };
    return std::visit(V{}, FValue);
}

int64_t TVariant::AsInt64() const {
    struct V {
        int64_t operator()(std::monostate) const { return 0; }
        int64_t operator()(int64_t v) const { return v; }
        int64_t operator()(double v) const { return std::llround(v); }
        int64_t operator()(const std::string& v) const { return ParseInt(v); }
        int64_t operator()(TDateTime v) const { return int64_t(v.Value); }
    };
    return std::visit(V{}, FValue);
}

int TVariant::AsInteger() const {
    int64_t v = AsInt64();
    if (v < INT32_MIN || v > INT32_MAX) throw EConvertError("Integer overflow: " + AsString());
    return int(v);
}

double TVariant::AsDouble() const {
    struct V {
        double operator()(std::monostate) const { return 0; }
        double operator()(int64_t v) const { return double(v); }
        double operator()(double v) const { return v; }
        double operator()(const std::string& v) const { return ParseDouble(v); }
        double operator()(TDateTime v) const { return v.Value; }
    };
    return std::visit(V{}, FValue);
}

TDateTime TVariant::AsDateTime() const {
    if (auto* dt = std::get_if<TDateTime>(&FValue)) return *dt;
    if (IsString()) NotConvertible(std::get<std::string>(FValue), "Date");
    return TDateTime{AsDouble()};
}
