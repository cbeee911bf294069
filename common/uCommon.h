#pragma once
// Run-time settings (database table s_egais_settings and the .ini file) and the small
// shared functions of the jobs.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "uVariant.h"

// Fills the settings from the database and the .ini file; raises when the database
// cannot be read or the .ini cannot be written.
void LoadSettings();
// The value of the first setting whose name equals aName ignoring letter case;
// nothing when absent (an empty value is a value).
std::optional<std::string> GetSettingProperty(const std::string& aName);
// Replaces the value of the first line of that name, or appends a line; an empty
// value with bRemoveWhenEmpty deletes the line.
void SetSettingProperty(const std::string& aName, const std::string& aValue,
                        bool bRemoveWhenEmpty = false);
// Every setting line in order (name, value).
std::vector<std::pair<std::string, std::string>> SettingLines();
void ClearSettings();

std::string GetUtmHost();
std::string GetUtmPort();
// Applies LOG_LEVEL to the log when the setting is present.
void UpdateLogParams();

// aDefault for null, else the value as an integer (a failed conversion raises).
int VarToIntDef(const TVariant& v, int aDefault);
// Accepts "." or "," as the decimal separator; raises EConvertError otherwise.
double StrToDouble(const std::string& sValue);

void InitCRCTable();
// CRC-32/ISO-HDLC of the bytes of the text.
uint32_t CRC32(const std::string& buffer);
