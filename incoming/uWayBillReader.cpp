#include "uWayBillReader.h"

#include <cmath>
#include <cstdint>

#include "uCommon.h"
#include "uHttpClient.h"
#include "uLogger.h"
#include "uQorJob.h"
#include "uText.h"
#include "uWayBillStatements.h"

using namespace incoming;

namespace incoming {

TVariant PositionIdOf(const std::string& sIdentity) {
    const std::string s = Trim(sIdentity);
    int64_t v = 0;
    if (TryStrToInt64(s, v) && v >= INT32_MIN && v <= INT32_MAX) return TVariant(v);
    return TVariant(int64_t(static_cast<int32_t>(CRC32(s))));
}

TVariant PriceOf(const TVariant& price) {
    if (price.IsNull()) return price;
    const std::string s = price.AsString();
    if (Utf8Length(s) <= 5) return price;
    return TVariant(std::round(StrToDouble(s) * 1000.0) / 1000.0);
}

TVariant TranTypeOf(const TVariant& tranType) {
    if (tranType.IsNull()) return tranType;
    int64_t v = 0;
    if (TryStrToInt64(Trim(tranType.AsString()), v)) return TVariant(v);
    Logger().Debug(">> Неправильный тип транспорнтной компании: {}", tranType.AsString());
    return TVariant("0");
}

std::string ChildText(const TXmlNode& parent, const std::string& sName) {
    TXmlNode n = parent ? GetChildNode(parent, sName) : TXmlNode();
    return n ? n.text() : std::string();
}

TVariant ChildValue(const TXmlNode& parent, const std::string& sName, size_t iMaxChars) {
    TXmlNode n = parent ? GetChildNode(parent, sName) : TXmlNode();
    if (!n) return TVariant::Null();
    return iMaxChars ? TVariant(Utf8Left(n.text(), iMaxChars)) : TVariant(n.text());
}

}  // namespace incoming

const std::vector<TWayBillReader::TTransportField>& TWayBillReader::TransportFields() {
    static const std::vector<TTransportField> fields = {
        {"TRAN_COMPANY", 150},      {"TRAN_CAR", 50},      {"TRAN_TRAILER", 50},
        {"TRAN_CUSTOMER", 150},     {"TRAN_DRIVER", 50},   {"TRAN_LOADPOINT", 1000},
        {"TRAN_UNLOADPOINT", 1000}, {"TRAN_REDIRECT", 50}, {"TRAN_FORWARDER", 50},
    };
    return fields;
}

TWayBillReader::TWayBillReader(TQorJob& job, std::string sKind, int iVersion)
    : TIncomingReader(job), FKind(std::move(sKind)), FVersion(iVersion) {}

TIncomingSelection TWayBillReader::Selection() const {
    TIncomingSelection selection;
    selection.Kinds = {FKind};
    return selection;
}

bool TWayBillReader::Takes(const std::string&) {
    FStoring = false;
    return true;
}

void TWayBillReader::Fetching(const std::string& url) {
    Logger().Debug("TEgaisIncomingWayBillJob.Http.Get({})", url);
}

void TWayBillReader::FetchFailed(const std::string& url, const EHttpProtocolException& e) {
    Logger().Debug("TEgaisIncomingWayBillJob: Не удалось прочитать {}. Код ошибки: {}", url,
                   e.ErrorCode());
}

TQorHttpJob::TMarkLines TWayBillReader::MarkLines() const {
    return TQorHttpJob::TMarkLines::CallersQuery;
}

TVariant TWayBillReader::StoreParty(TQuery& parties, const TCounterpartRecord& r) {
    return TVariant(AddCounterPart(parties, r, [this] { Job().CheckForAbort(); }));
}

bool TWayBillReader::WithProducts(const std::function<bool(TQuery& products)>& readLines) {
    TDbTransaction products;
    bool bRead = false;
    try {
        bRead = readLines(products.Statement(kAddProductSql));
    } catch (...) {
        try {
            products.Commit();
        } catch (const std::exception& e) {
            Logger().Debug("TProductStore", e);  // already failing: the reader's error goes on
        }
        throw;
    }
    products.Commit();
    return bRead;
}

TWayBillLine TWayBillReader::LineOf(const TXmlNode& position, const std::string& sAlcCode,
                                    const TPositionValue& value) {
    TWayBillLine line;
    line.Node = position;
    line.PositionId = PositionIdOf(value("Identity", 0).AsString());
    line.AlcCode = sAlcCode;
    line.Quantity = value("Quantity", 0);
    line.Price = PriceOf(value("Price", 0));
    line.Pack = value("Pack_ID", 20);
    line.Party = value("Party", 20);
    return line;
}

void TWayBillReader::CompleteHead(TWayBillHead& head, const TWayBillHeader& header,
                                  const std::string& sUrl, const std::string& sFsrarId) const {
    head.Set("FD_HEAD_ID", 0);
    head.Set("R_DATETIME", TVariant::Null());
    head.Set("UTM_DOC_ID", head.Key);
    head.Set("UTM_DOC_TYPE", head.DocType);
    head.Set("DOC_NUMBER", Utf8Left(header.Number, 20));
    head.Set("DOC_DATE", header.Date);
    head.Set("SHIPPING_DATE", header.ShippingDate);
    head.Set("UNIT_TYPE", header.UnitType);
    head.Set("SHIPPER", head.Shipper);
    head.Set("CONSIGNEE", head.Consignee);
    head.Set("SUPPLIER", head.Supplier);
    head.Set("TRAN_TYPE", TranTypeOf(header.TranType));
    for (size_t i = 0; i < TransportFields().size(); ++i)
        head.Set(TransportFields()[i].Name, header.Transport.at(i));
    head.Set("BASE", header.Base);
    head.Set("NOTE", header.Note);
    head.Set("ACT_STATUS", 0);
    head.Set("ACT_NUMBER", TVariant::Null());
    head.Set("ACT_DATE", TVariant::Null());
    head.Set("ACT_NOTE", TVariant::Null());
    head.Set("STATUS", 1);
    head.Set("QOR_STATE", 255);
    head.Set("UTM_LINK", Utf8Left(sUrl, 300));
    head.Set("FSRAR_ID", sFsrarId);
    head.Set("PROTOCOL_VERSION", FVersion);
}

THandled TWayBillReader::Store(TDbTransaction& tx, const TWayBillHead& head,
                               const std::vector<TWayBillLine>& lines) {
    FStoring = true;
    TQuery& h = tx.Statement(kHeadSql);
    h.Close();
    for (const auto& [name, value] : head.Params) {
        h.SetParam(name, value);
        Logger().Debug("{}:{}", name, value.AsString());
    }
    h.ExecQuery();
    const std::optional<int64_t> headId = h.Eof() ? std::nullopt : h.Int64("ID");
    if (!headId)
        throw EQorJobException(FVersion == 1 ? "Cannot obtain identity for RG_EGAIS_DOC_HEAD"
                                             : "Не удалось получить RG_EGAIS_DOC_HEAD.ID");
    if (FVersion == 1) Logger().Debug("Identity = {}", head.Key);

    for (const TWayBillLine& line : lines) {
        // A stop request is seen between positions; the transaction then goes back.
        Job().CheckForAbort();
        Logger().Debug("Before insert content");
        TQuery& l = tx.Run(kLineSql, {{"FD_HEAD_ID", TVariant::Null()},
                                      {"R_DATETIME", TVariant::Null()},
                                      {"EGAIS_DOC_HEAD_ID", *headId},
                                      {"POSITION_ID", line.PositionId},
                                      {"PROD_TYPE", TVariant::Null()},
                                      {"ALC_CODE", line.AlcCode},
                                      {"QUANTITY", line.Quantity},
                                      {"REAL_QUANTITY", TVariant::Null()},
                                      {"PRICE", line.Price},
                                      {"PACK", line.Pack},
                                      {"PART_NUMBER", line.Party}});
        const std::optional<int64_t> lineId = l.Eof() ? std::nullopt : l.Int64("ID");
        const std::optional<int64_t> productId = l.Eof() ? std::nullopt : l.Int64("PRODUCT_ID");
        if (!lineId || !productId)
            throw EQorJobException(FVersion == 1 ? "Cannot obtain identity for RG_EGAIS_DOC_TABLE"
                                                 : "Не удалось получить RG_EGAIS_DOC_TABLE.ID");
        StoreInforms(tx, line.Node, *lineId, head.Shipper);
    }
    return THandled::Stored;
}

TVariant TWayBillReader::StoreInform(TDbTransaction& tx, const char* sType,
                                     const std::string& sRegId, const TVariant& shipper,
                                     const std::string& sAlcCode) {
    tx.Run(kInformUpsertSql, {{"INFORM_TYPE", sType},
                              {"INFORM_REG_ID", sRegId},
                              {"SHIPPER", shipper},
                              {"ALC_CODE", sAlcCode}});
    TQuery& sel = tx.Run(kInformSelectSql, {{"INFORM_REG_ID", sRegId}, {"INFORM_TYPE", sType}});
    const std::optional<int64_t> id = sel.Eof() ? std::nullopt : sel.Int64("ID");
    const std::optional<int64_t> product = sel.Eof() ? std::nullopt : sel.Int64("EGAIS_PRODUCT_ID");
    if (!id || !product) throw EQorJobException("Cannot obtain identity from s_egais_informs ");
    return TVariant(*id);
}

void TWayBillReader::LinkInform(TDbTransaction& tx, bool bFormA, const TVariant& informId,
                                int64_t lineId) {
    tx.Run(bFormA ? kSetInform1Sql : kSetInform2Sql,
           {{"INFORM_ID", informId}, {"DOC_TABLE_ID", lineId}});
}
