#pragma once
// The frame a document body is built in, and the bodies the kind table names. A body
// reads its data through the frame's transaction and appends its elements below the
// envelope the builder made.
#include <cstdint>
#include <memory>
#include <string>

#include "uDbProvider.h"
#include "uEgaisDocumentBuilder.h"

// What a body is given: the document with its envelope, the kind, the data's ID and the
// build's transaction.
class TDocFrame {
public:
    TDocFrame(TXmlDocument& Xml, const TDocKind& Kind, int64_t DocId);
    ~TDocFrame();

    const TDocKind& Kind() const { return FKind; }
    int64_t DocId() const { return FDocId; }
    // The build's one transaction, begun at the first statement; the bodies only read,
    // and it is rolled back with the frame.
    TDbTransaction& Db();

    TXmlDocument& Xml() { return FXml; }
    // ns:Owner/ns:FSRAR_ID (this organisation's) and ns:Document/<sElement> appended to
    // the root; returns the latter.
    TXmlNode Document(const std::string& sElement);
    // An element appended to Parent; returns it.
    TXmlNode Element(TXmlNode Parent, const std::string& sName);
    // The same with a text.
    TXmlNode Text(TXmlNode Parent, const std::string& sName, const std::string& sText);

private:
    TXmlDocument& FXml;
    const TDocKind& FKind;
    int64_t FDocId;
    std::unique_ptr<TDbTransaction> FDb;
};

// A column of the query's current row as XmlValueText writes it.
std::string XmlText(const TQuery& Row, const std::string& sColumn);

// Waybill bodies of format versions 1 to 4 (rows of rg_egais_doc_head ID = DocId).
void BuildWayBill(TDocFrame& Frame, int iVersion);
// Reception act bodies of format versions 1 to 4 for the waybill header DocId: how the
// waybill was received (ACT_STATUS -1 rejected, 1 accepted, 0 with differences).
// iUtmDocType, the kind of the waybill answered, only names it in the error text of
// version 1.
void BuildReceptionAct(TDocFrame& Frame, int iVersion, int iUtmDocType);
// The confirmation ("Accepted") or rejection ("Rejected") of the act a partner sent
// about our waybill DocId.
void BuildConfirmAct(TDocFrame& Frame, const char* sConfirmResult);
