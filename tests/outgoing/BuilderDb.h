#pragma once
// The document builder's suites: the suite's database and our FSRAR_ID, which the
// builder writes into every document it makes.
#include "FbTestDb.h"
#include "WaybillFixture.h"
#include "uCommon.h"

namespace qortest {

class BuilderDbTest : public SuiteDbTest {
protected:
    void SetUp() override {
        SuiteDbTest::SetUp();
        ClearSettings();
        SetSettingProperty("FSRAR_ID", kOurFsrarId);
    }
    void TearDown() override {
        ClearSettings();
        SuiteDbTest::TearDown();
    }
};

}  // namespace qortest
