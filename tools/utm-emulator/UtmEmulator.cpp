#include "UtmEmulator.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <httplib.h>
#include <libxml/parser.h>
#include <netinet/in.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <random>
#include <stdexcept>
#include <thread>

namespace {

const char* const XML_HEAD = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>";
const char* const XML_TYPE = "application/xml";

std::string Escape(const std::string& s) {
    std::string r;
    r.reserve(s.size());
    for (char ch : s) {
        switch (ch) {
            case '&':
                r += "&amp;";
                break;
            case '<':
                r += "&lt;";
                break;
            case '>':
                r += "&gt;";
                break;
            case '"':
                r += "&quot;";
                break;
            default:
                r += ch;
        }
    }
    return r;
}

std::string ErrorXml(const std::string& sText) {
    return std::string(XML_HEAD) + "<A><error>" + Escape(sText) + "</error><ver>2</ver></A>";
}

// libxml2's diagnosis of a body that is not well-formed (namespaces included); "" when
// it is. Errors are collected per parser, never printed.
std::string XmlDiagnosis(const std::string& sBody) {
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
    struct TFirst {
        std::string sText;
        static void Take(void* data, xmlErrorPtr e) {
            auto* self = static_cast<TFirst*>(static_cast<xmlParserCtxtPtr>(data)->_private);
            if (self->sText.empty() && e != nullptr && e->level >= XML_ERR_ERROR)
                self->sText = std::string(e->message ? e->message : "error") + " (line " +
                              std::to_string(e->line) + ")";
        }
    } first;
    std::unique_ptr<xmlParserCtxt, decltype(&xmlFreeParserCtxt)> ctxt(xmlNewParserCtxt(),
                                                                      &xmlFreeParserCtxt);
    if (!ctxt) return "parser unavailable";
    ctxt->_private = &first;
    ctxt->sax->serror = &TFirst::Take;
    xmlDocPtr doc =
        xmlCtxtReadMemory(ctxt.get(), sBody.data(), static_cast<int>(sBody.size()), nullptr,
                          nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (doc == nullptr && first.sText.empty()) first.sText = "Document is empty";
    if (doc != nullptr) xmlFreeDoc(doc);
    while (!first.sText.empty() && first.sText.find('\n') != std::string::npos)
        first.sText.erase(first.sText.find('\n'), 1);
    return first.sText;
}

// The accepted socket that carries this request, found by its two ports, so that it
// can be closed under httplib without an answer.
int FindConnection(const httplib::Request& req) {
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) return -1;
    int found = -1;
    while (dirent* e = readdir(dir)) {
        char* end = nullptr;
        long fd = std::strtol(e->d_name, &end, 10);
        if (end == e->d_name || *end != 0 || fd == dirfd(dir)) continue;
        struct stat st {};
        if (fstat(static_cast<int>(fd), &st) != 0 || !S_ISSOCK(st.st_mode)) continue;
        sockaddr_in local{}, peer{};
        socklen_t ll = sizeof local, pl = sizeof peer;
        if (getsockname(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&local), &ll) != 0 ||
            getpeername(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&peer), &pl) != 0)
            continue;
        if (local.sin_family == AF_INET && ntohs(local.sin_port) == req.local_port &&
            ntohs(peer.sin_port) == req.remote_port) {
            found = static_cast<int>(fd);
            break;
        }
    }
    closedir(dir);
    return found;
}

}  // namespace

struct TUtmEmulator::TImpl {
    struct TStoredDoc {
        std::string Kind;
        std::string Body;
        std::string ReplyId;
        int N = 0;
        std::string FileName;  // of the posted part
    };

    httplib::Server Server;
    std::thread Listener;
    int Port = 0;

    mutable std::mutex Lock;  // guards everything below
    std::condition_variable Wake;
    bool bStopping = false;
    // Keyed by the number in the address, which grows: the map keeps the order placed.
    using TDocs = std::map<int, TStoredDoc>;
    TDocs Out;  // incoming documents for the client (/opt/out)
    TDocs In;   // documents posted by the client (/opt/in); ReplyId = transport id
    int NextOutN = 1;
    int NextInN = 1;
    std::map<std::string, int> BodyCounts;
    std::map<std::string, int> TransportCounts;
    std::deque<std::string> ForcedIds;
    TUtmFault Fault;
    int FaultLeft = 0;
    std::vector<std::string> RequestLog;
    std::function<void(const TPostedDocument&)> OnPosted;
    std::mt19937_64 Random{std::random_device{}()};

    std::string Url(const char* sSide, const TStoredDoc& d) const {
        return "http://127.0.0.1:" + std::to_string(Port) + "/opt/" + sSide + "/" + d.Kind + "/" +
               std::to_string(d.N);
    }

    std::string Hex(size_t n) {  // under Lock
        static const char* const digits = "0123456789abcdef";
        std::string s;
        for (size_t i = 0; i < n; ++i) s += digits[Random() % 16];
        return s;
    }

    std::string NewTransportId() {  // under Lock
        std::string s = Hex(32);
        s[12] = '4';
        s[16] = "89ab"[Random() % 4];
        return s.substr(0, 8) + "-" + s.substr(8, 4) + "-" + s.substr(12, 4) + "-" +
               s.substr(16, 4) + "-" + s.substr(20);
    }

    std::string ListXml(const char* sSide, const TDocs& docs) const {
        std::string s = std::string(XML_HEAD) + "<A>";
        for (const auto& [n, d] : docs) {
            s += "<url";
            if (!d.ReplyId.empty()) s += " replyId=\"" + Escape(d.ReplyId) + "\"";
            s += ">" + Escape(Url(sSide, d)) + "</url>";
        }
        return s + "<ver>2</ver></A>";
    }

    // Takes the fault that this request meets, if any.
    TUtmFault NextFault(const httplib::Request& req) {
        std::lock_guard<std::mutex> guard(Lock);
        RequestLog.push_back(req.method + " " + req.target);
        if (req.method == "POST" && req.has_file("xml_file"))
            ++BodyCounts[req.get_file_value("xml_file").content];
        if (Fault.Mode == fmNone || FaultLeft == 0) return TUtmFault();
        if (!Fault.Request.empty() && req.method + " " + req.path != Fault.Request)
            return TUtmFault();
        if (FaultLeft > 0) --FaultLeft;
        return Fault;
    }

    void Serve(const httplib::Request& req, httplib::Response& res,
               void (TImpl::*handler)(const httplib::Request&, httplib::Response&)) {
        TUtmFault fault = NextFault(req);
        switch (fault.Mode) {
            case fmStatus:
                res.status = fault.Status;
                res.set_content(ErrorXml("emulated fault"), XML_TYPE);
                return;
            case fmDrop: {
                int fd = FindConnection(req);
                if (fd >= 0) shutdown(fd, SHUT_RDWR);
                res.status = 500;
                return;
            }
            case fmDelay: {
                std::unique_lock<std::mutex> lock(Lock);
                Wake.wait_for(lock, fault.Delay, [this] { return bStopping; });
                break;
            }
            default:
                break;
        }
        (this->*handler)(req, res);
        if (fault.Mode == fmCutShort) {
            auto body = std::make_shared<std::string>(std::move(res.body));
            std::string sType = res.get_header_value("Content-Type");
            res.body.clear();
            res.headers.erase("Content-Type");
            size_t half = body->size() / 2;
            res.set_content_provider(
                body->size(), sType,
                [body, half](size_t offset, size_t length, httplib::DataSink& sink) {
                    if (offset >= half) return false;  // closes the connection
                    sink.write(body->data() + offset, std::min(length, half - offset));
                    return true;
                });
        }
    }

    void GetOutList(const httplib::Request&, httplib::Response& res) {
        std::lock_guard<std::mutex> guard(Lock);
        res.set_content(ListXml("out", Out), XML_TYPE);
    }

    void GetInList(const httplib::Request&, httplib::Response& res) {
        std::lock_guard<std::mutex> guard(Lock);
        res.set_content(ListXml("in", In), XML_TYPE);
    }

    static TDocs::iterator Find(TDocs& docs, const httplib::Request& req) {
        const std::string sKind = req.matches[1];
        const int n = std::atoi(std::string(req.matches[2]).c_str());
        auto it = docs.find(n);
        return it != docs.end() && it->second.Kind == sKind ? it : docs.end();
    }

    void GetDoc(TDocs& docs, const httplib::Request& req, httplib::Response& res) {
        std::lock_guard<std::mutex> guard(Lock);
        auto it = Find(docs, req);
        if (it == docs.end()) {
            res.status = 404;
            return;
        }
        res.set_content(it->second.Body, XML_TYPE);
    }

    void DeleteDoc(TDocs& docs, const httplib::Request& req, httplib::Response& res) {
        std::lock_guard<std::mutex> guard(Lock);
        auto it = Find(docs, req);
        if (it == docs.end()) {
            res.status = 404;
            return;
        }
        docs.erase(it);
        res.status = 200;
    }

    void GetOutDoc(const httplib::Request& req, httplib::Response& res) { GetDoc(Out, req, res); }
    void DeleteOutDoc(const httplib::Request& req, httplib::Response& res) {
        DeleteDoc(Out, req, res);
    }
    void GetInDoc(const httplib::Request& req, httplib::Response& res) { GetDoc(In, req, res); }
    void DeleteInDoc(const httplib::Request& req, httplib::Response& res) {
        DeleteDoc(In, req, res);
    }

    void PostIn(const httplib::Request& req, httplib::Response& res) {
        if (!req.has_file("xml_file")) {
            res.status = 400;
            res.set_content(ErrorXml("Не найден параметр xml_file"), XML_TYPE);
            return;
        }
        const std::string sBody = req.get_file_value("xml_file").content;
        std::string sDiagnosis = XmlDiagnosis(sBody);
        if (!sDiagnosis.empty()) {
            res.status = 400;
            res.set_content(ErrorXml("Документ не является корректным XML: " + sDiagnosis),
                            XML_TYPE);
            return;
        }
        TPostedDocument posted;
        std::function<void(const TPostedDocument&)> notify;
        {
            std::lock_guard<std::mutex> guard(Lock);
            TStoredDoc d;
            d.Kind = req.matches[1];
            d.Body = sBody;
            d.FileName = req.get_file_value("xml_file").filename;
            if (!ForcedIds.empty()) {
                d.ReplyId = ForcedIds.front();
                ForcedIds.pop_front();
            } else {
                d.ReplyId = NewTransportId();
            }
            d.N = NextInN++;
            ++TransportCounts[d.ReplyId];
            In.emplace(d.N, d);
            res.set_content(std::string(XML_HEAD) + "<A><url>" + Escape(d.ReplyId) +
                                "</url><sign>" + Hex(128) + "</sign><ver>2</ver></A>",
                            XML_TYPE);
            posted = {d.Kind, d.Body, d.ReplyId, Url("in", d), d.FileName};
            notify = OnPosted;
        }
        if (notify) notify(posted);
    }

    std::string Place(const std::string& sKind, const std::string& sXml,
                      const std::string& sReplyId) {
        std::lock_guard<std::mutex> guard(Lock);
        TStoredDoc d{sKind, sXml, sReplyId, NextOutN++, ""};
        Out.emplace(d.N, d);
        return Url("out", d);
    }

    void ControlIncoming(const httplib::Request& req, httplib::Response& res) {
        std::string sKind = req.get_param_value("kind");
        if (sKind.empty() || sKind.find('/') != std::string::npos) {
            res.status = 400;
            res.set_content("kind is required", "text/plain");
            return;
        }
        res.set_content(Place(sKind, req.body, req.get_param_value("replyId")), "text/plain");
    }

    void ControlPosted(const httplib::Request&, httplib::Response& res) {
        std::lock_guard<std::mutex> guard(Lock);
        std::string s = std::string(XML_HEAD) + "<posted>";
        for (const auto& [n, d] : In) {
            auto it = BodyCounts.find(d.Body);
            s += "<doc kind=\"" + Escape(d.Kind) + "\" transportId=\"" + Escape(d.ReplyId) +
                 "\" url=\"" + Escape(Url("in", d)) + "\" fileName=\"" + Escape(d.FileName) +
                 "\" posts=\"" + std::to_string(it == BodyCounts.end() ? 0 : it->second) + "\">" +
                 Escape(d.Body) + "</doc>";
        }
        res.set_content(s + "</posted>", XML_TYPE);
    }

    void ControlFault(const httplib::Request& req, httplib::Response& res) {
        static const std::map<std::string, TUtmFaultMode> modes = {{"none", fmNone},
                                                                   {"status", fmStatus},
                                                                   {"delay", fmDelay},
                                                                   {"drop", fmDrop},
                                                                   {"cut", fmCutShort}};
        auto mode = modes.find(req.get_param_value("mode"));
        if (mode == modes.end()) {
            res.status = 400;
            res.set_content("mode is one of none, status, delay, drop, cut", "text/plain");
            return;
        }
        TUtmFault f;
        f.Mode = mode->second;
        if (req.has_param("status")) f.Status = std::atoi(req.get_param_value("status").c_str());
        if (req.has_param("delayMs"))
            f.Delay = std::chrono::milliseconds(std::atol(req.get_param_value("delayMs").c_str()));
        if (req.has_param("count")) f.Count = std::atoi(req.get_param_value("count").c_str());
        SetFault(f);
        res.set_content("OK", "text/plain");
    }

    void SetFault(const TUtmFault& f) {
        std::lock_guard<std::mutex> guard(Lock);
        Fault = f;
        FaultLeft = f.Mode == fmNone ? 0 : f.Count;
    }

    void Reset() {
        std::lock_guard<std::mutex> guard(Lock);
        Out.clear();
        In.clear();
        BodyCounts.clear();
        TransportCounts.clear();
        ForcedIds.clear();
        RequestLog.clear();
        Fault = TUtmFault();
        FaultLeft = 0;
    }

    void Route() {
        auto serve = [this](auto handler) {
            return [this, handler](const httplib::Request& req, httplib::Response& res) {
                Serve(req, res, handler);
            };
        };
        Server.Get("/opt/out", serve(&TImpl::GetOutList));
        Server.Get(R"(/opt/out/([^/]+)/(\d+))", serve(&TImpl::GetOutDoc));
        Server.Delete(R"(/opt/out/([^/]+)/(\d+))", serve(&TImpl::DeleteOutDoc));
        Server.Get("/opt/in", serve(&TImpl::GetInList));
        Server.Get(R"(/opt/in/([^/]+)/(\d+))", serve(&TImpl::GetInDoc));
        Server.Delete(R"(/opt/in/([^/]+)/(\d+))", serve(&TImpl::DeleteInDoc));
        Server.Post(R"(/opt/in/([^/]+))", serve(&TImpl::PostIn));
        Server.Post("/control/incoming", [this](const httplib::Request& q, httplib::Response& r) {
            ControlIncoming(q, r);
        });
        Server.Get("/control/posted", [this](const httplib::Request& q, httplib::Response& r) {
            ControlPosted(q, r);
        });
        Server.Post("/control/fault", [this](const httplib::Request& q, httplib::Response& r) {
            ControlFault(q, r);
        });
        Server.Post("/control/reset", [this](const httplib::Request&, httplib::Response& r) {
            Reset();
            r.set_content("OK", "text/plain");
        });
    }
};

TUtmEmulator::TUtmEmulator() : FImpl(std::make_unique<TImpl>()) {
    FImpl->Route();
}

TUtmEmulator::~TUtmEmulator() {
    Stop();
}

int TUtmEmulator::Start(int iPort) {
    if (FImpl->Listener.joinable()) return FImpl->Port;
    int port = iPort == 0 ? FImpl->Server.bind_to_any_port("127.0.0.1")
                          : (FImpl->Server.bind_to_port("127.0.0.1", iPort) ? iPort : -1);
    if (port <= 0)
        throw std::runtime_error("UTM emulator: cannot listen on 127.0.0.1:" +
                                 std::to_string(iPort));
    FImpl->Port = port;
    {
        std::lock_guard<std::mutex> guard(FImpl->Lock);
        FImpl->bStopping = false;
    }
    FImpl->Listener = std::thread([impl = FImpl.get()] {
        // The server's worker threads start from here and inherit the mask: a peer that
        // hung up makes a write fail with EPIPE instead of killing the process.
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &set, nullptr);
        impl->Server.listen_after_bind();
    });
    // A stop before the server's loop has begun would be lost and the join would hang.
    while (!FImpl->Server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return port;
}

void TUtmEmulator::Stop() {
    if (!FImpl->Listener.joinable()) return;
    {
        std::lock_guard<std::mutex> guard(FImpl->Lock);
        FImpl->bStopping = true;
    }
    FImpl->Wake.notify_all();
    FImpl->Server.stop();
    FImpl->Listener.join();
}

int TUtmEmulator::Port() const {
    return FImpl->Port;
}

std::string TUtmEmulator::BaseUrl() const {
    return "http://127.0.0.1:" + std::to_string(FImpl->Port);
}

std::string TUtmEmulator::PlaceIncoming(const std::string& sKind, const std::string& sXml,
                                        const std::string& sReplyId) {
    return FImpl->Place(sKind, sXml, sReplyId);
}

std::vector<std::string> TUtmEmulator::IncomingUrls() const {
    std::lock_guard<std::mutex> guard(FImpl->Lock);
    std::vector<std::string> urls;
    for (const auto& [n, d] : FImpl->Out) urls.push_back(FImpl->Url("out", d));
    return urls;
}

std::vector<TPostedDocument> TUtmEmulator::Posted() const {
    std::lock_guard<std::mutex> guard(FImpl->Lock);
    std::vector<TPostedDocument> posted;
    for (const auto& [n, d] : FImpl->In)
        posted.push_back({d.Kind, d.Body, d.ReplyId, FImpl->Url("in", d), d.FileName});
    return posted;
}

int TUtmEmulator::BodyPostCount(const std::string& sBody) const {
    std::lock_guard<std::mutex> guard(FImpl->Lock);
    auto it = FImpl->BodyCounts.find(sBody);
    return it == FImpl->BodyCounts.end() ? 0 : it->second;
}

int TUtmEmulator::TransportIdCount(const std::string& sTransportId) const {
    std::lock_guard<std::mutex> guard(FImpl->Lock);
    auto it = FImpl->TransportCounts.find(sTransportId);
    return it == FImpl->TransportCounts.end() ? 0 : it->second;
}

void TUtmEmulator::ForceNextTransportId(const std::string& sTransportId) {
    std::lock_guard<std::mutex> guard(FImpl->Lock);
    FImpl->ForcedIds.push_back(sTransportId);
}

void TUtmEmulator::SetOnPosted(std::function<void(const TPostedDocument&)> onPosted) {
    std::lock_guard<std::mutex> guard(FImpl->Lock);
    FImpl->OnPosted = std::move(onPosted);
}

std::vector<std::string> TUtmEmulator::Requests() const {
    std::lock_guard<std::mutex> guard(FImpl->Lock);
    return FImpl->RequestLog;
}

void TUtmEmulator::SetFault(const TUtmFault& fault) {
    FImpl->SetFault(fault);
}

void TUtmEmulator::ClearFault() {
    FImpl->SetFault(TUtmFault());
}

void TUtmEmulator::Reset() {
    FImpl->Reset();
}
