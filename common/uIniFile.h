#pragma once
// The .ini file: sections of key=value lines, looked up ignoring letter case.
// Read in UTF-8, falling back to Windows-1251 for a file that is not valid UTF-8;
// written in UTF-8. Every write goes straight to the file.
#include <filesystem>
#include <string>
#include <vector>

#include "Exception.h"

QOR_DECLARE_EXCEPTION(EIniFileException, Exception)

class TIniFile {
public:
    explicit TIniFile(std::filesystem::path path);

    const std::filesystem::path& FileName() const { return FPath; }
    // The value of the key, or aDefault when the section or the key is absent.
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& aDefault) const;
    bool ValueExists(const std::string& section, const std::string& key) const;
    // Sets the key and rewrites the file; raises EIniFileException
    // "Unable to write to <file>" when the file cannot be written.
    void WriteString(const std::string& section, const std::string& key, const std::string& value);

private:
    // Index of the line holding the key inside the section, or -1.
    long FindKey(const std::string& section, const std::string& key) const;
    void Save() const;

    std::filesystem::path FPath;
    std::vector<std::string> FLines;  // the file as it is, comments included
};

// Text conversion between UTF-8 and an 8-bit code page (iconv). Characters the
// target lacks are dropped.
std::string ConvertCodePage(const std::string& text, const char* from, const char* to);
bool IsValidUtf8(const std::string& text);
