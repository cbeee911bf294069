#include <gtest/gtest.h>

#include "uCounterpart.h"

namespace {

// A waybill party element holding the given content, in the ClientRef_v2 vocabulary.
TXmlDocument Party(const std::string& sContent) {
    return LoadXmlFrom("<wb:Shipper xmlns:wb=\"" + EgaisNamespace("TTNSingle_v4") +
                       "\" xmlns:oref=\"" + EgaisNamespace("ClientRef_v2") +
                       "\" xmlns:x=\"urn:other\">" + sContent + "</wb:Shipper>");
}

// The element tree below a node: "name=text" for leaves, children indented.
void Outline(const TXmlNode& node, int iDepth, std::string& out) {
    for (TXmlNode c = node.firstChild(); c; c = c.nextSibling()) {
        if (c.nodeType() != ntElement) continue;
        out.append(static_cast<size_t>(iDepth) * 2, ' ');
        out += c.nodeName();
        bool bLeaf = true;
        for (TXmlNode g = c.firstChild(); g; g = g.nextSibling())
            if (g.nodeType() == ntElement) bLeaf = false;
        if (bLeaf) out += "=" + c.text();
        out += "\n";
        Outline(c, iDepth + 1, out);
    }
}

std::string Outline(const TXmlNode& node) {
    std::string out;
    Outline(node, 0, out);
    return out;
}

TEST(GetCounterpartType, FindsTheFirstKindInTableOrder) {
    struct Case {
        const char* content;
        const char* prefix;
        const char* id;  // ClientRegId of the node found
    };
    const Case cases[] = {
        {"<oref:UL><oref:ClientRegId>u</oref:ClientRegId></oref:UL>", "UL", "u"},
        {"<oref:UL><oref:ClientRegId>u</oref:ClientRegId></oref:UL>"
         "<oref:FL><oref:ClientRegId>f</oref:ClientRegId></oref:FL>",
         "FL", "f"},
        {"<oref:FO><oref:ClientRegId>o</oref:ClientRegId></oref:FO>"
         "<oref:TS><oref:ClientRegId>t</oref:ClientRegId></oref:TS>",
         "TS", "t"},
        {"<oref:FO><oref:ClientRegId>o</oref:ClientRegId></oref:FO>", "FO", "o"},
        {"<x:UL><oref:ClientRegId>x</oref:ClientRegId></x:UL>", "UL", "x"},  // another prefix
        {"<oref:XX/><oref:ClientRegId>1</oref:ClientRegId>", "", ""},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.content);
        TXmlDocument doc = Party(c.content);
        std::string sPrefix = "stale";
        TXmlNode node = GetCounterpartType(doc.documentElement(), sPrefix);
        EXPECT_EQ(sPrefix, c.prefix);
        EXPECT_EQ(bool(node), *c.prefix != '\0');
        if (node) {
            EXPECT_EQ(GetChildNode(node, "oref:ClientRegId").text(), c.id);
        }
    }
}

struct TLoaded {
    bool bResult;
    std::string ClientRegId, FullName, ShortName, Country, RegionCode, Descr, Prefix;
    TVariant Inn, Kpp;
};

TLoaded Load(const TXmlNode& root) {
    TCounterpartRecord c;
    c.TypePrefix = "stale";
    TLoaded r;
    r.bResult = LoadCounterPart(root, c);
    r.ClientRegId = c.ClientRegId;
    r.FullName = c.FullName;
    r.ShortName = c.ShortName;
    r.Country = c.Country;
    r.RegionCode = c.RegionCode;
    r.Descr = c.Descr;
    r.Prefix = c.TypePrefix;
    r.Inn = c.Inn;
    r.Kpp = c.Kpp;
    return r;
}

TEST(LoadCounterPart, ReadsEveryKindOfRecord) {
    for (const char* kind : {"UL", "FL", "TS", "FO"}) {
        SCOPED_TRACE(kind);
        const std::string k = kind;
        TXmlDocument doc = Party(
            "<oref:" + k +
            "><oref:ClientRegId>030000000001</oref:ClientRegId><oref:INN>7701</oref:INN>"
            "<oref:KPP>7702</oref:KPP><oref:FullName>ООО \"Ёж\" &amp; Ко</oref:FullName>"
            "<oref:ShortName>Ёж</oref:ShortName><oref:address><oref:Country>643</oref:Country>"
            "<oref:RegionCode> 77 </oref:RegionCode><oref:description>Москва</oref:description>"
            "</oref:address></oref:" +
            k + ">");
        TLoaded r = Load(doc.documentElement());
        EXPECT_TRUE(r.bResult);
        EXPECT_EQ(r.Prefix, k);
        EXPECT_EQ(r.ClientRegId, "030000000001");
        EXPECT_EQ(r.FullName, "ООО \"Ёж\" & Ко");
        EXPECT_EQ(r.ShortName, "Ёж");
        EXPECT_EQ(r.Country, "643");
        EXPECT_EQ(r.RegionCode, " 77 ") << "read as it stands";
        EXPECT_EQ(r.Descr, "Москва");
        EXPECT_TRUE(r.Inn == TVariant("7701"));
        EXPECT_TRUE(r.Kpp == TVariant("7702"));
    }
}

TEST(LoadCounterPart, MissingPartsStayEmptyOrNull) {
    struct Case {
        const char* content;
        bool bResult;
        const char* id;
        const char* name;
        const char* prefix;
    };
    const Case cases[] = {
        {"<oref:FO><oref:FullName>Foreign Ltd</oref:FullName></oref:FO>", true, "", "Foreign Ltd",
         "FO"},
        {"<oref:UL><oref:ClientRegId>7</oref:ClientRegId></oref:UL>", true, "7", "", "UL"},
        {"<oref:UL><oref:ShortName>s</oref:ShortName></oref:UL>", false, "", "", "UL"},
        {"<oref:Other><oref:ClientRegId>7</oref:ClientRegId></oref:Other>", false, "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.content);
        TXmlDocument doc = Party(c.content);
        TLoaded r = Load(doc.documentElement());
        EXPECT_EQ(r.bResult, c.bResult);
        EXPECT_EQ(r.ClientRegId, c.id);
        EXPECT_EQ(r.FullName, c.name);
        EXPECT_EQ(r.Prefix, c.prefix);
        EXPECT_TRUE(r.Inn.IsNull());
        EXPECT_TRUE(r.Kpp.IsNull());
        EXPECT_EQ(r.Country, "");
        EXPECT_EQ(r.Descr, "");
    }
}

TEST(AddCounterpartToXml, WritesTheRecordOfEachKind) {
    struct Case {
        const char* kind;
        const char* inn;
        const char* kpp;
        const char* country;
        const char* region;
        const char* descr;
        const char* outline;
    };
    const Case cases[] = {
        {"UL", "7701234567", "770101001", "643", "77", "Москва",
         "oref:UL\n  oref:ClientRegId=0300\n  oref:INN=7701234567\n  oref:KPP=770101001\n"
         "  oref:FullName=ООО <\"Ёж\"> & Ко\n  oref:ShortName=Ёж\n  oref:address\n"
         "    oref:Country=643\n    oref:RegionCode=77\n    oref:description=Москва\n"},
        {"UL", "7701234567", "770101001", "643", " 00 ", "",
         "oref:UL\n  oref:ClientRegId=0300\n  oref:INN=7701234567\n  oref:KPP=770101001\n"
         "  oref:FullName=ООО <\"Ёж\"> & Ко\n  oref:ShortName=Ёж\n  oref:address\n"
         "    oref:Country=643\n"},
        {"FL", "770123456789", "", "643", " 50", "",
         "oref:FL\n  oref:ClientRegId=0300\n  oref:INN=770123456789\n"
         "  oref:FullName=ООО <\"Ёж\"> & Ко\n  oref:ShortName=Ёж\n  oref:address\n"
         "    oref:Country=643\n    oref:RegionCode=50\n"},  // cards may hold it padded
        {"FO", "", "", "276", "77", "Berlin",
         "oref:FO\n  oref:ClientRegId=0300\n  oref:FullName=ООО <\"Ёж\"> & Ко\n"
         "  oref:ShortName=Ёж\n  oref:address\n    oref:Country=276\n"
         "    oref:description=Berlin\n"},
        // A kind chosen on the card with Russian numbers still left on it.
        {"TS", "600900114077", "600901001", "398", "77", "",
         "oref:TS\n  oref:ClientRegId=0300\n  oref:FullName=ООО <\"Ёж\"> & Ко\n"
         "  oref:ShortName=Ёж\n  oref:address\n    oref:Country=398\n"},
        {"UL", "1", "2", "", "", "",
         "oref:UL\n  oref:ClientRegId=0300\n  oref:INN=1\n  oref:KPP=2\n"
         "  oref:FullName=ООО <\"Ёж\"> & Ко\n  oref:ShortName=Ёж\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.kind) + " region '" + c.region + "'");
        TXmlDocument doc = Party("");
        TXmlNode root = doc.documentElement();
        EXPECT_TRUE(AddCounterpartToXml(doc, root, "0300", "ООО <\"Ёж\"> & Ко", "Ёж", c.inn, c.kpp,
                                        c.country, c.region, c.kind, c.descr));
        // Through text and back, as the document travels.
        TXmlDocument again = LoadXmlFrom(doc.xml());
        EXPECT_EQ(Outline(again.documentElement()), c.outline);
        TXmlNode record = again.documentElement().firstChild();
        EXPECT_EQ(record.namespaceURI(), EgaisNamespace("ClientRef_v2"));

        TLoaded r = Load(again.documentElement());
        EXPECT_TRUE(r.bResult);
        EXPECT_EQ(r.Prefix, c.kind);
        EXPECT_EQ(r.FullName, "ООО <\"Ёж\"> & Ко");
        EXPECT_EQ(r.Inn.IsNull(), std::string(c.outline).find("oref:INN") == std::string::npos);
        EXPECT_EQ(r.Country, c.country);
    }
}

TEST(AddCounterpartToXml, RecordWithoutIdRaisesAndAddsNothing) {
    TXmlDocument doc = Party("<oref:Existing/>");
    TXmlNode root = doc.documentElement();
    try {
        AddCounterpartToXml(doc, root, "", "ООО Ёж", "", "1", "2", "643", "77", "UL", "");
        ADD_FAILURE() << "added";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "ClientRegID контрагента \"ООО Ёж\" не указан.");
    }
    EXPECT_EQ(Outline(root), "oref:Existing=\n");
}

}  // namespace
