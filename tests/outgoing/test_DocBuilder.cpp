#include <gtest/gtest.h>

#include <clocale>
#include <limits>
#include <locale>
#include <set>

#include "XmlCanon.h"
#include "uEgaisDocumentBuilder.h"

using qortest::CanonicalXml;

namespace {

const std::string kXsi = "http://www.w3.org/2001/XMLSchema-instance";
const std::string kXs = "http://www.w3.org/2001/XMLSchema";

// "xsi", "xs" and "ns" alone stand for their fixed namespaces; "p=Path" for an EGAIS path.
std::string ExpectedRootLine(const std::string& sVersion, const std::string& sDecls) {
    std::string line = "{" + EgaisNamespace("WB_DOC_SINGLE_01") + "}ns:Documents";
    size_t pos = 0;
    while (pos < sDecls.size()) {
        size_t end = sDecls.find(' ', pos);
        if (end == std::string::npos) end = sDecls.size();
        const std::string decl = sDecls.substr(pos, end - pos);
        pos = end + 1;
        const size_t eq = decl.find('=');
        const std::string prefix = decl.substr(0, eq);
        std::string uri = prefix == "xsi"  ? kXsi
                          : prefix == "xs" ? kXs
                          : prefix == "ns" ? EgaisNamespace("WB_DOC_SINGLE_01")
                                           : EgaisNamespace(decl.substr(eq + 1));
        line += " xmlns:" + prefix + "=" + uri;
    }
    return line + " @Version=" + sVersion;
}

std::string RootLine(const TXmlDocument& doc) {
    std::string canon = CanonicalXml(doc.xml());
    size_t first = canon.find('\n') + 1;
    return canon.substr(first, canon.find('\n', first) - first);
}

TEST(DocBuilderHeader, EveryKindDeclaresItsNamespacesInOrder) {
    struct Case {
        TDocType kind;
        const char* version;
        const char* decls;
    };
    const Case cases[] = {
        {dtOutgoingWaybill, "1.0", "wb=TTNSingle pref=ProductRef oref=ClientRef ns"},
        {dtOutgoingWaybillV2, "1.0", "xsi ns oref=ClientRef_v2 pref=ProductRef_v2 wb=TTNSingle_v2"},
        {dtOutgoingWayBillV3, "1.0",
         "xsi ns oref=ClientRef_v2 pref=ProductRef_v2 wb=TTNSingle_v3 ce=CommonV3"},
        {dtOutgoingWayBillV4, "1.0",
         "xsi ns oref=ClientRef_v2 pref=ProductRef_v2 wb=TTNSingle_v4 ce=CommonV3"},
        {dtReceptionAct, "1.0", "wa=ActTTNSingle pref=ProductRef oref=ClientRef ns"},
        {dwWithdrawSendedWaybill, "1.0", "wa=ActTTNSingle pref=ProductRef oref=ClientRef ns"},
        {dtReceptionActV2, "1.0", "wa=ActTTNSingle_v2 pref=ProductRef oref=ClientRef ns"},
        {dtReceptionActV3, "1.0", "xsi ns wa=ActTTNSingle_v3 ce=CommonV3"},
        {dtReceptionActV4, "1.0", "xsi ns wa=ActTTNSingle_v4 c=Common ce=CommonV3"},
        {dtConfirmAct, "1.0", "wt=ConfirmTicket xsi ns"},
        {dtRejectAct, "1.0", "wt=ConfirmTicket xsi ns"},
        {dtWriteOffAct, "1.0", "ns pref=ProductRef_v2 awr=ActWriteOff_v3 ce=CommonV3"},
        {dtWriteOffShopAct, "1.0",
         "xsi ns pref=ProductRef_v2 oref=ClientRef_v2 awr=ActWriteOffShop_v2 ce=CommonEnum"},
        {dtChargeOnAct, "1.0",
         "xsi ns oref=ClientRef_v2 pref=ProductRef_v2 iab=ActInventoryF1F2Info "
         "ainp=ActChargeOn_v2 ce=CommonEnum"},
        {dtChargeOnShop, "2.0",
         "xsi ns oref=ClientRef_v2 pref=ProductRef_v2 ainp=ActChargeOnShop_v2 ce=CommonEnum"},
        {dtTransferToShop, "1.0", "ns xs c=Common pref=ProductRef_v2 tts=TransferToShop"},
        {dtTransferFromShop, "1.0", "ns xs c=Common pref=ProductRef_v2 tfs=TransferFromShop"},
        {dtActFixBarCode, "1.0", "xsi ns pref=ProductRef_v2 awr=ActFixBarCode ce=CommonV3"},
        {dtActUnFixBarCode, "1.0", "xsi ns pref=ProductRef_v2 awr=ActUnFixBarCode ce=CommonV3"},
        {dwRepealWaybillAct, "1.0", "ns xsi qp=RequestRepealWB"},
        {dwRepealActCahergeOn, "1.0", "ns xsi qp=RequestRepealACO"},
        {dtRepealActWriteOff, "1.0", "ns xsi qp=RequestRepealAWO"},
        {dtResendWaybill, "1.0", "xsi ns qp=QueryParameters"},
        {dtSetTTNVersion, "1.0", "xsi ns qp=InfoVersionTTN"},
        {dtQueryMarkCodes, "1.0", "xsi ns bk=QueryBarcode ce=CommonEnum"},
        {dtQueryMarkRest, "1.0", "qp=QueryParameters oref=ClientRef ns"},
        {dtQueryFormA, "1.0", "xsi ns qf=QueryFormF1F2"},
        {dtQueryFormB, "1.0", "xsi ns qf=QueryFormF1F2"},
        {dtDictionary, "1.0", "qp=QueryParameters oref=ClientRef ns"},
        {dtDictionaryEx, "1.0", "qp=QueryParameters oref=ClientRef ns"},
        {dtQueryAP_AlcCode, "1.0", "ns qp=QueryParameters"},
        {dtQueryAP_INN, "1.0", "ns qp=QueryParameters"},
        {dtQueryAP_AlcCode_v1, "1.0", "ns qp=QueryParameters"},
        {dtRests, "1.0", "ns qp=QueryParameters"},
        {dtShopRests, "1.0", "ns qp=QueryParameters"},
    };
    TDocBuilder builder;
    for (const Case& c : cases) {
        SCOPED_TRACE(DocTypeName(c.kind));
        builder.NewDocument();
        builder.AddDocumentHeader(c.kind);
        const std::string text = builder.Xml().xml();
        EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0), 0u) << text;
        EXPECT_EQ(RootLine(builder.Xml()), ExpectedRootLine(c.version, c.decls));
    }
}

TEST(DocBuilderFrame, IncomingWayBillKindGivesAnEmptyDocument) {
    TDocBuilder builder;
    TXmlDocument doc = builder.BuildDocumentFromDb(dtIncomingWayBill, 1);
    ASSERT_TRUE(doc);
    EXPECT_FALSE(doc.hasChildNodes());
    EXPECT_FALSE(doc.documentElement());
}

TEST(DocBuilderFrame, KindsWithoutBodyRaiseNamingTheKind) {
    for (TDocType kind : {dtChargeOnShop, dtQueryMarkRest, dtSetTTNVersion}) {
        SCOPED_TRACE(DocTypeName(kind));
        TDocBuilder builder;
        try {
            builder.BuildDocumentFromDb(kind, 1);
            ADD_FAILURE() << "built";
        } catch (const EDocumentBuilderException& e) {
            EXPECT_NE(std::string(e.what()).find(DocTypeName(kind)), std::string::npos) << e.what();
        }
        EXPECT_FALSE(builder.Xml()) << "nothing half-built is kept";
    }
}

TEST(DocKindTable, EveryKindHasItsRowAndTheServedOnesTheirBody) {
    const std::set<TDocType> withBody = {
        dtIncomingWayBill,       dtOutgoingWaybill, dtOutgoingWaybillV2, dtOutgoingWayBillV3,
        dtOutgoingWayBillV4,     dtReceptionAct,    dtConfirmAct,        dtRejectAct,
        dwWithdrawSendedWaybill, dtReceptionActV2,  dtSetTTNVersion,     dtReceptionActV3,
        dtReceptionActV4};
    for (int value = dtIncomingWayBill; value <= dtReceptionActV4; ++value) {
        SCOPED_TRACE(value);
        const TDocKind* kind = FindDocKind(value);
        ASSERT_NE(kind, nullptr);
        EXPECT_EQ(kind->Kind, value);
        EXPECT_EQ(DocTypeName(value), kind->Name);
        EXPECT_EQ(kind->Body != nullptr, withBody.count(TDocType(value)) == 1);
        EXPECT_EQ(kind->Version == nullptr, value == dtIncomingWayBill);
    }
}

TEST(DocKindTable, AValueThatIsNoKindIsRefused) {
    for (int value : {-1, dtReceptionActV4 + 1, 99}) {
        SCOPED_TRACE(value);
        EXPECT_EQ(FindDocKind(value), nullptr);
        EXPECT_EQ(DocTypeName(value), "");
        TDocBuilder builder;
        try {
            builder.BuildDocumentFromDb(TDocType(value), 1);
            ADD_FAILURE() << "built";
        } catch (const EDocumentBuilderException& e) {
            EXPECT_NE(std::string(e.what()).find("(" + std::to_string(value) + ")"),
                      std::string::npos)
                << e.what();
        }
        EXPECT_FALSE(builder.Xml()) << "nothing half-built is kept";
        builder.NewDocument();
        EXPECT_THROW(builder.AddDocumentHeader(TDocType(value)), EDocumentBuilderException);
    }
}

TEST(DocBuilderFrame, ProtocolVersionOutsideThe32BitRangeIsARangeError) {
    TDocBuilder builder;
    const int64_t big = int64_t(std::numeric_limits<int32_t>::max()) + 1;
    EXPECT_THROW(builder.BuildDocumentFromDb(dtSetTTNVersion, big), ERangeError);
    EXPECT_THROW(builder.BuildDocumentFromDb(dtSetTTNVersion, -big - 1), ERangeError);
}

TEST(DocBuilderFrame, BodyWithoutRootRaisesNotRootNode) {
    TDocBuilder builder;
    builder.NewDocument();
    try {
        builder.BuildBody(dtOutgoingWayBillV4, 1);
        ADD_FAILURE() << "built";
    } catch (const EDocumentBuilderException& e) {
        EXPECT_STREQ(e.what(), "not root node");
    }
}

TEST(GetCounterpartCode, KindFromCountryInnAndKpp) {
    struct Case {
        const char* country;
        const char* inn;
        const char* kpp;
        const char* kind;
        const char* innAfter;
        const char* kppAfter;
    };
    const Case cases[] = {
        {"643", "7701234567", "770101001", "UL", "7701234567", "770101001"},
        {"643", "770123456789", "", "FL", "770123456789", ""},
        {"643", "", "770101001", "FO", "", ""},
        {"643", "", "", "FO", "", ""},
        {"398", "123456789012", "", "TS", "", ""},
        {"112", "", "", "TS", "", ""},
        {"276", "DE123", "K1", "FO", "", ""},
        {"", "7701234567", "770101001", "FO", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.country) + "/" + c.inn + "/" + c.kpp);
        std::string inn = c.inn, kpp = c.kpp;
        EXPECT_EQ(TDocBuilder::GetCounterpartCode(c.country, inn, kpp), c.kind);
        EXPECT_EQ(inn, c.innAfter);
        EXPECT_EQ(kpp, c.kppAfter);
    }
}

// A C++ locale whose decimal separator is a comma, as a Russian one would have.
struct CommaDecimal : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return ' '; }
    std::string do_grouping() const override { return "\3"; }
};

TEST(FloatToXmlText, ShortestGeneralFormWithPointWhateverTheLocale) {
    const std::locale previous =
        std::locale::global(std::locale(std::locale::classic(), new CommaDecimal));
    struct Case {
        double value;
        const char* text;
    };
    const Case cases[] = {
        {0.5, "0.5"},
        {40, "40"},
        {12.34, "12.34"},
        {0.1 + 0.2, "0.3"},
        {1234567.25, "1234567.25"},
        {-3.5, "-3.5"},
        {0.001, "0.001"},
        {123456789012345.0, "123456789012345"},
    };
    for (const Case& c : cases) EXPECT_EQ(FloatToXmlText(c.value), c.text);
    std::locale::global(previous);
}

}  // namespace
