#include "uFbConnection.h"

#include <cctype>
#include <vector>

namespace fb {

void Check(const ISC_STATUS* status) {
    if (status[0] == 1 && status[1] != 0) RaiseStatus(status);
}

void RaiseStatus(const ISC_STATUS* status) {
    const ISC_LONG sqlCode = isc_sqlcode(status);
    char buf[1024];
    isc_sql_interprete(static_cast<short>(sqlCode), buf, sizeof buf);
    std::string message = buf;
    const ISC_STATUS* pos = status;
    while (fb_interpret(buf, sizeof buf, &pos) > 0) {
        message += "\r\n";
        message += buf;
    }
    std::vector<intptr_t> codes;
    for (const ISC_STATUS* p = status; *p != isc_arg_end;) {
        const ISC_STATUS kind = *p++;
        if (kind == isc_arg_cstring) {
            p += 2;
            continue;
        }
        if (kind == isc_arg_gds) codes.push_back(static_cast<intptr_t>(*p));
        ++p;
    }
    throw EDbError(message, static_cast<int>(sqlCode), std::move(codes));
}

std::string IconvCharset(const std::string& firebirdCharset) {
    std::string cs;
    for (char c : firebirdCharset)
        cs += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (cs.empty() || cs == "UTF8" || cs == "UNICODE_FSS" || cs == "NONE" || cs == "OCTETS")
        return "";
    if (cs.rfind("WIN", 0) == 0) return "WINDOWS-" + cs.substr(3);
    if (cs.rfind("DOS", 0) == 0) return "CP" + cs.substr(3);
    if (cs.rfind("ISO8859_", 0) == 0) return "ISO-8859-" + cs.substr(8);
    if (cs == "KOI8R") return "KOI8-R";
    if (cs == "KOI8U") return "KOI8-U";
    return cs;
}

TFbTransaction::TFbTransaction(TConnection& conn) : FConn(conn) {
    FConn.Register(this);
}

TFbTransaction::~TFbTransaction() {
    Abandon();
    FConn.Unregister(this);
}

void TFbTransaction::StartTransaction() {
    if (Active()) throw EDbProviderException("Transaction is already active");
    if (!FConn.Connected()) throw EDbProviderException("Database is not connected");
    static const char tpb[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_read_committed,
                               isc_tpb_rec_version, isc_tpb_nowait};
    ISC_STATUS_ARRAY status;
    isc_start_transaction(status, &FHandle, 1, FConn.Handle(),
                          static_cast<unsigned short>(sizeof tpb), tpb);
    Check(status);
}

void TFbTransaction::Commit() {
    if (!Active()) throw EDbProviderException("Transaction is not active");
    ISC_STATUS_ARRAY status;
    isc_commit_transaction(status, &FHandle);
    Check(status);
}

void TFbTransaction::CommitRetaining() {
    if (!Active()) throw EDbProviderException("Transaction is not active");
    ISC_STATUS_ARRAY status;
    isc_commit_retaining(status, &FHandle);
    Check(status);
}

void TFbTransaction::Rollback() {
    if (!Active()) throw EDbProviderException("Transaction is not active");
    ISC_STATUS_ARRAY status;
    isc_rollback_transaction(status, &FHandle);
    Check(status);
}

void TFbTransaction::Abandon() {
    if (!Active()) return;
    ISC_STATUS_ARRAY status;
    // On a lost connection the rollback fails; the client releases the handle all the same.
    isc_rollback_transaction(status, &FHandle);
    FHandle = 0;
}

}  // namespace fb

TConnection::TConnection(const TDbParams& params, uint32_t threadId)
    : FParams(params), FIconv(fb::IconvCharset(params.Charset)), FThreadId(threadId) {
    if (FParams.Charset.empty()) FParams.Charset = "UTF8";
    FDefault = std::make_unique<fb::TFbTransaction>(*this);
}

TConnection::~TConnection() {
    Disconnect();
    FDefault.reset();
}

void TConnection::Connect() {
    if (Connected()) return;
    std::string dpb(1, static_cast<char>(isc_dpb_version1));
    auto add = [&dpb](char tag, const std::string& value) {
        if (value.size() > 255) throw EDbProviderException("Connection parameter is too long");
        dpb += tag;
        dpb += static_cast<char>(value.size());
        dpb += value;
    };
    add(isc_dpb_user_name, FParams.User);
    add(isc_dpb_password, FParams.Password);
    add(isc_dpb_lc_ctype, FParams.Charset);
    add(isc_dpb_sql_dialect, std::string(1, '\3'));
    ISC_STATUS_ARRAY status;
    isc_attach_database(status, 0, FParams.DbName.c_str(), &FHandle, static_cast<short>(dpb.size()),
                        dpb.data());
    if (status[0] == 1 && status[1] != 0) {
        FHandle = 0;
        fb::RaiseStatus(status);
    }
    ++FGeneration;
}

void TConnection::Disconnect() {
    if (!Connected()) return;
    for (fb::TFbTransaction* tr : FTransactions) tr->Abandon();
    ISC_STATUS_ARRAY status;
    // A detach that fails (lost connection) still releases the client's handle.
    isc_detach_database(status, &FHandle);
    FHandle = 0;
}
