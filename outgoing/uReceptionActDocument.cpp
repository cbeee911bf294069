// The reception act bodies (EGAIS "WayBillAct") of format versions 1 to 4, and the
// confirmation or rejection of the act a partner sent about one of our waybills.
#include <optional>

#include "uCommon.h"
#include "uDateTime.h"
#include "uDocumentBodies.h"
#include "uDocumentStatements.h"
#include "uLogger.h"
#include "uText.h"

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

// The longest note the act and ticket schemas take, in characters; the column holds 1000.
constexpr size_t kMaxActNote = 500;

const char* const cActElements[] = {"", "ns:WayBillAct", "ns:WayBillAct_v2", "ns:WayBillAct_v3",
                                    "ns:WayBillAct_v4"};
const char* const cActLogPrefixes[] = {
    "", "TEgaisDocBuilder.BuildReceptionAct: ", "TEgaisDocBuilder.BuildReceptionActV2: ",
    "TEgaisDocBuilder.BuildReceptionActV3: ", "TEgaisDocBuilder.BuildReceptionActV4: "};

}  // namespace

void BuildReceptionAct(TDocFrame& F, int iVersion, int iUtmDocType) {
    const std::string sPrefix = cActLogPrefixes[iVersion];
    TDbTransaction& db = F.Db();

    TQuery& head = db.Run(kSqlWayBillHead, {{"ID", F.DocId()}});
    // A header that is not there has no registration identifier either.
    const TVariant regId = head.Eof() ? TVariant() : head.FieldByName("WB_REG_ID");
    if (regId.IsNull()) {
        const std::string sId = std::to_string(F.DocId());
        throw EDocumentBuilderException(
            iVersion == 1 ? "Документ: " + sId + "(" + std::to_string(iUtmDocType) +
                                ") не готов к отправке (WbRegid is null)"
                          : "Документ: " + sId + " не готов к отправке (WbRegid is null)");
    }
    const std::optional<int64_t> iStatus = head.Int64("ACT_STATUS");
    const TVariant actDate = head.FieldByName("ACT_DATE");

    TXmlNode act = F.Document(cActElements[iVersion]);
    TXmlNode header = F.Element(act, "wa:Header");
    TXmlNode isAccept = F.Element(header, "wa:IsAccept");
    F.Text(header, "wa:ACTNUMBER", XmlText(head, "ACT_NUMBER"));
    F.Text(header, "wa:ActDate", actDate.IsNull() ? FormatXmlDate(Now()) : XmlValueText(actDate));
    F.Text(header, "wa:WBRegId", XmlValueText(regId));
    F.Text(header, "wa:Note", Utf8Left(XmlText(head, "ACT_NOTE"), kMaxActNote));
    head.Close();
    Logger().Debug("{}Заголовок", sPrefix);
    TXmlNode content = F.Element(act, "wa:Content");
    if (iVersion == 1) {
        isAccept = header.selectSingleNode("./*[local-name()='IsAccept']");
        if (!isAccept) throw EDocumentBuilderException("Internal error");
    }

    if (iStatus == -1) {
        isAccept.setText("Rejected");
        Logger().Debug("{}Акт отказа.", sPrefix);
    } else if (iStatus == 1) {
        isAccept.setText("Accepted");
        Logger().Debug("{}Акт подтверждения.", sPrefix);
    } else if (iStatus == 0) {
        // Version 1 knows no "Differences": the positions alone tell them.
        isAccept.setText(iVersion == 1 ? "Accepted" : "Differences");
        Logger().Debug("{}Акт разногласий.", sPrefix);
        for (TQuery& lines = db.Run(cSqlActLines, {{"ID", F.DocId()}}); !lines.Eof();
             lines.Next()) {
            const TVariant lineId = lines.FieldByName("ID");
            TXmlNode position = F.Element(content, "wa:Position");
            F.Text(position, "wa:Identity", XmlText(lines, "POSITION_ID"));
            const std::string sQuantity = XmlText(lines, "REAL_QUANTITY");
            // The older versions create the quantity first and put the certificate before it.
            TXmlNode quantity;
            if (iVersion <= 2) quantity = F.Text(position, "wa:RealQuantity", sQuantity);

            TQuery& formB = db.Run(cSqlActFormB, {{"ID", lineId}});
            if (formB.Eof())
                throw EDocumentBuilderException(
                    "Для некоторых позиций накладной нет справок Б. Нет возможности отправить "
                    "акт расхождений.");
            for (; !formB.Eof(); formB.Next()) {
                if (Trim(XmlText(formB, "INFORM_TYPE")) != "B") continue;
                const std::string sRegId = XmlText(formB, "INFORM_REG_ID");
                TXmlNode informB =
                    F.Xml().createElement(iVersion == 1 ? "wa:InformBRegId" : "wa:InformF2RegId");
                informB.setText(sRegId);
                position.insertBefore(informB, quantity);
                Logger().Debug("{}Справка Б {}", sPrefix, sRegId);
            }
            if (iVersion >= 3) F.Text(position, "wa:RealQuantity", sQuantity);
            Logger().Debug("{}Фактическое кол-во: {}", sPrefix, sQuantity);

            if (iVersion < 3) continue;
            TXmlNode markInfo;
            for (TQuery& marks = db.Run(cSqlActMarks, {{"ID", lineId}}); !marks.Eof();
                 marks.Next()) {
                if (!markInfo) markInfo = F.Element(position, "wa:MarkInfo");
                const std::string sMark = XmlText(marks, "MARK_CODE");
                F.Text(markInfo, "ce:amc", sMark);
                Logger().Debug("{}Акцизная марка: {}", sPrefix, sMark);
            }
        }
    } else {
        throw EDocumentBuilderException("invalid document status");
    }
    Logger().Debug("{}сборка акта завершена.", sPrefix);
}

void BuildConfirmAct(TDocFrame& F, const char* sConfirmResult) {
    TQuery& head = F.Db().Run(cSqlConfirmHead, {{"ID", F.DocId()}});
    if (head.Eof()) throw EDocumentBuilderException("Не могу прочитать заголовок документа");

    TXmlNode ticket = F.Document("ns:ConfirmTicket");
    TXmlNode header = F.Element(ticket, "wt:Header");
    F.Text(header, "wt:IsConfirm", sConfirmResult);
    F.Text(header, "wt:TicketNumber", XmlText(head, "ACT_NUMBER"));
    const TVariant actDate = head.FieldByName("ACT_DATE");
    F.Text(header, "wt:TicketDate",
           actDate.IsNull() ? FormatXmlDate(Now()) : XmlValueText(actDate));
    F.Text(header, "wt:WBRegId", XmlText(head, "WB_REG_ID"));
    F.Text(header, "wt:Note", Utf8Left(XmlText(head, "ACT_NOTE"), kMaxActNote));
}
