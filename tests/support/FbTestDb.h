#pragma once
// A fresh Firebird database for one test suite, made from db/*.sql (in file-name order)
// plus the suite's own SQL, with the back office's DEFAULT CHARACTER SET WIN1251.
#include <cstdint>
#include <filesystem>
#include <string>

#include "TestSupport.h"
#include "uDbProvider.h"

namespace qortest {

// The SYSDBA password of the local server: $QOR_FB_PASSWORD, else ISC_PASSWORD of
// /etc/firebird/3.0/SYSDBA.password.
std::string FbServerPassword();

enum class FbLocation {
    Embedded,  // a file opened by the engine inside this process
    Server,    // a database of the local server, 127.0.0.1/3050
};

class FbTestDb {
public:
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
    void RunIsql(const std::string& script, bool withDatabase) const;

    FbLocation FWhere;
    TempDir FDir;
    std::filesystem::path FFile;
    std::string FPassword;
};

}  // namespace qortest
