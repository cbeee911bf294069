#pragma once
// A fresh Firebird database for a test or a test suite: a copy of the schema template
// (db/*.sql in file-name order, with the back office's DEFAULT CHARACTER SET WIN1251)
// plus the test's own SQL.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "TestSupport.h"
#include "uDbProvider.h"

namespace qortest {

// The SYSDBA password of the local server: $QOR_FB_PASSWORD, else ISC_PASSWORD of
// /etc/firebird/3.0/SYSDBA.password.
std::string FbServerPassword();

// The database file made from db/*.sql, PAGE_SIZE 8192, DEFAULT CHARACTER SET WIN1251,
// with forced writes off (no test needs its database to survive a power cut).
// Building the schema takes far longer than copying a file, and every test process
// would otherwise build it again, so it is made once per build folder and schema text:
// its name carries a hash of the script, so that a changed db/*.sql gives a new one.
// It is made through the embedded engine (a plain path), so no server ever holds it,
// under a lock file, so that concurrent test processes make it only once. CTest makes
// it first (the QorSchema fixture); a test binary run by hand makes it on demand.
std::filesystem::path SchemaTemplate();
// Removes the templates of earlier schema texts, and any left half made, from the build
// folder.
void RemoveStaleSchemaTemplates();

enum class FbLocation {
    Embedded,  // a file opened by the engine inside this process
    Server,    // a database of the local server, 127.0.0.1/3050
};

class FbTestDb {
public:
    // Copies the schema template into a folder of its own and runs extraSql on it.
    explicit FbTestDb(FbLocation where, const std::string& extraSql = "");

    FbLocation Location() const { return FWhere; }
    const std::filesystem::path& File() const { return FFile; }
    // Parameters that reach the database (Charset "UTF8").
    TDbParams Params() const;
    // The same server database through another local port (a relay in front of 3050).
    TDbParams ParamsViaPort(uint16_t port) const;

    // Runs an isql script on the database; stops at the first error and raises
    // std::runtime_error with isql's output. An embedded database must not be open in
    // this process meanwhile (the engine locks the file).
    void RunScript(const std::string& sql) const;

private:
    FbLocation FWhere;
    TempDir FDir;
    std::filesystem::path FFile;
    std::string FPassword;
};

// A database of the test's own that the provider uses while it lives: each thread's
// next query connects to it, and its connections are dropped before the file goes.
class ProviderDb : public FbTestDb {
public:
    explicit ProviderDb(FbLocation where, const std::string& extraSql = "");
    ~ProviderDb();
    ProviderDb(const ProviderDb&) = delete;
    ProviderDb& operator=(const ProviderDb&) = delete;
};

// A suite whose tests share one database, made at the suite's first test and dropped
// after its last; each test starts with the provider pointed at it and with fresh
// connections. A suite chooses the location and its own SQL by overriding Location()
// and ExtraSql(). CTest runs every test in a process of its own, so the sharing only
// saves time when a binary runs by hand; a test that changes rows others read must
// put them back or clear them in its SetUp.
class SuiteDbTest : public ::testing::Test {
protected:
    virtual FbLocation Location() const { return FbLocation::Embedded; }
    virtual std::string ExtraSql() const { return ""; }

    void SetUp() override;
    void TearDown() override;
    static void TearDownTestSuite();

    // The suite's database while its tests run.
    static FbTestDb* Db;
};

}  // namespace qortest
