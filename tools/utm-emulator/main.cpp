// utm-emulator [PORT]: serves a UTM on 127.0.0.1 (port 0 or none: a free port), prints
// "PORT <n>" as its first line and runs until SIGTERM or SIGINT.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <exception>

#include "UtmEmulator.h"

int main(int argc, char** argv) {
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    // Blocked before any thread starts, so that only sigwait below receives them.
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    try {
        TUtmEmulator utm;
        int port = utm.Start(argc > 1 ? std::atoi(argv[1]) : 0);
        std::printf("PORT %d\n", port);
        std::fflush(stdout);
        int sig = 0;
        sigwait(&stop, &sig);
        utm.Stop();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "utm-emulator: %s\n", e.what());
        return 1;
    }
    return 0;
}
