#pragma once
// Per-thread connections to the back office's Firebird database. Every thread that asks
// for a query gets its own connection, found again by its thread identifier; the
// caller owns every query it is given.
#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
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

// How a query's statements are committed.
enum class TTxMode {
    Short,  // every execution runs in a transaction of its own, committed at once
    Long,   // one transaction, started with the query, until Commit or Rollback
};

// Whose transaction a query runs in.
enum class TTxOwner {
    Query,       // the query's own, rolled back with the query unless committed
    Connection,  // the connection's default one, shared by the thread's such queries
};

// Named parameters of a statement: {{"ID", 42}, {"NAME", "x"}}.
using TSqlParams = std::initializer_list<std::pair<const char*, TVariant>>;

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

    // Closes the query, sets the statement (kept prepared when the text is the same as
    // before), binds the parameters and executes it; the query is then on its first row.
    TQuery& Run(const std::string& sql, TSqlParams params = {});
    // The first column of the first row Run gives, or null when there is no row.
    TVariant Value(const std::string& sql, TSqlParams params = {});

    // Typed reads of a column of the current row; a null value gives nullopt or "".
    std::optional<int64_t> Int64(const std::string& name) const;
    std::string Text(const std::string& name) const;
    std::optional<TDateTime> Date(const std::string& name) const;
};

using TQueryPtr = std::unique_ptr<TQuery>;

struct TDbParams {
    std::string DbName;  // "host/port:path", "host:path" or a plain path (embedded engine)
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
    // The same, but a failure raises EDbProviderException with the reason.
    TQueryPtr OpenQuery(TTxMode mode, TTxOwner owner);
    // A query of the calling thread's connection in the transaction of another of its
    // queries, which must outlive it.
    TQueryPtr QueryIn(TQuery& owner);
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

// A query of the calling thread's connection; a failure raises EDbProviderException
// with the provider's reason.
TQueryPtr NewQuery(TTxMode mode, TTxOwner owner = TTxOwner::Query);

// One transaction of the calling thread's connection and the statements run in it.
// Each distinct statement text gets a query of its own, prepared once and executed again
// with new parameters (a position loop costs one prepare per statement, not per line);
// the rows of one statement stay readable while another runs. Whatever is not committed
// is rolled back when the object goes, on every way out.
class TDbTransaction {
public:
    TDbTransaction();
    ~TDbTransaction();
    TDbTransaction(const TDbTransaction&) = delete;
    TDbTransaction& operator=(const TDbTransaction&) = delete;

    TQuery& Run(const std::string& sql, TSqlParams params = {});
    TVariant Value(const std::string& sql, TSqlParams params = {});
    // The statement's query without executing it.
    TQuery& Statement(const std::string& sql);

    void Commit();
    void Rollback();
    bool Active() const;

private:
    void CloseAll();

    TQueryPtr FOwner;  // holds the transaction; declared first, so destroyed last
    std::map<std::string, TQueryPtr> FStatements;
};
