#pragma once
// An outgoing job against the in-process UTM on a fresh embedded database, run on the
// test's own thread as a worker would run it, with helpers to read back what it wrote.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "FbTestDb.h"
#include "TestSupport.h"
#include "UtmEmulator.h"
#include "WaybillFixture.h"
#include "uCommon.h"
#include "uDbProvider.h"
#include "uUtm.h"
#include "uXml.h"

namespace qortest {

class ActJobTest : public ::testing::Test {
protected:
    ActJobTest() : Db(FbLocation::Embedded, kWaybillBaseSql) {
        setenv("QOREGAIS_HOME", Home.Path().c_str(), 1);
        SetDbParams(Db.Params());
        Utm.Start();
        ClearSettings();
        SetSettingProperty("FSRAR_ID", kOurFsrarId);
        SetSettingProperty("UTM_ADDRESS", "127.0.0.1");
        SetSettingProperty("UTM_PORT", std::to_string(Utm.Port()));
    }
    ~ActJobTest() override {
        FreeDbProvider();
        ClearSettings();
        unsetenv("QOREGAIS_HOME");
    }

    template <class TJob>
    static void RunJob(TJob& job) {
        job.SetLimitJobRunningTime(990000);
        job.Perform();
    }
    template <class TJob>
    static void Run() {
        TJob job;
        RunJob(job);
    }

    static void Exec(const std::string& sql) {
        TQueryPtr q = NewQuery(TTxMode::Short);
        q->SetSQL(sql);
        q->ExecQuery();
    }
    static TVariant Value(const std::string& sql) {
        TQueryPtr q = NewQuery(TTxMode::Short);
        q->SetSQL(sql);
        q->ExecQuery();
        return q->Eof() ? TVariant() : q->Field(0);
    }
    // The reply's column as text, "" when there is no reply.
    static std::string Reply(int64_t requestId, int type,
                             const char* column = "ERROR_DESCRIPTION") {
        return Value(std::string("SELECT ") + column + " FROM S_EGAIS_REPLY WHERE REQUEST_ID = " +
                     std::to_string(requestId) + " AND REPLY_TYPE = " + std::to_string(type))
            .AsString();
    }
    static int Replies(int64_t requestId) {
        return int(Value("SELECT COUNT(*) FROM S_EGAIS_REPLY WHERE REQUEST_ID = " +
                         std::to_string(requestId))
                       .AsInt64());
    }
    static int Complete(int64_t requestId) {
        return int(Value("SELECT COALESCE(COMPLETE_FLAG, 0) FROM S_EGAIS_REQUEST WHERE ID = " +
                         std::to_string(requestId))
                       .AsInt64());
    }
    static TVariant Header(int64_t docId, const char* column) {
        return Value(std::string("SELECT ") + column +
                     " FROM RG_EGAIS_DOC_HEAD WHERE ID = " + std::to_string(docId));
    }
    // The text of the first element of that local name in a posted body, or "<none>".
    static std::string TextIn(const std::string& body, const std::string& sLocalName) {
        TXmlNode n = LoadXmlFrom(body).selectSingleNode(
            "//*[local-name()=" + XPathLiteral(sLocalName) + "][1]");
        return n ? n.text() : "<none>";
    }
    // The local name of the posted document's element below ns:Document.
    static std::string DocumentElement(const std::string& body) {
        TXmlNode n = LoadXmlFrom(body).selectSingleNode("//*[local-name()='Document']/*[1]");
        return n ? n.localName() : "<none>";
    }

    TempDir Home;
    FbTestDb Db;
    TUtmEmulator Utm;
};

}  // namespace qortest
