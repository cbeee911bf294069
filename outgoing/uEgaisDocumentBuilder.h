#pragma once
// TDocBuilder turns the rows of one back-office document (or request) into a complete
// EGAIS XML document: the envelope every EGAIS document shares (declaration, root
// ns:Documents with the kind's namespace declarations, owner, document wrapper) and
// the body of the kind. The outgoing jobs create a builder, call BuildDocumentFromDb
// and post the result.
#include <cstdint>
#include <string>
#include <vector>

#include "Exception.h"
#include "uVariant.h"
#include "uXml.h"

QOR_DECLARE_EXCEPTION(EDocumentBuilderException, Exception)
QOR_DECLARE_EXCEPTION(ERangeError, Exception)

// The kinds of document; the values are shared with the back office and fixed.
enum TDocType : int {
    dtIncomingWayBill = 0,
    dtOutgoingWaybill = 1,
    dtOutgoingWaybillV2 = 2,
    dtOutgoingWayBillV3 = 3,
    dtOutgoingWayBillV4 = 4,
    dtReceptionAct = 5,
    dtWriteOffAct = 6,
    dtDictionary = 7,
    dtDictionaryEx = 8,
    dtChargeOnAct = 9,
    dtQueryAP_AlcCode = 10,
    dtQueryAP_INN = 11,
    dtQueryFormA = 12,
    dtQueryFormB = 13,
    dtQueryMarkCodes = 14,
    dtConfirmAct = 15,
    dtRejectAct = 16,
    dwWithdrawSendedWaybill = 17,
    dtRests = 18,
    dtResendWaybill = 19,
    dwRepealWaybillAct = 20,
    dwRepealActCahergeOn = 21,
    dtRepealActWriteOff = 22,
    dtShopRests = 23,
    dtTransferToShop = 24,
    dtTransferFromShop = 25,
    dtWriteOffShopAct = 26,
    dtChargeOnShop = 27,
    dtReceptionActV2 = 28,
    dtSetTTNVersion = 29,
    dtReceptionActV3 = 30,
    dtActFixBarCode = 31,
    dtActUnFixBarCode = 32,
    dtQueryMarkRest = 33,
    dtQueryAP_AlcCode_v1 = 34,
    dtReceptionActV4 = 35,
};

// "dtOutgoingWayBillV4" for 4, ...; "" for a value that is no kind.
std::string DocTypeName(int DocType);

// A number as EGAIS wants it: "." as the decimal separator whatever the locale, no
// thousands separators, the shortest general form with up to 15 significant digits.
std::string FloatToXmlText(double Value);
// A column value as text: numbers as above, dates as "YYYY-MM-DD", null as "".
std::string XmlValueText(const TVariant& Value);

class TDocBuilder {
public:
    // Builds the document of DocType from the data identified by DocId (the header ID,
    // the request ID, ... as the kind needs). Errors of the data are
    // EDocumentBuilderException; nothing is returned then. The caller keeps the result.
    TXmlDocument BuildDocumentFromDb(TDocType DocType, int64_t DocId);

    // A new empty document in place of the previous one.
    void NewDocument();
    // The document being built (or last built).
    const TXmlDocument& Xml() const { return FXml; }

    // The header operation of a kind: declaration, root element, Version and the
    // namespace declarations. A value without a header adds nothing.
    void AddDocumentHeader(TDocType DocType);

    void AddWayBillXmlHeader();
    void AddWayBillV2XmlHeader();
    void AddWayBillV3XmlHeader();
    void AddWayBillV4XmlHeader();
    void AddActXmlHeader();
    void AddActV2XmlHeader();
    void AddActV3XmlHeader();
    void AddActV4XmlHeader();
    void AddConfirmActHeader();
    void AddWriteOffXmlHeader();
    void AddWriteOffShopXmlHeader();
    void AddChargeOnXmlHeader();
    void AddChargeOnShopHeader();
    void AddTransferXmlHeader(const std::string& sTransferDirection);
    void AddActBarCodeHeader(bool bFixMode);
    void AddRepealWaybillActHeader();
    void AddRepealActChargeOnHeader();
    void AddRepealActWriteOffHeader();
    void AddResendWaybillHeader();
    void AddInfoTTNVersionHeader();
    void AddQueryMarkCodesXmlHeader();
    void AddQueryMarkRestHeader();
    void AddQueryFormAXmlHeader();
    void AddPartnerXmlHeader();
    void AddQueryAPHeader();

    // Waybill bodies of format versions 1 to 4 (rows of rg_egais_doc_head ID = FDocId).
    void BuildWayBillDocument();
    void BuildWayBillV2Document();
    void BuildWayBillV3Document();
    void BuildWayBillV4Document();

    // Reception act bodies of format versions 1 to 4 for the waybill header FDocId: how
    // the waybill was received (ACT_STATUS -1 rejected, 1 accepted, 0 with differences).
    // iUtmDocType only names the kind in the error text of version 1.
    void BuildReceptionAct(int iUtmDocType);
    void BuildReceptionActV2();
    void BuildReceptionActV3();
    void BuildReceptionActV4();
    // The confirmation ("Accepted") or rejection ("Rejected") of the act a partner sent
    // about our waybill FDocId.
    void BuildConfirmAct(const std::string& sConfirmResult);

    // The kind code of a counterparty: "UL", "FL" (no KPP), "FO" (no INN or not
    // Russian), "TS" (Kazakhstan 398, Belarus 112). For "FO" and "TS" sINN and sKPP
    // are cleared.
    static std::string GetCounterpartCode(const std::string& sCountryCode, std::string& sINN,
                                          std::string& sKPP);

private:
    // One declaration: prefix and EGAIS path; the prefixes "xsi" and "xs" stand for the
    // W3C schema-instance and schema namespaces.
    struct TNamespaceDecl {
        const char* Prefix;
        const char* Path;
    };
    void AddXmlHeader(const char* sVersion, const std::vector<TNamespaceDecl>& Decls);
    void BuildBody(TDocType DocType);

    // Body frame: the root element, or "not root node".
    TXmlNode BodyRoot() const;
    // Appends ns:Owner/ns:FSRAR_ID and ns:Document/<sDocElement>; returns the latter.
    TXmlNode AppendDocumentElement(TXmlNode Root, const std::string& FsRarId,
                                   const std::string& sDocElement);
    // Appends an element with a text; returns it.
    TXmlNode AppendText(TXmlNode Parent, const std::string& sName,
                        const std::string& sText);
    TXmlNode AppendElement(TXmlNode Parent, const std::string& sName);

    void BuildWayBill(int iVersion);
    void BuildReceptionActBody(int iVersion, int iUtmDocType);

    TXmlDocument FXml;
    int64_t FDocId = 0;
};
