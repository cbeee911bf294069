#pragma once
// The provider's own pieces over the Firebird client's ISC interface: the status
// vector turned into EDbError, the per-thread connection and its transactions.
#include <ibase.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <set>
#include <string>

#include "uDbProvider.h"

namespace fb {

// Raises EDbError with the client's whole diagnosis when the status holds an error.
void Check(const ISC_STATUS* status);
[[noreturn]] void RaiseStatus(const ISC_STATUS* status);

// The iconv name of a Firebird character set the provider converts itself, or ""
// when the server does the conversion (UTF8) or there is none to do (NONE, OCTETS).
std::string IconvCharset(const std::string& firebirdCharset);

class TFbTransaction;

}  // namespace fb

// One thread's attachment. Used only by its own thread, except that another thread may
// mark it discarded; queries keep it alive (shared_ptr) for as long as they exist.
class TConnection {
public:
    TConnection(const TDbParams& params, uint32_t threadId);
    ~TConnection();
    TConnection(const TConnection&) = delete;
    TConnection& operator=(const TConnection&) = delete;

    void Connect();
    // Rolls back what is still open and detaches; the statements prepared so far are dead.
    void Disconnect();
    bool Connected() const { return FHandle != 0; }
    isc_db_handle* Handle() { return &FHandle; }
    // Counts the attachments made: a statement prepared under an older one is dead.
    uint64_t Generation() const { return FGeneration; }

    uint32_t ThreadId() const { return FThreadId; }
    const TDbParams& Params() const { return FParams; }
    const std::string& Iconv() const { return FIconv; }  // "" when the server converts
    fb::TFbTransaction& DefaultTransaction() { return *FDefault; }

    void MarkDiscarded() { FDiscarded = true; }
    bool Discarded() const { return FDiscarded; }

    void Register(fb::TFbTransaction* tr) { FTransactions.insert(tr); }
    void Unregister(fb::TFbTransaction* tr) { FTransactions.erase(tr); }

private:
    TDbParams FParams;
    std::string FIconv;
    uint32_t FThreadId;
    isc_db_handle FHandle = 0;
    uint64_t FGeneration = 0;
    std::atomic<bool> FDiscarded{false};
    std::set<fb::TFbTransaction*> FTransactions;  // every live transaction on this connection
    std::unique_ptr<fb::TFbTransaction> FDefault;
};

namespace fb {

// Read committed, record versions, no wait: each short statement commits on its own,
// a long transaction sees what others committed, and a lock conflict is reported at once.
class TFbTransaction : public TTransaction {
public:
    explicit TFbTransaction(TConnection& conn);
    ~TFbTransaction() override;

    void StartTransaction() override;
    void Commit() override;
    void CommitRetaining() override;
    void Rollback() override;
    bool Active() const override { return FHandle != 0; }

    isc_tr_handle* Handle() { return &FHandle; }
    TConnection& Connection() { return FConn; }
    // Ends the transaction whatever the server says (disconnect, lost connection).
    void Abandon();

private:
    TConnection& FConn;
    isc_tr_handle FHandle = 0;
};

}  // namespace fb
