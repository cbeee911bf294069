#include "uFbQuery.h"

#include <strings.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "uFbNamedParams.h"
#include "uIniFile.h"

namespace fb {

namespace {

constexpr int64_t kMsPerDay = 86400000;
// ISC dates count days from 1858-11-17, TDateTime from 1899-12-30.
constexpr int64_t kIscDateOffset = 15018;
constexpr short kCharsetOctets = 1;
constexpr unsigned short kBlobSegment = 32768;

bool IsAscii(const std::string& s) {
    return std::all_of(s.begin(), s.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

int64_t ToMs(TDateTime dt) {
    return std::llround(dt.Value * double(kMsPerDay));
}

void SplitMoment(TDateTime dt, ISC_DATE& date, ISC_TIME& time) {
    const int64_t ms = ToMs(dt);
    int64_t days = ms / kMsPerDay;
    int64_t rest = ms % kMsPerDay;
    if (rest < 0) {
        rest += kMsPerDay;
        --days;
    }
    date = static_cast<ISC_DATE>(days + kIscDateOffset);
    time = static_cast<ISC_TIME>(rest * 10);  // ISC times count 1/10000 s
}

TDateTime JoinMoment(int64_t iscDate, int64_t iscTime) {
    const int64_t ms = (iscDate - kIscDateOffset) * kMsPerDay + iscTime / 10;
    return TDateTime{double(ms) / double(kMsPerDay)};
}

std::string FormatDouble(double v) {
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, res.ptr);
}

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// Closes (or, after a failure, cancels) a blob on every way out.
struct TBlob {
    isc_blob_handle Handle = 0;
    void Close() {
        ISC_STATUS_ARRAY status;
        isc_close_blob(status, &Handle);
        Check(status);
        Handle = 0;
    }
    ~TBlob() {
        if (Handle == 0) return;
        ISC_STATUS_ARRAY status;
        isc_cancel_blob(status, &Handle);
    }
};

template <typename T>
T Load(const char* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

}  // namespace

void TSqlDa::Resize(int n) {
    n = std::max(n, 1);
    FBuf.assign(XSQLDA_LENGTH(n), 0);
    Get()->version = SQLDA_VERSION1;
    Get()->sqln = static_cast<ISC_SHORT>(n);
}

TFbQuery::TFbQuery(std::shared_ptr<TConnection> conn, bool ownTransaction, bool shortMode)
    : FConn(std::move(conn)), FShortMode(shortMode) {
    if (ownTransaction) FOwnTr = std::make_unique<TFbTransaction>(*FConn);
    FTr = FOwnTr ? FOwnTr.get() : &FConn->DefaultTransaction();
}

TFbQuery::TFbQuery(std::shared_ptr<TConnection> conn, TFbTransaction& shared)
    : FConn(std::move(conn)), FTr(&shared), FShortMode(false) {}

TFbQuery::~TFbQuery() {
    CloseCursor();
    FreeStatement();
    FOwnTr.reset();  // what the caller left uncommitted is rolled back
}

void TFbQuery::SetSQL(const std::string& sql) {
    if (sql == FSQL && FPrepared) return;
    Close();
    FreeStatement();
    FSQL = sql;
    TTranslatedSql t = TranslateNamedParams(sql);
    FFbSQL = std::move(t.Sql);
    FPosNames = std::move(t.Names);
    FParamNames.clear();
    FPosParam.clear();
    for (const std::string& name : FPosNames) {
        auto it = std::find(FParamNames.begin(), FParamNames.end(), name);
        FPosParam.push_back(static_cast<int>(it - FParamNames.begin()));
        if (it == FParamNames.end()) FParamNames.push_back(name);
    }
    FParamValues.assign(FParamNames.size(), TVariant());
}

bool TFbQuery::StatementAlive() const {
    return FStmt != 0 && FConn->Connected() && FStmtGeneration == FConn->Generation();
}

void TFbQuery::FreeStatement() {
    if (FStmt != 0 && StatementAlive()) {
        ISC_STATUS_ARRAY status;
        isc_dsql_free_statement(status, &FStmt, DSQL_drop);
    }
    FStmt = 0;
    FPrepared = false;
    FCursorOpen = false;
}

void TFbQuery::Prepare() {
    if (FPrepared && StatementAlive()) return;
    if (!FConn->Connected()) throw EDbProviderException("Database is not connected");
    if (FTr->Active()) {
        DoPrepare();
        return;
    }
    // Preparing needs a transaction; a short one is enough.
    FTr->StartTransaction();
    try {
        DoPrepare();
        FTr->Commit();
    } catch (...) {
        FTr->Abandon();
        throw;
    }
}

void TFbQuery::DoPrepare() {
    FreeStatement();
    if (FFbSQL.empty()) throw EDbProviderException("Empty SQL statement");
    ISC_STATUS_ARRAY status;
    isc_dsql_allocate_statement(status, FConn->Handle(), &FStmt);
    Check(status);
    FStmtGeneration = FConn->Generation();

    FOut.Resize(16);
    isc_dsql_prepare(status, FTr->Handle(), &FStmt, 0, FFbSQL.c_str(), 3, FOut.Get());
    Check(status);
    if (FOut.Get()->sqld > FOut.Get()->sqln) {
        FOut.Resize(FOut.Get()->sqld);
        isc_dsql_describe(status, &FStmt, 1, FOut.Get());
        Check(status);
    }
    FIn.Resize(static_cast<int>(FPosNames.size()));
    isc_dsql_describe_bind(status, &FStmt, 1, FIn.Get());
    Check(status);
    if (FIn.Get()->sqld > FIn.Get()->sqln) {
        FIn.Resize(FIn.Get()->sqld);
        isc_dsql_describe_bind(status, &FStmt, 1, FIn.Get());
        Check(status);
    }
    if (static_cast<size_t>(FIn.Count()) != FPosNames.size())
        throw EDbProviderException("The statement has parameters without a name");

    const char item = isc_info_sql_stmt_type;
    char info[16];
    isc_dsql_sql_info(status, &FStmt, 1, &item, sizeof info, info);
    Check(status);
    if (info[0] != isc_info_sql_stmt_type) throw EDbProviderException("Unknown statement type");
    const short len = static_cast<short>(isc_vax_integer(info + 1, 2));
    FStmtType = static_cast<int>(isc_vax_integer(info + 3, len));

    SetupOutput();
    const int nIn = FIn.Count();
    FInDesc.resize(nIn);
    FInBuf.resize(nIn);
    FInInd.assign(nIn, 0);
    for (int i = 0; i < nIn; ++i) {
        const XSQLVAR& v = FIn.Var(i);
        FInDesc[i] = {v.sqltype, v.sqlscale, v.sqlsubtype, v.sqllen};
    }
    FPrepared = true;
}

void TFbQuery::SetupOutput() {
    const int n = FOut.Count();
    size_t total = 0;
    std::vector<size_t> offsets(n);
    for (int i = 0; i < n; ++i) {
        XSQLVAR& v = FOut.Var(i);
        size_t size = static_cast<size_t>(v.sqllen) + ((v.sqltype & ~1) == SQL_VARYING ? 2 : 0);
        offsets[i] = total;
        total += (size + 7) & ~size_t(7);
    }
    FOutBuf.assign(std::max<size_t>(total, 8), 0);
    FOutInd.assign(n, 0);
    FFieldNames.resize(n);
    for (int i = 0; i < n; ++i) {
        XSQLVAR& v = FOut.Var(i);
        v.sqltype |= 1;  // always report nulls through the indicator
        v.sqldata = FOutBuf.data() + offsets[i];
        v.sqlind = &FOutInd[i];
        FFieldNames[i].assign(v.aliasname, v.aliasname_length);
    }
    FCurrent.assign(n, TVariant());
}

std::string TFbQuery::ToDb(const std::string& s) const {
    if (FConn->Iconv().empty() || IsAscii(s)) return s;
    return ConvertCodePage(s, "UTF-8", FConn->Iconv().c_str());
}

std::string TFbQuery::FromDb(std::string s) const {
    if (FConn->Iconv().empty() || IsAscii(s)) return s;
    return ConvertCodePage(s, FConn->Iconv().c_str(), "UTF-8");
}

void TFbQuery::BindString(int pos, const std::string& text) {
    if (text.size() > 32765)
        throw EDbProviderException("Parameter value is too long: " + FPosNames[pos]);
    XSQLVAR& var = FIn.Var(pos);
    const short base = FInDesc[pos].Type & ~1;
    std::string& buf = FInBuf[pos];
    buf.resize(text.size() + 2);
    const short len = static_cast<short>(text.size());
    std::memcpy(buf.data(), &len, 2);
    std::memcpy(buf.data() + 2, text.data(), text.size());
    var.sqltype = SQL_VARYING | 1;
    var.sqlscale = 0;
    var.sqllen = len;
    // A text parameter keeps its character set; text for anything else is plain digits.
    var.sqlsubtype = (base == SQL_TEXT || base == SQL_VARYING) ? FInDesc[pos].SubType : 0;
    var.sqldata = buf.data();
}

void TFbQuery::BindBlob(int pos, const std::string& data) {
    XSQLVAR& var = FIn.Var(pos);
    ISC_QUAD id{};
    TBlob blob;
    ISC_STATUS_ARRAY status;
    isc_create_blob2(status, FConn->Handle(), FTr->Handle(), &blob.Handle, &id, 0, nullptr);
    Check(status);
    for (size_t off = 0; off < data.size(); off += kBlobSegment) {
        const auto len =
            static_cast<unsigned short>(std::min<size_t>(kBlobSegment, data.size() - off));
        isc_put_segment(status, &blob.Handle, len, data.data() + off);
        Check(status);
    }
    blob.Close();
    std::string& buf = FInBuf[pos];
    buf.assign(reinterpret_cast<const char*>(&id), sizeof id);
    var.sqltype = SQL_BLOB | 1;
    var.sqlscale = 0;
    var.sqlsubtype = FInDesc[pos].SubType;
    var.sqllen = sizeof(ISC_QUAD);
    var.sqldata = buf.data();
}

void TFbQuery::BindParams() {
    const int n = FIn.Count();
    for (int pos = 0; pos < n; ++pos) {
        const TVariant& value = FParamValues[FPosParam[pos]];
        const TInDesc& d = FInDesc[pos];
        const short base = d.Type & ~1;
        const bool textual = base == SQL_TEXT || base == SQL_VARYING;
        XSQLVAR& var = FIn.Var(pos);
        std::string& buf = FInBuf[pos];
        FInInd[pos] = 0;
        var.sqlind = &FInInd[pos];
        auto fixed = [&](short type, const void* data, short len) {
            buf.assign(static_cast<const char*>(data), static_cast<size_t>(len));
            var.sqltype = type | 1;
            var.sqlscale = 0;
            var.sqlsubtype = 0;
            var.sqllen = len;
            var.sqldata = buf.data();
        };
        switch (value.Raw().index()) {
            case 0: {  // null
                var.sqltype = d.Type | 1;
                var.sqlscale = d.Scale;
                var.sqlsubtype = d.SubType;
                var.sqllen = d.Len;
                buf.assign(static_cast<size_t>(std::max<short>(d.Len, 8)) + 2, '\0');
                var.sqldata = buf.data();
                FInInd[pos] = -1;
                break;
            }
            case 1: {
                const int64_t v = std::get<int64_t>(value.Raw());
                if (textual) {
                    BindString(pos, std::to_string(v));
                } else if (base == SQL_BLOB) {
                    BindBlob(pos, std::to_string(v));
                } else if (base == SQL_BOOLEAN) {
                    const FB_BOOLEAN b = v != 0 ? FB_TRUE : FB_FALSE;
                    fixed(SQL_BOOLEAN, &b, sizeof b);
                } else {
                    fixed(SQL_INT64, &v, sizeof v);
                }
                break;
            }
            case 2: {
                const double v = std::get<double>(value.Raw());
                if (textual)
                    BindString(pos, FormatDouble(v));
                else if (base == SQL_BLOB)
                    BindBlob(pos, FormatDouble(v));
                else
                    fixed(SQL_DOUBLE, &v, sizeof v);
                break;
            }
            case 3: {
                const std::string& s = std::get<std::string>(value.Raw());
                if (base == SQL_BLOB)
                    BindBlob(pos, d.SubType == 1 ? ToDb(s) : s);
                else
                    BindString(pos, textual ? ToDb(s) : s);
                break;
            }
            case 4: {
                ISC_TIMESTAMP ts;
                SplitMoment(std::get<TDateTime>(value.Raw()), ts.timestamp_date, ts.timestamp_time);
                if (base == SQL_TYPE_DATE)
                    fixed(SQL_TYPE_DATE, &ts.timestamp_date, sizeof(ISC_DATE));
                else if (base == SQL_TYPE_TIME)
                    fixed(SQL_TYPE_TIME, &ts.timestamp_time, sizeof(ISC_TIME));
                else
                    fixed(SQL_TIMESTAMP, &ts, sizeof ts);
                break;
            }
        }
    }
}

void TFbQuery::ExecQuery() {
    if (!FConn->Connected()) throw EDbProviderException("Database is not connected");
    Close();
    bool started = false;
    if (!FTr->Active()) {
        if (!FShortMode) throw EDbProviderException("Transaction is not active");
        FTr->StartTransaction();
        started = true;
    }
    try {
        if (!FPrepared || !StatementAlive()) DoPrepare();
        BindParams();
        XSQLDA* in = FIn.Count() > 0 ? FIn.Get() : nullptr;
        const int n = FOut.Count();
        ISC_STATUS_ARRAY status;
        if (FStmtType == isc_info_sql_stmt_select ||
            FStmtType == isc_info_sql_stmt_select_for_upd) {
            isc_dsql_execute(status, FTr->Handle(), &FStmt, 1, in);
            Check(status);
            FCursorOpen = true;
            if (started) {
                // The commit below ends the cursor: read every row now.
                FBuffered = true;
                FRows.clear();
                FRowCount = 0;
                while (FetchRow()) {
                    FRows.resize((FRowCount + 1) * n);
                    DecodeRow(FRows.data() + FRowCount * n);
                    ++FRowCount;
                }
                CloseCursor();
                FRowIndex = 0;
                FEof = FRowCount == 0;
            } else {
                FEof = !FetchRow();
                if (FEof)
                    CloseCursor();
                else
                    DecodeRow(FCurrent.data());
            }
        } else if (n > 0) {
            isc_dsql_execute2(status, FTr->Handle(), &FStmt, 1, in, FOut.Get());
            Check(status);
            DecodeRow(FCurrent.data());
            FEof = false;
        } else {
            isc_dsql_execute(status, FTr->Handle(), &FStmt, 1, in);
            Check(status);
        }
        if (started) FTr->Commit();
    } catch (...) {
        if (started) FTr->Abandon();
        FEof = true;
        FBuffered = false;
        throw;
    }
}

bool TFbQuery::FetchRow() {
    ISC_STATUS_ARRAY status;
    const ISC_STATUS rc = isc_dsql_fetch(status, &FStmt, 1, FOut.Get());
    if (rc == 100) return false;
    Check(status);
    return true;
}

void TFbQuery::DecodeRow(TVariant* row) {
    const int n = FOut.Count();
    for (int i = 0; i < n; ++i) row[i] = Decode(i);
}

TVariant TFbQuery::Decode(int i) {
    const XSQLVAR& v = FOut.Var(i);
    if (*v.sqlind < 0) return TVariant();
    const char* p = v.sqldata;
    const bool octets = (v.sqlsubtype & 0xFF) == kCharsetOctets;
    auto scaled = [&](int64_t x) -> TVariant {
        if (v.sqlscale >= 0) return TVariant(x);
        return TVariant(double(x) / std::pow(10.0, -v.sqlscale));
    };
    switch (v.sqltype & ~1) {
        case SQL_TEXT: {
            // CHAR values come padded to their byte length; the blanks are not part of the value.
            size_t len = static_cast<size_t>(v.sqllen);
            if (!octets)
                while (len > 0 && p[len - 1] == ' ') --len;
            std::string s(p, len);
            return octets ? TVariant(std::move(s)) : TVariant(FromDb(std::move(s)));
        }
        case SQL_VARYING: {
            std::string s(p + 2, static_cast<size_t>(Load<short>(p)));
            return octets ? TVariant(std::move(s)) : TVariant(FromDb(std::move(s)));
        }
        case SQL_SHORT:
            return scaled(Load<short>(p));
        case SQL_LONG:
            return scaled(Load<ISC_LONG>(p));
        case SQL_INT64:
            return scaled(Load<ISC_INT64>(p));
        case SQL_FLOAT:
            return TVariant(double(Load<float>(p)));
        case SQL_DOUBLE:
        case SQL_D_FLOAT:
            return TVariant(Load<double>(p));
        case SQL_TIMESTAMP: {
            const auto ts = Load<ISC_TIMESTAMP>(p);
            return TVariant(JoinMoment(ts.timestamp_date, ts.timestamp_time));
        }
        case SQL_TYPE_DATE:
            return TVariant(JoinMoment(Load<ISC_DATE>(p), 0));
        case SQL_TYPE_TIME:
            return TVariant(JoinMoment(kIscDateOffset, Load<ISC_TIME>(p)));
        case SQL_BOOLEAN:
            return TVariant(int64_t(Load<FB_BOOLEAN>(p) ? 1 : 0));
        case SQL_BLOB: {
            const bool text = v.sqlsubtype == 1;
            std::string s = ReadBlob(Load<ISC_QUAD>(p));
            return text ? TVariant(FromDb(std::move(s))) : TVariant(std::move(s));
        }
        case SQL_NULL:
            return TVariant();
        default:
            throw EDbProviderException("Unsupported type of field " + FFieldNames[i]);
    }
}

std::string TFbQuery::ReadBlob(const ISC_QUAD& id) {
    ISC_QUAD blobId = id;
    TBlob blob;
    ISC_STATUS_ARRAY status;
    // Without a blob parameter block the server gives a text blob in the connection's
    // character set; naming a target character set here would stop that conversion.
    isc_open_blob2(status, FConn->Handle(), FTr->Handle(), &blob.Handle, &blobId, 0, nullptr);
    Check(status);
    std::string result;
    char buf[kBlobSegment];
    for (;;) {
        unsigned short got = 0;
        const ISC_STATUS rc = isc_get_segment(status, &blob.Handle, &got, sizeof buf, buf);
        if (rc == isc_segstr_eof) break;
        if (rc != 0 && rc != isc_segment) Check(status);
        result.append(buf, got);
    }
    blob.Close();
    return result;
}

void TFbQuery::Next() {
    if (FEof) return;
    if (FBuffered) {
        FEof = ++FRowIndex >= FRowCount;
        return;
    }
    if (!FCursorOpen || !FetchRow()) {
        FEof = true;
        CloseCursor();
        return;
    }
    DecodeRow(FCurrent.data());
}

void TFbQuery::CloseCursor() {
    if (FCursorOpen && StatementAlive()) {
        ISC_STATUS_ARRAY status;
        // Fails harmlessly when a commit has already closed the cursor.
        isc_dsql_free_statement(status, &FStmt, DSQL_close);
    }
    FCursorOpen = false;
}

void TFbQuery::Close() {
    CloseCursor();
    FEof = true;
    FBuffered = false;
    FRowCount = FRowIndex = 0;
}

int64_t TFbQuery::RowsAffected() const {
    if (FBuffered) return static_cast<int64_t>(FRowCount);
    if (!StatementAlive()) return 0;
    isc_stmt_handle stmt = FStmt;
    const char item = isc_info_sql_records;
    char info[64];
    ISC_STATUS_ARRAY status;
    isc_dsql_sql_info(status, &stmt, 1, &item, sizeof info, info);
    Check(status);
    if (info[0] != isc_info_sql_records) return 0;
    int64_t count = 0;
    const char* p = info + 3;
    while (*p != isc_info_end && p < info + sizeof info - 3) {
        const char kind = *p++;
        const short len = static_cast<short>(isc_vax_integer(p, 2));
        p += 2;
        const int64_t v = isc_vax_integer(p, len);
        p += len;
        if (kind == isc_info_req_insert_count || kind == isc_info_req_update_count ||
            kind == isc_info_req_delete_count)
            count += v;
        else if (kind == isc_info_req_select_count && FStmtType == isc_info_sql_stmt_select)
            count += v;
    }
    return count;
}

int TFbQuery::FieldIndex(const std::string& name) const {
    for (size_t i = 0; i < FFieldNames.size(); ++i)
        if (strcasecmp(FFieldNames[i].c_str(), name.c_str()) == 0) return static_cast<int>(i);
    return -1;
}

int TFbQuery::ParamIndex(const std::string& name) const {
    const std::string upper = Upper(name);
    auto it = std::find(FParamNames.begin(), FParamNames.end(), upper);
    return it == FParamNames.end() ? -1 : static_cast<int>(it - FParamNames.begin());
}

bool TFbQuery::HasParam(const std::string& name) const {
    return ParamIndex(name) >= 0;
}

void TFbQuery::SetParam(const std::string& name, const TVariant& value) {
    const int i = ParamIndex(name);
    if (i < 0) throw EDbProviderException("Parameter " + name + " not found");
    FParamValues[i] = value;
}

void TFbQuery::CheckFieldIndex(int index) const {
    if (index < 0 || index >= FieldCount())
        throw EDbProviderException("Field index out of range: " + std::to_string(index));
}

std::string TFbQuery::FieldName(int index) const {
    CheckFieldIndex(index);
    return FFieldNames[index];
}

TVariant TFbQuery::Field(int index) const {
    CheckFieldIndex(index);
    if (FEof) return TVariant();  // no current row reads as an empty record
    if (FBuffered) return FRows[FRowIndex * FieldCount() + index];
    return FCurrent[index];
}

TVariant TFbQuery::FieldByName(const std::string& name) const {
    const int i = FieldIndex(name);
    if (i < 0) throw EDbProviderException("Field " + name + " not found");
    return Field(i);
}

}  // namespace fb
