#include <gtest/gtest.h>

#include <future>
#include <iostream>
#include <thread>

#include "DbQueries.h"
#include "FbTestDb.h"
#include "TcpRelay.h"
#include "uDbProvider.h"
#include "uFbConnection.h"
#include "uFbNamedParams.h"
#include "uPlatform.h"

using qortest::Exec;
using qortest::FbLocation;
using qortest::Query;
using qortest::Value;

namespace {

const char* const kTestTables = R"(
CREATE TABLE T_ITEMS (
    ID   INTEGER NOT NULL PRIMARY KEY,
    NAME VARCHAR(100),
    NOTE BLOB SUB_TYPE TEXT,
    QTY  NUMERIC(15,3)
);
)";

const char* const kRussian = "Водка «Столичная», 0,5 л — ёЁ";

// Runs fn on a thread of its own and gives back its result.
template <typename F>
auto OnOtherThread(F fn) {
    return std::async(std::launch::async, fn).get();
}

int64_t ConnectionId() {
    return Value("SELECT CURRENT_CONNECTION FROM RDB$DATABASE").AsInt64();
}
int64_t ItemCount() {
    return Value("SELECT COUNT(*) FROM T_ITEMS").AsInt64();
}

// The suite's database with the test table; a test may point the provider elsewhere.
class ProviderTest : public qortest::SuiteDbTest {
protected:
    std::string ExtraSql() const override { return kTestTables; }
    static void Use(const TDbParams& params) {
        SetDbParams(params);
        FreeDbProvider();
    }
};

class DbEmbedded : public ProviderTest {
protected:
    void SetUp() override {
        ProviderTest::SetUp();
        Exec("DELETE FROM T_ITEMS");
    }
};

}  // namespace

TEST(NamedParams, TranslatesOnlyRealParameters) {
    struct Case {
        const char* sql;
        const char* expected;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {"SELECT * FROM T WHERE ID = :ID", "SELECT * FROM T WHERE ID = ?", {"ID"}},
        {"UPDATE T SET A=:a, B=:B_2$ WHERE ID=:Id AND X=:ID",
         "UPDATE T SET A=?, B=? WHERE ID=? AND X=?",
         {"A", "B_2$", "ID", "ID"}},
        {"SELECT ':NO', 'it''s :NO' FROM T WHERE A = :YES",
         "SELECT ':NO', 'it''s :NO' FROM T WHERE A = ?",
         {"YES"}},
        {"SELECT \":NO\" FROM T -- :NO\nWHERE A = :A /* :NO */",
         "SELECT \":NO\" FROM T -- :NO\nWHERE A = ? /* :NO */",
         {"A"}},
        {"SELECT q'{:NO '}' FROM T WHERE A=:A", "SELECT q'{:NO '}' FROM T WHERE A=?", {"A"}},
        {"SELECT 1 FROM T WHERE A = : B OR C = ::", "SELECT 1 FROM T WHERE A = : B OR C = ::", {}},
        {"execute block (A integer = :A, S varchar(10) = :S) returns (R integer) as "
         "begin R = :A; select 1 from rdb$database where 'x' = :S into :R; suspend; end",
         "execute block (A integer = ?, S varchar(10) = ?) returns (R integer) as "
         "begin R = :A; select 1 from rdb$database where 'x' = :S into :R; suspend; end",
         {"A", "S"}},
        {" /* c */ EXECUTE BLOCK RETURNS (R INTEGER) AS BEGIN SELECT 1 FROM RDB$DATABASE INTO :R; "
         "END",
         " /* c */ EXECUTE BLOCK RETURNS (R INTEGER) AS BEGIN SELECT 1 FROM RDB$DATABASE INTO :R; "
         "END",
         {}},
        {"EXECUTE BLOCK (S VARCHAR(5) = ')', T INTEGER = :T) AS BEGIN END",
         "EXECUTE BLOCK (S VARCHAR(5) = ')', T INTEGER = ?) AS BEGIN END",
         {"T"}},
    };
    for (const Case& c : cases) {
        TTranslatedSql t = TranslateNamedParams(c.sql);
        EXPECT_EQ(t.Sql, c.expected) << c.sql;
        EXPECT_EQ(t.Names, c.names) << c.sql;
    }
}

TEST(DbErrors, ConnectionLossIsRecognised) {
    const std::string fragments =
        "Unsuccessful execution caused by a system error that precludes successful execution of "
        "subsequent statements\r\nUnable to complete network request to host \"x\".\r\nFailed to "
        "establish a connection.";
    EXPECT_TRUE(IsConnectionLostError(std::runtime_error(fragments)));
    EXPECT_FALSE(IsConnectionLostError(std::runtime_error("Failed to establish a connection.")));
    EXPECT_TRUE(IsConnectionLostError(
        EDbError("Error reading data from the connection.", -902, {isc_net_read_err})));
    EXPECT_TRUE(IsConnectionLostError(EDbError("shutdown", -902, {isc_att_shutdown})));
    EXPECT_FALSE(IsConnectionLostError(EDbError("lock conflict", -901, {isc_lock_conflict})));
}

TEST_F(DbEmbedded, EachThreadHasItsOwnConnection) {
    const int64_t mine = ConnectionId();
    EXPECT_EQ(ConnectionId(), mine);
    TConnection* conn = GetDbProvider().FindConnection(platform::CurrentThreadId());
    ASSERT_NE(conn, nullptr);
    EXPECT_EQ(GetDbProvider().FindConnection(platform::CurrentThreadId()), conn);

    const auto other = OnOtherThread([] {
        return std::pair(ConnectionId(),
                         GetDbProvider().FindConnection(platform::CurrentThreadId()));
    });
    EXPECT_NE(other.first, mine);
    EXPECT_NE(other.second, conn);
}

TEST_F(DbEmbedded, ValuesRoundTrip) {
    struct Case {
        const char* type;
        TVariant in;
        TVariant out;
    };
    const Case cases[] = {
        {"SMALLINT", 12, 12},
        {"INTEGER", "42", 42},
        {"BIGINT", int64_t(9000000000), int64_t(9000000000)},
        {"NUMERIC(15,2)", 5, 5.0},
        {"NUMERIC(15,2)", 12.34, 12.34},
        {"NUMERIC(4,1)", "-3.5", -3.5},
        {"DOUBLE PRECISION", 1.5, 1.5},
        {"FLOAT", 0.25, 0.25},
        {"VARCHAR(20)", "abc", "abc"},
        {"VARCHAR(20)", 17, "17"},
        {"VARCHAR(60)", kRussian, kRussian},
        {"CHAR(6)", "ab", "ab"},
        {"CHAR(40)", kRussian, kRussian},
        {"BLOB SUB_TYPE TEXT", kRussian, kRussian},
        {"BLOB SUB_TYPE TEXT", std::string(100000, 'x') + kRussian,
         std::string(100000, 'x') + kRussian},
        {"DATE", EncodeDateTime({2024, 2, 29}), EncodeDateTime({2024, 2, 29})},
        {"TIME", EncodeDateTime({1899, 12, 30, 13, 45, 10}),
         EncodeDateTime({1899, 12, 30, 13, 45, 10})},
        {"TIMESTAMP", EncodeDateTime({2024, 2, 29, 13, 45, 10, 123}),
         EncodeDateTime({2024, 2, 29, 13, 45, 10, 123})},
        {"TIMESTAMP", "2024-02-29 13:45:10", EncodeDateTime({2024, 2, 29, 13, 45, 10})},
        {"BOOLEAN", 1, 1},
        {"BOOLEAN", 0, 0},
        {"INTEGER", TVariant(), TVariant()},
        {"VARCHAR(10)", TVariant(), TVariant()},
        {"BLOB SUB_TYPE TEXT", TVariant(), TVariant()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        TVariant got = Value(
            std::string("SELECT CAST(:V AS ") + c.type + ") AS V FROM RDB$DATABASE", {{"V", c.in}});
        EXPECT_TRUE(got == c.out) << got.AsString().substr(0, 200);
    }
}

TEST_F(DbEmbedded, ExecuteBlockWithParameters) {
    TQueryPtr q = Query(
        "EXECUTE BLOCK (A INTEGER = :A, S VARCHAR(20) = :S) RETURNS (R VARCHAR(40)) AS "
        "DECLARE X INTEGER; BEGIN X = :A * 2; R = :S || '-' || :X; SUSPEND; END",
        {{"A", 21}, {"S", "n"}});
    ASSERT_FALSE(q->Eof());
    EXPECT_EQ(q->FieldByName("r").AsString(), "n-42");
    q->Next();
    EXPECT_TRUE(q->Eof());

    // A block without RETURNS is executed; its parameter appears twice in the header.
    Exec(
        "EXECUTE BLOCK (ID INTEGER = :ID, ID2 INTEGER = :ID) AS BEGIN "
        "INSERT INTO T_ITEMS (ID, NAME) VALUES (:ID, 'x'); INSERT INTO T_ITEMS (ID) VALUES (:ID2 + "
        "1); END",
        {{"ID", 5}});
    EXPECT_EQ(Value("SELECT SUM(ID) FROM T_ITEMS").AsInt64(), 11);
}

TEST_F(DbEmbedded, UpdateOrInsertMatching) {
    const char* sql = "UPDATE OR INSERT INTO T_ITEMS (ID, NAME) VALUES (:ID, :NAME) MATCHING (ID)";
    Exec(sql, {{"ID", 7}, {"NAME", "first"}});
    Exec(sql, {{"ID", 7}, {"NAME", "second"}});
    EXPECT_EQ(ItemCount(), 1);
    EXPECT_EQ(Value("SELECT NAME FROM T_ITEMS WHERE ID = 7").AsString(), "second");
}

TEST_F(DbEmbedded, RussianTextIsStoredAsWin1251) {
    Exec("INSERT INTO T_ITEMS (ID, NAME, NOTE) VALUES (1, :N, :B)",
         {{"N", kRussian}, {"B", kRussian}});
    const int64_t chars = Value("SELECT CHAR_LENGTH(NAME) FROM T_ITEMS").AsInt64();
    EXPECT_EQ(Value("SELECT OCTET_LENGTH(NAME) FROM T_ITEMS").AsInt64(), chars);  // one byte each
    EXPECT_EQ(Value("SELECT OCTET_LENGTH(NOTE) FROM T_ITEMS").AsInt64(), chars);

    // A connection in WIN1251: the provider converts, and both see the same text.
    TDbParams params = Db->Params();
    params.Charset = "WIN1251";
    Use(params);
    EXPECT_EQ(Value("SELECT NAME FROM T_ITEMS WHERE ID = 1").AsString(), kRussian);
    EXPECT_EQ(Value("SELECT NOTE FROM T_ITEMS WHERE ID = 1").AsString(), kRussian);
    const std::string other = std::string("Пиво ") + kRussian;
    Exec("INSERT INTO T_ITEMS (ID, NAME, NOTE) VALUES (2, :N, :N)", {{"N", other}});
    EXPECT_EQ(Value("SELECT COUNT(*) FROM T_ITEMS WHERE NAME = :N", {{"N", other}}).AsInt64(), 1);

    Use(Db->Params());
    TQueryPtr q = Query("SELECT NAME, NOTE, OCTET_LENGTH(NAME) FROM T_ITEMS WHERE ID = 2");
    EXPECT_EQ(q->Field(0).AsString(), other);
    EXPECT_EQ(q->Field(1).AsString(), other);
    EXPECT_EQ(q->Field(2).AsInt64(),
              Value("SELECT CHAR_LENGTH(NAME) FROM T_ITEMS WHERE ID = 2").AsInt64());
}

TEST_F(DbEmbedded, LongTransactionIsSeenOnlyAfterCommit) {
    TQueryPtr lq = GetDbProvider().GetQuery(true, false);
    ASSERT_NE(lq, nullptr);
    EXPECT_TRUE(lq->Transaction().Active());
    lq->SetSQL("INSERT INTO T_ITEMS (ID) VALUES (:ID)");
    lq->SetParam("ID", 1);
    lq->ExecQuery();

    // The thread's other queries on the default transaction share it; one with a
    // transaction of its own and another connection do not see the insert.
    TQueryPtr shared = Query("SELECT COUNT(*) FROM T_ITEMS");
    EXPECT_EQ(shared->Field(0).AsInt64(), 1);
    TQueryPtr own = GetDbProvider().GetQuery(true, true);
    own->SetSQL("SELECT COUNT(*) FROM T_ITEMS");
    own->ExecQuery();
    EXPECT_EQ(own->Field(0).AsInt64(), 0);
    EXPECT_EQ(OnOtherThread(ItemCount), 0);

    lq->Transaction().Commit();
    EXPECT_EQ(OnOtherThread(ItemCount), 1);

    lq->Transaction().StartTransaction();
    lq->SetParam("ID", 2);
    lq->ExecQuery();
    lq->Transaction().Rollback();
    EXPECT_EQ(ItemCount(), 1);
    EXPECT_THROW(lq->ExecQuery(), EDbProviderException);  // no transaction any more
}

TEST_F(DbEmbedded, ShortQueryCommitsEachExecution) {
    TQueryPtr q = GetDbProvider().GetQuery(false, true);
    ASSERT_NE(q, nullptr);
    EXPECT_FALSE(q->Transaction().Active());
    q->SetSQL("INSERT INTO T_ITEMS (ID) VALUES (:ID)");
    for (int id : {1, 2}) {
        q->SetParam("ID", id);
        q->ExecQuery();
        EXPECT_FALSE(q->Transaction().Active());
        EXPECT_EQ(OnOtherThread(ItemCount), id);
    }
    // A select reads its rows before the commit.
    q->SetSQL("SELECT ID FROM T_ITEMS ORDER BY ID");
    q->ExecQuery();
    EXPECT_FALSE(q->Transaction().Active());
    std::vector<int64_t> ids;
    for (; !q->Eof(); q->Next()) ids.push_back(q->FieldByName("ID").AsInt64());
    EXPECT_EQ(ids, (std::vector<int64_t>{1, 2}));
    EXPECT_EQ(q->RowsAffected(), 2);
}

TEST_F(DbEmbedded, PreparedStatementIsReusedForManyRows) {
    TQueryPtr q = GetDbProvider().GetQuery(true, true);
    q->SetSQL("INSERT INTO T_ITEMS (ID, NAME, QTY) VALUES (:ID, :NAME, :QTY)");
    q->Prepare();
    EXPECT_EQ(q->ParamNames(), (std::vector<std::string>{"ID", "NAME", "QTY"}));
    for (int i = 1; i <= 2000; ++i) {
        q->SetParam("ID", i);
        q->SetParam("NAME", i % 2 ? TVariant("n" + std::to_string(i)) : TVariant());
        q->SetParam("QTY", i * 0.5);
        q->ExecQuery();
        ASSERT_EQ(q->RowsAffected(), 1);
    }
    q->Transaction().Commit();

    TQueryPtr sel = GetDbProvider().GetQuery(true, false);
    sel->SetSQL("SELECT ID, NAME, QTY FROM T_ITEMS WHERE ID > :FROM ORDER BY ID");
    sel->SetParam("FROM", 1990);
    sel->ExecQuery();
    int count = 0;
    double sum = 0;
    for (; !sel->Eof(); sel->Next(), ++count) {
        const int64_t id = sel->Field(0).AsInt64();
        EXPECT_EQ(sel->Field(1), id % 2 ? TVariant("n" + std::to_string(id)) : TVariant());
        sum += sel->FieldByName("qty").AsDouble();
    }
    EXPECT_EQ(count, 10);
    EXPECT_DOUBLE_EQ(sum, 0.5 * (1991 + 2000) * 10 / 2);
    EXPECT_TRUE(sel->FieldByName("ID").IsNull());  // past the end: an empty record
    EXPECT_THROW(sel->FieldByName("NOPE"), EDbProviderException);
    sel->Transaction().Commit();
}

TEST_F(DbEmbedded, StatementOverload) {
    auto& db = GetDbProvider();
    const char* insert = "INSERT INTO T_ITEMS (ID, NAME, QTY) VALUES (:ID, :NAME, :QTY)";
    const std::vector<std::string> three = {"ID", "NAME", "QTY"};
    EXPECT_THROW(
        {
            try {
                db.GetQuery(insert, three, {1, "a"}, true, false, false, true, true);
            } catch (const EDbProviderException& e) {
                EXPECT_STREQ(e.what(), "Invalid param count");
                throw;
            }
        },
        EDbProviderException);
    EXPECT_EQ(ItemCount(), 0);

    // Unchecked: the third name stays unassigned (null). NeedRelease gives nil after success.
    EXPECT_EQ(db.GetQuery(insert, three, {1, "a"}, true, false, false, true, false), nullptr);
    EXPECT_TRUE(Value("SELECT QTY FROM T_ITEMS WHERE ID = 1").IsNull());
    EXPECT_EQ(Value("SELECT NAME FROM T_ITEMS WHERE ID = 1").AsString(), "a");

    // A name the statement lacks is skipped; the query is returned executed.
    TQueryPtr q = db.GetQuery("SELECT NAME FROM T_ITEMS WHERE ID = :ID", {"NOPE", "id"}, {5, 1},
                              true, false, false, false, true);
    ASSERT_NE(q, nullptr);
    ASSERT_FALSE(q->Eof());
    EXPECT_EQ(q->Field(0).AsString(), "a");

    // Not opened: prepared, with the values set, for the caller to execute.
    q = db.GetQuery("SELECT NAME FROM T_ITEMS WHERE ID = :ID", {"ID"}, {1}, false, true, false,
                    false, true);
    ASSERT_NE(q, nullptr);
    EXPECT_TRUE(q->Eof());
    q->ExecQuery();
    EXPECT_EQ(q->Field(0).AsString(), "a");
    q->Transaction().Commit();

    // A failing statement gives nil; so does a duplicate key.
    EXPECT_EQ(db.GetQuery("SELEC 1", {}, {}, true, false, false, false, true), nullptr);
    EXPECT_EQ(db.GetQuery(insert, three, {1, "b", 1}, true, false, false, false, true), nullptr);
    EXPECT_EQ(ItemCount(), 1);
}

TEST_F(DbEmbedded, ErrorsCarryTheClientDiagnosis) {
    TQueryPtr q = GetDbProvider().GetQuery(false, false);
    q->SetSQL("SELEC 1 FROM RDB$DATABASE");
    try {
        q->ExecQuery();
        FAIL() << "no error";
    } catch (const EDbError& e) {
        const std::string m = e.what();
        EXPECT_EQ(e.SqlCode(), -104);
        EXPECT_NE(m.find("Invalid token\r\n"), std::string::npos) << m;
        EXPECT_NE(m.find("Token unknown"), std::string::npos) << m;
        EXPECT_FALSE(e.GdsCodes().empty());
        EXPECT_FALSE(IsConnectionLostError(e));
    }
    EXPECT_THROW(q->SetParam("X", 1), EDbProviderException);
    // The connection's default transaction was not left open by the failure.
    EXPECT_FALSE(q->Transaction().Active());
}

TEST_F(DbEmbedded, LockAndUnlockConnection) {
    auto& db = GetDbProvider();
    db.LockConnection();
    TConnection* conn = db.FindConnection(platform::CurrentThreadId());
    ASSERT_NE(conn, nullptr);
    EXPECT_TRUE(conn->Connected());
    const int64_t before = ConnectionId();
    TQueryPtr lq = db.GetQuery(true, false);
    lq->SetSQL("INSERT INTO T_ITEMS (ID) VALUES (1)");
    lq->ExecQuery();

    db.UnlockConnection();  // what was left open is rolled back
    EXPECT_FALSE(conn->Connected());
    EXPECT_FALSE(lq->Transaction().Active());
    EXPECT_THROW(lq->ExecQuery(), EDbProviderException);
    EXPECT_EQ(db.FindConnection(platform::CurrentThreadId()), conn);  // kept for reuse

    EXPECT_EQ(ItemCount(), 0);  // GetQuery connects it again
    EXPECT_NE(ConnectionId(), before);
    EXPECT_EQ(db.FindConnection(platform::CurrentThreadId()), conn);
}

TEST_F(DbEmbedded, ATransactionIsRolledBackUnlessCommitted) {
    const char* insert = "INSERT INTO T_ITEMS (ID, NAME) VALUES (:ID, :NAME)";
    {
        TDbTransaction tx;
        tx.Run(insert, {{"ID", 1}, {"NAME", "a"}});
        EXPECT_EQ(int64_t(1), tx.Value("SELECT COUNT(*) FROM T_ITEMS").AsInt64());
    }
    EXPECT_EQ(0, ItemCount()) << "left without Commit";
    try {
        TDbTransaction tx;
        tx.Run(insert, {{"ID", 2}, {"NAME", "b"}});
        throw std::runtime_error("the caller fails half-way");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(0, ItemCount()) << "left by an error";
    TDbTransaction tx;
    tx.Run(insert, {{"ID", 3}, {"NAME", "c"}});
    tx.Commit();
    EXPECT_FALSE(tx.Active());
    EXPECT_EQ(1, ItemCount());
}

TEST_F(DbEmbedded, TransactionStatementsArePreparedOnceAndKeepTheirRows) {
    TDbTransaction tx;
    const char* insert = "INSERT INTO T_ITEMS (ID, NAME, QTY) VALUES (:ID, :NAME, :QTY)";
    TQuery& first = tx.Statement(insert);
    for (int i = 1; i <= 3; ++i)
        tx.Run(insert, {{"ID", i}, {"NAME", i == 2 ? TVariant() : TVariant("n")}, {"QTY", 1.5}});
    EXPECT_EQ(&first, &tx.Statement(insert)) << "one query per statement text";

    TQuery& rows = tx.Run("SELECT ID, NAME FROM T_ITEMS ORDER BY ID");
    EXPECT_EQ(std::optional<int64_t>(1), rows.Int64("ID"));
    // Another statement of the same transaction leaves these rows where they are.
    EXPECT_TRUE(tx.Value("SELECT NAME FROM T_ITEMS WHERE ID = :ID", {{"ID", 99}}).IsNull());
    rows.Next();
    EXPECT_EQ(std::optional<int64_t>(2), rows.Int64("ID"));
    EXPECT_EQ("", rows.Text("NAME")) << "null reads as empty text";
    EXPECT_TRUE(
        tx.Run("SELECT CAST(NULL AS INTEGER) AS N, CAST(NULL AS DATE) AS D FROM RDB$DATABASE")
            .Int64("N") == std::nullopt);
    EXPECT_EQ(std::nullopt,
              tx.Statement("SELECT CAST(NULL AS INTEGER) AS N, CAST(NULL AS DATE) AS D "
                           "FROM RDB$DATABASE")
                  .Date("D"));
    EXPECT_NEAR(EncodeDateTime({2024, 2, 29}).Value,
                tx.Run("SELECT DATE '2024-02-29' AS D FROM RDB$DATABASE").Date("D")->Value, 1e-9);
}

TEST_F(DbEmbedded, ANewQueryThatCannotConnectSaysWhy) {
    TDbParams broken = Db->Params();
    broken.DbName = "/nonexistent-folder/missing.fdb";
    Use(broken);
    try {
        NewQuery(TTxMode::Short);
        ADD_FAILURE() << "no error";
    } catch (const EDbProviderException& e) {
        EXPECT_NE(std::string::npos, std::string(e.what()).find("/nonexistent-folder/missing.fdb"))
            << e.what();
    }
    EXPECT_THROW(TDbTransaction(), EDbProviderException);
}

TEST_F(DbEmbedded, FreeDbProviderLeavesAThreadsConnectionToIt) {
    std::promise<void> gotQuery, freed;
    std::future<void> freedSignal = freed.get_future();
    auto worker = std::async(std::launch::async, [&] {
        TQueryPtr q = GetDbProvider().GetQuery(true, false);
        q->SetSQL("INSERT INTO T_ITEMS (ID) VALUES (:ID)");
        q->SetParam("ID", 1);
        q->ExecQuery();
        const int64_t first = ConnectionId();
        gotQuery.set_value();
        freedSignal.wait();
        // The held query and its transaction still work on the old connection...
        q->SetParam("ID", 2);
        q->ExecQuery();
        q->Transaction().Commit();
        // ...and the thread's next request opens a new one.
        const int64_t second = ConnectionId();
        return std::pair(first, second);
    });
    gotQuery.get_future().wait();
    FreeDbProvider();
    freed.set_value();
    const auto [first, second] = worker.get();
    EXPECT_NE(first, second);
    EXPECT_EQ(ItemCount(), 2);
}

namespace {

class DbServer : public ProviderTest {
protected:
    FbLocation Location() const override { return FbLocation::Server; }
};

}  // namespace

TEST_F(DbServer, CutAndDownConnectionsAreConnectionLoss_Server) {
    qortest::TcpRelay relay;
    Use(Db->ParamsViaPort(relay.Port()));
    TQueryPtr q = GetDbProvider().GetQuery(false, false);
    ASSERT_NE(q, nullptr);
    q->SetSQL("SELECT CURRENT_CONNECTION FROM RDB$DATABASE");
    q->ExecQuery();
    const int64_t before = q->Field(0).AsInt64();

    relay.Cut();
    try {
        q->ExecQuery();
        FAIL() << "the cut connection still answers";
    } catch (const EDbError& e) {
        std::cout << "[ lost connection ] " << e.what() << "\n";
        EXPECT_TRUE(IsConnectionLostError(e)) << e.what();
    }
    // While the relay refuses, as a server that is down, there is no new connection: the
    // provider gives nil, and LockConnection raises the loss.
    FreeDbProvider();
    auto& db = GetDbProvider();
    EXPECT_EQ(db.GetQuery(false, false), nullptr);
    EXPECT_EQ(db.GetQuery(true, true), nullptr);
    EXPECT_EQ(db.GetQuery("SELECT 1 FROM RDB$DATABASE", {}, {}, true, false, false, false, true),
              nullptr);
    EXPECT_THROW(NewQuery(TTxMode::Short, TTxOwner::Connection), EDbProviderException);
    try {
        db.LockConnection();
        FAIL() << "connected through a cut relay";
    } catch (const EDbError& e) {
        std::cout << "[ refused connection ] " << e.what() << "\n";
        const std::string m = e.what();
        EXPECT_NE(m.find("error that precludes successful execution of subsequent statements"),
                  std::string::npos);
        EXPECT_NE(m.find("Failed to establish a connection"), std::string::npos);
        EXPECT_TRUE(IsConnectionLostError(e)) << m;
    }

    relay.Restore();
    FreeDbProvider();
    q.reset();
    TQueryPtr again = GetDbProvider().GetQuery(false, false);
    ASSERT_NE(again, nullptr);
    again->SetSQL("SELECT CURRENT_CONNECTION FROM RDB$DATABASE");
    again->ExecQuery();
    EXPECT_NE(again->Field(0).AsInt64(), before);
}
