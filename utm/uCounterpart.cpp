#include "uCounterpart.h"
#include "uCommon.h"

namespace {

TXmlNode AppendText(TXmlDocument& Xml, TXmlNode parent, const std::string& sName,
                    const std::string& sValue) {
    TXmlNode node = parent.appendChild(Xml.createElement(sName));
    node.setText(sValue);
    return node;
}

}  // namespace

TXmlNode GetCounterpartType(const TXmlNode& RootNode, std::string& sTypePrefix) {
    sTypePrefix.clear();
    for (const char* prefix : cEGAIS_COUNTERPART_PREFIX_LIST) {
        if (*prefix == '\0') break;
        TXmlNode node = GetChildNode(RootNode, std::string("oref:") + prefix);
        if (node) {
            sTypePrefix = prefix;
            return node;
        }
    }
    return TXmlNode();
}

bool LoadCounterPart(const TXmlNode& RootNode, TCounterpartRecord& r) {
    r = TCounterpartRecord();
    TXmlNode record = GetCounterpartType(RootNode, r.TypePrefix);
    if (!record) return false;

    auto take = [](TXmlNode parent, const char* sName, std::string& out) {
        if (TXmlNode n = GetChildNode(parent, sName)) out = n.text();
    };
    take(record, "oref:ClientRegId", r.ClientRegId);
    take(record, "oref:FullName", r.FullName);
    take(record, "oref:ShortName", r.ShortName);
    if (TXmlNode n = GetChildNode(record, "oref:INN")) r.Inn = TVariant(n.text());
    if (TXmlNode n = GetChildNode(record, "oref:KPP")) r.Kpp = TVariant(n.text());
    if (TXmlNode address = GetChildNode(record, "oref:address")) {
        take(address, "oref:Country", r.Country);
        take(address, "oref:RegionCode", r.RegionCode);
        take(address, "oref:description", r.Descr);
    }
    return !r.ClientRegId.empty() || !r.FullName.empty();
}

std::string CounterpartWithoutIdMessage(const std::string& sFullName) {
    return "ClientRegID контрагента \"" + sFullName + "\" не указан.";
}

bool AddCounterpartToXml(TXmlDocument& Xml, TXmlNode RootNode, const std::string& sClientRegID,
                         const std::string& sFullName, const std::string& sShortName,
                         const std::string& sINN, const std::string& sKPP,
                         const std::string& sCountryCode, const std::string& sRegionCode,
                         const std::string& sOrgPrefix, const std::string& sDescription) {
    if (sClientRegID.empty()) throw Exception(CounterpartWithoutIdMessage(sFullName));

    TXmlNode record = RootNode.appendChild(Xml.createElement("oref:" + sOrgPrefix));
    AppendText(Xml, record, "oref:ClientRegId", sClientRegID);
    // Foreign records have no place for Russian tax numbers.
    const bool bForeign = sOrgPrefix == "FO" || sOrgPrefix == "TS";
    if (!sINN.empty() && !bForeign) AppendText(Xml, record, "oref:INN", sINN);
    if (!sKPP.empty() && !bForeign) AppendText(Xml, record, "oref:KPP", sKPP);
    AppendText(Xml, record, "oref:FullName", sFullName);
    if (!sShortName.empty()) AppendText(Xml, record, "oref:ShortName", sShortName);

    // Foreign counterparties carry no Russian region; "00" means none.
    const std::string sRegionTrimmed = Trim(sRegionCode);
    const bool bRegion = !sRegionTrimmed.empty() && sRegionTrimmed != "00" && !bForeign;
    if (!sCountryCode.empty() || !sRegionCode.empty() || !sDescription.empty()) {
        TXmlNode address = record.appendChild(Xml.createElement("oref:address"));
        if (!sCountryCode.empty()) AppendText(Xml, address, "oref:Country", sCountryCode);
        if (bRegion) AppendText(Xml, address, "oref:RegionCode", sRegionTrimmed);
        if (!sDescription.empty()) AppendText(Xml, address, "oref:description", sDescription);
    }
    return true;
}
