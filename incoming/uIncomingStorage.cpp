// Counterparty and product storage shared by the jobs that store what EGAIS sends, and
// the stricter reaction of those jobs to a stop request.
#include <chrono>
#include <thread>

#include "uCommon.h"
#include "uIncomingText.h"
#include "uIncomingWayBillJob.h"
#include "uLogger.h"
#include "uWayBillStatements.h"

using incoming::kAddCounterPartSql;
using incoming::kAddProductSql;
using incoming::Utf8Left;

namespace {

constexpr int kLockConflictSqlCode = -901;
// Firebird 3 reports a row held by a concurrent no-wait transaction as an update
// conflict (deadlock), which is the same wait-and-retry case.
constexpr int kUpdateConflictSqlCode = -913;
constexpr int kLockConflictRetries = 10;
constexpr int kRetryPauseMs = 100;

// An empty text leaves its parameter null, so that an update keeps the stored value.
TVariant TextOrNull(const std::string& s, size_t iMaxChars) {
    return s.empty() ? TVariant::Null() : TVariant(Utf8Left(s, iMaxChars));
}

TVariant TaxNumberOrNull(const TVariant& v) {
    if (v.IsNull()) return TVariant::Null();
    const std::string s = v.AsString();
    return s.empty() ? TVariant::Null() : TVariant(s);
}

bool IsLockConflict(const std::exception& e) {
    const auto* db = dynamic_cast<const EDbError*>(&e);
    return db && (db->SqlCode() == kLockConflictSqlCode || db->SqlCode() == kUpdateConflictSqlCode);
}

}  // namespace

void TEgaisIncomingWayBillJob::CheckForAbort() {
    if (OwnerStopRequested()) throw EQorJobException("thread were stopped or terminated");
    TQorJob::CheckForAbort();
}

void TEgaisIncomingWayBillJob::DoHttp() {
    TQorJob::DoHttp();
    if (OwnerStopRequested()) throw EQorJobException("tread were stopped during performing");
}

void TEgaisIncomingWayBillJob::AddCounterPart(
    TQuery& AQuery, const std::string& ClientRegId, const TVariant& Inn, const TVariant& Kpp,
    const std::string& FullName, const std::string& ShortName, const std::string& Country,
    const std::string& RegionCode, const std::string& City, const std::string& Street,
    const std::string& House, const std::string& Index, const std::string& Building,
    const std::string& Litera, const std::string& Descr, const std::string& FsrarId,
    TVariant& Result) {
    Result = TVariant::Null();
    int iConflicts = 0;
    for (bool bDone = false; !bDone;) {
        try {
            AQuery.Close();
            AQuery.SetSQL(kAddCounterPartSql);  // prepared once for all calls on this query
            AQuery.SetParam("CLIENTREG_ID", Utf8Left(ClientRegId, 20));
            AQuery.SetParam("INN", TaxNumberOrNull(Inn));
            AQuery.SetParam("KPP", TaxNumberOrNull(Kpp));
            AQuery.SetParam("FULL_NAME", TextOrNull(FullName, 150));
            AQuery.SetParam("SHORT_NAME", TextOrNull(ShortName, 50));
            AQuery.SetParam("COUNTRY", TextOrNull(Country, 10));
            AQuery.SetParam("REGION_CODE", TextOrNull(RegionCode, 10));
            AQuery.SetParam("CITY", TextOrNull(City, 100));
            AQuery.SetParam("STREET", TextOrNull(Street, 100));
            AQuery.SetParam("HOUSE", TextOrNull(House, 10));
            AQuery.SetParam("DESCRIPTION", TextOrNull(Descr, 250));
            AQuery.SetParam("POSTCODE", TextOrNull(Index, 10));
            AQuery.SetParam("BUILDING", TextOrNull(Building, 10));
            AQuery.SetParam("LITER", TextOrNull(Litera, 5));
            AQuery.SetParam("FSRAR_ID", TextOrNull(FsrarId, 10));
            Logger().Debug("***  Try to add counterpart " + FullName + " ***");
            AQuery.ExecQuery();
            TVariant id = AQuery.Eof() ? TVariant::Null() : AQuery.FieldByName("ID");
            if (id.IsNull()) throw EQorJobException("Counterpart is null");
            Logger().Debug("Success! New ID=" + id.AsString());
            Result = id;
            bDone = true;
        } catch (const std::exception& e) {
            if (!IsLockConflict(e) || ++iConflicts > kLockConflictRetries) throw;
        }
        CheckForAbort();
        // Only a conflict waits (not a success): another job holds the row, give it time to
        // commit.
        if (!bDone) std::this_thread::sleep_for(std::chrono::milliseconds(kRetryPauseMs));
    }
}

void TEgaisIncomingWayBillJob::AddProduct(TQuery& AQuery, const std::string& FullName,
                                          const std::string& ShortName,
                                          const std::string& AlcCode,
                                          const std::string& Capacity,
                                          const std::string& AlcVolume,
                                          const std::string& VCode, const TVariant& Producer,
                                          TVariant& Result) {
    Result = TVariant::Null();
    AQuery.Close();
    AQuery.SetSQL(kAddProductSql);
    AQuery.Prepare();
    AQuery.SetParam("PROD_ID", TVariant::Null());
    AQuery.SetParam("IMPORTER", TVariant::Null());
    AQuery.SetParam("FULL_NAME", Utf8Left(FullName, 150));
    AQuery.SetParam("SHORT_NAME", Utf8Left(ShortName, 50));
    AQuery.SetParam("ALC_CODE", Utf8Left(AlcCode, 30));
    // The texts go as they are: the database converts them, "." being the separator.
    AQuery.SetParam("CAPACITY", Capacity.empty() ? TVariant::Null() : TVariant(Capacity));
    AQuery.SetParam("ALC_VOLUME", AlcVolume.empty() ? TVariant::Null() : TVariant(AlcVolume));
    AQuery.SetParam("V_CODE", Trim(Utf8Left(VCode, 10)));
    AQuery.SetParam("PRODUCER", Producer);
    AQuery.ExecQuery();
    TVariant id = AQuery.Eof() ? TVariant::Null() : AQuery.FieldByName("ID");
    if (id.IsNull()) throw EQorJobException("Counterpart is null");
    Result = id;
}
