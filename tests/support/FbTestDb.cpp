#include "FbTestDb.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace qortest {

namespace fs = std::filesystem;

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

namespace {

// The embedded engine does not check passwords; any will do.
constexpr const char* kEmbeddedPassword = "masterkey";
constexpr const char* kDbNameMark = "<database>";

// Runs a Firebird tool; raises std::runtime_error with its output when it fails or
// its output holds `failure`.
void RunTool(const std::string& cmd, const std::string& failure = "") {
    FILE* pipe = popen((cmd + " 2>&1 </dev/null").c_str(), "r");
    if (!pipe) throw std::runtime_error("Unable to start " + cmd);
    std::string output;
    char buf[4096];
    while (size_t n = fread(buf, 1, sizeof buf, pipe)) output.append(buf, n);
    const int status = pclose(pipe);
    if (status != 0 || (!failure.empty() && output.find(failure) != std::string::npos))
        throw std::runtime_error(cmd.substr(0, cmd.find(' ')) + " failed: " + output);
}

// Runs `script` with isql; `dbName` empty when the script makes its own database.
// Stops at the first error and raises std::runtime_error with isql's output.
void RunIsql(const std::string& script, const std::string& password, const std::string& dbName,
             const fs::path& workDir) {
    const fs::path file = workDir / ("script." + std::to_string(::getpid()) + ".sql");
    WriteFile(file, script);
    std::string cmd = "isql-fb -q -bail -ch UTF8 -user SYSDBA -password '" + password + "' -i '" +
                      file.string() + "'";
    if (!dbName.empty()) cmd += " '" + dbName + "'";
    try {
        RunTool(cmd, "Statement failed");
    } catch (...) {
        fs::remove(file);
        throw;
    }
    fs::remove(file);
}

// The script that makes the schema, with kDbNameMark where the file name goes.
std::string SchemaScript() {
    std::string script = "SET SQL DIALECT 3;\nCREATE DATABASE '" + std::string(kDbNameMark) +
                         "' USER 'SYSDBA' PASSWORD '" + kEmbeddedPassword +
                         "' PAGE_SIZE 8192 DEFAULT CHARACTER SET WIN1251;\n";
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(SourceDir() / "db"))
        if (entry.path().extension() == ".sql") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    for (const auto& f : files) script += ReadFile(f) + "\n";
    return script + "COMMIT;\n";
}

std::string Hash(const std::string& text) {
    uint64_t h = 1469598103934665603ull;  // FNV-1a: the same text gives the same name everywhere
    for (unsigned char c : text) {
        h ^= c;
        h *= 1099511628211ull;
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h));
    return hex;
}

fs::path TemplateFolder() {
    return BinaryDir() / "tests" / "schema";
}

constexpr const char* kTemplatePrefix = "schema-";
constexpr const char* kPartialPrefix = "partial.";
// gfix's switch that turns forced writes off, applied to the template after its script.
constexpr const char* kNoForcedWrites = "-write async";

// Holds an exclusive lock on the template folder's lock file while it lives.
class FolderLock {
public:
    explicit FolderLock(const fs::path& folder) {
        FFd = ::open((folder / "schema.lock").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0666);
        if (FFd < 0 || ::flock(FFd, LOCK_EX) != 0)
            throw std::runtime_error("cannot lock " + (folder / "schema.lock").string());
    }
    ~FolderLock() { ::close(FFd); }  // closing the file releases the lock
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    int FFd = -1;
};

}  // namespace

fs::path SchemaTemplate() {
    const std::string script = SchemaScript();
    const fs::path folder = TemplateFolder();
    // The step after the script counts too: a template made another way gets another name.
    const fs::path target = folder / (kTemplatePrefix + Hash(script + kNoForcedWrites) + ".fdb");
    if (fs::exists(target)) return target;

    fs::create_directories(folder);
    FolderLock lock(folder);
    if (fs::exists(target)) return target;  // made by another process meanwhile
    // Made under another name and renamed when complete: a process that finds the
    // template never sees half of one, even one left by a process that was killed.
    const fs::path partial = folder / (kPartialPrefix + std::to_string(::getpid()) + ".fdb");
    fs::remove(partial);
    std::string withName = script;
    withName.replace(withName.find(kDbNameMark), std::string(kDbNameMark).size(), partial.string());
    try {
        RunIsql(withName, kEmbeddedPassword, "", folder);
        // A test's database never outlives the test, so no commit needs to wait for the
        // disk: without forced writes the job tests, which commit row by row, run about
        // twice as fast. The copies inherit the setting.
        RunTool(std::string("gfix ") + kNoForcedWrites + " -user SYSDBA -password " +
                kEmbeddedPassword + " '" + partial.string() + "'");
    } catch (...) {
        fs::remove(partial);
        throw;
    }
    fs::rename(partial, target);
    return target;
}

void RemoveStaleSchemaTemplates() {
    const fs::path current = SchemaTemplate();
    // Under the lock no template is being made: a partial one is what a killed process left.
    FolderLock lock(TemplateFolder());
    for (const auto& entry : fs::directory_iterator(TemplateFolder())) {
        const std::string name = entry.path().filename().string();
        const bool stale =
            name.rfind(kTemplatePrefix, 0) == 0 || name.rfind(kPartialPrefix, 0) == 0;
        if (entry.path() != current && stale) fs::remove(entry.path());
    }
}

FbTestDb::FbTestDb(FbLocation where, const std::string& extraSql)
    : FWhere(where), FFile(FDir.Path() / "test.fdb") {
    FPassword = where == FbLocation::Server ? FbServerPassword() : kEmbeddedPassword;
    fs::copy_file(SchemaTemplate(), FFile);
    // The server runs as user firebird and opens the file itself.
    ::chmod(FFile.c_str(), 0666);
    // Through the embedded engine, before any server has the file open.
    if (!extraSql.empty())
        RunIsql(extraSql + "\nCOMMIT;\n", kEmbeddedPassword, FFile.string(), FDir.Path());
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
    RunIsql(sql + "\nCOMMIT;\n", FPassword, Params().DbName, FDir.Path());
}

ProviderDb::ProviderDb(FbLocation where, const std::string& extraSql) : FbTestDb(where, extraSql) {
    SetDbParams(Params());
    FreeDbProvider();
}

ProviderDb::~ProviderDb() {
    FreeDbProvider();
}

FbTestDb* SuiteDbTest::Db = nullptr;

void SuiteDbTest::SetUp() {
    if (!Db) Db = new FbTestDb(Location(), ExtraSql());
    SetDbParams(Db->Params());
    FreeDbProvider();
}

void SuiteDbTest::TearDown() {
    FreeDbProvider();
}

void SuiteDbTest::TearDownTestSuite() {
    FreeDbProvider();
    delete Db;
    Db = nullptr;
}

}  // namespace qortest
