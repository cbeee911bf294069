// The reception act bodies (EGAIS "WayBillAct") of format versions 1 to 4, and the
// confirmation or rejection of the act a partner sent about one of our waybills.
#include <optional>

#include "uCommon.h"
#include "uDateTime.h"
#include "uDbProvider.h"
#include "uEgaisDocumentBuilder.h"
#include "uWaybillStatements.h"
#include "uLogger.h"

namespace {


const char* const cSqlActLines =
    "SELECT \r\n"
    "    t.ID, \r\n"
    "    t.POSITION_ID, \r\n"
    "    t.REAL_QUANTITY \r\n"
    "FROM RG_EGAIS_DOC_TABLE t \r\n"
    "WHERE t.EGAIS_DOC_HEAD_ID = :ID ";

const char* const cSqlActFormB =
    "SELECT * \r\n"
    "FROM S_EGAIS_INFORMS \r\n"
    "WHERE ID=(SELECT INFORM2_ID FROM RG_EGAIS_DOC_TABLE WHERE ID=:ID)\r\n"
    "ORDER BY INFORM_TYPE ";

// The line's marks not confirmed on receipt: the missing ones.
const char* const cSqlActMarks =
    "select * \r\n"
    "from RG_EGAIS_DOC_MARKS where CHECKED<>1 AND EGAIS_DOC_TABLE_ID=:ID\r\n"
    "order BY ID";

const char* const cSqlConfirmHead =
    "SELECT \r\n"
    "    h.* \r\n"
    "FROM rg_egais_doc_head h \r\n"
    "WHERE h.ID = :ID AND UTM_DOC_TYPE = 6";


// Runs the statement for the ID, reusing the query of an earlier line.
void Run(TQueryPtr& q, const char* sSql, int64_t iId) {
    if (!q) {
        q = NewQuery(TTxMode::Long);
        q->SetSQL(sSql);
    } else {
        q->Close();
    }
    q->SetParam("ID", TVariant(iId));
    q->ExecQuery();
}

std::string Column(const TQuery& q, const char* sName) {
    return q.Eof() ? "" : XmlValueText(q.FieldByName(sName));
}

const char* const cActElements[] = {"", "ns:WayBillAct", "ns:WayBillAct_v2", "ns:WayBillAct_v3",
                                    "ns:WayBillAct_v4"};
const char* const cActLogPrefixes[] = {
    "", "TEgaisDocBuilder.BuildReceptionAct: ", "TEgaisDocBuilder.BuildReceptionActV2: ",
    "TEgaisDocBuilder.BuildReceptionActV3: ", "TEgaisDocBuilder.BuildReceptionActV4: "};

}  // namespace

void TDocBuilder::BuildReceptionAct(int iUtmDocType) {
    BuildReceptionActBody(1, iUtmDocType);
}
void TDocBuilder::BuildReceptionActV2() {
    BuildReceptionActBody(2, 0);
}
void TDocBuilder::BuildReceptionActV3() {
    BuildReceptionActBody(3, 0);
}
void TDocBuilder::BuildReceptionActV4() {
    BuildReceptionActBody(4, 0);
}

void TDocBuilder::BuildReceptionActBody(int iVersion, int iUtmDocType) {
    const std::string sPrefix = cActLogPrefixes[iVersion];
    const std::string FsRarId = GetSettingProperty("FSRAR_ID").value_or("");
    TXmlNode root = BodyRoot();

    TQueryPtr head;
    Run(head, cSqlWayBillHead, FDocId);
    // A header that is not there has no registration identifier either.
    const TVariant regId = head->Eof() ? TVariant() : head->FieldByName("WB_REG_ID");
    if (regId.IsNull()) {
        const std::string sId = std::to_string(FDocId);
        throw EDocumentBuilderException(
            iVersion == 1 ? "Документ: " + sId + "(" + std::to_string(iUtmDocType) +
                                ") не готов к отправке (WbRegid is null)"
                          : "Документ: " + sId + " не готов к отправке (WbRegid is null)");
    }
    const TVariant status = head->FieldByName("ACT_STATUS");
    const TVariant actDate = head->FieldByName("ACT_DATE");

    TXmlNode act = AppendDocumentElement(root, FsRarId, cActElements[iVersion]);
    TXmlNode header = AppendElement(act, "wa:Header");
    TXmlNode isAccept = AppendElement(header, "wa:IsAccept");
    AppendText(header, "wa:ACTNUMBER", Column(*head, "ACT_NUMBER"));
    AppendText(header, "wa:ActDate",
               actDate.IsNull() ? FormatXmlDate(Now()) : XmlValueText(actDate));
    AppendText(header, "wa:WBRegId", XmlValueText(regId));
    AppendText(header, "wa:Note", Column(*head, "ACT_NOTE"));
    head.reset();
    Logger().Debug(sPrefix + "Заголовок");
    TXmlNode content = AppendElement(act, "wa:Content");
    if (iVersion == 1) {
        isAccept = header.selectSingleNode("./*[local-name()='IsAccept']");
        if (!isAccept) throw EDocumentBuilderException("Internal error");
    }

    const std::optional<int64_t> iStatus =
        status.IsNull() ? std::nullopt : std::optional<int64_t>(status.AsInt64());
    if (iStatus == -1) {
        isAccept.setText("Rejected");
        Logger().Debug(sPrefix + "Акт отказа.");
    } else if (iStatus == 1) {
        isAccept.setText("Accepted");
        Logger().Debug(sPrefix + "Акт подтверждения.");
    } else if (iStatus == 0) {
        // Version 1 knows no "Differences": the positions alone tell them.
        isAccept.setText(iVersion == 1 ? "Accepted" : "Differences");
        Logger().Debug(sPrefix + "Акт разногласий.");
        TQueryPtr lines, formB, marks;
        for (Run(lines, cSqlActLines, FDocId); !lines->Eof(); lines->Next()) {
            const int64_t iLineId = lines->FieldByName("ID").AsInt64();
            TXmlNode position = AppendElement(content, "wa:Position");
            AppendText(position, "wa:Identity", Column(*lines, "POSITION_ID"));
            const std::string sQuantity = Column(*lines, "REAL_QUANTITY");
            // The older versions create the quantity first and put the certificate before it.
            TXmlNode quantity;
            if (iVersion <= 2) quantity = AppendText(position, "wa:RealQuantity", sQuantity);

            Run(formB, cSqlActFormB, iLineId);
            if (formB->Eof())
                throw EDocumentBuilderException(
                    "Для некоторых позиций накладной нет справок Б. Нет возможности отправить "
                    "акт расхождений.");
            for (; !formB->Eof(); formB->Next()) {
                if (Trim(Column(*formB, "INFORM_TYPE")) != "B") continue;
                const std::string sRegId = Column(*formB, "INFORM_REG_ID");
                TXmlNode informB =
                    FXml.createElement(iVersion == 1 ? "wa:InformBRegId" : "wa:InformF2RegId");
                informB.setText(sRegId);
                position.insertBefore(informB, quantity);
                Logger().Debug(sPrefix + "Справка Б " + sRegId);
            }
            if (iVersion >= 3) AppendText(position, "wa:RealQuantity", sQuantity);
            Logger().Debug(sPrefix + "Фактическое кол-во: " + sQuantity);

            if (iVersion < 3) continue;
            Run(marks, cSqlActMarks, iLineId);
            TXmlNode markInfo;
            for (; !marks->Eof(); marks->Next()) {
                if (!markInfo) markInfo = AppendElement(position, "wa:MarkInfo");
                const std::string sMark = Column(*marks, "MARK_CODE");
                AppendText(markInfo, "ce:amc", sMark);
                Logger().Debug(sPrefix + "Акцизная марка: " + sMark);
            }
        }
    } else {
        throw EDocumentBuilderException("invalid document status");
    }
    Logger().Debug(sPrefix + "сборка акта завершена.");
}

void TDocBuilder::BuildConfirmAct(const std::string& sConfirmResult) {
    const std::string FsRarId = GetSettingProperty("FSRAR_ID").value_or("");
    TXmlNode root = BodyRoot();
    TQueryPtr head;
    Run(head, cSqlConfirmHead, FDocId);
    if (head->Eof()) throw EDocumentBuilderException("Не могу прочитать заголовок документа");

    TXmlNode ticket = AppendDocumentElement(root, FsRarId, "ns:ConfirmTicket");
    TXmlNode header = AppendElement(ticket, "wt:Header");
    AppendText(header, "wt:IsConfirm", sConfirmResult);
    AppendText(header, "wt:TicketNumber", Column(*head, "ACT_NUMBER"));
    AppendText(header, "wt:TicketDate", Column(*head, "ACT_DATE"));
    AppendText(header, "wt:WBRegId", Column(*head, "WB_REG_ID"));
    AppendText(header, "wt:Note", Column(*head, "ACT_NOTE"));
}
