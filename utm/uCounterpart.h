#pragma once
// Counterparty records of EGAIS documents: one element "oref:" + kind prefix holding the
// participant's id, tax numbers, names and address. Builders and parsers of every
// document read and write the record through these functions alone.
#include <string>

#include "uVariant.h"
#include "uXml.h"

// Kind prefixes in the order they are looked for; the list ends with an empty entry.
inline constexpr const char* cEGAIS_COUNTERPART_PREFIX_LIST[] = {"FL", "UL", "TS", "FO", ""};

// The first direct child of RootNode named "oref:" + a kind prefix (in list order, the
// name compared as GetChildNode does); sTypePrefix receives its prefix, or "" when
// there is none and a nil node comes back.
TXmlNode GetCounterpartType(const TXmlNode& RootNode, std::string& sTypePrefix);

// One participant as documents and the counterparty table describe it. The flat address
// (City to Litera) is the version-1 documents' own; FsrarId is stored when known.
struct TCounterpartRecord {
    std::string ClientRegId, FullName, ShortName, Country, RegionCode, Descr;
    TVariant Inn, Kpp;       // null when absent
    std::string TypePrefix;  // "UL", "FL", "TS", "FO"; "" when none was found
    std::string City, Street, House, Index, Building, Litera, FsrarId;
};

// Reads the record that is a child of RootNode into r. Missing elements leave their
// fields empty (Inn and Kpp null); true when the record has an id or a full name.
bool LoadCounterPart(const TXmlNode& RootNode, TCounterpartRecord& r);

// Appends a record of kind sOrgPrefix as the last child of RootNode. An empty
// sClientRegID raises Exception "ClientRegID контрагента \"<full name>\" не указан."
// and appends nothing.
bool AddCounterpartToXml(TXmlDocument& Xml, TXmlNode RootNode, const std::string& sClientRegID,
                         const std::string& sFullName, const std::string& sShortName,
                         const std::string& sINN, const std::string& sKPP,
                         const std::string& sCountryCode, const std::string& sRegionCode,
                         const std::string& sOrgPrefix, const std::string& sDescription);

// The message AddCounterpartToXml raises for a record without participant id.
std::string CounterpartWithoutIdMessage(const std::string& sFullName);
