#include "uSignals.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>

#include "Exception.h"

namespace platform {

namespace {
sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}
}  // namespace

void BlockStopSignals() {
    sigset_t set = StopSignals();
    if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) RaiseLastOSError("pthread_sigmask");
}

void WaitForStopRequest(int inputFd) {
    sigset_t set = StopSignals();
    int sfd = signalfd(-1, &set, SFD_CLOEXEC);
    if (sfd < 0) RaiseLastOSError("signalfd");
    bool inputOpen = true;
    for (;;) {
        pollfd fds[2] = {{sfd, POLLIN, 0}, {inputFd, POLLIN, 0}};
        int n = ::poll(fds, inputOpen ? 2 : 1, -1);
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[0].revents & POLLIN) break;  // SIGINT or SIGTERM
        if (inputOpen && (fds[1].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL))) {
            char buf[256];
            ssize_t r = ::read(inputFd, buf, sizeof buf);
            if (r > 0) {
                bool enter = false;
                for (ssize_t i = 0; i < r; ++i) enter |= buf[i] == '\n';
                if (enter) break;
            } else if (r == 0 || (r < 0 && errno != EINTR && errno != EAGAIN)) {
                inputOpen = false;  // end of input: only a signal stops the service now
            }
        }
    }
    ::close(sfd);
}

}  // namespace platform
