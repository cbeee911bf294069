#include "uIncomingWayBillParts.h"

#include <cmath>
#include <cstdint>

#include "uCommon.h"
#include "uText.h"
#include "uLogger.h"

namespace incoming {

TVariant PositionIdOf(const std::string& sIdentity) {
    const std::string s = Trim(sIdentity);
    int64_t v = 0;
    if (TryStrToInt64(s, v) && v >= INT32_MIN && v <= INT32_MAX) return TVariant(v);
    return TVariant(int64_t(static_cast<int32_t>(CRC32(s))));
}

TVariant PriceOf(const TVariant& price) {
    if (price.IsNull()) return price;
    const std::string s = price.AsString();
    if (Utf8Length(s) <= 5) return price;
    return TVariant(std::round(StrToDouble(s) * 1000.0) / 1000.0);
}

TVariant TranTypeOf(const TVariant& tranType) {
    if (tranType.IsNull()) return tranType;
    int64_t v = 0;
    if (TryStrToInt64(Trim(tranType.AsString()), v)) return TVariant(v);
    Logger().Debug(">> Неправильный тип транспорнтной компании: " + tranType.AsString());
    return TVariant("0");
}

}  // namespace incoming

TProductStore::TProductStore() : FQuery(NewQuery(TTxMode::Long)) {}

TProductStore::~TProductStore() {
    try {
        if (FQuery->Transaction().Active()) FQuery->Transaction().Commit();
    } catch (const std::exception& e) {
        Logger().Debug("TProductStore", e);  // already failing: the reader's error goes on
    }
}

TVariant TProductStore::Add(const TProductRecord& product) {
    return TVariant(AddProduct(*FQuery, product));
}

void TProductStore::Commit() { FQuery->Transaction().Commit(); }
