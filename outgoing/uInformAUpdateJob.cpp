#include "uInformAUpdateJob.h"

#include "uCommon.h"
#include "uDbProvider.h"
#include "uLogger.h"

namespace {

// The certificates of waybill lines that lack their bottling data and were not queried
// today. The filters come before FIRST 50, so that fifty certificates EGAIS never
// answers do not keep all the others from being queried.
const char* const kInformsToQuery =
    "select first 50 t1.* from ( \r\n"
    "select inf.*, (select first 1 egais_doc_head_id from rg_egais_doc_table where "
    "inform1_id=inf.id) as egais_doc_id, \r\n"
    "(select max(last_modified) from s_egais_request where request_type=13 and "
    "request_data=inf.inform_reg_id) as LastRequestTime \r\n"
    "from s_egais_informs as inf \r\n"
    "where \r\n"
    "  (inform_reg_id is not null) and \r\n"
    "  (BOTTLING_DATE IS NULL) AND (EGAIS_FIX_NUM IS NULL) and \r\n"
    "  (inform_type='A') \r\n"
    ") as t1 \r\n"
    "where (egais_doc_id is NOT NULL) and ((LastRequestTime IS NULL) or (LastRequestTime < "
    "TIMESTAMP 'TODAY')) \r\n"
    "order by t1.ID";

const char* const kQueueFormAQuery =
    "insert into s_egais_request \r\n"
    " (REQUEST_DATA, COMPLETE_FLAG, REQUEST_TYPE, EGAIS_DOC_ID) \r\n"
    " VALUES( :INFORM_REG_ID, 0, 13, (select first 1 egais_doc_head_id from rg_egais_doc_table "
    "where inform1_id=:INFORM_ID) )\r\n"
    " RETURNING ID";

}  // namespace

void TInformAUpdateJob::DoJob() {
    Logger().Debug("TInformAUpdateJob.DoJob ->");
    CheckForAbort();
    TQueryPtr informs = NewQuery(TTxMode::Long);
    for (informs->Run(kInformsToQuery); !informs->Eof(); informs->Next()) {
        CheckForAbort();
        const std::string sId = informs->Text("ID");
        const std::string sRegId = Trim(informs->Text("INFORM_REG_ID"));
        if (sRegId.empty()) {
            Logger().Error("TInformAUpdateJob: У справки с ID=" + sId +
                           " отсутствует идентификатор ЕГАИС. Пропускаем.");
            continue;
        }
        if (!informs->Int64("EGAIS_DOC_ID")) continue;
        Logger().Error("TInformAUpdateJob: Формируем запрос для справки с ID=" + sId +
                       " и идентификатором ЕГАИС=" + sRegId);
        // Each query is committed at once, so that a later failure keeps the earlier ones.
        TDbTransaction insert;
        const std::string sRequestId =
            insert
                .Value(kQueueFormAQuery,
                       {{"INFORM_REG_ID", sRegId}, {"INFORM_ID", informs->FieldByName("ID")}})
                .AsString();
        insert.Commit();
        Logger().Error("TInformAUpdateJob: ID созданного запроса " + sRequestId);
    }
    Logger().Debug("TInformAUpdateJob.DoJob <-");
}
