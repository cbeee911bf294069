#include "uQorMain.h"

#include <iostream>
#include <memory>
#include <string>

#include "uCommon.h"
#include "uDbProvider.h"
#include "uLogger.h"
#include "uQorSvc.h"
#include "uSignals.h"
#include "uSingleInstance.h"
#include "uUtm.h"

namespace {
// What the modules need before the service module exists. A failure ends the program.
void InitModules() {
    InitCRCTable();
    InitUTMBuffer();
    InitLogger();
    LoadDbParams();
}

void DoneModules() {
    ShutdownLogger();
}
}  // namespace

int QorMain(int argc, char** argv) {
    if (argc > 1) {
        std::string arg = argv[1];
        if (argc == 2 && arg == "--version") {
            std::cout << "QorEgais " << QOREGAIS_VERSION << std::endl;
            return 0;
        }
        if (argc == 2 && arg == "--help") {
            std::cout << "Usage: qoregais [--version | --help]  runs the EGAIS exchange service in "
                         "the foreground; Enter, SIGINT or SIGTERM stop it."
                      << std::endl;
            return 0;
        }
        std::cerr << "qoregais: unknown argument '" << arg << "' (see qoregais --help)"
                  << std::endl;
        return 2;
    }
    platform::BlockStopSignals();  // before any thread exists, so that all inherit it
    // The lock comes before anything touches the program folder, so that a second copy
    // leaves the running one's .ini and log alone.
    platform::TSingleInstance instance(kInstanceMutexName);
    if (!instance.Acquired()) return 0;

    try {
        InitModules();
    } catch (const std::exception& e) {
        std::cerr << ErrorClassName(e) << ": " << e.what() << std::endl;
        DoneModules();
        return 1;
    }

    try {
        std::cout << "MyServiceApp DEBUG mode. Press enter to exit." << std::endl;
        auto svc = std::make_unique<TQorSvc>(DefaultJobTable());
        bool started = true;
        svc->ServiceStart(started);
        platform::WaitForStopRequest();
        svc.reset();  // destruction alone stops the threads
    } catch (const Exception& e) {
        std::cout << e.ClassName() << ": " << e.what() << std::endl;
        std::cout << "Press enter to exit." << std::endl;
        std::string line;
        std::getline(std::cin, line);
    }
    DoneModules();
    return 0;
}
