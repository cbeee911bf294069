#pragma once
// Per-thread connections to the back office's Firebird database. Every thread that asks
// for a query gets its own connection, found again by its thread identifier; the
// caller owns every query it is given.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Exception.h"
#include "uVariant.h"

QOR_DECLARE_EXCEPTION(EDbProviderException, Exception)

// An error reported by the Firebird client. The message holds the SQL error code's
// interpretation and every line of the client's status vector, one per line.
class EDbError : public EDbProviderException {
public:
    EDbError(const std::string& message, int sqlCode, std::vector<intptr_t> gdsCodes)
        : EDbProviderException(message), FSqlCode(sqlCode), FGdsCodes(std::move(gdsCodes)) {}
    const char* ClassName() const override { return "EDbError"; }
    int SqlCode() const { return FSqlCode; }
    const std::vector<intptr_t>& GdsCodes() const { return FGdsCodes; }

private:
    int FSqlCode;
    std::vector<intptr_t> FGdsCodes;  // the error codes of the status vector, in order
};

// True when the error says that the database connection is lost or cannot be made:
// its message holds both "error that precludes successful execution of subsequent
// statements" and "Failed to establish a connection", or it is an EDbError carrying
// one of Firebird's network or shutdown error codes.
bool IsConnectionLostError(const std::exception& e);

class TConnection;

class TTransaction {
public:
    virtual ~TTransaction() = default;
    virtual void StartTransaction() = 0;
    virtual void Commit() = 0;
    virtual void CommitRetaining() = 0;
    virtual void Rollback() = 0;
    virtual bool Active() const = 0;
};

// One statement on the calling thread's connection. Parameters are named (":NAME")
// in the text; they are translated before preparing, except inside string literals,
// comments and the body of an EXECUTE BLOCK (whose names are the block's own).
class TQuery {
public:
    virtual ~TQuery() = default;

    virtual void SetSQL(const std::string& sql) = 0;
    virtual const std::string& SQL() const = 0;
    virtual void Prepare() = 0;  // also done by ExecQuery when not yet prepared

    // Parameter names are compared ignoring letter case.
    virtual bool HasParam(const std::string& name) const = 0;
    virtual std::vector<std::string> ParamNames() const = 0;
    // Raises EDbProviderException for an unknown name.
    virtual void SetParam(const std::string& name, const TVariant& value) = 0;

    // Executes the statement. A statement with a result set is positioned on its first
    // row (Eof() when there is none); a statement that returns one row (EXECUTE
    // PROCEDURE, EXECUTE BLOCK with RETURNS, INSERT ... RETURNING) makes that row current.
    // In the short transaction mode each execution starts and commits its own
    // transaction; the rows of a select are then read in full before the commit.
    virtual void ExecQuery() = 0;
    virtual bool Eof() const = 0;
    virtual void Next() = 0;
    virtual void Close() = 0;
    virtual int64_t RowsAffected() const = 0;

    // Fields of the current row, by name ignoring letter case; a missing name raises.
    virtual bool FieldExists(const std::string& name) const = 0;
    virtual TVariant FieldByName(const std::string& name) const = 0;
    virtual int FieldCount() const = 0;
    virtual std::string FieldName(int index) const = 0;
    virtual TVariant Field(int index) const = 0;

    // The query's transaction: its own when created with a new transaction, else the
    // connection's default transaction.
    virtual TTransaction& Transaction() = 0;
};

using TQueryPtr = std::unique_ptr<TQuery>;

struct TDbParams {
    std::string DbName;    // "host/port:path", "host:path" or a plain path (embedded engine)
    std::string User;
    std::string Password;  // plain text
    std::string Charset;   // connection character set; "UTF8" unless the .ini says otherwise
};

class TDbProvider {
public:
    TDbProvider();
    ~TDbProvider();
    TDbProvider(const TDbProvider&) = delete;
    TDbProvider& operator=(const TDbProvider&) = delete;

    // The calling thread's connection, or nullptr.
    TConnection* FindConnection(uint32_t threadId);
    // Creates a (disconnected) connection for the calling thread.
    TConnection* NewDataBase(const std::string& aName, const std::string& aUser,
                             const std::string& aPwd);
    // Makes sure the calling thread has an open connection; a failed connect raises.
    void LockConnection();
    // Disconnects the calling thread's connection, if any; it stays for reuse.
    void UnlockConnection();

    TQueryPtr GetQuery(bool UseLongTransaction, bool UseNewTransaction);
    TQueryPtr GetQuery(const std::string& aSQL, const std::vector<std::string>& aParamNames,
                       const std::vector<TVariant>& aParamValues, bool AutoOpen,
                       bool UseLongTransaction, bool UseNewTransaction, bool NeedRelease,
                       bool CheckParamCount);

    // Marks every connection as discarded: each thread closes and replaces its own at
    // its next request, so that no connection is destroyed while its thread uses it.
    void DiscardConnections();

    struct Impl;

private:
    std::unique_ptr<Impl> FImpl;
};

// The process-wide provider, created on first use (thread-safe).
TDbProvider& GetDbProvider();
// Discards every thread's connection; each thread's next request opens a new one.
// Always returns false.
bool FreeDbProvider();

// Program start: checks the client library, reads and writes back section DATABASE
// of the .ini file (DbName, User, the packed Password, Charset). Raises on failure.
void LoadDbParams();
// Sets the connection parameters directly (tests, the companion program).
void SetDbParams(const TDbParams& params);
TDbParams GetDbParams();

std::string PACK_STR(const std::string& sText);
std::string UNPACK_STR(const std::string& sSrc);

// Convenience for callers: the query of GetQuery or EDbProviderException
// "Unable to get query" when the provider gave nothing.
TQueryPtr GetQueryOrRaise(bool UseLongTransaction, bool UseNewTransaction);
