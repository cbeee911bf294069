#include "uText.h"

#include <charconv>

namespace {

bool IsContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

// The byte offset where character n begins (the size when the text is shorter).
size_t OffsetOfChar(const std::string& s, size_t n) {
    size_t i = 0;
    for (size_t count = 0; i < s.size(); ++i) {
        if (IsContinuation(static_cast<unsigned char>(s[i]))) continue;
        if (count == n) return i;
        ++count;
    }
    return s.size();
}

}  // namespace

std::string Utf8Left(const std::string& s, size_t n) {
    return s.substr(0, OffsetOfChar(s, n));
}

size_t Utf8Length(const std::string& s) {
    size_t count = 0;
    for (char c : s)
        if (!IsContinuation(static_cast<unsigned char>(c))) ++count;
    return count;
}

std::string Utf8HeadAndTail(const std::string& s, size_t n) {
    const size_t length = Utf8Length(s);
    if (length <= 2 * n) return s;
    return s.substr(0, OffsetOfChar(s, n)) + s.substr(OffsetOfChar(s, length - n));
}

std::string UpperAscii(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

std::string LowerAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool Contains(const std::string& s, const std::string& part) {
    return s.find(part) != std::string::npos;
}

bool TryStrToInt64(const std::string& s, int64_t& value) {
    if (s.empty()) return false;
    const char* b = s.data();
    const char* e = b + s.size();
    if (*b == '+') ++b;
    if (b == e) return false;
    auto res = std::from_chars(b, e, value);
    return res.ec == std::errc() && res.ptr == e;
}
