#pragma once
// A UTM on loopback for tests and the demonstration: the list of incoming documents
// (/opt/out), the documents themselves with their deletion, posting of outgoing
// documents (/opt/in) and their list, answering as a UTM does. Tests place incoming
// documents, read back what was posted and set faults (error status, slow answer,
// dropped connection, body cut short). Thread-safe.
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct TPostedDocument {
    std::string Kind;         // the resource after /opt/in/
    std::string Body;         // the posted "xml_file" part
    std::string TransportId;  // the identifier the answer carried
    std::string Url;          // its address in the /opt/in list
    std::string FileName;     // the file name of the posted part
};

enum TUtmFaultMode {
    fmNone,
    fmStatus,    // answer with Status and an <error> body, the request is not served
    fmDelay,     // wait Delay, then serve normally
    fmDrop,      // close the connection without any answer, the request is not served
    fmCutShort,  // serve the request, then send only the first half of the body and close
};

struct TUtmFault {
    TUtmFaultMode Mode = fmNone;
    int Status = 500;
    std::chrono::milliseconds Delay{0};
    int Count = 1;        // how many of the next /opt requests it hits; -1: until cleared
    std::string Request;  // only requests of this "METHOD path" ("GET /opt/in"); "": any
};

class TUtmEmulator {
public:
    TUtmEmulator();
    ~TUtmEmulator();
    TUtmEmulator(const TUtmEmulator&) = delete;
    TUtmEmulator& operator=(const TUtmEmulator&) = delete;

    // Listens on 127.0.0.1; port 0 takes a free port. Returns the port; raises
    // std::runtime_error when the port cannot be bound.
    int Start(int iPort = 0);
    // Stops serving; waiting (delayed) answers are cut short. Also done by the destructor.
    void Stop();
    int Port() const;
    // "http://127.0.0.1:PORT"
    std::string BaseUrl() const;

    // Adds a document to the /opt/out list; returns its address. An empty sReplyId
    // leaves the replyId attribute off (a document that answers no request).
    std::string PlaceIncoming(const std::string& sKind, const std::string& sXml,
                              const std::string& sReplyId = "");
    // Addresses of the incoming documents not deleted yet, in the order placed.
    std::vector<std::string> IncomingUrls() const;

    // Documents accepted under /opt/in, in the order posted.
    std::vector<TPostedDocument> Posted() const;
    // How often this exact body arrived in a post, accepted or not.
    int BodyPostCount(const std::string& sBody) const;
    // How many accepted posts were answered with this transport id.
    int TransportIdCount(const std::string& sTransportId) const;
    // The next accepted post is answered with this id instead of a fresh one.
    void ForceNextTransportId(const std::string& sTransportId);
    // Called after every accepted post with what was stored, on the server's thread and
    // outside the emulator's lock (it may place documents); an empty function: none.
    void SetOnPosted(std::function<void(const TPostedDocument&)> onPosted);
    // Every /opt request received, as "METHOD target", in order.
    std::vector<std::string> Requests() const;

    void SetFault(const TUtmFault& fault);
    void ClearFault();
    // Forgets documents, posts, requests and faults.
    void Reset();

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
};
