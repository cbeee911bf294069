#include "uCommon.h"

#include <strings.h>

#include <algorithm>
#include <charconv>
#include <cmath>

#include "uDbProvider.h"
#include "uIniFile.h"
#include "uLogger.h"
#include "uPlatform.h"

namespace {
constexpr const char* kSettingsSection = "QOR_SETTINGS";
constexpr const char* kDebugFlagsSection = "DEBUG_FLAGS";
constexpr const char* kTaskFlagsSection = "TASK_FLAGS";

// Written by LoadSettings before any job starts, then read by every thread without a
// lock (see uCommon.h).
std::vector<std::pair<std::string, std::string>> gSettings;

bool SameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

std::string_view TrimView(std::string_view s) {
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
    return s;
}

// Appends a "name=value" line; the name ends at the line's first "=".
void AddLine(const std::string& line) {
    size_t eq = line.find('=');
    if (eq == std::string::npos)
        gSettings.emplace_back(line, std::string());
    else
        gSettings.emplace_back(line.substr(0, eq), line.substr(eq + 1));
}

auto FindLine(std::string_view name) {
    return std::find_if(gSettings.begin(), gSettings.end(),
                        [&](const auto& line) { return SameText(line.first, name); });
}

// A key whose .ini value, when not blank, overrides the database; otherwise the .ini is
// completed with the database value or, lacking one, with the default (which then only
// takes effect from the next start).
void MergeSettingKey(TIniFile& ini, const std::string& key, const std::string& iniDefault,
                     const std::string& fallback) {
    std::string value = ini.ReadString(kSettingsSection, key, iniDefault);
    if (!TrimView(value).empty()) {
        SetSettingProperty(key, value);
        return;
    }
    auto fromDb = GetSettingProperty(key);
    if (fromDb && !TrimView(*fromDb).empty())
        ini.WriteString(kSettingsSection, key, *fromDb);
    else
        ini.WriteString(kSettingsSection, key, fallback);
}

const std::array<uint32_t, 256>& CRCTable() {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    return table;
}

bool ParseDouble(std::string_view text, double& value) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return false;
    auto [p, ec] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    return ec == std::errc() && p == text.data() + text.size() && std::isfinite(value);
}
}  // namespace

std::optional<std::string> GetSettingProperty(const std::string& aName) {
    auto it = FindLine(aName);
    if (it == gSettings.end()) return std::nullopt;
    return it->second;
}

void SetSettingProperty(const std::string& aName, const std::string& aValue,
                        bool bRemoveWhenEmpty) {
    if (aValue.empty() && bRemoveWhenEmpty) {
        // Every line of that name goes, so that no duplicate from the database shows through.
        std::erase_if(gSettings, [&](const auto& line) { return SameText(line.first, aName); });
        return;
    }
    auto it = FindLine(aName);
    if (it != gSettings.end())
        it->second = aValue;
    else
        gSettings.emplace_back(aName, aValue);
}

void AddSettingLine(const std::string& aName, const std::string& aValue) {
    gSettings.emplace_back(aName, aValue);
}

std::vector<std::pair<std::string, std::string>> SettingLines() {
    return gSettings;
}

void ClearSettings() {
    gSettings.clear();
}

void MergeIniSettings(TIniFile& ini) {
    MergeSettingKey(ini, "FSRAR_ID", "", DEFAULT_FSRAR_ID);
    MergeSettingKey(ini, "UTM_ADDRESS", "", "127.0.0.1");
    MergeSettingKey(ini, "UTM_PORT", "", "8080");
    MergeSettingKey(ini, "CYCLE_TIME", "", "8080");
    MergeSettingKey(ini, "UtmPostTimeout", "", "120");
    MergeSettingKey(ini, "MaxDocumentSizeMb", "", "64");
    // An absent LOG_LEVEL reads as "Error" and so overrides the database; only a key
    // present but blank lets the database value through.
    MergeSettingKey(ini, "LOG_LEVEL", "Error", "DEBUG");

    for (const char* key : {"IgnoreDoubleSendTicket", "DefaultProtocolVersion"})
        SetSettingProperty(key, ini.ReadString(kSettingsSection, key, ""), true);

    for (std::string_view flag : DEBUG_FLAGS) {
        std::string key(flag);
        std::string value = ini.ReadString(kDebugFlagsSection, key, "");
        if (value.empty()) ini.WriteString(kDebugFlagsSection, key, "0");
        AddLine(key + "=" + (value == "1" ? "1" : "0"));
    }

    for (const TTaskFlag& flag : TASK_FLAGS) {
        std::string key(flag.Key);
        std::string value = ini.ReadString(kTaskFlagsSection, key, "");
        if (value.empty()) ini.WriteString(kTaskFlagsSection, key, std::string(flag.Default));
        // Only the opposite of the default turns a job away from its default.
        std::string_view opposite = flag.Default == "1" ? "0" : "1";
        std::string_view normalised = value == opposite ? opposite : flag.Default;
        AddLine(key + "=" + std::string(normalised));
    }
}

void LoadSettings() {
    Logger().Debug("Загружаем настройки из БД.");
    ClearSettings();
    TDbProvider& db = GetDbProvider();
    db.LockConnection();
    try {
        TQueryPtr query = db.OpenQuery(TTxMode::Long, TTxOwner::Connection);
        query->Run("SELECT * FROM s_egais_settings");
        while (!query->Eof()) {
            TVariant param = query->FieldByName("Param");
            if (!param.IsNull())
                AddLine(param.AsString() + "=" + query->FieldByName("String_Value").AsString());
            query->Next();
        }
    } catch (...) {
        db.UnlockConnection();
        throw;
    }
    db.UnlockConnection();

    TIniFile ini(platform::IniFilePath());
    MergeIniSettings(ini);
    Logger().Debug("Настройки успешно загружены.");
}

std::string GetUtmHost() {
    return GetSettingProperty("UTM_ADDRESS").value_or("localhost");
}

std::string GetUtmPort() {
    return GetSettingProperty("UTM_PORT").value_or("8080");
}

namespace {

// A setting that is a positive whole number up to iMax; iDefault otherwise.
uint32_t PositiveSetting(const std::string& sKey, uint32_t iDefault, uint32_t iMax) {
    const std::string text = Trim(GetSettingProperty(sKey).value_or(""));
    uint32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value == 0 || value > iMax)
        return iDefault;
    return value;
}

}  // namespace

uint32_t GetUtmPostTimeoutMs() {
    return PositiveSetting("UtmPostTimeout", 120, 24 * 3600) * 1000;
}

uint64_t GetMaxDocumentSizeBytes() {
    return uint64_t(PositiveSetting("MaxDocumentSizeMb", 64, 4096)) * 1024 * 1024;
}

void UpdateLogParams() {
    if (auto level = GetSettingProperty("LOG_LEVEL")) SetLogLevel(*level);
}

int VarToIntDef(const TVariant& v, int aDefault) {
    return v.IsNull() ? aDefault : v.AsInteger();
}

double StrToDouble(const std::string& sValue) {
    // The service's decimal separator is "."; a text written with "," is read by
    // swapping the separators, whatever the process locale says.
    std::string_view text = TrimView(sValue);
    double value = 0;
    if (ParseDouble(text, value)) return value;
    std::string swapped(text);
    if (swapped.find('.') == std::string::npos)
        std::replace(swapped.begin(), swapped.end(), ',', '.');
    else
        std::replace(swapped.begin(), swapped.end(), '.', ',');
    if (ParseDouble(swapped, value)) return value;
    throw EConvertError("'" + sValue + "' is not a valid floating point value");
}

void InitCRCTable() {
    (void)CRCTable();
}

uint32_t CRC32(const std::string& buffer) {
    const auto& table = CRCTable();
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char b : buffer) crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

std::string Trim(const std::string& s) {
    return std::string(TrimView(s));
}
