#include "DbQueries.h"

namespace qortest {

TQueryPtr Query(const std::string& sql, const SqlParams& params) {
    TQueryPtr q = NewQuery(TTxMode::Short, TTxOwner::Connection);
    q->SetSQL(sql);
    for (const auto& [name, value] : params) q->SetParam(name, value);
    q->ExecQuery();
    return q;
}

TVariant Value(const std::string& sql, const SqlParams& params) {
    TQueryPtr q = Query(sql, params);
    return q->Eof() ? TVariant() : q->Field(0);
}

int64_t Exec(const std::string& sql, const SqlParams& params) {
    return Query(sql, params)->RowsAffected();
}

}  // namespace qortest
