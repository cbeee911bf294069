#include <gtest/gtest.h>

#include <cstring>

#include "BuilderDb.h"
#include "DbQueries.h"
#include "XmlCanon.h"
#include "uCommon.h"
#include "uDateTime.h"
#include "uDbProvider.h"
#include "uEgaisDocumentBuilder.h"
#include "uText.h"

using qortest::CanonicalXml;

namespace {

// Incoming waybill 1 answered with differences, 2 and 3 with the same header accepted
// and rejected; the others each lack something. 30 to 32 are partners' acts about our
// waybills (UTM_DOC_TYPE 6) and one header of another kind.
const char* const kFixture = R"(
INSERT INTO S_EGAIS_INFORMS (ID, INFORM_TYPE, INFORM_REG_ID) VALUES (1, 'A', 'FA-000000000000001');
INSERT INTO S_EGAIS_INFORMS (ID, INFORM_TYPE, INFORM_REG_ID) VALUES (2, 'B', 'FB-000000000000001');
INSERT INTO S_EGAIS_INFORMS (ID, INFORM_TYPE, INFORM_REG_ID) VALUES (3, 'B', 'FB-000000000000002');

INSERT INTO RG_EGAIS_DOC_HEAD (ID, UTM_DOC_TYPE, PROTOCOL_VERSION, WB_REG_ID, ACT_NUMBER, ACT_STATUS, ACT_DATE, ACT_NOTE) VALUES
  (1, 0, 4, 'TTN-0000000001', 'АКТ-1', 0, '2024-03-07 12:30:00', 'Бой: 2 бут. & <недостача>');
INSERT INTO RG_EGAIS_DOC_HEAD (ID, UTM_DOC_TYPE, PROTOCOL_VERSION, WB_REG_ID, ACT_NUMBER, ACT_STATUS, ACT_DATE, ACT_NOTE) VALUES
  (2, 0, 4, 'TTN-0000000001', 'АКТ-1', 1, '2024-03-07 12:30:00', 'Бой: 2 бут. & <недостача>');
INSERT INTO RG_EGAIS_DOC_HEAD (ID, UTM_DOC_TYPE, PROTOCOL_VERSION, WB_REG_ID, ACT_NUMBER, ACT_STATUS, ACT_DATE, ACT_NOTE) VALUES
  (3, 0, 4, 'TTN-0000000001', 'АКТ-1', -1, '2024-03-07 12:30:00', 'Бой: 2 бут. & <недостача>');
INSERT INTO RG_EGAIS_DOC_HEAD (ID, UTM_DOC_TYPE, WB_REG_ID, ACT_NUMBER, ACT_STATUS) VALUES (4, 0, 'TTN-4', '4', NULL);
INSERT INTO RG_EGAIS_DOC_HEAD (ID, UTM_DOC_TYPE, WB_REG_ID, ACT_NUMBER, ACT_STATUS) VALUES (5, 0, 'TTN-5', '5', 2);
INSERT INTO RG_EGAIS_DOC_HEAD (ID, UTM_DOC_TYPE, WB_REG_ID, ACT_NUMBER, ACT_STATUS) VALUES (6, 0, NULL, '6', 1);
INSERT INTO RG_EGAIS_DOC_HEAD (ID, UTM_DOC_TYPE, WB_REG_ID, ACT_NUMBER, ACT_STATUS) VALUES (7, 0, 'TTN-7', '7', 0);
INSERT INTO RG_EGAIS_DOC_HEAD (ID, UTM_DOC_TYPE, WB_REG_ID, ACT_STATUS) VALUES (8, 0, 'TTN-8', 1);

INSERT INTO RG_EGAIS_DOC_TABLE (ID, EGAIS_DOC_HEAD_ID, POSITION_ID, QUANTITY, REAL_QUANTITY, INFORM1_ID, INFORM2_ID) VALUES (11, 1, 1, 12, 10, 1, 2);
INSERT INTO RG_EGAIS_DOC_TABLE (ID, EGAIS_DOC_HEAD_ID, POSITION_ID, QUANTITY, REAL_QUANTITY, INFORM1_ID, INFORM2_ID) VALUES (12, 1, 2, 0.5, 0.5, 1, 3);
INSERT INTO RG_EGAIS_DOC_TABLE (ID, EGAIS_DOC_HEAD_ID, POSITION_ID, QUANTITY, REAL_QUANTITY, INFORM1_ID, INFORM2_ID) VALUES (21, 2, 1, 12, 10, 1, 2);
INSERT INTO RG_EGAIS_DOC_TABLE (ID, EGAIS_DOC_HEAD_ID, POSITION_ID, QUANTITY, REAL_QUANTITY, INFORM1_ID, INFORM2_ID) VALUES (31, 3, 1, 12, 10, 1, 2);
INSERT INTO RG_EGAIS_DOC_TABLE (ID, EGAIS_DOC_HEAD_ID, POSITION_ID, QUANTITY, REAL_QUANTITY, INFORM1_ID, INFORM2_ID) VALUES (71, 7, 1, 1, 1, 1, NULL);

INSERT INTO RG_EGAIS_DOC_MARKS (ID, EGAIS_DOC_HEAD_ID, EGAIS_DOC_TABLE_ID, MARK_CODE, CHECKED) VALUES (103, 1, 11, RPAD('101102000000030524001', 150, 'K'), 0);
INSERT INTO RG_EGAIS_DOC_MARKS (ID, EGAIS_DOC_HEAD_ID, EGAIS_DOC_TABLE_ID, MARK_CODE, CHECKED) VALUES (102, 1, 11, RPAD('101102000000020524001', 150, 'K'), 1);
INSERT INTO RG_EGAIS_DOC_MARKS (ID, EGAIS_DOC_HEAD_ID, EGAIS_DOC_TABLE_ID, MARK_CODE, CHECKED) VALUES (101, 1, 11, RPAD('101102000000010524001', 150, 'K'), 0);
INSERT INTO RG_EGAIS_DOC_MARKS (ID, EGAIS_DOC_HEAD_ID, EGAIS_DOC_TABLE_ID, MARK_CODE, CHECKED) VALUES (104, 1, 12, RPAD('101102000000040524001', 150, 'K'), 1);

INSERT INTO RG_EGAIS_DOC_HEAD (ID, UTM_DOC_TYPE, WB_REG_ID, ACT_NUMBER, ACT_DATE, ACT_NOTE) VALUES
  (30, 6, 'TTN-0000000030', 'АКТ-30', '2024-03-09 08:00:00', 'Согласны & <подписано>');
INSERT INTO RG_EGAIS_DOC_HEAD (ID, UTM_DOC_TYPE, WB_REG_ID) VALUES (31, 1, 'TTN-0000000031');
INSERT INTO RG_EGAIS_DOC_HEAD (ID, UTM_DOC_TYPE) VALUES (32, 6);
INSERT INTO RG_EGAIS_DOC_HEAD (ID, UTM_DOC_TYPE, WB_REG_ID, ACT_NUMBER, ACT_STATUS, ACT_NOTE) VALUES
  (33, 6, 'TTN-0000000033', 'АКТ-33', 1, RPAD('Ёжик ', 1000, 'ёлка '));
)";

class ReceptionActDb : public qortest::BuilderDbTest {
protected:
    std::string ExtraSql() const override { return kFixture; }
};

struct ActVersion {
    TDocType Kind;
    const char* Expected;  // the differences act of waybill 1
};
const ActVersion kVersions[] = {
    {dtReceptionAct, "act_v1.xml"},
    {dtReceptionActV2, "act_v2.xml"},
    {dtReceptionActV3, "act_v3.xml"},
    {dtReceptionActV4, "act_v4.xml"},
};

std::string Expected(const char* file) {
    std::string text = qortest::ReadFile(qortest::SourceDir() / "tests/outgoing/expected" / file);
    EXPECT_FALSE(text.empty()) << file;
    return text;
}

std::string Built(TDocType kind, int64_t id) {
    TDocBuilder builder;
    return builder.BuildDocumentFromDb(kind, id).xml();
}

TXmlNode Named(const TXmlDocument& doc, const std::string& sLocalName) {
    return doc.selectSingleNode("//*[local-name()=" + XPathLiteral(sLocalName) + "][1]");
}

std::string BuilderError(TDocType kind, int64_t id) {
    TDocBuilder builder;
    try {
        builder.BuildDocumentFromDb(kind, id);
    } catch (const EDocumentBuilderException& e) {
        return e.what();
    }
    return "<built>";
}

TEST_F(ReceptionActDb, DifferencesGivePositionsWithFormBQuantityAndMissingMarks) {
    // Line 11 lists its two unconfirmed marks in ID order; line 12's only mark is
    // confirmed, so it has no MarkInfo. Versions 1 and 2 carry no marks at all.
    for (const ActVersion& v : kVersions) {
        SCOPED_TRACE(v.Expected);
        const std::string text = Built(v.Kind, 1);
        EXPECT_EQ(0u, text.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0));
        EXPECT_EQ(CanonicalXml(Expected(v.Expected)), CanonicalXml(text)) << text;
    }
}

TEST_F(ReceptionActDb, AcceptanceAndRejectionCarryTheHeaderOnly) {
    // Waybills 2 and 3 differ from 1 only in ACT_STATUS: their acts are 1's act with
    // their own IsAccept and an empty content, although the waybills have lines.
    const std::pair<int64_t, const char*> statuses[] = {{2, "Accepted"}, {3, "Rejected"}};
    for (const ActVersion& v : kVersions) {
        for (auto [id, isAccept] : statuses) {
            SCOPED_TRACE(std::string(v.Expected) + " " + isAccept);
            TXmlDocument expected = LoadXmlFrom(Expected(v.Expected));
            Named(expected, "IsAccept").setText(isAccept);
            TXmlNode content = Named(expected, "Content");
            while (content.firstChild()) content.removeChild(content.firstChild());
            EXPECT_EQ(CanonicalXml(expected.xml()), CanonicalXml(Built(v.Kind, id)));
        }
    }
}

TEST_F(ReceptionActDb, DataThatCannotBeSentGivesTheBuildersErrors) {
    const std::string kNoFormB =
        "Для некоторых позиций накладной нет справок Б. Нет возможности отправить акт "
        "расхождений.";
    struct Case {
        TDocType kind;
        int64_t id;
        std::string error;
    };
    const Case cases[] = {
        {dtReceptionAct, 6, "Документ: 6(0) не готов к отправке (WbRegid is null)"},
        {dwWithdrawSendedWaybill, 6, "Документ: 6(1) не готов к отправке (WbRegid is null)"},
        {dtReceptionActV2, 6, "Документ: 6 не готов к отправке (WbRegid is null)"},
        {dtReceptionActV4, 6, "Документ: 6 не готов к отправке (WbRegid is null)"},
        {dtReceptionActV3, 99, "Документ: 99 не готов к отправке (WbRegid is null)"},
        {dtReceptionAct, 4, "invalid document status"},
        {dtReceptionActV4, 4, "invalid document status"},
        {dtReceptionActV3, 5, "invalid document status"},
        {dtReceptionAct, 7, kNoFormB},
        {dtReceptionActV2, 7, kNoFormB},
        {dtReceptionActV4, 7, kNoFormB},
        {dtConfirmAct, 31, "Не могу прочитать заголовок документа"},
        {dtRejectAct, 99, "Не могу прочитать заголовок документа"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(DocTypeName(c.kind) + " ID=" + std::to_string(c.id));
        EXPECT_EQ(c.error, BuilderError(c.kind, c.id));
    }
}

TEST_F(ReceptionActDb, ANullActDateIsTodayAndNullTextsAreEmpty) {
    const std::string before = FormatXmlDate(Now());
    TXmlDocument doc = LoadXmlFrom(Built(dtReceptionActV4, 8));
    const std::string after = FormatXmlDate(Now());
    const std::string date = Named(doc, "ActDate").text();
    EXPECT_TRUE(date == before || date == after) << date;
    ASSERT_TRUE(Named(doc, "ACTNUMBER"));
    EXPECT_EQ("", Named(doc, "ACTNUMBER").text());
    ASSERT_TRUE(Named(doc, "Note"));
    EXPECT_EQ("", Named(doc, "Note").text());
}

TEST_F(ReceptionActDb, ConfirmationAndRejectionOfAPartnersAct) {
    const std::string kExpected = R"(<?xml version="1.0" encoding="UTF-8"?>
<ns:Documents xmlns:wt="http://fsrar.ru/WEGAIS/ConfirmTicket"
    xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance"
    xmlns:ns="http://fsrar.ru/WEGAIS/WB_DOC_SINGLE_01" Version="1.0">
  <ns:Owner><ns:FSRAR_ID>030000123456</ns:FSRAR_ID></ns:Owner>
  <ns:Document>
    <ns:ConfirmTicket>
      <wt:Header>
        <wt:IsConfirm>@RESULT@</wt:IsConfirm>
        <wt:TicketNumber>@NUMBER@</wt:TicketNumber>
        <wt:TicketDate>@DATE@</wt:TicketDate>
        <wt:WBRegId>@REGID@</wt:WBRegId>
        <wt:Note>@NOTE@</wt:Note>
      </wt:Header>
    </ns:ConfirmTicket>
  </ns:Document>
</ns:Documents>)";
    struct Case {
        TDocType kind;
        int64_t id;
        const char *result, *number, *date, *regId, *note;
    };
    const std::string sToday = FormatXmlDate(Now());
    const Case cases[] = {
        {dtConfirmAct, 30, "Accepted", "АКТ-30", "2024-03-09", "TTN-0000000030",
         "Согласны &amp; &lt;подписано&gt;"},
        {dtRejectAct, 30, "Rejected", "АКТ-30", "2024-03-09", "TTN-0000000030",
         "Согласны &amp; &lt;подписано&gt;"},
        // NULL texts are empty; a NULL date is today's, as in the reception acts.
        {dtConfirmAct, 32, "Accepted", "", sToday.c_str(), "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(DocTypeName(c.kind) + " ID=" + std::to_string(c.id));
        std::string expected = kExpected;
        const std::pair<const char*, const char*> fields[] = {{"@RESULT@", c.result},
                                                              {"@NUMBER@", c.number},
                                                              {"@DATE@", c.date},
                                                              {"@REGID@", c.regId},
                                                              {"@NOTE@", c.note}};
        for (auto [mark, value] : fields)
            expected.replace(expected.find(mark), strlen(mark), value);
        EXPECT_EQ(CanonicalXml(expected), CanonicalXml(Built(c.kind, c.id)));
    }
}

TEST_F(ReceptionActDb, LongNotesAreCutToTheSchemasLength) {
    // The column holds 1000 characters, the act and ticket schemas take 500; a cut in
    // the middle of a Cyrillic letter would leave the UTM an invalid UTF-8 text.
    const std::string sFull =
        qortest::Value("SELECT ACT_NOTE FROM RG_EGAIS_DOC_HEAD WHERE ID = 33").AsString();
    ASSERT_EQ(Utf8Length(sFull), 1000u);
    for (TDocType kind : {dtReceptionAct, dtReceptionActV2, dtReceptionActV4, dtConfirmAct}) {
        SCOPED_TRACE(DocTypeName(kind));
        TXmlDocument doc = LoadXmlFrom(Built(kind, 33));
        const std::string sNote = Named(doc, "Note").text();
        EXPECT_EQ(Utf8Length(sNote), 500u);
        EXPECT_EQ(sNote, Utf8Left(sFull, 500));
    }
}

}  // namespace
