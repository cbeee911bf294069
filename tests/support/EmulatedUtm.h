#pragma once
// The UTM emulator in the test's own process on a free port, and the settings that
// make the jobs (or a whole program, through its .ini) reach it.
#include <map>
#include <string>

#include "UtmEmulator.h"
#include "WaybillFixture.h"

namespace qortest {

class EmulatedUtm : public TUtmEmulator {
public:
    // Starts serving and points the service's settings at it, replacing any others:
    // FSRAR_ID is the organisation the jobs work for.
    explicit EmulatedUtm(std::string fsrarId = kOurFsrarId);

    // FSRAR_ID, UTM_ADDRESS and UTM_PORT for the QOR_SETTINGS of a program's .ini.
    std::map<std::string, std::string> Settings() const;
    // Clears the service's settings and sets only those of Settings().
    void ResetSettings() const;

private:
    std::string FFsrarId;
};

}  // namespace qortest
