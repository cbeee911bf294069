#pragma once
// The incoming waybill job and the base of every job that stores counterparties and
// products received from EGAIS: suppliers' waybills of protocol versions 1 to 4 are
// fetched from the UTM and stored as one head, its positions, their Form A and Form B
// registrations and excise marks, in one transaction together with the mark of the
// UTM address, so that a UTM document is stored once or not at all.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "uDbProvider.h"
#include "uQorJob.h"
#include "uVariant.h"
#include "uXml.h"

// The prepared statements of one waybill's storing transaction, one query per kind,
// all on the thread's connection and its one transaction: each statement is prepared
// once and executed again with new parameters for every position.
struct TWayBillStatements {
    TQueryPtr Head;          // the head (returns its ID)
    TQueryPtr Line;          // one position (returns ID and the product's ID)
    TQueryPtr InformUpsert;  // a Form A or Form B registration
    TQueryPtr InformSelect;  // its ID and product
    TQueryPtr Inform1;       // the position's Form A link
    TQueryPtr Inform2;       // the position's Form B link
    TQueryPtr Mark;          // one excise mark
    TQueryPtr Link;          // the UTM address marked as processed

    // Opens every query on the connection's transaction, which it starts.
    static TWayBillStatements Open();
    void Commit();
    // Rolls back when still active; never raises.
    void Rollback() noexcept;
};

// What the readers of the versions gather before the storing stage.
struct TWayBillHead;
struct TWayBillLine;

class TEgaisIncomingWayBillJob : public TQorJob {
public:
    const char* ClassName() const override { return "TEgaisIncomingWayBillJob"; }

    void DoJob() override;
    // A stop request of the thread raises EQorJobException "thread were stopped or
    // terminated" (not the abort), then the inherited checks.
    void CheckForAbort() override;
    // During a transfer a stop request raises EQorJobException "tread were stopped
    // during performing", which breaks the transfer off.
    void DoHttp() override;

    // Form A, Form B and excise marks of one position node AXml stored as DocTableId of a
    // waybill from Shipper: versions 4 and 3, version 2 (several Form B, the last kept,
    // no marks) and version 1.
    void AddInformsV3(TWayBillStatements& Q, const TXmlNode& AXml, int64_t DocTableId,
                      const TVariant& Shipper);
    void AddInformsV2(TWayBillStatements& Q, const TXmlNode& AXml, int64_t DocTableId,
                      const TVariant& Shipper);
    void AddInforms(TWayBillStatements& Q, const TXmlNode& AXml, int64_t DocTableId,
                    const TVariant& Shipper);

    // Fetch, read and store one waybill; true once the storing stage was reached.
    bool LoadWayBillV4(const std::string& sURL);
    bool LoadWayBillV3(const std::string& sURL);
    bool LoadWayBillV2(const std::string& sURL);
    // Reads and stores an already fetched waybill of version 2, 3 or 4 from sURL.
    bool StoreWayBill(const TXmlDocument& Xml, const std::string& sURL, int iVersion);

protected:
    // One version-1 waybill; false when the pass ends for this run (no positions).
    bool LoadWayBillV1(const std::string& sURL);

private:
    bool LoadWayBill(const std::string& sURL, int iVersion);
    // The document at sURL, or nothing when the UTM answers with an error status (logged).
    std::optional<TXmlDocument> FetchWayBill(const std::string& sURL);
    // Stores what the storing stage needs in one transaction; logs and swallows every
    // error but the abort.
    bool StoreDocument(const std::string& sURL, const TWayBillHead& Head,
                       const std::vector<TWayBillLine>& Lines, int iVersion);
};

// The UTM addresses of waybills refused because they name another participant as
// consignee, for the life of the process (versions 4 and 3 skip them).
bool SkipDocsContains(const std::string& sURL);
void SkipDocsAdd(const std::string& sURL);
// Empties the list (program start, test fixtures).
void ResetSkipDocs();
