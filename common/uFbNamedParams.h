#pragma once
// Translation of named statement parameters (":NAME") into the positional markers
// ("?") that the Firebird client prepares.
#include <string>
#include <vector>

struct TTranslatedSql {
    std::string Sql;                 // the text with every parameter replaced by "?"
    std::vector<std::string> Names;  // the parameter name of each "?", in order, upper case
};

// Names are letters, digits, "_" and "$", beginning with a letter or "_". Nothing is
// translated inside string literals ('...', q'{...}'), quoted identifiers ("...") or
// comments (-- and /* */). In an EXECUTE BLOCK only the parameter header (the
// parenthesised list before RETURNS or AS) is translated: the names in the block's
// body are its own variables.
TTranslatedSql TranslateNamedParams(const std::string& sql);
