#pragma once
// Run-time settings (database table s_egais_settings and the .ini file) and the small
// shared functions of the jobs.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "uVariant.h"

class TIniFile;

// Keys of the .ini section DEBUG_FLAGS: "1" makes that job save the XML documents it
// exchanges; every other value counts as "0"; an absent key is written as "0".
inline constexpr std::array<std::string_view, 27> DEBUG_FLAGS = {"DictionaryDebugSave",
                                                                 "DictionaryExDebugSave",
                                                                 "IncomingWayBillDebugSave",
                                                                 "OutGoingWayBillDebugSave",
                                                                 "TicketDebugSave",
                                                                 "RefreshDebugSave",
                                                                 "IncomingActDebugSave",
                                                                 "OutGoingActsDebugSave",
                                                                 "GarbageRemoverDebugSave",
                                                                 "IncomingRegInfoDebugSave",
                                                                 "ChargeOnActDebugSave",
                                                                 "InventoryRegInfoDebugSave",
                                                                 "QueryProductsDebugSave",
                                                                 "IncomingProductsInfoDebugSave",
                                                                 "WriteOffActDebugSave",
                                                                 "EgaisQueryFormABDebugSave",
                                                                 "IncomingFormADebugSave",
                                                                 "OutgoingTTNTicketDebugSave",
                                                                 "QueryPartnerDebugSave",
                                                                 "InformAUpdateDebugSave",
                                                                 "IsWithdrawSendedWaybillDebugSave",
                                                                 "QueryRestsDebugSave",
                                                                 "IncomingRestsDebugSave",
                                                                 "RequestRepealACODebugSave",
                                                                 "MovingR1R2DebugSave",
                                                                 "EgaisServiceQueryDebugSave",
                                                                 "EgaisMarkCodesActDebugSave"};

// A small record the jobs keep lists of.
struct TVariousFieldItem {
    int64_t Id = 0;
    int IntValue = 0;
    int IntValue1 = 0;
    std::string StringValue;
    std::string StringValue1;
};

struct TTaskFlag {
    std::string_view Key;
    std::string_view Default;  // "1" or "0"; every value other than the opposite counts as this
};

// Keys of the .ini section TASK_FLAGS, one per job kind: "1" lets the scheduler start
// that job. An absent key is written with its default.
inline constexpr std::array<TTaskFlag, 29> TASK_FLAGS = {{
    {"DictionaryJobEnabled", "1"},
    {"DictionaryExJobEnabled", "1"},
    {"IncomingWayBillJobEnabled", "1"},
    {"OutGoingWayBillJobEnabled", "1"},
    {"TicketJobEnabled", "1"},
    {"RefreshJobEnabled", "1"},
    {"IncomingActJobEnabled", "1"},
    {"OutGoingActsJobEnabled", "1"},
    {"GarbageRemoverJobEnabled", "1"},
    {"IncomingRegInfoJobEnabled", "1"},
    {"ChargeOnActJobEnabled", "1"},
    {"InventoryRegInfoJobEnabled", "1"},
    {"QueryProductsJobEnabled", "1"},
    {"IncomingProductsInfoJobEnabled", "1"},
    {"WriteOffActJobEnabled", "1"},
    {"EgaisQueryFormABJobEnabled", "1"},
    {"IncomingFormAJobEnabled", "1"},
    {"OutgoingTTNTicketJobEnabled", "1"},
    {"QueryPartnerJobEnabled", "1"},
    {"InformAUpdateJobEnabled", "1"},
    {"IsWithdrawSendedWaybillJobEnabled", "1"},
    {"QueryRestsEnabled", "1"},
    {"IncomingRestsJobEnabled", "1"},
    {"RequestRepealACOJobEnabled", "1"},
    {"MovingR1R2JobEnabled", "1"},
    {"EgaisServiceQueryJobEnabled", "1"},
    {"EgaisMarkCodesActJobEnabled", "1"},
    {"CardSyncJobEnabled", "0"},
    {"CRPTKeyJobEnabled", "1"},
}};

// The organisation's identifier written to a new .ini when no source names one.
inline constexpr const char* DEFAULT_FSRAR_ID = "030000000000";

// The settings are written by LoadSettings on the scheduler thread before any job
// starts and are then read by every thread without a lock; nothing changes them again
// in the same run (tests reset them with ClearSettings).

// Fills the settings from the database and the .ini file; raises when the database
// cannot be read or the .ini cannot be written.
void LoadSettings();
// The .ini half of LoadSettings: lets the file override or complete the lines already
// loaded from the database, writes the missing keys with their defaults and appends
// the normalised flag lines.
void MergeIniSettings(TIniFile& ini);
// The value of the first setting whose name equals aName ignoring letter case;
// nothing when absent (an empty value is a value).
std::optional<std::string> GetSettingProperty(const std::string& aName);
// Replaces the value of the first line of that name, or appends a line; an empty
// value with bRemoveWhenEmpty deletes the line.
void SetSettingProperty(const std::string& aName, const std::string& aValue,
                        bool bRemoveWhenEmpty = false);
// Appends a line even when the name is already there (as the database rows are read).
void AddSettingLine(const std::string& aName, const std::string& aValue);
// Every setting line in order (name, value).
std::vector<std::pair<std::string, std::string>> SettingLines();
void ClearSettings();

std::string GetUtmHost();
std::string GetUtmPort();
// How long a post to the UTM may take before it is given up: UtmPostTimeout seconds
// (QOR_SETTINGS), 120 when absent or not a positive whole number.
uint32_t GetUtmPostTimeoutMs();
// The largest document taken from the UTM: MaxDocumentSizeMb megabytes (QOR_SETTINGS),
// 64 when absent or not a positive whole number.
uint64_t GetMaxDocumentSizeBytes();
// Applies LOG_LEVEL to the log when the setting is present.
void UpdateLogParams();

// The text without its leading and trailing blanks and control characters.
std::string Trim(const std::string& s);

// aDefault for null, else the value as an integer (a failed conversion raises).
int VarToIntDef(const TVariant& v, int aDefault);
// Accepts "." or "," as the decimal separator; raises EConvertError otherwise.
double StrToDouble(const std::string& sValue);

void InitCRCTable();
// CRC-32/ISO-HDLC of the bytes of the text.
uint32_t CRC32(const std::string& buffer);
