#pragma once
// A statement on one thread's connection (the ISC DSQL interface). The statement is
// prepared once and re-executed with new parameter values; buffers are kept between
// executions.
#include <ibase.h>

#include <memory>
#include <string>
#include <vector>

#include "uDbProvider.h"
#include "uFbConnection.h"

namespace fb {

// An XSQLDA with room for n variables.
class TSqlDa {
public:
    void Resize(int n);
    XSQLDA* Get() { return reinterpret_cast<XSQLDA*>(FBuf.data()); }
    const XSQLDA* Get() const { return reinterpret_cast<const XSQLDA*>(FBuf.data()); }
    int Count() const { return FBuf.empty() ? 0 : Get()->sqld; }
    XSQLVAR& Var(int i) { return Get()->sqlvar[i]; }
    const XSQLVAR& Var(int i) const { return Get()->sqlvar[i]; }

private:
    std::vector<char> FBuf;
};

class TFbQuery : public TQuery {
public:
    // shortMode: each execution starts and commits its own transaction when none is active.
    TFbQuery(std::shared_ptr<TConnection> conn, bool ownTransaction, bool shortMode);
    // A query in a transaction that another query owns (a long one).
    TFbQuery(std::shared_ptr<TConnection> conn, TFbTransaction& shared);
    ~TFbQuery() override;

    const std::shared_ptr<TConnection>& ConnectionPtr() const { return FConn; }
    TFbTransaction& FbTransaction() { return *FTr; }

    void SetSQL(const std::string& sql) override;
    const std::string& SQL() const override { return FSQL; }
    void Prepare() override;

    bool HasParam(const std::string& name) const override;
    std::vector<std::string> ParamNames() const override { return FParamNames; }
    void SetParam(const std::string& name, const TVariant& value) override;

    void ExecQuery() override;
    bool Eof() const override { return FEof; }
    void Next() override;
    void Close() override;
    int64_t RowsAffected() const override;

    bool FieldExists(const std::string& name) const override { return FieldIndex(name) >= 0; }
    TVariant FieldByName(const std::string& name) const override;
    int FieldCount() const override { return FOut.Count(); }
    std::string FieldName(int index) const override;
    TVariant Field(int index) const override;

    TTransaction& Transaction() override { return *FTr; }

private:
    struct TInDesc {  // an input variable as the server described it
        short Type, Scale, SubType, Len;
    };

    bool StatementAlive() const;
    void DoPrepare();
    void FreeStatement();
    void SetupOutput();
    void BindParams();
    void BindString(int pos, const std::string& text);
    void BindBlob(int pos, const std::string& data);
    bool FetchRow();  // false at the end of the result set
    void DecodeRow(TVariant* row);
    TVariant Decode(int i);
    std::string ReadBlob(const ISC_QUAD& id);
    std::string FromDb(std::string s) const;
    std::string ToDb(const std::string& s) const;
    int FieldIndex(const std::string& name) const;
    int ParamIndex(const std::string& name) const;
    void CloseCursor();
    void CheckFieldIndex(int index) const;

    std::shared_ptr<TConnection> FConn;
    std::unique_ptr<TFbTransaction> FOwnTr;  // set when the query has a transaction of its own
    TFbTransaction* FTr;
    bool FShortMode;

    std::string FSQL;
    std::string FFbSQL;                    // the text with "?" markers
    std::vector<std::string> FPosNames;    // name of each marker (upper case)
    std::vector<int> FPosParam;            // index into FParamNames of each marker
    std::vector<std::string> FParamNames;  // distinct names, in first-use order
    std::vector<TVariant> FParamValues;    // value of each distinct name (null when unset)

    isc_stmt_handle FStmt = 0;
    uint64_t FStmtGeneration = 0;
    bool FPrepared = false;
    int FStmtType = 0;
    TSqlDa FIn, FOut;
    std::vector<TInDesc> FInDesc;
    std::vector<std::string> FInBuf;  // data of each input variable, reused
    std::vector<short> FInInd;
    std::vector<char> FOutBuf;  // data of every output column, one block
    std::vector<short> FOutInd;
    std::vector<std::string> FFieldNames;  // upper case

    bool FCursorOpen = false;
    bool FEof = true;
    bool FBuffered = false;       // the rows were read in full (short mode)
    std::vector<TVariant> FRows;  // buffered rows, FieldCount() values each
    size_t FRowCount = 0, FRowIndex = 0;
    std::vector<TVariant> FCurrent;  // the current row when not buffered
};

}  // namespace fb
