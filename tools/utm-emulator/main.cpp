// utm-emulator [--auto-ticket] [PORT]: serves a UTM on 127.0.0.1 (port 0 or none: a free
// port), prints "PORT <n>" as its first line and runs until SIGTERM or SIGINT.
// --auto-ticket: every accepted "Waybill_v4" post is answered, a moment later, by an
// incoming "Ticket" whose replyId is the post's transport id and which accepts the
// document, as EGAIS does once it has registered a waybill; each is announced on
// standard output as "TICKET <address> <transport id>".
#include <signal.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <thread>

#include "UtmEmulator.h"

namespace {

// EGAIS registers a document only after the UTM has answered the post; the pause keeps
// the ticket behind the sender's own bookkeeping of the transport id.
constexpr std::chrono::milliseconds kTicketDelay{1500};

// The text of the first element with this local name, whatever its prefix; "" when
// there is none. The posted documents are our own builder's, without CDATA or comments.
std::string FirstElementText(const std::string& sXml, const std::string& sLocalName) {
    for (size_t at = 0; (at = sXml.find(sLocalName + ">", at)) != std::string::npos;
         at += sLocalName.size()) {
        if (at == 0) continue;
        const char before = sXml[at - 1];
        if (before != '<' && before != ':') continue;
        const size_t open = sXml.rfind('<', at);
        if (open == std::string::npos || sXml[open + 1] == '/') continue;
        const size_t from = at + sLocalName.size() + 1;
        const size_t to = sXml.find('<', from);
        return to == std::string::npos ? "" : sXml.substr(from, to - from);
    }
    return "";
}

std::string NowXml() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char s[32];
    std::strftime(s, sizeof s, "%Y-%m-%dT%H:%M:%S", &tm);
    return s;
}

std::string AcceptedTicket(const TPostedDocument& d, const std::string& sRegId) {
    const std::string sNow = NowXml();
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<ns:Documents Version=\"1.0\" xmlns:ns=\"http://fsrar.ru/WEGAIS/WB_DOC_SINGLE_01\" "
           "xmlns:tc=\"http://fsrar.ru/WEGAIS/Ticket\"><ns:Owner><ns:FSRAR_ID>" +
           FirstElementText(d.Body, "FSRAR_ID") +
           "</ns:FSRAR_ID></ns:Owner><ns:Document><ns:Ticket><tc:TicketDate>" + sNow +
           "</tc:TicketDate><tc:Identity/><tc:DocId>" + FirstElementText(d.Body, "Identity") +
           "</tc:DocId><tc:TransportId>" + d.TransportId + "</tc:TransportId><tc:RegID>" + sRegId +
           "</tc:RegID><tc:DocType>WAYBILL_V4</tc:DocType><tc:OperationResult>"
           "<tc:OperationName>Confirm</tc:OperationName><tc:OperationResult>Accepted"
           "</tc:OperationResult><tc:OperationComment>Накладная зарегистрирована"
           "</tc:OperationComment><tc:OperationDate>" +
           sNow +
           "</tc:OperationDate></tc:OperationResult></ns:Ticket></ns:Document></ns:Documents>";
}

// Places the tickets of accepted waybills on its own thread, each after kTicketDelay.
class TAutoTicket {
public:
    explicit TAutoTicket(TUtmEmulator& utm) : FUtm(utm), FThread([this] { Run(); }) {}
    ~TAutoTicket() {
        {
            std::lock_guard<std::mutex> guard(FLock);
            FStopping = true;
        }
        FWake.notify_all();
        FThread.join();
    }
    TAutoTicket(const TAutoTicket&) = delete;
    TAutoTicket& operator=(const TAutoTicket&) = delete;

    void Posted(const TPostedDocument& d) {
        if (d.Kind != "Waybill_v4") return;
        {
            std::lock_guard<std::mutex> guard(FLock);
            FQueue.push_back({std::chrono::steady_clock::now() + kTicketDelay, d});
        }
        FWake.notify_all();
    }

private:
    struct TPending {
        std::chrono::steady_clock::time_point Due;
        TPostedDocument Doc;
    };

    void Run() {
        std::unique_lock<std::mutex> lock(FLock);  // FLock guards FQueue and FStopping
        int n = 0;
        while (!FStopping) {
            if (FQueue.empty()) {
                FWake.wait(lock);
                continue;
            }
            const auto due = FQueue.front().Due;
            if (FWake.wait_until(lock, due, [this] { return FStopping; })) break;
            TPostedDocument d = FQueue.front().Doc;
            FQueue.pop_front();
            lock.unlock();
            char sRegId[32];
            std::snprintf(sRegId, sizeof sRegId, "TTN-%010d", 99000000 + ++n);
            const std::string sUrl =
                FUtm.PlaceIncoming("Ticket", AcceptedTicket(d, sRegId), d.TransportId);
            std::printf("TICKET %s %s\n", sUrl.c_str(), d.TransportId.c_str());
            std::fflush(stdout);
            lock.lock();
        }
    }

    TUtmEmulator& FUtm;
    std::mutex FLock;
    std::condition_variable FWake;
    std::deque<TPending> FQueue;
    bool FStopping = false;
    std::thread FThread;  // last: starts once the members above exist
};

}  // namespace

int main(int argc, char** argv) {
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    // Blocked before any thread starts, so that only sigwait below receives them.
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    bool bAutoTicket = false;
    int iPort = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--auto-ticket") == 0) {
            bAutoTicket = true;
        } else {
            char* end = nullptr;
            long port = std::strtol(argv[i], &end, 10);
            if (end == argv[i] || *end != 0 || port < 0 || port > 65535) {
                std::fprintf(stderr, "usage: utm-emulator [--auto-ticket] [PORT]\n");
                return 2;
            }
            iPort = static_cast<int>(port);
        }
    }
    try {
        TUtmEmulator utm;
        TAutoTicket tickets(utm);
        if (bAutoTicket)
            utm.SetOnPosted([&tickets](const TPostedDocument& d) { tickets.Posted(d); });
        int port = utm.Start(iPort);
        std::printf("PORT %d\n", port);
        std::fflush(stdout);
        int sig = 0;
        sigwait(&stop, &sig);
        utm.Stop();  // no post arrives any more; the ticket thread ends with `tickets`
    } catch (const std::exception& e) {
        std::fprintf(stderr, "utm-emulator: %s\n", e.what());
        return 1;
    }
    return 0;
}
