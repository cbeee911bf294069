#include "EmulatedUtm.h"

#include "uCommon.h"

namespace qortest {

EmulatedUtm::EmulatedUtm(std::string fsrarId) : FFsrarId(std::move(fsrarId)) {
    Start(0);
    ResetSettings();
}

std::map<std::string, std::string> EmulatedUtm::Settings() const {
    return {
        {"FSRAR_ID", FFsrarId}, {"UTM_ADDRESS", "127.0.0.1"}, {"UTM_PORT", std::to_string(Port())}};
}

void EmulatedUtm::ResetSettings() const {
    ClearSettings();
    for (const auto& [name, value] : Settings()) SetSettingProperty(name, value);
}

}  // namespace qortest
