#include "uFbNamedParams.h"

#include <cctype>
#include <cstring>

namespace {

bool IsNameStart(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) || c == '_';
}
bool IsNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$';
}

// Length of the literal, identifier or comment starting at i, or 0 when none starts there.
size_t SkipQuoted(const std::string& s, size_t i) {
    const size_t n = s.size();
    const char c = s[i];
    if (c == '\'' || c == '"') {
        size_t j = i + 1;
        while (j < n) {
            if (s[j] == c) {
                if (j + 1 < n && s[j + 1] == c) {  // doubled quote inside
                    j += 2;
                    continue;
                }
                return j + 1 - i;
            }
            ++j;
        }
        return n - i;
    }
    if ((c == 'q' || c == 'Q') && i + 2 < n && s[i + 1] == '\'' &&
        (i == 0 || !IsNameChar(s[i - 1]))) {
        char open = s[i + 2];
        char close = open;
        if (open == '(')
            close = ')';
        else if (open == '[')
            close = ']';
        else if (open == '{')
            close = '}';
        else if (open == '<')
            close = '>';
        for (size_t j = i + 3; j + 1 < n; ++j)
            if (s[j] == close && s[j + 1] == '\'') return j + 2 - i;
        return n - i;
    }
    if (c == '-' && i + 1 < n && s[i + 1] == '-') {
        size_t j = s.find('\n', i);
        return (j == std::string::npos ? n : j + 1) - i;
    }
    if (c == '/' && i + 1 < n && s[i + 1] == '*') {
        size_t j = s.find("*/", i + 2);
        return (j == std::string::npos ? n : j + 2) - i;
    }
    return 0;
}

// Position after the blanks and comments from i.
size_t SkipBlanks(const std::string& s, size_t i) {
    while (i < s.size()) {
        if (std::isspace(static_cast<unsigned char>(s[i]))) {
            ++i;
        } else if ((s[i] == '-' || s[i] == '/') && SkipQuoted(s, i) > 0) {
            i += SkipQuoted(s, i);
        } else {
            break;
        }
    }
    return i;
}

bool KeywordAt(const std::string& s, size_t i, const char* word) {
    const size_t len = std::strlen(word);
    if (i + len > s.size()) return false;
    for (size_t k = 0; k < len; ++k)
        if (std::toupper(static_cast<unsigned char>(s[i + k])) != word[k]) return false;
    return i + len == s.size() || !IsNameChar(s[i + len]);
}

// For an EXECUTE BLOCK, the end of its parameter header (the position after its closing
// parenthesis), or the position where the block's text begins when it has none.
// std::string::npos for any other statement: translate everything.
size_t ExecuteBlockHeaderEnd(const std::string& s) {
    size_t i = SkipBlanks(s, 0);
    if (!KeywordAt(s, i, "EXECUTE")) return std::string::npos;
    i = SkipBlanks(s, i + 7);
    if (!KeywordAt(s, i, "BLOCK")) return std::string::npos;
    i = SkipBlanks(s, i + 5);
    if (i >= s.size() || s[i] != '(') return i;
    int depth = 0;
    while (i < s.size()) {
        if (size_t q = SkipQuoted(s, i)) {
            i += q;
            continue;
        }
        if (s[i] == '(') ++depth;
        if (s[i] == ')' && --depth == 0) return i + 1;
        ++i;
    }
    return s.size();
}

}  // namespace

TTranslatedSql TranslateNamedParams(const std::string& sql) {
    TTranslatedSql result;
    const size_t end = std::min(ExecuteBlockHeaderEnd(sql), sql.size());
    result.Sql.reserve(sql.size());
    size_t i = 0;
    while (i < end) {
        if (size_t q = SkipQuoted(sql, i)) {
            result.Sql.append(sql, i, q);
            i += q;
            continue;
        }
        if (sql[i] == ':' && i + 1 < end && IsNameStart(sql[i + 1])) {
            size_t j = i + 1;
            while (j < end && IsNameChar(sql[j])) ++j;
            std::string name = sql.substr(i + 1, j - i - 1);
            for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            result.Names.push_back(std::move(name));
            result.Sql += '?';
            i = j;
            continue;
        }
        result.Sql += sql[i++];
    }
    result.Sql.append(sql, end, std::string::npos);
    return result;
}
