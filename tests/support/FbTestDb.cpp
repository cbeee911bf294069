#include "FbTestDb.h"

#include <stdio.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace qortest {

std::string FbServerPassword() {
    if (const char* env = std::getenv("QOR_FB_PASSWORD"); env && *env) return env;
    std::ifstream in("/etc/firebird/3.0/SYSDBA.password");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("ISC_PASSWORD=", 0) != 0) continue;
        std::string value = line.substr(13);
        while (!value.empty() && (value.back() == '\r' || value.back() == ' ')) value.pop_back();
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        return value;
    }
    throw std::runtime_error("No Firebird server password: set QOR_FB_PASSWORD");
}

FbTestDb::FbTestDb(FbLocation where, const std::string& extraSql)
    : FWhere(where), FFile(FDir.Path() / "test.fdb") {
    FPassword = where == FbLocation::Server ? FbServerPassword() : "masterkey";
    std::string script = "SET SQL DIALECT 3;\nCREATE DATABASE '" + Params().DbName +
                         "' USER 'SYSDBA' PASSWORD '" + FPassword +
                         "' PAGE_SIZE 8192 DEFAULT CHARACTER SET WIN1251;\n";
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(SourceDir() / "db"))
        if (entry.path().extension() == ".sql") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    for (const auto& f : files) script += ReadFile(f) + "\n";
    script += extraSql + "\nCOMMIT;\n";
    RunIsql(script, false);
}

TDbParams FbTestDb::Params() const {
    std::string name =
        FWhere == FbLocation::Server ? "127.0.0.1/3050:" + FFile.string() : FFile.string();
    return TDbParams{name, "SYSDBA", FPassword, "UTF8"};
}

TDbParams FbTestDb::ParamsViaPort(uint16_t port) const {
    TDbParams p = Params();
    p.DbName = "127.0.0.1/" + std::to_string(port) + ":" + FFile.string();
    return p;
}

void FbTestDb::RunScript(const std::string& sql) const {
    RunIsql(sql + "\nCOMMIT;\n", true);
}

void FbTestDb::RunIsql(const std::string& script, bool withDatabase) const {
    const auto file = FDir.Path() / "script.sql";
    WriteFile(file, script);
    std::string cmd = "isql-fb -q -bail -ch UTF8 -user SYSDBA -password '" + FPassword + "' -i '" +
                      file.string() + "'";
    if (withDatabase) cmd += " '" + Params().DbName + "'";
    cmd += " 2>&1 </dev/null";
    FILE* pipe = popen(cmd.c_str(), "r");
    if (!pipe) throw std::runtime_error("Unable to start isql-fb");
    std::string output;
    char buf[4096];
    while (size_t n = fread(buf, 1, sizeof buf, pipe)) output.append(buf, n);
    const int status = pclose(pipe);
    std::filesystem::remove(file);
    if (status != 0 || output.find("Statement failed") != std::string::npos)
        throw std::runtime_error("isql-fb failed: " + output);
}

}  // namespace qortest
