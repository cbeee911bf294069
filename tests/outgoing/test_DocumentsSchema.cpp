#include <gtest/gtest.h>

#include "DbQueries.h"
#include "FbTestDb.h"
#include "uDbProvider.h"

namespace {

const char* const kHeads = R"(
INSERT INTO RG_EGAIS_DOC_HEAD (ID, UTM_DOC_TYPE, WB_REG_ID, STATUS, QOR_STATE, URL_REPLY_ID, ACT_NUMBER, ACT_NOTE)
  VALUES (1, 1, 'TTN-1', 0, NULL, 'old-uid', 'A-1', 'note');
INSERT INTO RG_EGAIS_DOC_HEAD (ID, UTM_DOC_TYPE, WB_REG_ID, STATUS) VALUES (2, 7, 'TTN-7', 0);
INSERT INTO RG_EGAIS_DOC_HEAD (ID, UTM_DOC_TYPE, WB_REG_ID, STATUS) VALUES (3, 0, 'TTN-0', 0);
)";

class DocumentsSchema : public qortest::SuiteDbTest {
protected:
    std::string ExtraSql() const override { return kHeads; }

    static TQueryPtr Run(const std::string& sql, const qortest::SqlParams& params = {}) {
        return qortest::Query(sql, params);
    }
    // STATUS|QOR_STATE|WB_REG_ID|URL_REPLY_ID|ACT_NUMBER|ACT_STATUS|ACT_NOTE of one header.
    static std::string Head(int id) {
        TQueryPtr q = Run(
            "SELECT STATUS, QOR_STATE, WB_REG_ID, URL_REPLY_ID, ACT_NUMBER, ACT_STATUS, ACT_NOTE "
            "FROM RG_EGAIS_DOC_HEAD WHERE ID = :ID",
            {{"ID", id}});
        std::string s;
        for (int i = 0; i < q->FieldCount(); ++i) {
            if (i) s += "|";
            TVariant v = q->Field(i);
            s += v.IsNull() ? "null" : v.AsString();
        }
        return s;
    }
};

TEST_F(DocumentsSchema, UpdateDocHeadWritesOnlyWhatIsPassed) {
    // The statements the jobs run, in order, each with the header state after it.
    struct Step {
        const char* sql;
        std::vector<std::pair<std::string, TVariant>> params;
        TVariant result;
        int head;
        const char* state;
    };
    const Step steps[] = {
        {"SELECT * from SPU_UPDATE_EGAIS_DOC_HEAD(:STATUS, :QOR_STATE, NULL, :UID, NULL, NULL, "
         "NULL, NULL, :ID, NULL, NULL, NULL, NULL)",
         {{"STATUS", 1}, {"QOR_STATE", TVariant()}, {"UID", "uid-1"}, {"ID", 1}},
         int64_t(1),
         1,
         "1|null|TTN-1|uid-1|A-1|null|note"},
        {"SELECT * from SPU_UPDATE_EGAIS_DOC_HEAD(:STATUS, :QOR_STATE, NULL, :UID, NULL, NULL, "
         "NULL, NULL, :ID, NULL, NULL, NULL, NULL)",
         {{"STATUS", TVariant()}, {"QOR_STATE", 255}, {"UID", ""}, {"ID", 1}},
         int64_t(1),
         1,
         "1|255|TTN-1||A-1|null|note"},
        {"SELECT RESULT AS ID from SPU_UPDATE_EGAIS_DOC_HEAD(:STATUS, NULL, NULL, NULL, "
         ":ACT_NUMBER, :ACT_STATUS, :ACT_DATE, :ACT_NOTE, NULL, NULL, :WB_REG_ID, '1,7', NULL)",
         {{"STATUS", 4},
          {"ACT_NUMBER", "A-7"},
          {"ACT_STATUS", 2},
          {"ACT_DATE", TVariant()},
          {"ACT_NOTE", "Ёлки & <палки>"},
          {"WB_REG_ID", "TTN-7"}},
         int64_t(2),
         2,
         "4|null|TTN-7|null|A-7|2|Ёлки & <палки>"},
        // A kind outside the list is not found: nothing changes, RESULT is null.
        {"SELECT RESULT AS ID from SPU_UPDATE_EGAIS_DOC_HEAD(:STATUS, NULL, NULL, NULL, "
         "NULL, NULL, NULL, NULL, NULL, NULL, :WB_REG_ID, '1,7', NULL)",
         {{"STATUS", 5}, {"WB_REG_ID", "TTN-0"}},
         TVariant(),
         3,
         "0|null|TTN-0|null|null|null|null"},
        {"SELECT * from SPU_UPDATE_EGAIS_DOC_HEAD(:STATUS, NULL, NULL, NULL, NULL, NULL, NULL, "
         "NULL, NULL, NULL, :WB_REG_ID, :UTM_DOC_TYPE, NULL)",
         {{"STATUS", 6}, {"WB_REG_ID", "TTN-0"}, {"UTM_DOC_TYPE", 0}},
         int64_t(3),
         3,
         "6|null|TTN-0|null|null|null|null"},
        {"SELECT * from SPU_UPDATE_EGAIS_DOC_HEAD(:STATUS, NULL, :WB_REG_ID, NULL, NULL, NULL, "
         "NULL, NULL, :ID, NULL, NULL, NULL, NULL)",
         {{"STATUS", 2}, {"WB_REG_ID", "NEW-REG"}, {"ID", 42}},
         TVariant(),
         1,
         "1|255|TTN-1||A-1|null|note"},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.sql);
        TQueryPtr q = Run(s.sql, s.params);
        ASSERT_FALSE(q->Eof());
        EXPECT_TRUE(q->Field(0) == s.result) << q->Field(0).AsString();
        EXPECT_EQ(Head(s.head), s.state);
    }
}

TEST_F(DocumentsSchema, ReplyIsReplacedForTheSameTypeAndRequest) {
    TQueryPtr req =
        Run("INSERT INTO S_EGAIS_REQUEST (REQUEST_TYPE, EGAIS_DOC_ID) VALUES (6, 1) "
            "RETURNING ID, LAST_MODIFIED");
    ASSERT_FALSE(req->FieldByName("ID").IsNull());
    EXPECT_FALSE(req->FieldByName("LAST_MODIFIED").IsNull());
    const TVariant id = req->FieldByName("ID");
    const char* const reply =
        "UPDATE OR INSERT INTO S_EGAIS_REPLY( \r\n    REPLY_TYPE, \r\n    REQUEST_ID, \r\n"
        "    RESULT_CODE, \r\n    ERROR_DESCRIPTION, \r\n    DEBUG_XML \r\n) \r\nVALUES( \r\n"
        "    :REPLY_TYPE, \r\n    :REQUEST_ID, \r\n    :RESULT_CODE, \r\n    :ERROR_DESCRIPTION, "
        "\r\n"
        "    :DEBUG_XML \r\n) \r\nMATCHING (REPLY_TYPE, REQUEST_ID) ";
    const std::string longText = std::string(40000, 'x') + " Документ отправлен.";
    Run(reply, {{"REPLY_TYPE", 6},
                {"REQUEST_ID", id},
                {"RESULT_CODE", -1},
                {"ERROR_DESCRIPTION", "first"},
                {"DEBUG_XML", TVariant()}});
    Run(reply, {{"REPLY_TYPE", 6},
                {"REQUEST_ID", id},
                {"RESULT_CODE", 1},
                {"ERROR_DESCRIPTION", longText},
                {"DEBUG_XML", TVariant()}});
    Run(reply, {{"REPLY_TYPE", 16},
                {"REQUEST_ID", id},
                {"RESULT_CODE", 1},
                {"ERROR_DESCRIPTION", "ticket"},
                {"DEBUG_XML", TVariant()}});
    TQueryPtr q =
        Run("SELECT REPLY_TYPE, RESULT_CODE, ERROR_DESCRIPTION FROM S_EGAIS_REPLY "
            "WHERE REQUEST_ID = :ID ORDER BY REPLY_TYPE",
            {{"ID", id}});
    ASSERT_FALSE(q->Eof());
    EXPECT_EQ(q->Field(0).AsInteger(), 6);
    EXPECT_EQ(q->Field(1).AsInteger(), 1);
    EXPECT_EQ(q->Field(2).AsString(), longText);
    q->Next();
    ASSERT_FALSE(q->Eof());
    EXPECT_EQ(q->Field(0).AsInteger(), 16);
    q->Next();
    EXPECT_TRUE(q->Eof());
}

}  // namespace
