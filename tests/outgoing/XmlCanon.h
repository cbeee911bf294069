#pragma once
// A canonical outline of an XML text for comparisons after parsing: one line per
// element with its namespace URI and qualified name, its namespace declarations and
// attributes in document order, and its own text; whitespace-only text is layout.
#include <string>

namespace qortest {

// Raises std::runtime_error when the text is not well-formed.
std::string CanonicalXml(const std::string& sText);

}  // namespace qortest
