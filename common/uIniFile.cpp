#include "uIniFile.h"

#include <fcntl.h>
#include <iconv.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>

namespace {
std::string Trimmed(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

bool SameText(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strcasecmp(a.c_str(), b.c_str()) == 0;
}

// The section name of a "[name]" line, or nothing.
bool SectionOf(const std::string& line, std::string& name) {
    std::string t = Trimmed(line);
    if (t.size() < 2 || t.front() != '[' || t.back() != ']') return false;
    name = Trimmed(t.substr(1, t.size() - 2));
    return true;
}

// A line break inside a written value would start a new line of the file and could add
// keys or sections nobody wrote; each break becomes a blank.
std::string OneLine(std::string s) {
    for (char& c : s)
        if (c == '\r' || c == '\n') c = ' ';
    return s;
}

bool KeyOf(const std::string& line, std::string& key, std::string& value) {
    std::string t = Trimmed(line);
    if (t.empty() || t[0] == ';' || t[0] == '#') return false;
    size_t eq = t.find('=');
    if (eq == std::string::npos) return false;
    key = Trimmed(t.substr(0, eq));
    value = Trimmed(t.substr(eq + 1));
    return true;
}
}  // namespace

bool IsValidUtf8(const std::string& text) {
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    size_t n = text.size(), i = 0;
    while (i < n) {
        unsigned c = s[i];
        size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (len == 0 || i + len > n) return false;
        if (len == 2 && c < 0xC2) return false;
        for (size_t k = 1; k < len; ++k)
            if ((s[i + k] & 0xC0) != 0x80) return false;
        i += len;
    }
    return true;
}

std::string ConvertCodePage(const std::string& text, const char* from, const char* to) {
    std::string target = std::string(to) + "//IGNORE";
    iconv_t cd = iconv_open(target.c_str(), from);
    if (cd == reinterpret_cast<iconv_t>(-1)) RaiseLastOSError(std::string("iconv_open ") + from);
    std::string out;
    out.resize(text.size() * 4 + 16);
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char* dst = out.data();
    size_t outLeft = out.size();
    while (inLeft > 0) {
        size_t r = iconv(cd, &in, &inLeft, &dst, &outLeft);
        if (r != size_t(-1)) break;
        if (errno == EILSEQ || errno == EINVAL) {  // a byte the source cannot hold: drop it
            // With //IGNORE glibc skips such bytes itself and still reports EILSEQ at the
            // end, when nothing is left to step over.
            if (inLeft == 0) break;
            ++in;
            --inLeft;
            continue;
        }
        if (errno == E2BIG) {
            size_t used = size_t(dst - out.data());
            out.resize(out.size() * 2);
            dst = out.data() + used;
            outLeft = out.size() - used;
            continue;
        }
        break;
    }
    out.resize(size_t(dst - out.data()));
    iconv_close(cd);
    return out;
}

TIniFile::TIniFile(std::filesystem::path path) : FPath(std::move(path)) {
    std::ifstream in(FPath, std::ios::binary);
    if (!in) return;  // a missing file reads as empty; the first write creates it
    std::stringstream ss;
    ss << in.rdbuf();
    std::string text = ss.str();
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
    if (!IsValidUtf8(text)) text = ConvertCodePage(text, "WINDOWS-1251", "UTF-8");
    std::string line;
    std::istringstream lines(text);
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        FLines.push_back(line);
    }
}

long TIniFile::FindKey(const std::string& section, const std::string& key) const {
    bool inSection = false;
    std::string name, k, v;
    for (size_t i = 0; i < FLines.size(); ++i) {
        if (SectionOf(FLines[i], name)) {
            inSection = SameText(name, section);
            continue;
        }
        if (inSection && KeyOf(FLines[i], k, v) && SameText(k, key)) return long(i);
    }
    return -1;
}

bool TIniFile::ValueExists(const std::string& section, const std::string& key) const {
    return FindKey(section, key) >= 0;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& aDefault) const {
    long i = FindKey(section, key);
    if (i < 0) return aDefault;
    std::string k, v;
    KeyOf(FLines[size_t(i)], k, v);
    return v;
}

void TIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value) {
    std::string line = OneLine(key) + "=" + OneLine(value);
    long found = FindKey(section, key);
    if (found >= 0) {
        FLines[size_t(found)] = line;
    } else {
        // Append after the last key line of the section, or add the section.
        long sectionStart = -1, lastKey = -1;
        bool inSection = false;
        std::string name, k, v;
        for (size_t i = 0; i < FLines.size(); ++i) {
            if (SectionOf(FLines[i], name)) {
                inSection = SameText(name, section);
                if (inSection && sectionStart < 0) sectionStart = lastKey = long(i);
                continue;
            }
            if (inSection && KeyOf(FLines[i], k, v)) lastKey = long(i);
        }
        if (sectionStart < 0) {
            if (!FLines.empty() && !Trimmed(FLines.back()).empty()) FLines.emplace_back();
            FLines.push_back("[" + section + "]");
            FLines.push_back(line);
        } else {
            FLines.insert(FLines.begin() + lastKey + 1, line);
        }
    }
    Save();
}

void TIniFile::Save() const {
    // Written beside and renamed over, so that a crash never leaves half a file; a file
    // the system refuses to let us write stays as it is.
    if (std::filesystem::exists(FPath) && access(FPath.c_str(), W_OK) != 0)
        throw EIniFileException("Unable to write to " + FPath.string());
    std::filesystem::path tmp = FPath;
    tmp += ".tmp";
    std::string text;
    for (const auto& l : FLines) text += l + "\r\n";

    // The file may hold the database password: a new one is the owner's alone, and a
    // rewritten one keeps the mode and owner the administrator gave it.
    struct stat old {};
    const bool bExisting = stat(FPath.c_str(), &old) == 0;
    auto fail = [&](int fd) {
        if (fd >= 0) close(fd);
        unlink(tmp.c_str());
        throw EIniFileException("Unable to write to " + FPath.string());
    };
    unlink(tmp.c_str());
    const int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) fail(fd);
    if (bExisting) {
        if (fchmod(fd, old.st_mode & 07777) != 0) fail(fd);
        // Only root may give the file away; anyone else writes their own file.
        if ((old.st_uid != geteuid() || old.st_gid != getegid()) &&
            fchown(fd, old.st_uid, old.st_gid) != 0 && geteuid() == 0)
            fail(fd);
    }
    for (size_t done = 0; done < text.size();) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) fail(fd);
        done += size_t(n);
    }
    if (fsync(fd) != 0) fail(fd);
    if (close(fd) != 0) fail(-1);
    if (rename(tmp.c_str(), FPath.c_str()) != 0) fail(-1);
}
