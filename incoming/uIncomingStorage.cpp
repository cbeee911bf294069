// Counterparty and product storage shared by the jobs that store what EGAIS sends, and
// the stricter reaction of those jobs to a stop request.
#include <chrono>
#include <thread>

#include "uIncomingText.h"
#include "uIncomingWayBillJob.h"
#include "uLogger.h"

using incoming::TrimText;
using incoming::Utf8Left;

namespace {

constexpr int kLockConflictSqlCode = -901;
constexpr int kLockConflictRetries = 10;
constexpr int kRetryPauseMs = 100;

constexpr const char* kAddCounterPartSql =
    "EXECUTE BLOCK ( \r\n  CLIENTREG_ID VARCHAR(20) = :CLIENTREG_ID, \r\n  INN VARCHAR(12) = :INN, "
    "\r\n  KPP VARCHAR(12) = :KPP, \r\n  FULL_NAME VARCHAR(150) = :FULL_NAME, \r\n  SHORT_NAME "
    "VARCHAR(50) = :SHORT_NAME, \r\n  COUNTRY VARCHAR(10) = :COUNTRY, \r\n  REGION_CODE "
    "VARCHAR(10) = :REGION_CODE, \r\n  CITY VARCHAR(100) = :CITY, \r\n  STREET VARCHAR(100) = "
    ":STREET, \r\n  HOUSE VARCHAR(10) = :HOUSE, \r\n  DESCRIPTION VARCHAR(250) = :DESCRIPTION, "
    "\r\n  POSTCODE VARCHAR(10) = :POSTCODE, \r\n  BUILDING VARCHAR(10) = :BUILDING, \r\n  LITER "
    "VARCHAR(5) = :LITER, \r\n  FSRAR_ID VARCHAR(10) = :FSRAR_ID) \r\n  RETURNS(ID INTEGER) "
    "\r\nAS \r\nDECLARE VARIABLE CID VARCHAR(20); \r\nBEGIN \r\n  SELECT FIRST 1 CLIENTREG_ID "
    "FROM S_EGAIS_COUNTERPART \r\n  WHERE CLIENTREG_ID = :CLIENTREG_ID INTO :CID; \r\n  IF (CID "
    "IS NULL) THEN \r\n    INSERT INTO S_EGAIS_COUNTERPART( \r\n      CLIENTREG_ID, \r\n      "
    "INN, \r\n      KPP, \r\n      FULL_NAME, \r\n      SHORT_NAME, \r\n      COUNTRY, \r\n      "
    "REGION_CODE, \r\n      CITY, \r\n      STREET, \r\n      HOUSE, \r\n      DESCRIPTION, \r\n "
    "     POSTCODE, \r\n      BUILDING, \r\n      LITER, \r\n      FSRAR_ID \r\n    ) \r\n    "
    "VALUES( \r\n      :CLIENTREG_ID, \r\n      :INN, \r\n      :KPP, \r\n      :FULL_NAME, \r\n  "
    "    :SHORT_NAME, \r\n      :COUNTRY, \r\n      :REGION_CODE, \r\n      :CITY, \r\n      "
    ":STREET, \r\n      :HOUSE, \r\n      :DESCRIPTION, \r\n      :POSTCODE, \r\n      "
    ":BUILDING, \r\n      :LITER, \r\n      :FSRAR_ID \r\n    ) RETURNING ID INTO :ID; \r\n  "
    "ELSE \r\n    UPDATE S_EGAIS_COUNTERPART \r\n      SET CLIENTREG_ID = "
    "COALESCE(:CLIENTREG_ID, CLIENTREG_ID), \r\n      INN = COALESCE(:INN, INN), \r\n      KPP = "
    "COALESCE(:KPP, KPP), \r\n      FULL_NAME = COALESCE(:FULL_NAME, FULL_NAME), \r\n      "
    "SHORT_NAME = COALESCE(:SHORT_NAME, SHORT_NAME), \r\n      COUNTRY = COALESCE(:COUNTRY, "
    "COUNTRY), \r\n      REGION_CODE = COALESCE(:REGION_CODE, REGION_CODE), \r\n      CITY = "
    "COALESCE(:CITY, CITY), \r\n      STREET = COALESCE(:STREET, STREET), \r\n      HOUSE = "
    "COALESCE(:HOUSE, HOUSE), \r\n      DESCRIPTION = COALESCE(:DESCRIPTION, DESCRIPTION), \r\n  "
    "    POSTCODE = COALESCE(:POSTCODE, POSTCODE), \r\n      BUILDING = COALESCE(:BUILDING, "
    "BUILDING), \r\n      LITER = COALESCE(:LITER, LITER), \r\n      FSRAR_ID = "
    "COALESCE(:FSRAR_ID, FSRAR_ID) \r\n      WHERE ID=(SELECT FIRST 1 ID FROM "
    "S_EGAIS_COUNTERPART WHERE CLIENTREG_ID = :CLIENTREG_ID) \r\n    RETURNING ID INTO :ID; \r\n "
    " SUSPEND; \r\nEND ";

constexpr const char* kAddProductSql =
    "EXECUTE BLOCK( \r\n  PROD_ID BIGINT = :PROD_ID, \r\n  FULL_NAME VARCHAR(150) = :FULL_NAME, "
    "\r\n  SHORT_NAME VARCHAR(50) = :SHORT_NAME, \r\n  ALC_CODE VARCHAR(30) = :ALC_CODE, \r\n  "
    "CAPACITY NUMERIC(18, 4) = :CAPACITY, \r\n  ALC_VOLUME NUMERIC(18, 4) = :ALC_VOLUME, \r\n  "
    "V_CODE VARCHAR(10) = :V_CODE, \r\n  PRODUCER INTEGER = :PRODUCER, \r\n  IMPORTER INTEGER = "
    ":IMPORTER) \r\nRETURNS(ID INTEGER) \r\nAS \r\nBEGIN \r\n  SELECT ID FROM S_EGAIS_PRODUCT "
    "WHERE ALC_CODE = :ALC_CODE INTO :ID; \r\n  IF (ID IS NULL) THEN \r\n    INSERT INTO "
    "S_EGAIS_PRODUCT( \r\n      PROD_ID, \r\n      FULL_NAME, \r\n      SHORT_NAME, \r\n      "
    "ALC_CODE, \r\n      CAPACITY, \r\n      ALC_VOLUME, \r\n      V_CODE, \r\n      PRODUCER, "
    "\r\n      IMPORTER \r\n    ) \r\n    VALUES( \r\n      :PROD_ID, \r\n      :FULL_NAME, \r\n "
    "     :SHORT_NAME, \r\n      :ALC_CODE, \r\n      :CAPACITY, \r\n      :ALC_VOLUME, \r\n      "
    ":V_CODE, \r\n      :PRODUCER, \r\n      :IMPORTER \r\n    ) RETURNING ID INTO :ID; \r\n  "
    "SUSPEND; \r\nEND ";

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
    return db && db->SqlCode() == kLockConflictSqlCode;
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
        // Only a conflict waits: another job holds the row, give it time to commit.
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
    AQuery.SetParam("V_CODE", TrimText(Utf8Left(VCode, 10)));
    AQuery.SetParam("PRODUCER", Producer);
    AQuery.ExecQuery();
    TVariant id = AQuery.Eof() ? TVariant::Null() : AQuery.FieldByName("ID");
    if (id.IsNull()) throw EQorJobException("Counterpart is null");
    Result = id;
}
