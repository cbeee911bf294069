#include "WaybillFixture.h"

#include "uDbProvider.h"

namespace qortest {

void AddWaybill(int64_t docId, const std::string& fsrarId, int lines) {
    TQueryPtr q = NewQuery(TTxMode::Long);
    q->SetSQL(
        "INSERT INTO RG_EGAIS_DOC_HEAD (ID, FSRAR_ID, UTM_DOC_TYPE, UTM_DOC_ID, DOC_NUMBER, "
        "R_DATETIME, SHIPPING_DATE, UNIT_TYPE, SHIPPER, CONSIGNEE, TRAN_COMPANY, TRAN_CAR, "
        "TRAN_CUSTOMER, TRAN_DRIVER, TRAN_LOADPOINT, TRAN_UNLOADPOINT, TRAN_FORWARDER, BASE, "
        "NOTE) VALUES (:ID, :FSRAR_ID, 1, :UTM_DOC_ID, :DOC_NUMBER, '2026-12-10 10:00:00', "
        "'2026-12-11', 'Packed', 1, 2, 'ООО Перевозчик', 'А123ВС77', 'ООО Ромашка', 'Иванов', "
        "'г. Москва', 'г. Химки', 'Петров', 'Договор №5', 'Примечание')");
    q->SetParam("ID", TVariant(docId));
    q->SetParam("FSRAR_ID", fsrarId.empty() ? TVariant() : TVariant(fsrarId));
    q->SetParam("UTM_DOC_ID", TVariant("WB-" + std::to_string(docId)));
    q->SetParam("DOC_NUMBER", TVariant("ТН-" + std::to_string(docId)));
    q->ExecQuery();
    q->Close();
    q->SetSQL(
        "INSERT INTO RG_EGAIS_DOC_TABLE (ID, EGAIS_DOC_HEAD_ID, POSITION_ID, EGAIS_PRODUCT_ID, "
        "QUANTITY, PRICE, PACK, PART_NUMBER, INFORM1_ID, INFORM2_ID) VALUES (:ID, :HEAD, :POS, 1, "
        ":QTY, 345.5, 'P-1', 'П-7', 1, 2)");
    for (int i = 1; i <= lines; ++i) {
        q->SetParam("ID", TVariant(docId * 10000 + i));
        q->SetParam("HEAD", TVariant(docId));
        q->SetParam("POS", TVariant(i));
        q->SetParam("QTY", TVariant(double(i) + 0.5));
        q->ExecQuery();
    }
    q->Transaction().Commit();
}

void AddRequest(int64_t requestId, int64_t docId, int requestType,
                const std::string& lastModified) {
    TQueryPtr q = NewQuery(TTxMode::Long);
    q->SetSQL(
        "INSERT INTO S_EGAIS_REQUEST (ID, EGAIS_DOC_ID, REQUEST_TYPE, LAST_MODIFIED) VALUES "
        "(:ID, :DOC, :TYPE, COALESCE(CAST(:MODIFIED AS TIMESTAMP), CURRENT_TIMESTAMP))");
    q->SetParam("ID", TVariant(requestId));
    q->SetParam("DOC", TVariant(docId));
    q->SetParam("TYPE", TVariant(requestType));
    q->SetParam("MODIFIED", lastModified.empty() ? TVariant() : TVariant(lastModified));
    q->ExecQuery();
    q->Transaction().Commit();
}

}  // namespace qortest
