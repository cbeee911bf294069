#pragma once
// Storage of what EGAIS documents say about participants and products: the counterparty
// table (S_EGAIS_COUNTERPART) and the product table (S_EGAIS_PRODUCT), shared by every job
// that stores received documents. Both run on the caller's query, in its transaction.
#include <cstdint>
#include <functional>
#include <string>

#include "uCounterpart.h"
#include "uDbProvider.h"

struct TProductRecord {
    std::string FullName, ShortName, AlcCode, Capacity, AlcVolume, VCode;
    TVariant Producer;  // the producer's counterparty ID, or null
};

// Inserts the counterpart of r.ClientRegId or updates it with every value given (empty
// texts and empty or null Inn/Kpp leave the stored value); returns its ID. Lock and
// update conflicts (SQL codes -901, -913) are tried again up to ten times, 100 ms apart,
// with checkAbort called between the tries.
int64_t AddCounterPart(TQuery& q, const TCounterpartRecord& r,
                       const std::function<void()>& checkAbort = {});
// Inserts the product of p.AlcCode unless it is stored (an existing product is never
// changed); returns its ID.
int64_t AddProduct(TQuery& q, const TProductRecord& p);

// The statement texts, for the benchmarks that compare the bare statements.
extern const char* const kAddCounterPartSql;
extern const char* const kAddProductSql;
