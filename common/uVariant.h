#pragma once
// A database or setting value: null, integer, float, text or moment.
#include <cstdint>
#include <string>
#include <variant>

#include "Exception.h"
#include "uDateTime.h"

QOR_DECLARE_EXCEPTION(EConvertError, Exception)

class TVariant {
public:
    using Value = std::variant<std::monostate, int64_t, double, std::string, TDateTime>;

    TVariant() = default;
    TVariant(int v) : FValue(int64_t(v)) {}
    TVariant(int64_t v) : FValue(v) {}
    TVariant(double v) : FValue(v) {}
    TVariant(const char* v) : FValue(std::string(v)) {}
    TVariant(std::string v) : FValue(std::move(v)) {}
    TVariant(TDateTime v) : FValue(v) {}

    static TVariant Null() { return TVariant(); }

    bool IsNull() const { return std::holds_alternative<std::monostate>(FValue); }
    bool IsInteger() const { return std::holds_alternative<int64_t>(FValue); }
    bool IsFloat() const { return std::holds_alternative<double>(FValue); }
    bool IsString() const { return std::holds_alternative<std::string>(FValue); }
    bool IsDateTime() const { return std::holds_alternative<TDateTime>(FValue); }
    const Value& Raw() const { return FValue; }

    // Conversions raise EConvertError when the value does not convert; null gives
    // the empty string, 0 or the zero moment.
    std::string AsString() const;
    int64_t AsInt64() const;
    int AsInteger() const;
    double AsDouble() const;
    TDateTime AsDateTime() const;

    bool operator==(const TVariant& other) const = default;

private:
    Value FValue;
};
