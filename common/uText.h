#pragma once
// Text rules of EGAIS data: lengths count characters (UTF-8 code points, so a
// Cyrillic name is cut where a reader would cut it), trimming removes control
// characters and blanks, upper case touches the Latin letters a to z only.
#include <cstdint>
#include <string>

// The first n characters of a UTF-8 text.
std::string Utf8Left(const std::string& s, size_t n);
// The number of characters of a UTF-8 text.
size_t Utf8Length(const std::string& s);
// The first n characters followed by the last n characters when the text is longer
// than 2n characters; otherwise the text itself.
std::string Utf8HeadAndTail(const std::string& s, size_t n);
// a-z become A-Z; every other byte stays.
std::string UpperAscii(std::string s);
// A-Z become a-z; every other byte stays.
std::string LowerAscii(std::string s);
bool Contains(const std::string& s, const std::string& part);
// A whole decimal integer (optional sign, no blanks), as the ticket and waybill readers
// accept it; false for anything else, an empty text or a value outside 64 bits.
bool TryStrToInt64(const std::string& s, int64_t& value);
