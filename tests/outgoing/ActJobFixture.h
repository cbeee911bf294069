#pragma once
// An outgoing job against the in-process UTM on a fresh embedded database, run on the
// test's own thread as a worker would run it, with helpers to read back what it wrote.
#include <gtest/gtest.h>

#include <string>

#include "DbQueries.h"
#include "EmulatedUtm.h"
#include "FbTestDb.h"
#include "TestSupport.h"
#include "WaybillFixture.h"
#include "uCommon.h"
#include "uDbProvider.h"
#include "uUtm.h"
#include "uXml.h"

namespace qortest {

class ActJobTest : public ::testing::Test {
protected:
    ActJobTest() : Db(FbLocation::Embedded, kWaybillBaseSql) {}
    ~ActJobTest() override { ClearSettings(); }

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

    // The reply's column as text, "" when there is no reply.
    static std::string Reply(int64_t requestId, int type,
                             const char* column = "ERROR_DESCRIPTION") {
        return Value(std::string("SELECT ") + column +
                         " FROM S_EGAIS_REPLY WHERE REQUEST_ID = :REQUEST AND REPLY_TYPE = :TYPE",
                     {{"REQUEST", requestId}, {"TYPE", type}})
            .AsString();
    }
    static int Replies(int64_t requestId) {
        return int(Value("SELECT COUNT(*) FROM S_EGAIS_REPLY WHERE REQUEST_ID = :REQUEST",
                         {{"REQUEST", requestId}})
                       .AsInt64());
    }
    static int Complete(int64_t requestId) {
        return int(Value("SELECT COALESCE(COMPLETE_FLAG, 0) FROM S_EGAIS_REQUEST WHERE ID = :ID",
                         {{"ID", requestId}})
                       .AsInt64());
    }
    static TVariant Header(int64_t docId, const char* column) {
        return Value(std::string("SELECT ") + column + " FROM RG_EGAIS_DOC_HEAD WHERE ID = :ID",
                     {{"ID", docId}});
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

    ProgramFolders Folders;
    ProviderDb Db;
    EmulatedUtm Utm;
};

}  // namespace qortest
