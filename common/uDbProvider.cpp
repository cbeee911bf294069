#include "uDbProvider.h"

#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <random>

#include "uFbConnection.h"
#include "uFbQuery.h"
#include "uIniFile.h"
#include "uLogger.h"
#include "uPlatform.h"

namespace {

const char* const kClientLibrary = "libfbclient.so.2";
const char* const kPackedPrefix = "CRPSTR";
const char* const kDefaultDbName = "127.0.0.1/3050:C:\\ZELMAR\\DATABASE.IB";
const char* const kDefaultUser = "SYSDBA";
const char* const kDefaultPassword = "masterkey";
const char* const kDefaultCharset = "UTF8";

std::mutex GParamsLock;
TDbParams GParams{kDefaultDbName, kDefaultUser, kDefaultPassword, kDefaultCharset};  // GParamsLock

std::mutex GProviderLock;
std::unique_ptr<TDbProvider> GProvider;  // GProviderLock

}  // namespace

bool IsConnectionLostError(const std::exception& e) {
    const std::string message = e.what();
    if (message.find("error that precludes successful execution of subsequent statements") !=
            std::string::npos &&
        message.find("Failed to establish a connection") != std::string::npos)
        return true;
    const auto* db = dynamic_cast<const EDbError*>(&e);
    if (!db) return false;
    static const intptr_t lost[] = {isc_network_error,
                                    isc_net_read_err,
                                    isc_net_write_err,
                                    isc_net_connect_err,
                                    isc_net_connect_listen_err,
                                    isc_net_lookup_err,
                                    isc_lost_db_connection,
                                    isc_conn_lost,
                                    isc_att_shutdown,
                                    isc_shutdown,
                                    isc_shutinprog,
                                    isc_net_server_shutdown};
    return std::any_of(db->GdsCodes().begin(), db->GdsCodes().end(), [](intptr_t code) {
        return std::find(std::begin(lost), std::end(lost), code) != std::end(lost);
    });
}

struct TDbProvider::Impl {
    std::mutex FLock;
    std::vector<std::shared_ptr<TConnection>> FDataBases;  // FLock; one entry per thread

    // The calling thread's connection. A discarded one is dropped from the list and replaced;
    // the queries still holding it keep it until they are freed.
    std::shared_ptr<TConnection> Acquire(bool create) {
        const uint32_t tid = platform::CurrentThreadId();
        std::shared_ptr<TConnection> dropped;  // released after the lock, on this thread
        std::lock_guard<std::mutex> guard(FLock);
        auto it = std::find_if(FDataBases.begin(), FDataBases.end(),
                               [tid](const auto& c) { return c->ThreadId() == tid; });
        if (it != FDataBases.end()) {
            if (!(*it)->Discarded()) return *it;
            dropped = std::move(*it);
            FDataBases.erase(it);
        }
        if (!create) return nullptr;
        auto conn = std::make_shared<TConnection>(GetDbParams(), tid);
        FDataBases.push_back(conn);
        return conn;
    }
};

TDbProvider::TDbProvider() : FImpl(std::make_unique<Impl>()) {}
TDbProvider::~TDbProvider() = default;

TConnection* TDbProvider::FindConnection(uint32_t threadId) {
    std::lock_guard<std::mutex> guard(FImpl->FLock);
    for (const auto& c : FImpl->FDataBases)
        if (c->ThreadId() == threadId && !c->Discarded()) return c.get();
    return nullptr;
}

TConnection* TDbProvider::NewDataBase(const std::string& aName, const std::string& aUser,
                                      const std::string& aPwd) {
    TDbParams params = GetDbParams();
    params.DbName = aName;
    params.User = aUser;
    params.Password = aPwd;
    const uint32_t tid = platform::CurrentThreadId();
    auto conn = std::make_shared<TConnection>(params, tid);
    std::shared_ptr<TConnection> replaced;
    std::lock_guard<std::mutex> guard(FImpl->FLock);
    auto& list = FImpl->FDataBases;
    auto it = std::find_if(list.begin(), list.end(),
                           [tid](const auto& c) { return c->ThreadId() == tid; });
    if (it != list.end()) {
        replaced = std::move(*it);
        *it = conn;
    } else {
        list.push_back(conn);
    }
    return conn.get();
}

void TDbProvider::LockConnection() {
    FImpl->Acquire(true)->Connect();
}

void TDbProvider::UnlockConnection() {
    if (auto conn = FImpl->Acquire(false)) conn->Disconnect();
}

TQueryPtr TDbProvider::GetQuery(bool UseLongTransaction, bool UseNewTransaction) {
    try {
        return OpenQuery(UseLongTransaction ? TTxMode::Long : TTxMode::Short,
                         UseNewTransaction ? TTxOwner::Query : TTxOwner::Connection);
    } catch (const std::exception&) {
        return nullptr;  // the caller treats nil as failure; nothing is reported here
    }
}

TQueryPtr TDbProvider::OpenQuery(TTxMode mode, TTxOwner owner) {
    auto conn = FImpl->Acquire(true);
    conn->Connect();
    auto query =
        std::make_unique<fb::TFbQuery>(conn, owner == TTxOwner::Query, mode == TTxMode::Short);
    if (mode == TTxMode::Long && !query->Transaction().Active())
        query->Transaction().StartTransaction();
    return query;
}

TQueryPtr TDbProvider::QueryIn(TQuery& owner) {
    auto& fbOwner = dynamic_cast<fb::TFbQuery&>(owner);
    return std::make_unique<fb::TFbQuery>(fbOwner.ConnectionPtr(), fbOwner.FbTransaction());
}

TQueryPtr TDbProvider::GetQuery(const std::string& aSQL,
                                const std::vector<std::string>& aParamNames,
                                const std::vector<TVariant>& aParamValues, bool AutoOpen,
                                bool UseLongTransaction, bool UseNewTransaction, bool NeedRelease,
                                bool CheckParamCount) {
    if (CheckParamCount && aParamNames.size() != aParamValues.size())
        throw EDbProviderException("Invalid param count");
    TQueryPtr query = GetQuery(UseLongTransaction, UseNewTransaction);
    if (!query) return nullptr;
    try {
        query->SetSQL(aSQL);
        query->Prepare();
        for (size_t i = 0; i < aParamNames.size() && i < aParamValues.size(); ++i)
            if (query->HasParam(aParamNames[i])) query->SetParam(aParamNames[i], aParamValues[i]);
        if (AutoOpen) query->ExecQuery();
    } catch (const std::exception&) {
        return nullptr;  // a failed statement is swallowed: the caller sees nil
    }
    if (NeedRelease) return nullptr;
    return query;
}

void TDbProvider::DiscardConnections() {
    std::lock_guard<std::mutex> guard(FImpl->FLock);
    for (const auto& c : FImpl->FDataBases) c->MarkDiscarded();
}

TDbProvider& GetDbProvider() {
    std::lock_guard<std::mutex> guard(GProviderLock);
    if (!GProvider) GProvider = std::make_unique<TDbProvider>();
    return *GProvider;
}

bool FreeDbProvider() {
    std::lock_guard<std::mutex> guard(GProviderLock);
    // Connections are not destroyed here: a job thread may be using its own right now.
    // Each thread replaces its connection at its next request.
    if (GProvider) GProvider->DiscardConnections();
    return false;
}

void SetDbParams(const TDbParams& params) {
    std::lock_guard<std::mutex> guard(GParamsLock);
    GParams = params;
    if (GParams.Charset.empty()) GParams.Charset = kDefaultCharset;
}

TDbParams GetDbParams() {
    std::lock_guard<std::mutex> guard(GParamsLock);
    return GParams;
}

void LoadDbParams() {
    Logger().Debug("LoadDbParams() ->");
    try {
        void* lib = dlopen(kClientLibrary, RTLD_NOW | RTLD_LOCAL);
        if (!lib)
            throw EDbProviderException(std::string("Database error (") + kClientLibrary +
                                       " is not found)");
        dlclose(lib);

        TIniFile ini(platform::IniFilePath());
        TDbParams params;
        params.DbName = ini.ReadString("DATABASE", "DbName", kDefaultDbName);
        ini.WriteString("DATABASE", "DbName", params.DbName);
        params.User = ini.ReadString("DATABASE", "User", kDefaultUser);
        ini.WriteString("DATABASE", "User", params.User);
        std::string password = ini.ReadString("DATABASE", "Password", kDefaultPassword);
        if (password.rfind(kPackedPrefix, 0) != 0) password = kPackedPrefix + PACK_STR(password);
        ini.WriteString("DATABASE", "Password", password);
        params.Password = UNPACK_STR(password.substr(6));
        params.Charset = ini.ReadString("DATABASE", "Charset", kDefaultCharset);
        ini.WriteString("DATABASE", "Charset", params.Charset);
        SetDbParams(params);
    } catch (const std::exception& e) {
        Logger().Error("LoadDbParams() ", e);
        throw;
    }
    Logger().Debug("LoadDbParams() <-");
}

std::string PACK_STR(const std::string& sText) {
    static thread_local std::minstd_rand random(
        static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::uniform_int_distribution<int> digit(4, 8);
    std::string result;
    result.reserve(sText.size() * 3);
    for (unsigned char c : sText) {
        int high = c / 64;
        if (high == 0) high = digit(random);
        result += static_cast<char>('0' + high);
        result += static_cast<char>('0' + (c % 64) / 8);
        result += static_cast<char>('0' + c % 8);
    }
    return result;
}

std::string UNPACK_STR(const std::string& sSrc) {
    std::string result;
    const size_t len = sSrc.size();
    auto digitAt = [&sSrc](size_t i) { return i < sSrc.size() ? sSrc[i] - '0' : 0; };
    // Positions are counted from 0 here; the loop runs while the 1-based position is below
    // the length, as the packed form was always read.
    size_t i = 0;
    while (i + 1 < len) {
        int sign = 1;
        if (sSrc[i] == 'M') {
            sign = -1;
            ++i;
        }
        int high = digitAt(i);
        if (high > 3) high = 0;
        const int code = sign * (high * 64 + digitAt(i + 1) * 8 + digitAt(i + 2));
        result += static_cast<char>(static_cast<unsigned char>(code & 0xFF));
        i += 3;
    }
    auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    size_t b = 0, e = result.size();
    while (b < e && blank(result[b])) ++b;
    while (e > b && blank(result[e - 1])) --e;
    result = result.substr(b, e - b);
    if (!result.empty() && result.back() == ';') result.pop_back();
    return result;
}

TQueryPtr NewQuery(TTxMode mode, TTxOwner owner) {
    return GetDbProvider().OpenQuery(mode, owner);
}

TQuery& TQuery::Run(const std::string& sql, TSqlParams params) {
    Close();
    SetSQL(sql);
    for (const auto& [name, value] : params) SetParam(name, value);
    ExecQuery();
    return *this;
}

TVariant TQuery::Value(const std::string& sql, TSqlParams params) {
    Run(sql, params);
    return Eof() || FieldCount() == 0 ? TVariant::Null() : Field(0);
}

std::optional<int64_t> TQuery::Int64(const std::string& name) const {
    const TVariant v = FieldByName(name);
    return v.IsNull() ? std::nullopt : std::optional<int64_t>(v.AsInt64());
}

std::string TQuery::Text(const std::string& name) const {
    return FieldByName(name).AsString();
}

std::optional<TDateTime> TQuery::Date(const std::string& name) const {
    const TVariant v = FieldByName(name);
    return v.IsNull() ? std::nullopt : std::optional<TDateTime>(v.AsDateTime());
}

TDbTransaction::TDbTransaction() : FOwner(NewQuery(TTxMode::Long)) {}

TDbTransaction::~TDbTransaction() {
    try {
        Rollback();
    } catch (const std::exception& e) {
        Logger().Debug("TDbTransaction", e);
    }
}

TQuery& TDbTransaction::Statement(const std::string& sql) {
    TQueryPtr& q = FStatements[sql];
    if (!q) {
        q = GetDbProvider().QueryIn(*FOwner);
        q->SetSQL(sql);
    }
    return *q;
}

TQuery& TDbTransaction::Run(const std::string& sql, TSqlParams params) {
    return Statement(sql).Run(sql, params);
}

TVariant TDbTransaction::Value(const std::string& sql, TSqlParams params) {
    return Statement(sql).Value(sql, params);
}

void TDbTransaction::CloseAll() {
    for (auto& [sql, q] : FStatements) q->Close();
}

void TDbTransaction::Commit() {
    CloseAll();
    if (Active()) FOwner->Transaction().Commit();
}

void TDbTransaction::Rollback() {
    CloseAll();
    if (Active()) FOwner->Transaction().Rollback();
}

bool TDbTransaction::Active() const {
    return FOwner->Transaction().Active();
}
