#pragma once
// The incoming jobs against the in-process UTM on the suite's embedded database: every
// test starts with empty document, counterparty and product tables.
#include "UtmJobEnv.h"
#include "uIncomingWayBillJob.h"

namespace incomingtest {

class IncomingEnv : public utmtest::UtmJobEnv {
protected:
    void SetUp() override {
        UtmJobEnv::SetUp();
        Fresh();
    }
    // Empty tables, UTM and list, for the next case of a table of cases.
    void Fresh() {
        Utm.Reset();
        InitUTMBuffer();
        for (const char* table :
             {"S_EGAIS_UTM_LINKS", "S_P_RMK_SHORT_MESSAGES", "RG_EGAIS_DOC_MARKS",
              "RG_EGAIS_DOC_TABLE", "RG_EGAIS_DOC_HEAD", "S_EGAIS_INFORMS", "S_EGAIS_PRODUCT",
              "S_EGAIS_COUNTERPART", "S_EGAIS_REPLY", "S_EGAIS_REQUEST"})
            qortest::Exec(std::string("DELETE FROM ") + table);
        ResetSkipDocs();
    }
    static std::string Fixture(const std::string& name) {
        return qortest::ReadFile(qortest::SourceDir() / "tests" / "incoming" / "fixtures" / name);
    }
    static int64_t Count(const std::string& table) {
        return qortest::Value("SELECT COUNT(*) FROM " + table).AsInt64();
    }
    // Every row of the statement as "a|b|c" lines (null as "-").
    static std::string Rows(const std::string& sql) {
        std::string out;
        for (TQueryPtr q = qortest::Query(sql); !q->Eof(); q->Next()) {
            for (int i = 0; i < q->FieldCount(); ++i) {
                TVariant v = q->Field(i);
                out += (i ? "|" : "") + (v.IsNull() ? std::string("-") : v.AsString());
            }
            out += "\n";
        }
        return out;
    }
};

}  // namespace incomingtest
