#pragma once
// A loopback TCP relay on a port of its own (port 0: the system chooses) in front of a
// local server, here the Firebird server on 127.0.0.1:3050. A test cuts it to make
// every relayed connection drop at once, as a network failure would, and restores it.
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace qortest {

class TcpRelay {
public:
    explicit TcpRelay(uint16_t targetPort = 3050);
    ~TcpRelay();
    TcpRelay(const TcpRelay&) = delete;
    TcpRelay& operator=(const TcpRelay&) = delete;

    uint16_t Port() const { return FPort; }
    // Closes every relayed socket and the relay's port, so that new connections are
    // refused until Restore (which opens the same port again); both return when done.
    void Cut();
    void Restore();

private:
    enum class TRequest { None, Cut, Restore, Stop };
    void Run();
    void Ask(TRequest request);
    void CloseAll();
    void Listen();  // binds FPort (0 the first time)

    uint16_t FTargetPort;
    uint16_t FPort = 0;
    int FListener = -1;  // -1 while cut
    int FWake[2] = {-1, -1};
    std::thread FThread;

    std::mutex FLock;
    std::condition_variable FDone;
    TRequest FRequest = TRequest::None;       // FLock
    bool FRestoreFailed = false;              // FLock
    std::vector<std::pair<int, int>> FPairs;  // relay thread only: client, server sockets
};

}  // namespace qortest
