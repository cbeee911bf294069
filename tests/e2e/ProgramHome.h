#pragma once
// Program folders for a whole-program run: QorEgais.ini for a database and a UTM, every
// job switched off except those named, and the built program started on them.
#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "Process.h"
#include "TestSupport.h"
#include "uCommon.h"
#include "uDbProvider.h"

namespace qortest {

class ProgramHome {
public:
    // `jobs`: the TASK_FLAGS keys to switch on; `settings`: more QOR_SETTINGS keys.
    ProgramHome(const TDbParams& db, const std::set<std::string>& jobs,
                const std::map<std::string, std::string>& settings = {}) {
        std::string ini = "[DATABASE]\r\nDbName=" + db.DbName + "\r\nUser=" + db.User +
                          "\r\nPassword=" + db.Password + "\r\n[QOR_SETTINGS]\r\n";
        std::map<std::string, std::string> all = {{"CYCLE_TIME", "200"}, {"LOG_LEVEL", "DEBUG"}};
        for (const auto& [k, v] : settings) all[k] = v;
        for (const auto& [k, v] : all) ini += k + "=" + v + "\r\n";
        ini += "[TASK_FLAGS]\r\n";
        for (const auto& flag : TASK_FLAGS) {
            std::string key(flag.Key);
            ini += key + "=" + (jobs.count(key) ? "1" : "0") + "\r\n";
        }
        WriteFile(Path() / "QorEgais.ini", ini);
    }

    // Each program gets the folders of its own home, also when several homes exist at once.
    std::unique_ptr<Process> Start() const {
        return std::make_unique<Process>(
            QOREGAIS_EXE, std::vector<std::string>{},
            std::map<std::string, std::string>{{"QOREGAIS_HOME", Path().string()},
                                               {"QOREGAIS_RUNTIME_DIR", Runtime().string()}});
    }
    const std::filesystem::path& Path() const { return FFolders.Home(); }
    // The instance lock and the status channel.
    const std::filesystem::path& Runtime() const { return FFolders.Runtime(); }
    std::string Log() const { return (Path() / "LOG" / "QorEgais.log").string(); }
    bool LogShows(const std::string& text,
                  std::chrono::milliseconds timeout = std::chrono::seconds(20)) const {
        return WaitForFileText(Log(), text, timeout);
    }

private:
    ProgramFolders FFolders;
};

}  // namespace qortest
