#include "uEgaisStorage.h"

#include "uQorAbstractJob.h"

#include <chrono>
#include <thread>

#include "uCommon.h"
#include "uLogger.h"
#include "uText.h"

const char* const kAddCounterPartSql =
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

const char* const kAddProductSql =
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

int64_t ReturnedId(TQuery& q) {
    const std::optional<int64_t> id = q.Eof() ? std::nullopt : q.Int64("ID");
    if (!id) throw EQorJobException("Counterpart is null");
    return *id;
}

}  // namespace

int64_t AddCounterPart(TQuery& q, const TCounterpartRecord& r,
                       const std::function<void()>& checkAbort) {
    for (int iConflicts = 0;; ++iConflicts) {
        try {
            Logger().Debug("***  Try to add counterpart {} ***", r.FullName);
            q.Run(kAddCounterPartSql,  // prepared once for all calls on this query
                  {{"CLIENTREG_ID", Utf8Left(r.ClientRegId, 20)},
                   {"INN", TaxNumberOrNull(r.Inn)},
                   {"KPP", TaxNumberOrNull(r.Kpp)},
                   {"FULL_NAME", TextOrNull(r.FullName, 150)},
                   {"SHORT_NAME", TextOrNull(r.ShortName, 50)},
                   {"COUNTRY", TextOrNull(r.Country, 10)},
                   {"REGION_CODE", TextOrNull(r.RegionCode, 10)},
                   {"CITY", TextOrNull(r.City, 100)},
                   {"STREET", TextOrNull(r.Street, 100)},
                   {"HOUSE", TextOrNull(r.House, 10)},
                   {"DESCRIPTION", TextOrNull(r.Descr, 250)},
                   {"POSTCODE", TextOrNull(r.Index, 10)},
                   {"BUILDING", TextOrNull(r.Building, 10)},
                   {"LITER", TextOrNull(r.Litera, 5)},
                   {"FSRAR_ID", TextOrNull(r.FsrarId, 10)}});
            const int64_t id = ReturnedId(q);
            Logger().Debug("Success! New ID={}", id);
            if (checkAbort) checkAbort();
            return id;
        } catch (const std::exception& e) {
            if (!IsLockConflict(e) || iConflicts >= kLockConflictRetries) throw;
        }
        if (checkAbort) checkAbort();
        // Another job holds the row: give it time to commit.
        std::this_thread::sleep_for(std::chrono::milliseconds(kRetryPauseMs));
    }
}

int64_t AddProduct(TQuery& q, const TProductRecord& p) {
    // The texts go as they are: the database converts them, "." being the separator.
    q.Run(kAddProductSql,
          {{"PROD_ID", TVariant::Null()},
           {"IMPORTER", TVariant::Null()},
           {"FULL_NAME", Utf8Left(p.FullName, 150)},
           {"SHORT_NAME", Utf8Left(p.ShortName, 50)},
           {"ALC_CODE", Utf8Left(p.AlcCode, 30)},
           {"CAPACITY", p.Capacity.empty() ? TVariant::Null() : TVariant(p.Capacity)},
           {"ALC_VOLUME", p.AlcVolume.empty() ? TVariant::Null() : TVariant(p.AlcVolume)},
           {"V_CODE", Trim(Utf8Left(p.VCode, 10))},
           {"PRODUCER", p.Producer}});
    return ReturnedId(q);
}
