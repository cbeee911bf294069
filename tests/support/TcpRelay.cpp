#include "TcpRelay.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <string>
#include <tuple>

namespace qortest {

namespace {

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

void Fail(const char* what) {
    throw std::runtime_error(std::string("TcpRelay: ") + what + " failed");
}

// Sends everything; false when the peer is gone.
bool SendAll(int fd, const char* data, size_t len) {
    while (len > 0) {
        ssize_t n = ::send(fd, data, len, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

TcpRelay::TcpRelay(uint16_t targetPort) : FTargetPort(targetPort) {
    Listen();
    if (::pipe2(FWake, O_CLOEXEC) != 0) Fail("pipe");
    FThread = std::thread([this] { Run(); });
}

void TcpRelay::Listen() {
    FListener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (FListener < 0) Fail("socket");
    const int on = 1;
    ::setsockopt(FListener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr = Loopback(FPort);  // the first time 0: the system chooses
    if (::bind(FListener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) Fail("bind");
    if (::listen(FListener, 16) != 0) Fail("listen");
    socklen_t len = sizeof addr;
    ::getsockname(FListener, reinterpret_cast<sockaddr*>(&addr), &len);
    FPort = ntohs(addr.sin_port);
}

TcpRelay::~TcpRelay() {
    Ask(TRequest::Stop);
    FThread.join();
    if (FListener >= 0) ::close(FListener);
    ::close(FWake[0]);
    ::close(FWake[1]);
}

void TcpRelay::Ask(TRequest request) {
    std::unique_lock<std::mutex> lock(FLock);
    FRequest = request;
    const char byte = 1;
    if (::write(FWake[1], &byte, 1) != 1) Fail("write");
    FDone.wait(lock, [this] { return FRequest == TRequest::None; });
}

void TcpRelay::Cut() {
    Ask(TRequest::Cut);
}

void TcpRelay::Restore() {
    Ask(TRequest::Restore);
    std::lock_guard<std::mutex> lock(FLock);
    if (FRestoreFailed) throw std::runtime_error("TcpRelay: the port could not be opened again");
}

void TcpRelay::CloseAll() {
    for (auto [client, server] : FPairs) {
        ::shutdown(client, SHUT_RDWR);
        ::shutdown(server, SHUT_RDWR);
        ::close(client);
        ::close(server);
    }
    FPairs.clear();
}

void TcpRelay::Run() {
    std::vector<pollfd> fds;
    char buf[65536];
    for (;;) {
        fds.clear();
        fds.push_back({FWake[0], POLLIN, 0});
        fds.push_back({FListener, static_cast<short>(FListener >= 0 ? POLLIN : 0), 0});
        for (auto [client, server] : FPairs) {
            fds.push_back({client, POLLIN, 0});
            fds.push_back({server, POLLIN, 0});
        }
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[0].revents) {
            char byte;
            (void)!::read(FWake[0], &byte, 1);
            std::lock_guard<std::mutex> lock(FLock);
            const TRequest request = FRequest;
            if (request != TRequest::None) {
                if (request == TRequest::Restore) {
                    try {
                        if (FListener < 0) Listen();
                    } catch (const std::exception&) {
                        FRestoreFailed = true;  // reported by Restore on the test's thread
                    }
                } else {
                    // The port is closed as well: a new connection is refused, as by a
                    // server that is down.
                    CloseAll();
                    if (FListener >= 0) ::close(FListener);
                    FListener = -1;
                }
                FRequest = TRequest::None;
                FDone.notify_all();
                if (request == TRequest::Stop) return;
            }
            continue;
        }
        // Pump data; a pair whose side has closed is closed as a whole.
        for (size_t k = 0; k < FPairs.size();) {
            const pollfd& c = fds[2 + 2 * k];
            const pollfd& s = fds[2 + 2 * k + 1];
            bool alive = true;
            auto [client, server] = FPairs[k];
            for (auto [from, to, ev] :
                 {std::tuple{client, server, c.revents}, std::tuple{server, client, s.revents}}) {
                if (!alive || !(ev & (POLLIN | POLLHUP | POLLERR))) continue;
                ssize_t n = ::recv(from, buf, sizeof buf, 0);
                if (n <= 0 || !SendAll(to, buf, static_cast<size_t>(n))) alive = false;
            }
            if (alive) {
                ++k;
                continue;
            }
            ::close(client);
            ::close(server);
            FPairs.erase(FPairs.begin() + static_cast<long>(k));
            fds.erase(fds.begin() + 2 + 2 * static_cast<long>(k),
                      fds.begin() + 4 + 2 * static_cast<long>(k));
        }
        // After the pump, so that fds and FPairs stay in step.
        if (fds[1].revents & POLLIN) {
            int client = ::accept4(FListener, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0) {
                int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
                sockaddr_in target = Loopback(FTargetPort);
                if (server >= 0 &&
                    ::connect(server, reinterpret_cast<sockaddr*>(&target), sizeof target) == 0) {
                    FPairs.emplace_back(client, server);
                } else {
                    if (server >= 0) ::close(server);
                    ::close(client);  // the server refused: so does the relay
                }
            }
        }
    }
}

}  // namespace qortest
